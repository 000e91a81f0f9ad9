// Remote control over the session bus, as another program uses it: record name and folder, Run and
// Stop, and the connection-state signal. Runs under a private session bus (dbus-run-session).
#include "CommandTable.h"
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

    // A Run that cannot start answers the caller at once with the reason; the window shows its
    // message box afterwards, while the caller already has its answer.
    void RunThatCannotStartAnswersAtOnce_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unwritableFolder");
        QTest::addColumn<bool>("unsavedMarks");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("messageBox");
        QTest::newRow("no record name") << "" << false << false << "No record name is set" << false;
        QTest::newRow("folder not writable") << "ext" << true << false << "Creating a record file error" << true;
        QTest::newRow("unsaved marks") << "ext" << false << true << "unsaved changes" << false;
    }

    void RunThatCannotStartAnswersAtOnce() {
        QFETCH(QString, name);
        QFETCH(bool, unwritableFolder);
        QFETCH(bool, unsavedMarks);
        QFETCH(QString, reason);
        QFETCH(bool, messageBox);
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick();
        if (unwritableFolder) {
            // Not even root creates a folder below a plain file.
            WriteFile(f.dir.File("plain"), {1});
            f.frame->RemoteSetRecordFolder(f.dir.File("plain") + "/sub");
        }
        if (unsavedMarks) f.frame->Doc().SetMarksChanged();
        if (!name.isEmpty()) f.frame->RemoteSetRecordName(name.toStdString());

        QDBusMessage m = QDBusMessage::createMethodCall(kDBusServiceName, kDBusObjectPath, kDBusInterface, "Run");
        QDBusPendingCall pending = Client().asyncCall(m, 20000);
        // The box is modal: it stays open a while, or until the caller has its answer.
        bool answeredWhileShown = false;
        f.frame->dialogs.message = [&](const std::string& text) {
            f.messages.push_back(text);
            QDeadlineTimer open(3000);
            while (!pending.isFinished() && !open.hasExpired()) QTest::qWait(5);
            answeredWhileShown = pending.isFinished();
        };
        QDeadlineTimer deadline(10000);
        while (!pending.isFinished() && !deadline.hasExpired()) QTest::qWait(5);
        const QDBusMessage reply = pending.reply();
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), QString(kDBusRunFailedError));
        QVERIFY2(reply.errorMessage().contains(reason), qPrintable(reply.errorMessage()));
        QVERIFY(!f.frame->Reader().capturing);
        if (messageBox) {
            QTRY_COMPARE(f.messages.size(), size_t(1));
            QVERIFY(answeredWhileShown);
        } else {
            QTest::qWait(20);
            QVERIFY(f.messages.empty());
        }
        QCOMPARE(f.questions.size(), size_t(0));
    }

    void ConnStateSignalReachesOtherPrograms() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        CSignalCatcher catcher;
        QVERIFY(Client().connect(kDBusServiceName, kDBusObjectPath, kDBusInterface, "ConnStateChanged", &catcher,
                                 SLOT(OnConnState(int, int, int))));
        f.frame->Tick();
        // The emulated demo is plugged in when a recording starts; its source applies VBUS within the
        // first second.
        f.frame->ExecuteCommand(cmd::kRun);
        for (int i = 0; i < 5 && catcher.seen.empty(); ++i) {
            f.Advance(1);
            QTest::qWait(50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!catcher.seen.empty(), 5000);
        QVERIFY(catcher.seen.front()[0] > 1000);
        f.frame->ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
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
