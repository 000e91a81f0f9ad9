// Logic captures in the window: File > Import logic capture... and a capture dropped on the window go
// through the import dialog (the capture's channels, the record file beside it) and open like File
// Open; a capture or output that fails is one message and leaves the open document as it was. And the
// Capture menu's tolerant bit recovery on a real capture.
#include "CommandTable.h"
#include "DemoCapture.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "ImportLogicDlg.h"
#include "PacketTexts.h"
#include "QXLogView.h"
#include "RecordStream.h"
#include "import/ImportSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QUrl>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using namespace imptest;

namespace {

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// What the list shows of each packet, the times left out (the import places edges within a tick).
std::vector<QString> ListRows(CMainFrame& w) {
    std::vector<QString> rows;
    CQXLogView* list = w.LogView();
    for (int32_t r = 0; r < list->RowCount(); ++r) {
        QString row;
        for (int id : {kColumnChannel, kColumnMessageType, kColumnDescription, kColumnCrc, kColumnMessageBytesHex})
            row += list->CellText(r, id) + "|";
        rows.push_back(row);
    }
    return rows;
}

size_t GoodMessages(const CCaptureStore& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.PacketCount(); ++i) n += IsMessageKind(s.PacketAt(i)->kind) && s.PacketAt(i)->crcGood;
    return n;
}

// What the import dialog showed when the window opened it, and how the test answers it.
struct DialogRun {
    bool shown = false;
    std::vector<std::string> channels;
    QString cc1, cc2, output, problem;
    bool okEnabled = false;
    // Fills the fields before OK; OK is pressed only when it is enabled.
    std::function<void(CImportLogicDlg&)> fill;
    bool pressOk = true;
};

void DriveImportDialog(CFrameFixture& f, DialogRun& run) {
    f.frame->execSettingsDialog = [&run](QDialog& d) {
        auto* dialog = qobject_cast<CImportLogicDlg*>(&d);
        if (!dialog) return int(QDialog::Rejected);
        run.shown = true;
        run.channels = dialog->Channels();
        run.cc1 = dialog->Cc1List()->currentText();
        run.cc2 = dialog->Cc2List()->currentText();
        run.output = dialog->OutputField()->text();
        run.problem = dialog->ProblemLabel()->isHidden() ? QString() : dialog->ProblemLabel()->text();
        run.okEnabled = dialog->OkButton()->isEnabled();
        if (run.fill) run.fill(*dialog);
        if (run.pressOk && dialog->OkButton()->isEnabled()) dialog->OkButton()->click();
        return dialog->result();
    };
}

void Choose(QComboBox* list, const QString& text) {
    const int i = list->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    list->setCurrentIndex(i);
}

