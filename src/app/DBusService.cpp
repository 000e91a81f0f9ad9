#include "DBusService.h"

#include "MainFrame.h"

CZerlinAppService::CZerlinAppService(CMainFrame& f) : QObject(&f), frame(f), bus(QString()) {
    connect(&frame, &CMainFrame::connStateChanged, this, &CZerlinAppService::ConnStateChanged);
}

bool CZerlinAppService::Register(QDBusConnection b) {
    if (!b.isConnected()) return false;
    if (!b.registerService(kDBusServiceName)) return false;
    if (!b.registerObject(kDBusObjectPath, this,
                          QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals)) {
        b.unregisterService(kDBusServiceName);
        return false;
    }
    bus = b;
    registered = true;
    return true;
}

void CZerlinAppService::Unregister() {
    if (!registered) return;
    bus.unregisterObject(kDBusObjectPath);
    bus.unregisterService(kDBusServiceName);
    registered = false;
}

void CZerlinAppService::SetRecordName(const QString& name) {
    frame.RemoteSetRecordName(name.toStdString());
}

void CZerlinAppService::SetRecordFolder(const QString& folder) {
    frame.RemoteSetRecordFolder(folder.toStdString());
}

bool CZerlinAppService::Run() {
    std::string reason;
    if (frame.RemoteRun(&reason)) return true;
    if (calledFromDBus()) sendErrorReply(kDBusRunFailedError, QString::fromStdString(reason));
    return false;
}

void CZerlinAppService::Stop() {
    frame.RemoteStop();
}

void CZerlinAppService::Export() {
    frame.RemoteExport();
}
