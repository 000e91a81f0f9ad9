// The settings dialogs as a user drives them: the caption filter and the record file name shown, the
// folder test and what OK, Cancel and Load Defaults leave in the settings; the interval list and the
// number checks of Record Settings and what the analyzer gets after its OK; Run through the dialog;
// the current direction, the driver prompt of the first tick and About. Pictures of each dialog go to
// gui-output/.
#include "CommandTable.h"
#include "DeviceCommands.h"
#include "FrameFixture.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "RecordingControl.h"
#include "SettingsDialogs.h"
#include "support/TempFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

// 5 March 2024, 14:25:01 local time.
std::time_t MarchFifth() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = 14;
    tm.tm_min = 25;
    tm.tm_sec = 1;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces a field's text as typing would (select all, type).
void Retype(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
    else
        QTest::keyClicks(field, text);
}

// Answers the window's settings dialogs of type D: each is shown, handed to act, and answers with
// how it ended (Rejected while it is still open). Counts the dialogs in *shown.
template <class D> void Drive(CMainFrame& w, std::function<void(D&)> act, int* shown = nullptr) {
    w.execSettingsDialog = [act, shown](QDialog& d) {
        if (shown) ++*shown;
        D* dialog = qobject_cast<D*>(&d);
        if (!dialog) qFatal("unexpected dialog %s", qPrintable(d.windowTitle()));
        d.show();
        act(*dialog);
        const int result = d.isVisible() ? int(QDialog::Rejected) : d.result();
        d.hide();
        return result;
    };
}

void Shoot(QWidget& d, const std::string& name) {
    d.show();
    QTest::qWait(30);
    const QImage image = d.grab().toImage();
    const std::string path = guitest::OutputDir() + "/" + name + ".png";
    QVERIFY(image.save(QString::fromStdString(path)));
    QVERIFY(guitest::Busyness(image, 2) > 0.02);
    qInfo("screenshot: %s", path.c_str());
}

// A Record File Settings dialog on settings of its own, with its messages kept.
struct FileDialogFixture {
    TempDir dir;
    CSettings settings{[this] { return dir.Path().string(); }};
    std::vector<std::string> messages;
    std::unique_ptr<CCaptureFilenameDlg> dialog;

