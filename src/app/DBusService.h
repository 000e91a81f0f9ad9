// Remote control by other programs on the session bus: the record name and folder, Run and Stop, and
// the connection-state signal whenever VBUS comes or goes.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

class CMainFrame;

inline constexpr char kDBusServiceName[] = "org.vantrel.ZerlinApp";
inline constexpr char kDBusObjectPath[] = "/ZerlinApp";
inline constexpr char kDBusInterface[] = "org.vantrel.ZerlinApp";
// The error replies of a Run that did not start, a record name refused and an export refused or
// failed; their messages say why.
inline constexpr char kDBusRunFailedError[] = "org.vantrel.ZerlinApp.Error.RunFailed";
inline constexpr char kDBusInvalidNameError[] = "org.vantrel.ZerlinApp.Error.InvalidName";
inline constexpr char kDBusExportFailedError[] = "org.vantrel.ZerlinApp.Error.ExportFailed";

class CZerlinAppService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vantrel.ZerlinApp")

public:
    explicit CZerlinAppService(CMainFrame& frame);
    // Claims the service name and exports the object; false when the bus is not there or another
    // instance holds the name (the window works on without remote control).
    bool Register(QDBusConnection bus = QDBusConnection::sessionBus());
    void Unregister();

public slots:
    // A name that is no plain file name (a path separator, "..") gets an error reply.
    Q_SCRIPTABLE void SetRecordName(const QString& name);
    Q_SCRIPTABLE void SetRecordFolder(const QString& folder);
    // Starts a recording without any dialog; only with a record name set. True when it started;
    // otherwise an error reply says why, at once.
    Q_SCRIPTABLE bool Run();
    // Forgets the record name and folder, then stops the recording.
    Q_SCRIPTABLE void Stop();
    // Exports the open record file as CSV in the export dialog's automatic mode. What cannot start now
    // gets its error reply at once; otherwise the reply comes when the export has ended: the output
    // file, or an error reply with the failure's reason.
    Q_SCRIPTABLE QString Export();

signals:
    Q_SCRIPTABLE void ConnStateChanged(int vbusMv, int cc1Mv, int cc2Mv);

private:
    CMainFrame& frame;
    QDBusConnection bus;
    bool registered = false;
};
