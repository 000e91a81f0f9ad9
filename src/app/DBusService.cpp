#include "DBusService.h"

#include "MainFrame.h"

#include <QDBusMessage>

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
    std::string reason;
    if (!frame.RemoteSetRecordName(name.toStdString(), &reason) && calledFromDBus())
        sendErrorReply(kDBusInvalidNameError, QString::fromStdString(reason));
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

QString CZerlinAppService::Export() {
    std::string reason;
    if (!calledFromDBus()) {
        frame.RemoteExport(&reason);
        return {};
    }
    // The answer waits for the worker, not the caller's thread: the window goes on meanwhile.
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection link = connection();
    const bool started = frame.RemoteExport(&reason, [call, link](bool ok, const std::string& fileOrReason) mutable {
        const QString text = QString::fromStdString(fileOrReason);
        link.send(ok ? call.createReply(text) : call.createErrorReply(kDBusExportFailedError, text));
    });
    if (!started) link.send(call.createErrorReply(kDBusExportFailedError, QString::fromStdString(reason)));
    return {};
}
