// Remote control over the session bus, as another program uses it: record name and folder, Run and
// Stop, and the connection-state signal. Runs under a private session bus (dbus-run-session).
#include "DBusService.h"
#include "FrameFixture.h"
#include "GuiTest.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDeadlineTimer>
#include <QDBusPendingReply>
#include <QSignalSpy>

#include <filesystem>

namespace {

// Receives the window's signal on the client's connection.
class CSignalCatcher : public QObject {
    Q_OBJECT
public slots:
    void OnConnState(int vbus, int cc1, int cc2) { seen.push_back({vbus, cc1, cc2}); }

public:
    std::vector<std::array<int, 3>> seen;
};

} // namespace

class RemoteControlTest : public QObject {
    Q_OBJECT

private:
    // A second connection, as another program has: calls go through the bus daemon.
    static QDBusConnection Client() { return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client"); }

    // Calls a method without blocking the window's event loop and waits for the answer.
    static QDBusMessage Call(const QString& method, const QVariantList& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kDBusServiceName, kDBusObjectPath, kDBusInterface, method);
        m.setArguments(args);
        QDBusPendingCall pending = Client().asyncCall(m, 5000);
        QDeadlineTimer deadline(5000);
        while (!pending.isFinished() && !deadline.hasExpired()) QTest::qWait(5);
        return pending.reply();
    }

private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus");
    }

    void RecordNameThenRunRecordsWithoutDialog() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick(); // connects
        const std::string folder = (f.dir.Path() / "remote").string();
        std::filesystem::create_directories(folder);

        QCOMPARE(Call("SetRecordFolder", {QString::fromStdString(folder)}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(Call("SetRecordName", {QString("ext")}).type(), QDBusMessage::ReplyMessage);
        const QDBusMessage run = Call("Run");
        QCOMPARE(run.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(run.arguments().value(0).toBool(), true);
        QVERIFY(f.frame->RecordingActive());
        QCOMPARE(f.frame->Control().RecordFilePath(1), folder + "/ext.qxc");
        f.Advance(2);

        QCOMPARE(Call("Stop").type(), QDBusMessage::ReplyMessage);
        f.TickUntilStopped();
        QVERIFY(f.frame->Control().externalRecordName.empty());
        QVERIFY(f.settings.externalRecordFolder.empty());
        QVERIFY(std::filesystem::file_size(folder + "/ext.qxc") > 64);
        QVERIFY(f.frame->Doc().store.SampleCount() > 0);
        QVERIFY(f.messages.empty());
    }

    void RunWithoutRecordNameDoesNothing() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick();
        QCOMPARE(Call("Run").arguments().value(0).toBool(), false);
        QVERIFY(!f.frame->Reader().capturing);
    }

    void ConnStateSignalReachesOtherPrograms() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        CSignalCatcher catcher;
        QVERIFY(Client().connect(kDBusServiceName, kDBusObjectPath, kDBusInterface, "ConnStateChanged", &catcher,
                                 SLOT(OnConnState(int, int, int))));
        f.frame->Tick();
        // The demo's source applies VBUS within its first seconds.
        for (int i = 0; i < 5 && catcher.seen.empty(); ++i) {
            f.Advance(1);
            QTest::qWait(50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!catcher.seen.empty(), 5000);
        QVERIFY(catcher.seen.front()[0] > 1000);
    }

    void SecondInstanceCannotTakeTheName() {
        CFrameFixture a;
        CZerlinAppService first(*a.frame);
        QVERIFY(first.Register());
        CFrameFixture b;
        CZerlinAppService second(*b.frame);
        QVERIFY(!second.Register());
        first.Unregister();
        QVERIFY(second.Register());
    }
};

AMBRIO_GUI_TEST(RemoteControlTest)
#include "RemoteControlTest.moc"