void Drop(QWidget* target, const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

class ImportWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QSettings().remove("Decoding"); }

    // The shared logic captures, imported from the menu, list the packets of their shared record files.
    void sharedCapturesListThePacketsOfTheirRecordFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("power brick") << "macbook_2015-apple_power_brick";
        QTest::newRow("hdmi dongle") << "pixel_2015-hdmi_dongle";
    }
    void sharedCapturesListThePacketsOfTheirRecordFiles() {
        QFETCH(QString, name);
        const std::string captures = guitest::CapturesDir();
        if (captures.empty() || !fs::exists(captures + "/sr")) QSKIP("no shared captures");
        const std::string capture = captures + "/sr/" + name.toStdString() + ".sr";
        const std::string shared = captures + "/" + name.toStdString() + ".qxc";

        CFrameFixture f;
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir, 4)));
        const std::string out = f.dir.File(name.toStdString() + ".qxc");
        DialogRun run;
        run.fill = [&](CImportLogicDlg& d) {
            d.OutputField()->setText(QString::fromStdString(out));
            if (QTest::currentDataTag() == QByteArray("power brick")) {
                d.resize(d.sizeHint());
                const QString shot = QString::fromStdString(guitest::OutputDir() + "/import-dialog.png");
                QVERIFY(d.grab().save(shot));
                qInfo("screenshot: %s", qPrintable(shot));
            }
        };
        DriveImportDialog(f, run);
        f.fileNames.push_back(capture);
        f.frame->ExecuteCommand(cmd::kImportLogic);

        QVERIFY(run.shown);
        std::string names;
        for (const std::string& n : run.channels) names += n + ",";
        QVERIFY2(run.channels.size() >= 2 && run.channels[0] == "CC1" && run.channels[1] == "CC2", names.c_str());
        QCOMPARE(run.cc1, QString("CC1"));
        QCOMPARE(run.cc2, QString("CC2"));
        QCOMPARE(run.output.toStdString(), captures + "/sr/" + name.toStdString() + ".qxc");
        QVERIFY(run.problem.isEmpty());
        QVERIFY2(f.messages.empty(), f.messages.empty() ? "" : f.messages.front().c_str());
        QCOMPARE(f.frame->Doc().docPath, out);
        QVERIFY(f.frame->StatusText().find("Imported") == 0);

        CFrameFixture reference;
        QVERIFY(reference.frame->OpenFile(shared));
        const std::vector<QString> want = ListRows(*reference.frame);
        QVERIFY(want.size() > 40);
        QCOMPARE(ListRows(*f.frame), want);
        QCOMPARE(f.frame->Doc().store.SampleCount(), size_t(0));
    }

    // Each format the library reads; a raw binary file needs its format typed and its channels read again.
    void formatsAndTheirChannels() {
        CFrameFixture f;
        const SmallCaptures c = WriteSmallCaptures(f.dir);
        struct Case {
            std::string input, format;
            std::vector<std::string> channels;
            QString cc1, cc2;
        };
        const Case cases[] = {
            {c.vcd, "", {"CC1", "CC2"}, "CC1", "CC2"},
            {c.csv, "csv:samplerate=10MHz", {"CC1", "CC2"}, "CC1", "CC2"},
            {c.bin, "binary:samplerate=10M", {"0", "1", "2", "3", "4", "5", "6", "7"}, "0", "1"},
        };
        for (const Case& k : cases) {
            const std::string out = k.input + ".qxc";
            DialogRun run;
            std::vector<std::string> typed;
            run.fill = [&](CImportLogicDlg& d) {
                if (!k.format.empty()) {
                    // Enter in the format field reads the channels and leaves the dialog open.
                    d.FormatField()->setText(QString::fromStdString(k.format));
                    QTest::keyClick(d.FormatField(), Qt::Key_Return);
                    QVERIFY(d.isVisible() || d.result() == QDialog::Rejected);
                }
                typed = d.Channels();
                QCOMPARE(d.Cc1List()->currentText(), k.cc1);
                QCOMPARE(d.Cc2List()->currentText(), k.cc2);
                d.OutputField()->setText(QString::fromStdString(out));
            };
            DriveImportDialog(f, run);
            f.fileNames.push_back(k.input);
            f.frame->ExecuteCommand(cmd::kImportLogic);
            QVERIFY(run.shown);
            QCOMPARE(typed, k.channels);
            if (k.input == c.bin) {
                // Raw binary is recognised by nothing: the dialog says so until a format is given.
                QVERIFY2(run.problem.contains("not a logic capture"), qPrintable(run.problem));
                QVERIFY(!run.okEnabled);
            }
            QVERIFY2(f.messages.empty(), f.messages.empty() ? "" : f.messages.front().c_str());
            QCOMPARE(f.frame->Doc().docPath, out);
            QCOMPARE(f.frame->Doc().store.PacketCount(), size_t(2));
            QCOMPARE(GoodMessages(f.frame->Doc().store), size_t(2));
        }
    }

    // Beside the clock setting, the tick it gives the record stream; one too coarse for BMC says so.
    void theClockSettingShowsItsTick() {
        TempDir dir;
        const SmallCaptures c = WriteSmallCaptures(dir);
        CImportLogicDlg d(c.vcd);
        struct Case {
            int setting;
            const char* tick; // divisor and tick as the label gives them
            bool tooCoarse;
        };
        const Case cases[] = {
            {0, "divisor 20: a tick of 0.4167 µs (2.4 MHz)", false},
            {1, "divisor 2: a tick of 0.04167 µs (24 MHz)", false},
            {4, "divisor 5: a tick of 0.1042 µs (9.6 MHz)", false},
            {19, "divisor 20: a tick of 0.4167 µs (2.4 MHz)", false},
            {20, "divisor 21: a tick of 0.4375 µs (2.286 MHz)", true},
            {0x100, "divisor 1: a tick of 0.02083 µs (48 MHz)", false},
            {0x1FF, "divisor 256: a tick of 5.333 µs (0.1875 MHz)", true},
        };
        for (const Case& k : cases) {
            d.ClockField()->setValue(k.setting);
            const QString label = d.ClockTickLabel()->text();
            QVERIFY2(label.startsWith(QString::fromUtf8(k.tick)), qPrintable(label));
            QCOMPARE(label.contains("too coarse"), k.tooCoarse);
            QCOMPARE(rec::ClockDivisor(uint16_t(k.setting)), label.section(' ', 1, 1).chopped(1).toInt());
        }
    }

    // The capture dialog's filter is the library's list: everything it reads first, then each format
    // under the library's own description, then all files.
    void theFileFilterListsWhatTheLibraryReads() {
        const std::vector<imp::CaptureFormat> formats = imp::ReadableCaptureFormats();
        QVERIFY(formats.size() >= 3);
        const QStringList entries = LogicCaptureFilter(formats).split(";;");
        QCOMPARE(entries.size(), qsizetype(formats.size() + 2));
        QVERIFY2(entries.front().startsWith("Formats libsigrok reads ("), qPrintable(entries.front()));
        QCOMPARE(entries.back(), QString("All files (*)"));
        for (size_t i = 0; i < formats.size(); ++i) {
            const QString entry = entries[qsizetype(i + 1)];
            QVERIFY2(entry.startsWith(QString::fromStdString(formats[i].description) + " ("), qPrintable(entry));
            for (const std::string& e : formats[i].extensions) {
                const QString pattern = QString::fromStdString("*." + e);
                QVERIFY2(entry.contains(pattern), qPrintable(entry));
                QVERIFY2(entries.front().contains(pattern), qPrintable(entries.front()));
            }
        }
        // No format, no list of it: only all files.
        QCOMPARE(LogicCaptureFilter({}), QString("All files (*)"));
    }

    // A capture or an output that fails: one message, the open document and the folder as they were.
    void badInputKeepsTheOpenDocument() {
        CFrameFixture f;
        const SmallCaptures c = WriteSmallCaptures(f.dir);
        const std::string notes = f.dir.File("notes.txt");
        WriteFile(notes, Bytes{'n', 'o', 't', 'e', 's', '\n'});
        const std::string kept = f.dir.File("kept.qxc");
        WriteFile(kept, Bytes(64, 0x5A));
        const std::string demo = DemoFile(f.dir, 4);
        QVERIFY(f.frame->OpenFile(demo));
        const size_t packets = f.frame->Doc().store.PacketCount();

        struct Case {
            const char* what;
            std::string input, format, output;
            QString cc2;
            std::deque<bool> replace;
            std::string message; // expected in the one message; empty: none
            bool dialogStaysOpen;
        };
        const Case cases[] = {
            {"no capture", notes, "", f.dir.File("notes.qxc"), "", {}, "", true},
            {"rate too low", c.bin, "binary:samplerate=1M", f.dir.File("low.qxc"), "", {},
             "sample rate 1 MHz is too low for BMC (at least 2 MHz)", false},
            {"no rate", c.bin, "binary", f.dir.File("norate.qxc"), "", {}, "the capture gives no sample rate", false},
            {"output folder missing", c.vcd, "", f.dir.File("no/such/out.qxc"), "", {}, "out.qxc: cannot be written",
             false},
            {"same channel twice", c.vcd, "", f.dir.File("twice.qxc"), "CC1", {},
             "CC1 and CC2 cannot be the same channel.", true},
            {"existing output kept", c.vcd, "", kept, "", {false}, "", true},
        };
        const auto before = Listing(f.dir.Path());
        for (const Case& k : cases) {
            f.messages.clear();
            f.questions.clear();
            f.yesNoAnswers.assign(k.replace.begin(), k.replace.end());
            DialogRun run;
            run.fill = [&](CImportLogicDlg& d) {
                if (!k.format.empty()) {
                    d.FormatField()->setText(QString::fromStdString(k.format));
                    d.ReadButton()->click();
                }
                if (!k.cc2.isEmpty()) Choose(d.Cc2List(), k.cc2);
                d.OutputField()->setText(QString::fromStdString(k.output));
            };
            DriveImportDialog(f, run);
            f.fileNames.push_back(k.input);
            f.frame->ExecuteCommand(cmd::kImportLogic);
            QVERIFY2(run.shown, k.what);
            if (k.message.empty()) {
                QVERIFY2(f.messages.empty(), k.what);
            } else {
                QVERIFY2(f.messages.size() == 1, k.what);
                QVERIFY2(f.messages[0].find(k.message) != std::string::npos, f.messages[0].c_str());
            }
            QCOMPARE(f.questions.size(), k.replace.size());
            QCOMPARE(f.frame->Doc().docPath, demo);
            QCOMPARE(f.frame->Doc().store.PacketCount(), packets);
            QCOMPARE(Listing(f.dir.Path()), before);
            QVERIFY(f.frame->IsCommandEnabled(cmd::kImportLogic));
        }
        QCOMPARE(ReadFile(kept), Bytes(64, 0x5A));

        // Yes replaces the existing file, which then opens.
        f.yesNoAnswers = {true};
        DialogRun run;
        run.fill = [&](CImportLogicDlg& d) { d.OutputField()->setText(QString::fromStdString(kept)); };
        DriveImportDialog(f, run);
        f.fileNames.push_back(c.vcd);
        f.frame->ExecuteCommand(cmd::kImportLogic);
        QCOMPARE(f.frame->Doc().docPath, kept);
        QCOMPARE(f.frame->Doc().store.PacketCount(), size_t(2));
    }

    // A dropped capture goes through the dialog; a dropped file that is neither says so as Open does; a
    // dropped record file opens at once; nothing is imported while recording.
    void droppedFiles() {
        CFrameFixture f;
        const SmallCaptures c = WriteSmallCaptures(f.dir);
        const std::string notes = f.dir.File("notes.txt");
        WriteFile(notes, Bytes{'n', 'o', 't', 'e', 's', '\n'});
        const std::string demo = DemoFile(f.dir, 4);
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));

        DialogRun run;
        DriveImportDialog(f, run);
        Drop(f.frame.get(), c.vcd);
        QVERIFY(run.shown);
        QCOMPARE(f.frame->Doc().docPath, c.vcd.substr(0, c.vcd.size() - 4) + ".qxc");
        QCOMPARE(f.frame->Doc().store.PacketCount(), size_t(2));

        run = DialogRun();
        Drop(f.frame.get(), notes);
        QVERIFY(!run.shown);
        QCOMPARE(f.messages, std::vector<std::string>{"Cannot open \"" + notes + "\" (not a record file)."});

        Drop(f.frame.get(), demo);
        QVERIFY(!run.shown);
        QCOMPARE(f.frame->Doc().docPath, demo);

        f.frame->Tick();
        f.frame->ExecuteCommand(cmd::kRun);
        QVERIFY(f.frame->RecordingActive());
        QVERIFY(!f.frame->IsCommandEnabled(cmd::kImportLogic));
        Drop(f.frame.get(), c.vcd);
        QVERIFY(!run.shown);
        f.frame->ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        QVERIFY(f.frame->IsCommandEnabled(cmd::kImportLogic));
    }

    // Capture > Tolerant Bit Recovery decodes the open file again: the av_hdmi capture's three messages
    // with a short preamble come and go with it, and the choice is kept.
    void tolerantRecoveryFromTheCaptureMenu() {
        const std::string captures = guitest::CapturesDir();
        if (captures.empty()) QSKIP("no shared captures");
        const std::string file = captures + "/macbook_2015-apple_av_hdmi.qxc";
        {
            CFrameFixture f;
            QCOMPARE(f.frame->IsCommandChecked(cmd::kTolerantDecoding), std::optional<bool>(false));
            QVERIFY(f.frame->OpenFile(file));
            QCOMPARE(GoodMessages(f.frame->Doc().store), size_t(81));
            const int32_t rows = f.frame->LogView()->RowCount();
            f.frame->ExecuteCommand(cmd::kTolerantDecoding);
            QCOMPARE(f.frame->IsCommandChecked(cmd::kTolerantDecoding), std::optional<bool>(true));
            QCOMPARE(f.frame->Doc().docPath, file);
            QCOMPARE(GoodMessages(f.frame->Doc().store), size_t(84));
            QCOMPARE(f.frame->LogView()->RowCount(), rows);
        }
        QCOMPARE(QSettings().value("Decoding/Tolerant").toBool(), true);
        {
            CFrameFixture f;
            QCOMPARE(f.frame->IsCommandChecked(cmd::kTolerantDecoding), std::optional<bool>(true));
            QVERIFY(f.frame->OpenFile(file));
            QCOMPARE(GoodMessages(f.frame->Doc().store), size_t(84));
            f.frame->Tick();
            f.frame->ExecuteCommand(cmd::kRun);
            QVERIFY(f.frame->RecordingActive());
            QVERIFY(!f.frame->IsCommandEnabled(cmd::kTolerantDecoding));
            f.frame->ExecuteCommand(cmd::kStop);
            f.TickUntilStopped();
            QVERIFY(f.frame->OpenFile(file));
            f.frame->ExecuteCommand(cmd::kTolerantDecoding);
            QCOMPARE(GoodMessages(f.frame->Doc().store), size_t(81));
        }
        QCOMPARE(QSettings().value("Decoding/Tolerant").toBool(), false);
    }
};

AMBRIO_GUI_TEST(ImportWindowTest)
#include "ImportWindowTest.moc"