    explicit FileDialogFixture(const std::function<void(CSettings&)>& adjust = {}) {
        settings.recordFileFolder = dir.Path().string();
        if (adjust) adjust(settings);
        dialog = std::make_unique<CCaptureFilenameDlg>(settings);
        dialog->clock = MarchFifth;
        dialog->hooks.message = [this](const std::string&, const std::string& t) { messages.push_back(t); };
        dialog->show();
    }
};

} // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void CaptionRefusesWhatNoFileNameMayHold_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("plain letters") << "Te" << "st_1" << "Test_1";
        for (const char* c : {"\\", "/", ":", "*", "?", "\"", "<", ">", "|"})
            QTest::newRow(c) << "Te" << QString("s%1t").arg(c) << "Test";
        QTest::newRow("64th character") << QString(63, 'a') << "b" << QString(63, 'a') + "b";
        QTest::newRow("65th character") << QString(64, 'a') << "b" << QString(64, 'a');
    }

    void CaptionRefusesWhatNoFileNameMayHold() {
        QFETCH(QString, before);
        QFETCH(QString, typed);
        FileDialogFixture fx;
        CCaptureFilenameDlg& d = *fx.dialog;
        Retype(d.CaptionField(), before);
        QTest::keyClicks(d.CaptionField(), typed);
        QTEST(d.CaptionField()->text(), "after");
        QTEST(QString::fromStdString(d.Caption()), "after");
        QCOMPARE(d.FileNameDisplay()->text(), QString::fromStdString(d.Caption()) + ".qxc");
    }

    void RecordFilenameShowsTheFirstFile_data() {
        QTest::addColumn<bool>("timestamp");
        QTest::addColumn<bool>("multiple");
        QTest::addColumn<QString>("shown");
        QTest::newRow("caption only") << false << false << "DUDevezud.qxc";
        QTest::newRow("timestamp") << true << false << "DUDevezud_20240305-142501.qxc";
        QTest::newRow("multiple files") << false << true << "DUDevezud_0001.qxc";
        QTest::newRow("both") << true << true << "DUDevezud_20240305-142501_0001.qxc";
    }

    void RecordFilenameShowsTheFirstFile() {
        QFETCH(bool, timestamp);
        QFETCH(bool, multiple);
        FileDialogFixture fx;
        CCaptureFilenameDlg& d = *fx.dialog;
        QCOMPARE(d.CaptionField()->text(), QString("DUDevezud"));
        if (timestamp) d.TimestampBox()->click();
        if (multiple) d.MultipleBox()->click();
        QTEST(d.FileNameDisplay()->text(), "shown");
    }

    void TimestampClickTakesTheTimeAgain() {
        FileDialogFixture fx;
        CCaptureFilenameDlg& d = *fx.dialog;
        std::time_t now = MarchFifth();
        d.clock = [&now] { return now; };
        d.TimestampBox()->click();
        QCOMPARE(d.FileNameDisplay()->text(), QString("DUDevezud_20240305-142501.qxc"));
        now += 61;
        d.MultipleBox()->click(); // not a timestamp click: the time stays
        QCOMPARE(d.FileNameDisplay()->text(), QString("DUDevezud_20240305-142501_0001.qxc"));
        d.TimestampBox()->click();
        d.TimestampBox()->click();
        QCOMPARE(d.FileNameDisplay()->text(), QString("DUDevezud_20240305-142602_0001.qxc"));
        QCOMPARE(d.StartTime(), now);
        // Each opening takes the time anew.
        d.hide();
        now += 3600;
        d.show();
        QCOMPARE(d.FileNameDisplay()->text(), QString("DUDevezud_20240305-152602_0001.qxc"));
    }

    void RecordFileOkStoresEverythingCancelNothing() {
        FileDialogFixture fx;
        CCaptureFilenameDlg& d = *fx.dialog;
        TempDir other;
        std::string asked;
        d.hooks.chooseFolder = [&](const std::string& current) {
            asked = current;
            return other.Path().string();
        };
        const CSettings before = fx.settings;
        Retype(d.CaptionField(), "bench");
        d.TimestampBox()->click();
        d.MultipleBox()->click();
        Retype(d.SizeField(), "250");
        d.DoNotAskBox()->click();
        d.FolderButton()->click();
        QCOMPARE(asked, fx.dir.Path().string());
        QCOMPARE(d.FolderDisplay()->text(), QString::fromStdString(other.Path().string()));

        // Cancel: the settings stay; the dialog keeps the edits for its next opening.
        d.CancelButton()->click();
        QVERIFY(fx.settings == before);
        d.show();
        QCOMPARE(d.CaptionField()->text(), QString("bench"));
        QVERIFY(d.TimestampBox()->isChecked());
        QVERIFY(d.MultipleBox()->isChecked());
        QCOMPARE(d.SizeField()->text(), QString("250"));
        QVERIFY(d.DoNotAskBox()->isChecked());
        QCOMPARE(d.FolderDisplay()->text(), QString::fromStdString(other.Path().string()));

        // A cancelled folder browser changes nothing.
        d.hooks.chooseFolder = [](const std::string&) { return std::string(); };
        d.FolderButton()->click();
        QCOMPARE(d.Folder(), other.Path().string());

        d.OkButton()->click();
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(fx.messages.empty());
        QCOMPARE(fx.settings.recordFileCaption, std::string("bench"));
        QVERIFY(fx.settings.recordAppendTimestamp);
        QVERIFY(fx.settings.recordMultiCaptureFile);
        QCOMPARE(fx.settings.recordMaxFileSizeMB, 250u);
        QVERIFY(fx.settings.recordDoNotAskAgain);
        QCOMPARE(fx.settings.recordFileFolder, other.Path().string());
        // The folder test leaves nothing behind.
        QVERIFY(std::filesystem::is_empty(other.Path()));
    }

    void RecordFileOkRefusesBadFields_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("folder"); // "" keeps the fixture's, "-" empties it
        QTest::addColumn<QString>("message");
        const QString notWritable = kFolderNotWritableText;
        QTest::newRow("no caption") << "" << "100" << "" << "Enter Filename.";
        QTest::newRow("size 0") << "a" << "0" << "" << "Enter an integer between 1 and 9999.";
        QTest::newRow("size 10000") << "a" << "10000" << "" << "Enter an integer between 1 and 9999.";
        QTest::newRow("size not a number") << "a" << "12x" << "" << "Enter a positive integer.";
        QTest::newRow("size negative") << "a" << "-5" << "" << "Enter a positive integer.";
        QTest::newRow("size empty") << "a" << "" << "" << "Enter a positive integer.";
        QTest::newRow("no folder") << "a" << "100" << "-" << notWritable;
        QTest::newRow("read-only file system") << "a" << "100" << "/proc" << notWritable;
        QTest::newRow("folder below a file") << "a" << "100" << "FILE/sub" << notWritable;
        if (geteuid() != 0) QTest::newRow("read-only folder") << "a" << "100" << "READONLY" << notWritable;
    }

    void RecordFileOkRefusesBadFields() {
        QFETCH(QString, caption);
        QFETCH(QString, size);
        QFETCH(QString, folder);
        TempDir scratch;
        std::string chosen = folder.toStdString();
        if (folder == "FILE/sub") {
            WriteFile(scratch.File("plain"), {1});
            chosen = scratch.File("plain") + "/sub";
        }
        if (folder == "READONLY") {
            chosen = scratch.Path().string();
            std::filesystem::permissions(scratch.Path(), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_exec);
        }
        // The browser never gives an empty folder; the settings can hold one.
        FileDialogFixture fx([&](CSettings& s) {
            if (folder == "-") s.recordFileFolder.clear();
        });
        CCaptureFilenameDlg& d = *fx.dialog;
        if (!folder.isEmpty() && folder != "-") {
            d.hooks.chooseFolder = [chosen](const std::string&) { return chosen; };
            d.FolderButton()->click();
        }
        const CSettings before = fx.settings;
        Retype(d.CaptionField(), caption);
        Retype(d.SizeField(), size);
        d.DoNotAskBox()->click();
        d.OkButton()->click();
        if (folder == "READONLY") std::filesystem::permissions(scratch.Path(), std::filesystem::perms::owner_all);
        QCOMPARE(fx.messages.size(), size_t(1));
        QTEST(QString::fromStdString(fx.messages[0]), "message");
        QVERIFY(d.isVisible());
        QVERIFY(fx.settings == before);
    }

    void RecordFileLoadDefaults() {
        FileDialogFixture fx;
        CCaptureFilenameDlg& d = *fx.dialog;
        Retype(d.CaptionField(), "x");
        d.TimestampBox()->click();
        d.MultipleBox()->click();
        Retype(d.SizeField(), "7");
        d.DoNotAskBox()->click();
        d.hooks.chooseFolder = [](const std::string&) { return std::string("/tmp"); };
        d.FolderButton()->click();
        const std::string defaultFolder = (fx.dir.Path() / "Ambrio").string();
        QVERIFY(!std::filesystem::exists(defaultFolder));

        d.LoadDefaultsButton()->click();
        QCOMPARE(d.CaptionField()->text(), QString("DUDevezud"));
        QVERIFY(!d.TimestampBox()->isChecked());
        QVERIFY(!d.MultipleBox()->isChecked());
        QCOMPARE(d.SizeField()->text(), QString("100"));
        QVERIFY(!d.DoNotAskBox()->isChecked());
        QCOMPARE(d.FolderDisplay()->text(), QString::fromStdString(defaultFolder));
        QVERIFY(std::filesystem::is_directory(defaultFolder));
        QCOMPARE(d.FileNameDisplay()->text(), QString("DUDevezud.qxc"));
        // Load Defaults stores nothing by itself.
        QCOMPARE(fx.settings.recordFileCaption, std::string("DUDevezud"));
        QCOMPARE(fx.settings.recordFileFolder, fx.dir.Path().string());
    }

    void RecordSettingsSelectsTheInterval_data() {
        QTest::addColumn<uint>("stored");
        QTest::addColumn<QString>("selected");
        QTest::newRow("0") << 0u << "1ms";
        QTest::newRow("1") << 1u << "1ms";
        QTest::newRow("4") << 4u << "5ms";
        QTest::newRow("7") << 7u << "10ms";
        QTest::newRow("10") << 10u << "10ms";
        QTest::newRow("500") << 500u << "500ms";
        QTest::newRow("501") << 501u << "1000ms";
        QTest::newRow("60000") << 60000u << "1000ms";
    }

    void RecordSettingsSelectsTheInterval() {
        QFETCH(uint, stored);
        CSettings s;
        s.recordVbusSamplingIntervalMS = stored;
        CConfigDlg d(s);
        QTEST(d.IntervalList()->currentText(), "selected");
    }

    void RecordSettingsChecksTheNumbers_data() {
        QTest::addColumn<QString>("packets");
        QTest::addColumn<QString>("samples");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::newRow("99 packets") << "99" << "5000" << "Enter an integer between 100 and 100000.";
        QTest::newRow("100001 packets") << "100001" << "5000" << "Enter an integer between 100 and 100000.";
        QTest::newRow("packets not a number") << "1e3" << "5000" << "Enter a positive integer.";
        QTest::newRow("no samples") << "500" << "" << "Enter a positive integer.";
        QTest::newRow("0 samples") << "500" << "0" << "Enter an integer between 1 and 100000000.";
        QTest::newRow("samples past the store") << "500" << "100000001" << "Enter an integer between 1 and 100000000.";
        QTest::newRow("samples past 32 bits") << "500" << "4294967296" << "Enter an integer between 1 and 100000000.";
        QTest::newRow("the bounds") << "100" << "100000000" << "";
        QTest::newRow("blanks around") << " 100000 " << "1" << "";
    }

    void RecordSettingsChecksTheNumbers() {
        QFETCH(QString, packets);
        QFETCH(QString, samples);
        QFETCH(QString, message);
        CSettings s;
        s.recordCaptureFullStop = true; // hidden, passed through
        const CSettings before = s;
        CConfigDlg d(s);
        std::vector<std::string> messages;
        d.hooks.message = [&](const std::string&, const std::string& t) { messages.push_back(t); };
        d.show();
        d.IntervalList()->setCurrentIndex(d.IntervalList()->findText("50ms"));
        Retype(d.PacketCountField(), packets);
        Retype(d.SampleCountField(), samples);
        d.OkButton()->click();
        if (!message.isEmpty()) {
            QCOMPARE(messages.size(), size_t(1));
            QCOMPARE(QString::fromStdString(messages[0]), message);
            QVERIFY(d.isVisible());
            QVERIFY(s == before);
            return;
        }
        QVERIFY(messages.empty());
        QVERIFY(!d.isVisible());
        QCOMPARE(s.maxPDPacketCount, packets.trimmed().toUInt());
        QCOMPARE(s.maxVbusInfoCount, samples.toUInt());
        QCOMPARE(s.recordVbusSamplingIntervalMS, 50u);
        QVERIFY(s.recordCaptureFullStop);
        QVERIFY(!s.pdPacketAutoRemove);
    }

    void RecordSettingsLoadDefault() {
        CSettings s;
        s.recordVbusSamplingIntervalMS = 300;
        s.maxPDPacketCount = 500;
        s.maxVbusInfoCount = 7;
        s.recordCaptureFullStop = s.pdPacketAutoRemove = s.vbusInfoAutoRemove = true;
        CConfigDlg d(s);
        d.show();
        QCOMPARE(d.IntervalList()->currentText(), QString("300ms"));
        QCOMPARE(d.PacketCountField()->text(), QString("500"));
        QCOMPARE(d.SampleCountField()->text(), QString("7"));
        for (QCheckBox* b : {d.FullStopBox(), d.PacketAutoRemoveBox(), d.SampleAutoRemoveBox()}) {
            QVERIFY(!b->isVisible());
            QVERIFY(b->isChecked());
        }
        d.LoadDefaultButton()->click();
        QCOMPARE(d.IntervalList()->currentText(), QString("10ms"));
        QCOMPARE(d.PacketCountField()->text(), QString("99999"));
        QCOMPARE(d.SampleCountField()->text(), QString("9999999"));
        d.OkButton()->click();
        QCOMPARE(s.recordVbusSamplingIntervalMS, 10u);
        QCOMPARE(s.maxPDPacketCount, 99999u);
        QCOMPARE(s.maxVbusInfoCount, 9999999u);
        QVERIFY(!s.recordCaptureFullStop && !s.pdPacketAutoRemove && !s.vbusInfoAutoRemove);
    }

    // The analyzer takes the new interval at OK, the store the new limits; a cancel sends nothing.
    void RecordSettingsReachTheAnalyzerAndTheStore() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.Tick();
        QCOMPARE(f.analyzer->SamplingIntervalMs(), 10u);
        Drive<CConfigDlg>(w, [](CConfigDlg& d) {
            d.IntervalList()->setCurrentIndex(d.IntervalList()->findText("100ms"));
            d.reject();
        });
        w.ExecuteCommand(cmd::kRecordSettings);
        QCOMPARE(f.analyzer->SamplingIntervalMs(), 10u);
        QCOMPARE(f.settings.recordVbusSamplingIntervalMS, 10u);

        // A refused field is named in the window's box too; the dialog stays open.
        Drive<CConfigDlg>(w, [](CConfigDlg& d) {
            d.IntervalList()->setCurrentIndex(d.IntervalList()->findText("100ms"));
            Retype(d.SampleCountField(), "0");
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kRecordSettings);
        QCOMPARE(f.messageTitles, std::vector<std::string>{"Max VBUS Sampling Count - Record Settings"});
        QCOMPARE(f.messages, std::vector<std::string>{"Enter an integer between 1 and 100000000."});
        QCOMPARE(f.analyzer->SamplingIntervalMs(), 10u);

        Drive<CConfigDlg>(w, [](CConfigDlg& d) {
            d.IntervalList()->setCurrentIndex(d.IntervalList()->findText("100ms"));
            Retype(d.PacketCountField(), "2000");
            Retype(d.SampleCountField(), "12345");
            d.PacketAutoRemoveBox()->setChecked(true);
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kRecordSettings);
        QCOMPARE(f.analyzer->SamplingIntervalMs(), 100u);
        QCOMPARE(w.Doc().store.limits.packetLimit, 2000u);
        QCOMPARE(w.Doc().store.limits.sampleLimit, 12345u);
        QVERIFY(w.Doc().store.limits.packetAutoRemove);

        // Ten samples a second: a recording of three seconds holds about thirty, not three hundred.
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        f.Advance(3);
        const size_t samples = w.Doc().store.SampleCount();
        QVERIFY2(samples >= 20 && samples <= 40, qPrintable(QString::number(samples)));
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    // Run shows the dialog; its caption names the file; OK on an existing file still asks.
    void RunRecordsUnderTheTypedCaption() {
        CFrameFixture f("demo", false, [](CSettings& s) { s.recordDoNotAskAgain = false; });
        CMainFrame& w = *f.frame;
        w.Tick();
        int shown = 0;
        Drive<CCaptureFilenameDlg>(w, [](CCaptureFilenameDlg& d) { d.CancelButton()->click(); }, &shown);
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(shown, 1);
        QVERIFY(!w.Reader().capturing);
        QVERIFY(std::filesystem::is_empty(f.dir.Path()));

        Drive<CCaptureFilenameDlg>(w, [](CCaptureFilenameDlg& d) {
            Retype(d.CaptionField(), "run/42");
            d.OkButton()->click();
        }, &shown);
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(shown, 2);
        QVERIFY(w.RecordingActive());
        QCOMPARE(w.windowTitle(), QString("run42.qxc[*] - Ambrio App"));
        QCOMPARE(f.settings.recordFileCaption, std::string("run42"));
        f.Advance(2);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        const std::string path = f.dir.File("run42.qxc");
        const std::vector<char> first = ReadAll(path);
        QVERIFY(first.size() > 64);

        // The same caption again: the user is asked, and No keeps the first file.
        Drive<CCaptureFilenameDlg>(w, [](CCaptureFilenameDlg& d) {
            QCOMPARE(d.CaptionField()->text(), QString("run42"));
            d.OkButton()->click();
        }, &shown);
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(shown, 3);
        QCOMPARE(f.questions.size(), size_t(1));
        QVERIFY2(f.questions[0].find(path) != std::string::npos, f.questions[0].c_str());
        QVERIFY(!w.Reader().capturing);
        QVERIFY(ReadAll(path) == first);

        // "Do not ask again": this Run shows the dialog, the next one does not.
        Drive<CCaptureFilenameDlg>(w, [](CCaptureFilenameDlg& d) {
            Retype(d.CaptionField(), "quiet");
            d.DoNotAskBox()->click();
            d.OkButton()->click();
        }, &shown);
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(shown, 4);
        QVERIFY(w.RecordingActive());
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        f.yesNoAnswers.push_back(true);
        w.ExecuteCommand(cmd::kRun);
        QCOMPARE(shown, 4);
        QVERIFY(w.RecordingActive());
        QCOMPARE(w.windowTitle(), QString("quiet.qxc[*] - Ambrio App"));
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    void RunWithTimestampAndMultipleFiles() {
        CFrameFixture f("demo", false, [](CSettings& s) { s.recordDoNotAskAgain = false; });
        CMainFrame& w = *f.frame;
        w.Control().clock = MarchFifth;
        w.Tick();
        Drive<CCaptureFilenameDlg>(w, [](CCaptureFilenameDlg& d) {
            Retype(d.CaptionField(), "ts");
            d.TimestampBox()->click();
            d.MultipleBox()->click();
            Retype(d.SizeField(), "1");
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        QCOMPARE(f.settings.recordMaxFileSizeMB, 1u);
        f.Advance(1);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        QVERIFY(std::filesystem::file_size(f.dir.File("ts_20240305-142501_0001.qxc")) > 64);
    }

    // Another program's Run keeps its name and shows nothing, whatever the dialog would ask.
    void RemoteRunShowsNoDialog() {
        CFrameFixture f("demo", false, [](CSettings& s) { s.recordDoNotAskAgain = false; });
        CMainFrame& w = *f.frame;
        w.Tick();
        WriteFile(f.dir.File("ext.qxc"), std::vector<uint8_t>(64, 0));
        w.RemoteSetRecordName("ext");
        QVERIFY(w.RemoteRun());
        QVERIFY(f.settingsDialogs.empty());
        QVERIFY(f.questions.empty());
        f.Advance(1);
        w.RemoteStop();
        f.TickUntilStopped();
        QVERIFY(std::filesystem::file_size(f.dir.File("ext.qxc")) > 64);
    }

    void CommandsMenusAndToolbar() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.Tick();
        for (uint32_t id : {cmd::kRecordSettings, cmd::kRecordFileSettings, cmd::kVbusCurrentDirection, cmd::kAbout})
            QVERIFY(w.IsCommandEnabled(id));
        QCOMPARE(w.Action(cmd::kAbout)->text(), QString("&About Ambrio App..."));
        QCOMPARE(w.Action(cmd::kVbusCurrentDirection)->toolTip(), QString("Select VBUS Current Positive Direction"));
        QCOMPARE(w.Action(cmd::kRecordSettings)->statusTip(), QString("Record Settings"));
        const QList<QAction*> bar = w.findChild<QToolBar*>("Standard")->actions();
        const qsizetype rs = bar.indexOf(w.Action(cmd::kRecordSettings));
        QVERIFY(rs > bar.indexOf(w.Action(cmd::kGraphAutoScroll)));
        QCOMPARE(bar.indexOf(w.Action(cmd::kRecordFileSettings)), rs + 1);
        QVERIFY(bar.indexOf(w.Action(cmd::kAbout)) > rs + 1);
        QMenu* help = nullptr;
        for (QAction* m : w.menuBar()->actions())
            if (m->text() == "&Help") help = m->menu();
        QVERIFY(help && help->actions().contains(w.Action(cmd::kAbout)));

        // While recording both record dialogs are off; the others stay on.
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        QVERIFY(!w.IsCommandEnabled(cmd::kRecordSettings));
        QVERIFY(!w.IsCommandEnabled(cmd::kRecordFileSettings));
        QVERIFY(!w.Action(cmd::kRecordFileSettings)->isEnabled());
        QVERIFY(w.IsCommandEnabled(cmd::kVbusCurrentDirection));
        QVERIFY(w.IsCommandEnabled(cmd::kAbout));
        w.ExecuteCommand(cmd::kRecordFileSettings);
        QVERIFY(f.settingsDialogs.empty());
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        w.ExecuteCommand(cmd::kRecordFileSettings);
        QVERIFY(f.settingsDialogs == std::vector<std::string>{"Record File Settings"});
    }

    void VbusCurrentDirection() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        // The pictures choose their radio buttons; the hidden box passes through.
        Drive<CVbusCurrentDirCfg>(w, [](CVbusCurrentDirCfg& d) {
            QVERIFY(d.PlugToReceptacle()->isChecked());
            QVERIFY(!d.DoNotAskBox()->isVisible());
            QVERIFY(d.DoNotAskBox()->isChecked());
            d.ReceptacleToPlugPicture()->click();
            QVERIFY(d.ReceptacleToPlug()->isChecked());
            d.PlugToReceptaclePicture()->click();
            QVERIFY(d.PlugToReceptacle()->isChecked());
            d.ReceptacleToPlugPicture()->click();
            d.reject();
        });
        f.settings.vbusCurrDirCfgDoNotAskAgain = true;
        w.ExecuteCommand(cmd::kVbusCurrentDirection);
        QVERIFY(!f.settings.vbusCurrDirReverse);
        QVERIFY(!w.GraphView()->Model().ReverseCurrent());

        Drive<CVbusCurrentDirCfg>(w, [](CVbusCurrentDirCfg& d) {
            d.ReceptacleToPlugPicture()->click();
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kVbusCurrentDirection);
        QVERIFY(f.settings.vbusCurrDirReverse);
        QVERIFY(f.settings.vbusCurrDirCfgDoNotAskAgain);
        QVERIFY(w.GraphView()->Model().ReverseCurrent());
    }

    void DriverPromptOnTheFirstTick_data() {
        QTest::addColumn<bool>("install");
        QTest::addColumn<bool>("doNotAsk");
        QTest::newRow("cancel") << false << false;
        QTest::newRow("cancel, do not ask again") << false << true;
        QTest::newRow("install") << true << false;
        QTest::newRow("install, do not ask again") << true << true;
    }

    void DriverPromptOnTheFirstTick() {
        QFETCH(bool, install);
        QFETCH(bool, doNotAsk);
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        int shown = 0;
        QString text;
        Drive<CLaunchDriverInstallerDlg>(w, [&](CLaunchDriverInstallerDlg& d) {
            text = d.Text()->text();
            QCOMPARE(d.InstallButton()->text(), QString("Install Driver"));
            QCOMPARE(d.DoNotAskBox()->text(), QString("Do Not Ask Again"));
            if (doNotAsk) d.DoNotAskBox()->click();
            (install ? d.InstallButton() : d.CancelButton())->click();
        }, &shown);
        w.Tick();
        QCOMPARE(shown, 1);
        QVERIFY(text.contains("70-ambrio-analyzer.rules"));
        QVERIFY(text.contains("udevadm control --reload-rules && udevadm trigger"));
        QCOMPARE(f.settings.launchDriverInstaller, !doNotAsk);
        // Install shows the rule and how udev loads it, in a box to copy them from.
        QCOMPARE(f.messages.size(), size_t(install ? 1 : 0));
        if (install) {
            const QString shown = QString::fromStdString(f.messages[0]);
            QVERIFY2(shown.contains("70-ambrio-analyzer.rules"), qPrintable(shown));
            QVERIFY2(shown.contains("udevadm control --reload-rules && udevadm trigger"), qPrintable(shown));
        }
        // Only the first tick asks.
        w.Tick();
        QCOMPARE(shown, 1);
    }

    // The timer is held while the prompt is open and runs on once it is closed.
    void TicksGoOnAfterTheDriverPrompt() {
        CFrameFixture f("demo", true);
        CMainFrame& w = *f.frame;
        f.analyzer->Unplug();
        int shown = 0;
        Drive<CLaunchDriverInstallerDlg>(w, [](CLaunchDriverInstallerDlg& d) { d.CancelButton()->click(); }, &shown);
        QVERIFY(QTest::qWaitFor([&] { return shown == 1; }, 5000));
        // A later tick finds the analyzer.
        f.analyzer->Plug();
        QVERIFY(QTest::qWaitFor([&] { return w.StatusText() == kConnectedStatusText; }, 5000));
        QCOMPARE(shown, 1);
    }

    void AboutTexts_data() {
        QTest::addColumn<QString>("fw");
        QTest::addColumn<bool>("invalid");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("fwText");
        QTest::addColumn<QString>("serialText");
        QTest::addColumn<bool>("update");
        QTest::newRow("1.10") << "1.10" << false << "0123456789ABCDEF01234567" << "FW Ver : 1.10"
                              << "Serial Number : 0123456789ABCDEF01234567" << true;
        QTest::newRow("1.00 rejected") << "1.00" << true << "" << "FW Ver : 1.00 (Invalid FW Version)"
                                       << "Serial Number is not assigned." << true;
        QTest::newRow("0.92") << "0.92" << true << "42" << "FW Ver : 0.92 (Invalid FW Version)"
                              << "Serial Number : 42" << false;
        QTest::newRow("0.91") << "0.91" << true << "" << "FW Ver : 0.91 (Invalid FW Version)"
                              << "Serial Number is not assigned." << false;
        QTest::newRow("not connected") << "" << false << "" << "Not Connected" << "Serial Number is not assigned."
                                       << true;
    }

    void AboutTexts() {
        QFETCH(QString, fw);
        QFETCH(bool, invalid);
        QFETCH(QString, serial);
        CAboutDlg d(fw.toStdString(), invalid, serial.toStdString());
        QTEST(d.FirmwareText()->text(), "fwText");
        QTEST(d.SerialText()->text(), "serialText");
        QVERIFY(d.SerialText()->isReadOnly());
        QTEST(d.FirmwareUpdateButton()->isEnabled(), "update");
    }

    // About reads the analyzer's texts; its update button sends the analyzer off the bus.
    void AboutFromTheWindow() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        f.analyzer->SetFirmwareText(u"0.92");
        w.Tick();
        QVERIFY(!w.Connection().connected);
        bool enabled = true;
        Drive<CAboutDlg>(w, [&](CAboutDlg& d) {
            QCOMPARE(d.FirmwareText()->text(), QString("FW Ver : 0.92 (Invalid FW Version)"));
            enabled = d.FirmwareUpdateButton()->isEnabled();
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kAbout);
        QVERIFY(!enabled);

        f.analyzer->Unplug();
        w.Tick();
        f.analyzer->SetFirmwareText(u"1.10");
        f.analyzer->Plug();
        w.Tick();
        QVERIFY(w.Connection().connected);
        // The update mode takes the analyzer off the bus until it is plugged in again: the button asks
        // first, and No leaves the dialog open and sends nothing.
        bool openAfterNo = false;
        Drive<CAboutDlg>(w, [&](CAboutDlg& d) {
            QCOMPARE(d.SerialText()->text(), QString("Serial Number : 0123456789ABCDEF01234567"));
            d.FirmwareUpdateButton()->click();
            openAfterNo = d.isVisible();
            d.OkButton()->click();
        });
        w.ExecuteCommand(cmd::kAbout);
        QVERIFY(openAfterNo);
        QCOMPARE(f.questions.size(), size_t(1));
        QVERIFY2(f.questions[0].find("plugged in again") != std::string::npos, f.questions[0].c_str());
        QVERIFY(f.analyzer->IsPresent());
        w.Tick();
        QVERIFY(w.Connection().connected);

        f.yesNoAnswers.push_back(true);
        Drive<CAboutDlg>(w, [](CAboutDlg& d) { d.FirmwareUpdateButton()->click(); });
        w.ExecuteCommand(cmd::kAbout);
        QCOMPARE(f.questions.size(), size_t(2));
        QVERIFY(!f.analyzer->IsPresent());
        w.Tick();
        QVERIFY(!w.Connection().connected);
    }

    // A refused field is named in the title of the box that says why; the text is the dialog's own.
    // The real box is read, as the user sees it.
    void MessagesNameTheirField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("packet count") << "packets" << "99" << "Max Record PD Packet Count - Record Settings"
                                      << "Enter an integer between 100 and 100000.";
        QTest::newRow("sample count") << "samples" << "many" << "Max VBUS Sampling Count - Record Settings"
                                      << "Enter a positive integer.";
        QTest::newRow("file size") << "size" << "0" << "Max File Size (MB) - Record File Settings"
                                   << "Enter an integer between 1 and 9999.";
        QTest::newRow("caption") << "caption" << "" << "Filename Caption (max 64 chars) - Record File Settings"
                                 << "Enter Filename.";
        QTest::newRow("folder") << "folder" << "/proc" << "Record File Folder - Record File Settings"
                                << QString(kFolderNotWritableText);
    }

    void MessagesNameTheirField() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        TempDir dir;
        CSettings s;
        s.recordFileFolder = dir.Path().string();
        std::unique_ptr<CSettingsDialog> dialog;
        if (field == "packets" || field == "samples") {
            auto* d = new CConfigDlg(s);
            dialog.reset(d);
            d->show();
            Retype(field == "packets" ? d->PacketCountField() : d->SampleCountField(), value);
        } else {
            auto* d = new CCaptureFilenameDlg(s);
            dialog.reset(d);
            d->show();
            if (field == "size") Retype(d->SizeField(), value);
            if (field == "caption") Retype(d->CaptionField(), value);
            if (field == "folder") {
                d->hooks.chooseFolder = [value](const std::string&) { return value.toStdString(); };
                d->FolderButton()->click();
            }
        }
        QString title, text;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
        dialog->OkButton()->click();
        QTEST(title, "title");
        QTEST(text, "text");
        QVERIFY(dialog->isVisible());
    }

    void Screenshots() {
        FileDialogFixture fx;
        fx.dialog->TimestampBox()->click();
        fx.dialog->MultipleBox()->click();
        Shoot(*fx.dialog, "dialog-record-file-settings");
        CSettings s;
        CConfigDlg config(s);
        Shoot(config, "dialog-record-settings");
        CVbusCurrentDirCfg direction(false, false);
        Shoot(direction, "dialog-vbus-current-direction");
        CFrameFixture f;
        f.analyzer->Unplug();
        Drive<CLaunchDriverInstallerDlg>(*f.frame, [&](CLaunchDriverInstallerDlg& d) { Shoot(d, "dialog-driver-install"); });
        f.frame->Tick();
        CAboutDlg about("1.10", false, "0123456789ABCDEF01234567");
        Shoot(about, "dialog-about");
    }
};

AMBRIO_GUI_TEST(SettingsDialogsTest)
#include "SettingsDialogsTest.moc"
