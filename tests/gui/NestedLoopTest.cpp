// Remote calls that arrive inside a real nested event loop of the window: a modal dialog (Export,
// Record File Settings), a message box and the save prompt of an open, and the moment after a Stop.
// Each call is answered at once; what would pull the document from under the command that holds it is
// refused with the reason, and the command goes on as if nothing had come. Runs under a private
// session bus (dbus-run-session).
#include "CommandTable.h"
#include "DBusService.h"
#include "DemoCapture.h"
#include "ExportDlg.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "SettingsDialogs.h"
#include "support/FileSizeLimit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QEventLoop>
#include <QTimer>

#include <filesystem>

namespace {

// A call from another program's connection, waited for in a loop of its own: the window's connection
// serves it from whatever loop runs at the time.
QDBusMessage Call(const QString& method, const QVariantList& args = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(kDBusServiceName, kDBusObjectPath, kDBusInterface, method);
    m.setArguments(args);
    QDBusPendingCall pending =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "nested-client").asyncCall(m, 20000);
    QDeadlineTimer deadline(20000);
    while (!pending.isFinished() && !deadline.hasExpired()) QTest::qWait(5);
    return pending.reply();
}

// Runs calls from inside a nested event loop of its own, as a message box or prompt runs one.
template <typename F>
void InNestedLoop(F calls) {
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        calls();
        loop.quit();
    });
    loop.exec();
}

// Lines of a CSV export of the whole capture, both items: the header, a line per sample and per packet.
size_t WholeCaptureLines(const CCaptureStore& st) {
    return 1 + st.SampleCount() + st.PacketCount();
}

size_t CsvLineCount(const std::string& path) {
    const auto text = ReadFile(path);
    size_t n = 0;
    for (size_t i = 1; i < text.size(); ++i) n += text[i - 1] == '\r' && text[i] == '\n';
    return n;
}

template <class T> T* Get(const CExportDlg& d, int id) {
    return qobject_cast<T*>(d.Control(id));
}

void ExpectRefused(const QDBusMessage& reply, const char* error, const QString& reason) {
    QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
    QCOMPARE(reply.errorName(), QString(error));
    QVERIFY2(reply.errorMessage().contains(reason), qPrintable(reply.errorMessage()));
}

} // namespace

class NestedLoopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus");
    }

    // The user's Export is open (its worker may be running): a remote Run would reset the store the
    // worker reads. It is refused, and the export completes with every line.
    void RemoteRunDuringTheUsersExport() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir, 20)));
        f.frame->Tick();
        QDBusMessage run;
        std::vector<std::string> exportMessages;
        f.frame->execToolDialog = [&](QDialog& d) {
            auto* dialog = qobject_cast<CExportDlg*>(&d);
            if (!dialog) return int(QDialog::Rejected);
            dialog->message = [&](const std::string& text) { exportMessages.push_back(text); };
            QTimer::singleShot(0, dialog, [&, dialog] {
                Get<QRadioButton>(*dialog, CExportDlg::kBoth)->click();
                Get<QPushButton>(*dialog, CExportDlg::kExport)->click();
                QCOMPARE(Call("SetRecordName", {QString("ext")}).type(), QDBusMessage::ReplyMessage);
                run = Call("Run");
                dialog->FinishExport();
            });
            return d.exec();
        };
        f.frame->ExecuteCommand(cmd::kExport);
        ExpectRefused(run, kDBusRunFailedError, "an export is using the document");
        QVERIFY(!f.frame->Reader().capturing);
        QVERIFY(!std::filesystem::exists(f.dir.File("ext.qxc")));
        QCOMPARE(exportMessages, std::vector<std::string>{"Export Completed."});
        QCOMPARE(CsvLineCount(f.dir.File("demo_export.csv")), WholeCaptureLines(f.frame->Doc().store));
        // Once the dialog is gone the document is free again.
        QCOMPARE(Call("Run").type(), QDBusMessage::ReplyMessage);
        QVERIFY(f.frame->RecordingActive());
        f.frame->ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    // Record File Settings is open for the user's Run: a remote Run is refused, and the user's OK starts
    // the user's recording, in the user's file, from its first byte.
    void RemoteRunWhileRecordFileSettingsIsOpen() {
        CFrameFixture f("demo", false, [](CSettings& s) { s.recordDoNotAskAgain = false; });
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick();
        QDBusMessage run;
        f.frame->execSettingsDialog = [&](QDialog& d) {
            if (!qobject_cast<CCaptureFilenameDlg*>(&d)) return int(QDialog::Rejected);
            QTimer::singleShot(0, &d, [&] {
                QCOMPARE(Call("SetRecordName", {QString("ext")}).type(), QDBusMessage::ReplyMessage);
                run = Call("Run");
                QVERIFY(!f.frame->Reader().capturing);
                QCOMPARE(Call("SetRecordName", {QString()}).type(), QDBusMessage::ReplyMessage);
                d.accept();
            });
            return d.exec();
        };
        f.frame->ExecuteCommand(cmd::kRun);
        ExpectRefused(run, kDBusRunFailedError, "a recording is being started");
        QVERIFY(f.frame->RecordingActive());
        QCOMPARE(f.frame->Control().RecordFilePath(1), f.dir.File("Test.qxc"));
        QVERIFY(!std::filesystem::exists(f.dir.File("ext.qxc")));
        f.Advance(3);
        f.frame->ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        // Nothing truncated the file under the reader: it holds the whole three seconds.
        CQXDoc reread;
        QVERIFY(reread.OpenDocument(f.dir.File("Test.qxc")));
        QCOMPARE(reread.store.SampleCount(), f.frame->Doc().store.SampleCount());
        QVERIFY(reread.store.SampleCount() >= 250);
    }

    // Right after Stop the last data is not decoded yet: a remote Export is refused with the reason;
    // once the final decode ran it exports every line.
    void RemoteExportRightAfterStop() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick();
        f.frame->ExecuteCommand(cmd::kRun);
        f.Advance(2);
        f.analyzer->AdvanceClock(1.5e6);
        QVERIFY(f.analyzer->WaitCaughtUp());
        f.frame->ExecuteCommand(cmd::kStop);
        ExpectRefused(Call("Export"), kDBusExportFailedError, "is stopping");
        QVERIFY(!f.frame->Action(cmd::kExport)->isEnabled() || !f.frame->Reader().finalDecodePending);
        f.TickUntilStopped();
        const QDBusMessage reply = Call("Export");
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        const std::string out = reply.arguments().value(0).toString().toStdString();
        QCOMPARE(out, f.dir.File("Test_export.csv"));
        QCOMPARE(CsvLineCount(out), WholeCaptureLines(f.frame->Doc().store));
    }

    // The save prompt of an open and a message box run nested loops while the open holds the document:
    // a remote Export or Run gets the refusal at once, and the open goes on.
    void RemoteCallsInsideThePromptAndMessageOfAnOpen() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        f.frame->Tick();
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir, 4, "first.qxc")));
        f.frame->Doc().SetMarksChanged();
        QCOMPARE(Call("SetRecordName", {QString("ext")}).type(), QDBusMessage::ReplyMessage);
        QDBusMessage exportReply, runReply;
        f.frame->dialogs.askSave = [&](const std::string&) {
            InNestedLoop([&] {
                exportReply = Call("Export");
                runReply = Call("Run");
            });
            return FrameDialogs::SaveAnswer::No;
        };
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir, 6, "second.qxc")));
        ExpectRefused(exportReply, kDBusExportFailedError, "a record file is being opened");
        ExpectRefused(runReply, kDBusRunFailedError, "a record file is being opened");
        QCOMPARE(f.frame->Doc().docPath, f.dir.File("second.qxc"));
        QVERIFY(!f.frame->Reader().capturing);

        // A file that cannot be opened: its message box runs a loop too.
        WriteFile(f.dir.File("junk.qxc"), std::vector<uint8_t>(10, 1));
        f.frame->dialogs.message = [&](const std::string&) { InNestedLoop([&] { exportReply = Call("Export"); }); };
        QVERIFY(!f.frame->OpenFile(f.dir.File("junk.qxc")));
        ExpectRefused(exportReply, kDBusExportFailedError, "a record file is being opened");
        // Afterwards the export runs on the document the open left.
        const QDBusMessage after = Call("Export");
        QCOMPARE(after.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(CsvLineCount(f.dir.File("second_export.csv")), WholeCaptureLines(f.frame->Doc().store));
    }

    // A remote export that fails (the disk full) answers its caller with the reason, says so in the
    // status bar and leaves no output; the document is free again afterwards.
    void RemoteExportThatFailsSaysWhy() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir, 20)));
        QDBusMessage reply;
        {
            const CFileSizeLimit full(16384);
            reply = Call("Export");
        }
        ExpectRefused(reply, kDBusExportFailedError, "cannot be written");
        QVERIFY2(f.frame->StatusText().rfind("Export failed: ", 0) == 0, f.frame->StatusText().c_str());
        QVERIFY(!std::filesystem::exists(f.dir.File("demo_export.csv")));
        for (const auto& entry : std::filesystem::directory_iterator(f.dir.Path()))
            QVERIFY2(entry.path().filename().string()[0] != '.', entry.path().c_str()); // no temporary file
        QCOMPARE(Call("Export").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(CsvLineCount(f.dir.File("demo_export.csv")), WholeCaptureLines(f.frame->Doc().store));
    }

    // Names that would leave the record folder are refused with the reason; the name set before stays.
    void RecordNameOutsideTheFolderIsRefused() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        QCOMPARE(Call("SetRecordName", {QString("ok")}).type(), QDBusMessage::ReplyMessage);
        for (const char* name : {"../x", "a/b", ".."})
            ExpectRefused(Call("SetRecordName", {QString(name)}), kDBusInvalidNameError, "cannot be used");
        QCOMPARE(f.frame->Control().externalRecordName, std::string("ok"));
    }
};

AMBRIO_GUI_TEST(NestedLoopTest)
#include "NestedLoopTest.moc"
