// The Export and Stitch Record Files dialogs as a user drives them: initial values and enabling, the
// extension following the type, the To number shown as used, a run to its message box, failure and
// automatic mode; the stitch lists, the contiguous candidates, the output name and the copy.
#include "CaptureStore.h"
#include "CommandTable.h"
#include "DBusService.h"
#include "ExportDlg.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "StitchFileDlg.h"
#include "Synthesizer.h"
#include "support/Series.h"
#include "support/TempFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

std::string Synth(const std::string& path, double seconds, uint32_t seed = 1) {
    synth::Scenario sc;
    synth::BuiltinScenario("demo", &sc);
    synth::SynthOptions o;
    o.seconds = seconds;
    o.seed = seed;
    std::string error;
    if (!synth::WriteScenarioFile(path, sc, o, &error)) qFatal("%s", error.c_str());
    return path;
}

struct Hooks : IDocumentHooks {
    bool graph = false;
    bool GraphMarkers(int64_t* o, int64_t* x) const override {
        *o = 2000000;
        *x = 1000;
        return graph;
    }
};

template <class T> T* Get(const CExportDlg& d, int id) {
    T* w = qobject_cast<T*>(d.Control(id));
    if (!w) qFatal("no control %d", id);
    return w;
}

// Lines of a CSV file (each ends in CR LF).
size_t CsvLineCount(const std::string& path) {
    const auto text = ReadFile(path);
    size_t n = 0;
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i - 1] == '\r' && text[i] == '\n') ++n;
    return n;
}

// Lines of a CSV export from the capture's top to its end: the header, then one per sample and one per
// packet in that range.
size_t WholeCaptureLines(const CCaptureStore& st, bool samples, bool packets) {
    int64_t top = 0, end = 0;
    if (!CaptureTop(st, &top) || !CaptureEnd(st, &end)) qFatal("empty capture");
    const auto inRange = [&](int64_t t) { return t >= top && t <= end; };
    size_t n = 1;
    for (size_t i = 0; samples && i < st.SampleCount(); ++i) n += inRange(st.DisplayTime(*st.SampleAt(i)));
    for (size_t i = 0; packets && i < st.PacketCount(); ++i) n += inRange(st.DisplayTime(*st.PacketAt(i)));
    return n;
}

// The ends an export dialog reports through its finished hook.
struct Finished {
    std::vector<std::pair<bool, std::string>> calls;
    void Watch(CExportDlg& d) {
        d.finished = [this](bool ok, const std::string& reason) { calls.emplace_back(ok, reason); };
    }
};

// Waits for the worker, then lets the dialog's timer tick once.
bool FinishRun(CExportDlg& d) {
    if (!QTest::qWaitFor([&] { return d.Flags().done.load(); }, 10000)) return false;
    d.OnTimer();
    return true;
}

} // namespace

class ToolDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void ExportOpensWithTheDocumentsValues() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("abc.qxc"), 4)));
        const int last = doc.store.PacketAt(doc.store.PacketCount() - 1)->index;
        Hooks hooks;
        hooks.graph = true;
        doc.store.markerAPacket = doc.store.PacketAt(2);
        CExportDlg d;
        d.Prepare(doc, &hooks, ColumnLayout::Defaults(), false);
        d.show();
        QCOMPARE(Get<QLabel>(d, CExportDlg::kFileName)->text(), QString::fromStdString(dir.File("abc_export.csv")));
        QVERIFY(Get<QRadioButton>(d, CExportDlg::kFromTop)->isChecked());
        QVERIFY(Get<QRadioButton>(d, CExportDlg::kMessages)->isChecked());
        QCOMPARE(Get<QLineEdit>(d, CExportDlg::kFromEdit)->text(), QString("0"));
        QCOMPARE(Get<QLineEdit>(d, CExportDlg::kToEdit)->text(), QString::number(last));
        // Marker entries in time order: X (1 ms), A, O (2 s); From shows the first, To the last.
        auto* from = Get<QComboBox>(d, CExportDlg::kFromCombo);
        QCOMPARE(from->count(), 3);
        QCOMPARE(from->itemText(0), QString("Marker X (  0s   1ms   0us)"));
        QCOMPARE(from->itemText(2), QString("Marker O (  2s   0ms   0us)"));
        QCOMPARE(from->currentIndex(), 0);
        QCOMPARE(Get<QComboBox>(d, CExportDlg::kToCombo)->currentIndex(), 2);
        // PD Messages: the seven boxes off, the combos and edits off until their radios are chosen.
        QVERIFY(!Get<QCheckBox>(d, CExportDlg::kValueIds[0])->isEnabled());
        QVERIFY(Get<QCheckBox>(d, CExportDlg::kVisibleOnly)->isEnabled());
        QVERIFY(!from->isEnabled());
        QVERIFY(!Get<QLineEdit>(d, CExportDlg::kFromEdit)->isEnabled());
        QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
        QVERIFY(!Get<QPushButton>(d, CExportDlg::kAbort)->isEnabled());

        // QXC: the name follows, items and boxes go off.
        Get<QRadioButton>(d, CExportDlg::kQxc)->click();
        QCOMPARE(Get<QLabel>(d, CExportDlg::kFileName)->text(), QString::fromStdString(dir.File("abc_export.qxc")));
        QVERIFY(!Get<QRadioButton>(d, CExportDlg::kBoth)->isEnabled());
        QVERIFY(!Get<QCheckBox>(d, CExportDlg::kVisibleOnly)->isEnabled());
        Get<QRadioButton>(d, CExportDlg::kCsv)->click();
        Get<QRadioButton>(d, CExportDlg::kSamples)->click();
        QVERIFY(Get<QCheckBox>(d, CExportDlg::kValueIds[6])->isEnabled());
        QVERIFY(!Get<QCheckBox>(d, CExportDlg::kVisibleOnly)->isEnabled());

        // To past the last packet is shown as the last; From past it disables Export.
        Get<QRadioButton>(d, CExportDlg::kToNumber)->click();
        auto* to = Get<QLineEdit>(d, CExportDlg::kToEdit);
        QVERIFY(to->isEnabled());
        to->selectAll();
        QTest::keyClicks(to, "99999");
        QCOMPARE(to->text(), QString::number(last));
        QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
        Get<QRadioButton>(d, CExportDlg::kFromNumber)->click();
        auto* fromEdit = Get<QLineEdit>(d, CExportDlg::kFromEdit);
        fromEdit->selectAll();
        QTest::keyClicks(fromEdit, QString::number(last + 1));
        QVERIFY(!Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
        // Reversed markers (O before X) do not resolve either.
        Get<QRadioButton>(d, CExportDlg::kFromMarker)->click();
        Get<QRadioButton>(d, CExportDlg::kToMarker)->click();
        QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
        from->setCurrentIndex(2);
        emit from->activated(2);
        Get<QComboBox>(d, CExportDlg::kToCombo)->setCurrentIndex(0);
        emit Get<QComboBox>(d, CExportDlg::kToCombo)->activated(0);
        QVERIFY(!Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
    }

    void ExportRunsToItsMessageOrStaysOpenAfterAFailure() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("run.qxc"), 3)));
        std::vector<std::string> messages;
        Finished finished;
        {
            CExportDlg d;
            d.message = [&](const std::string& t) { messages.push_back(t); };
            finished.Watch(d);
            d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
            d.show();
            Get<QPushButton>(d, CExportDlg::kExport)->click();
            QVERIFY(d.Exporting());
            QVERIFY(!Get<QPushButton>(d, CExportDlg::kFile)->isEnabled());
            QVERIFY(Get<QPushButton>(d, CExportDlg::kAbort)->isEnabled());
            QCOMPARE(d.StatusText(), QString("Exporting... 0%"));
            QVERIFY(FinishRun(d));
            QCOMPARE(messages, std::vector<std::string>{"Export Completed."});
            QCOMPARE(d.result(), int(QDialog::Accepted));
            // PD Messages from the capture's top to its end.
            QCOMPARE(CsvLineCount(dir.File("run_export.csv")), WholeCaptureLines(doc.store, false, true));
            QVERIFY(finished.calls == (std::vector<std::pair<bool, std::string>>{{true, ""}}));
        }
        messages.clear();
        finished.calls.clear();
        CExportDlg d;
        d.message = [&](const std::string& t) { messages.push_back(t); };
        finished.Watch(d);
        d.chooseFile = [&](int type) { return dir.File(type == kExportCsv ? "no-folder/x.csv" : "?"); };
        d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
        d.show();
        Get<QPushButton>(d, CExportDlg::kFile)->click();
        QCOMPARE(Get<QLabel>(d, CExportDlg::kFileName)->text(), QString::fromStdString(dir.File("no-folder/x.csv")));
        Get<QPushButton>(d, CExportDlg::kExport)->click();
        QVERIFY(FinishRun(d));
        // The message box as it is; the status says why.
        QCOMPARE(messages, std::vector<std::string>{"Export Aborted."});
        QVERIFY(d.isVisible());
        const std::string reason = dir.File("no-folder/x.csv") + ": cannot be written: No such file or directory";
        QCOMPARE(d.StatusText(), QString::fromStdString(reason));
        QCOMPARE(d.LastReason(), reason);
        QVERIFY(finished.calls == (std::vector<std::pair<bool, std::string>>{{false, reason}}));
        QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
    }

    // The record file itself as the export file: "Export" says why and starts nothing; the file stays.
    void ExportRefusesTheRecordFileItself() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("self.qxc"), 2)));
        const auto before = testseries::FolderContents(dir.Path());
        for (const int type : {CExportDlg::kQxc, CExportDlg::kCsv}) {
            std::vector<std::string> messages;
            Finished finished;
            CExportDlg d;
            d.message = [&](const std::string& t) { messages.push_back(t); };
            finished.Watch(d);
            d.chooseFile = [&](int) { return dir.File("self.qxc"); };
            d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
            d.show();
            Get<QRadioButton>(d, type)->click();
            Get<QPushButton>(d, CExportDlg::kFile)->click();
            QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
            Get<QPushButton>(d, CExportDlg::kExport)->click();
            QCOMPARE(messages,
                     std::vector<std::string>{"The export file is the record file itself; choose another file name."});
            QVERIFY(!d.Exporting());
            QVERIFY(!d.Flags().running.load());
            QVERIFY(finished.calls.empty());
            QVERIFY(d.isVisible());
            QVERIFY(testseries::FolderContents(dir.Path()) == before);
        }
    }

    void AutomaticExportStartsAtOnceAndClosesWithoutAMessage() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("auto.qxc"), 3)));
        std::vector<std::string> messages;
        Finished finished;
        CExportDlg d;
        d.message = [&](const std::string& t) { messages.push_back(t); };
        finished.Watch(d);
        d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
        d.SetAutomatic(true);
        d.show();
        QVERIFY(d.Exporting());
        QVERIFY(Get<QRadioButton>(d, CExportDlg::kBoth)->isChecked());
        QVERIFY(FinishRun(d));
        QVERIFY(messages.empty());
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(finished.calls == (std::vector<std::pair<bool, std::string>>{{true, ""}}));
        // Samples and packets both.
        QCOMPARE(CsvLineCount(dir.File("auto_export.csv")), WholeCaptureLines(doc.store, true, true));
    }

    void CancelDuringAnExportWaitsForTheWorker() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("cancel.qxc"), 20)));
        CExportDlg d;
        d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
        d.show();
        Get<QRadioButton>(d, CExportDlg::kBoth)->click();
        Get<QPushButton>(d, CExportDlg::kExport)->click();
        d.reject();
        QVERIFY(!d.Flags().running.load());
        QVERIFY(!d.Exporting());
        QVERIFY(!d.isVisible());
    }

    void StitchListsTheSeriesAndKeepsTheCandidatesContiguous() {
        TempDir dir;
        for (const char* name : {"rec_0001.qxc", "rec_0002.qxc", "rec_0003.qxc", "other_0002.qxc", "plain.qxc"})
            WriteFile(dir.File(name), std::vector<uint8_t>(64 * 3, uint8_t(name[4])));
        CStitchFileDlg d(dir.Path().string(), dir.File("rec_0001.qxc"));
        d.show();
        QListWidget* bases = d.BaseList();
        QCOMPARE(bases->count(), 4);
        QCOMPARE(bases->currentItem()->text(), QString("rec_0001.qxc"));
        QListWidget* c = d.CandidateList();
        QCOMPARE(c->count(), 2);
        QVERIFY(c->item(0)->isSelected());
        QCOMPARE(d.OutputPath(), dir.File("Stitched_rec_0001-0002.qxc"));
        QVERIFY(d.StartButton()->isEnabled());

        // A click on the second selects the first; deselecting the first deselects all.
        c->item(0)->setSelected(false);
        QTest::mouseClick(c->viewport(), Qt::LeftButton, {}, c->visualItemRect(c->item(1)).center());
        QVERIFY(c->item(0)->isSelected() && c->item(1)->isSelected());
        QCOMPARE(d.OutputPath(), dir.File("Stitched_rec_0001-0003.qxc"));
        QTest::mouseClick(c->viewport(), Qt::LeftButton, {}, c->visualItemRect(c->item(0)).center());
        QVERIFY(!c->item(0)->isSelected() && !c->item(1)->isSelected());
        QCOMPARE(d.OutputPath(), std::string());
        QVERIFY(!d.StartButton()->isEnabled());

        // The base other_0002 has no later file; the folder browser fills the lists anew.
        bases->setCurrentRow(0);
        QCOMPARE(c->count(), 0);
        TempDir other;
        WriteFile(other.File("x_0001.qxc"), {1});
        d.chooseFolder = [&](const std::string& current) {
            if (current != dir.Path().string()) qFatal("browser starts elsewhere");
            return other.Path().string();
        };
        d.FolderButton()->click();
        QCOMPARE(d.Folder(), other.Path().string());
        QCOMPARE(bases->count(), 1);
        QCOMPARE(bases->currentItem()->text(), QString("x_0001.qxc"));
    }

    void StitchRunsToItsMessageOrReportsTheAbort() {
        TempDir dir;
        const std::vector<uint8_t> joined =
            testseries::WriteSeries(dir.Path().string(), "s", testseries::Stream("demo", 3), 3).stitched;
        std::vector<std::string> messages;
        {
            CStitchFileDlg d(dir.Path().string(), dir.File("s_0001.qxc"));
            d.message = [&](const std::string& t) { messages.push_back(t); };
            d.completed = [&](const std::string& t, const std::string&) {
                messages.push_back(t);
                return false;
            };
            d.show();
            QListWidget* c = d.CandidateList();
            QTest::mouseClick(c->viewport(), Qt::LeftButton, {}, c->visualItemRect(c->item(1)).center());
            d.StartButton()->click();
            QVERIFY(d.Stitching());
            QVERIFY(!d.StartButton()->isEnabled() && !d.BaseList()->isEnabled());
            QVERIFY(QTest::qWaitFor([&] { return d.Flags().done.load(); }, 10000));
            d.OnTimer();
            QCOMPARE(messages, std::vector<std::string>{"Stitch Files Completed."});
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QVERIFY(!d.OpenRequested());
            QVERIFY(ReadFile(dir.File("Stitched_s_0001-0003.qxc")) == joined);
        }
        messages.clear();
        CStitchFileDlg d(dir.Path().string(), dir.File("s_0001.qxc"));
        d.message = [&](const std::string& t) { messages.push_back(t); };
        d.show();
        std::filesystem::remove(dir.File("s_0002.qxc"));
        d.StartButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return d.Flags().done.load(); }, 10000));
        d.OnTimer();
        QCOMPARE(messages, std::vector<std::string>{"Stitch Files Aborted."});
        QVERIFY(d.isVisible());
        QCOMPARE(d.StatusText(),
                 QString::fromStdString(dir.File("s_0002.qxc") + ": cannot be read: No such file or directory"));
        QVERIFY(d.StartButton()->isEnabled());
        QVERIFY(!std::filesystem::exists(dir.File("Stitched_s_0001-0003 (1).qxc")));
    }

    // Each list says what it holds, above it; the label's mnemonic takes the focus to its list.
    void StitchListsAreLabelled() {
        TempDir dir;
        for (const char* name : {"rec_0001.qxc", "rec_0002.qxc"}) WriteFile(dir.File(name), std::vector<uint8_t>(64, 1));
        CStitchFileDlg d(dir.Path().string(), dir.File("rec_0001.qxc"));
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        std::vector<QString> texts;
        for (QListWidget* list : {d.BaseList(), d.CandidateList()}) {
            QLabel* label = nullptr;
            for (QLabel* l : d.findChildren<QLabel*>())
                if (l->buddy() == list) label = l;
            QVERIFY(label);
            QVERIFY(label->isVisible());
            QVERIFY(!label->text().isEmpty());
            texts.push_back(label->text());
            const QRect l = label->geometry(), w = list->geometry();
            QVERIFY(l.bottom() <= w.top() && l.left() < w.right() && w.left() < l.right());
            QTest::keyClick(&d, label->text().at(label->text().indexOf('&') + 1).toLatin1(), Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), list);
        }
        QVERIFY(texts[0] != texts[1]);
    }

    // A finished stitch offers to open what it wrote; taken, the window opens the stitched file as File
    // Open does. Declined, the open file stays.
    void AFinishedStitchOffersToOpenTheResult() {
        for (const bool open : {true, false}) {
            CFrameFixture f;
            CMainFrame& w = *f.frame;
            const std::string first =
                testseries::WriteSeries(f.dir.Path().string(), "o", testseries::Stream("demo", 3), 2).paths[0];
            QVERIFY(w.OpenFile(first));
            std::vector<std::string> offered;
            w.execToolDialog = [&](QDialog& dialog) {
                auto* d = qobject_cast<CStitchFileDlg*>(&dialog);
                if (!d) return int(QDialog::Rejected);
                d->message = [&](const std::string& text) { f.messages.push_back(text); };
                d->completed = [&](const std::string& text, const std::string& path) {
                    offered = {text, path};
                    return open;
                };
                d->show();
                d->StartButton()->click();
                if (!QTest::qWaitFor([&] { return d->Flags().done.load(); }, 10000)) return int(QDialog::Rejected);
                d->OnTimer();
                return d->result();
            };
            w.ExecuteCommand(cmd::kStitch);
            const std::string stitched = f.dir.File("Stitched_o_0001-0002.qxc");
            QCOMPARE(offered, (std::vector<std::string>{"Stitch Files Completed.", stitched}));
            QVERIFY(std::filesystem::exists(stitched));
            QCOMPARE(w.Doc().docPath, open ? stitched : first);
            QVERIFY2(f.messages.empty(), f.messages.empty() ? "" : f.messages.front().c_str());
        }
    }

    // Selections made with the keyboard obey the same rule as clicks: the candidates chosen are always
    // the first ones, and the output name carries the last of them; the stitch joins what it names.
    void StitchKeyboardSelectionStaysContiguous() {
        TempDir dir;
        const std::string folder = dir.Path().string();
        const testseries::Series series = testseries::WriteSeries(folder, "k", testseries::Stream("demo", 5), 5);
        CStitchFileDlg d(folder, dir.File("k_0001.qxc"));
        std::vector<std::string> messages;
        d.message = [&](const std::string& t) { messages.push_back(t); };
        d.completed = [&](const std::string& t, const std::string&) {
            messages.push_back(t);
            return false;
        };
        d.show();
        QListWidget* c = d.CandidateList();
        QCOMPARE(c->count(), 4); // k_0002 .. k_0005
        const auto selectedRows = [&] {
            std::vector<int> rows;
            for (int i = 0; i < c->count(); ++i)
                if (c->item(i)->isSelected()) rows.push_back(i);
            return rows;
        };
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(c, k, m); };
        struct Step {
            const char* what;
            std::function<void()> keys;
            int selected; // the first this many candidates
        } steps[] = {
            {"Ctrl+A selects all", [&] { key(Qt::Key_A, Qt::ControlModifier); }, 4},
            {"Space on the second deselects it and all after it",
             [&] {
                 c->setCurrentRow(1, QItemSelectionModel::NoUpdate);
                 key(Qt::Key_Space);
             },
             1},
            {"Down and Space on the third select those before it", [&] {
                 key(Qt::Key_Down);
                 key(Qt::Key_Space);
             },
             3},
            {"Shift+Up and Space on the second deselect from there on",
             [&] {
                 key(Qt::Key_Up, Qt::ShiftModifier);
                 key(Qt::Key_Space);
             },
             1},
            {"Shift+Down to the last and Space select all", [&] {
                 key(Qt::Key_Down, Qt::ShiftModifier);
                 key(Qt::Key_Down, Qt::ShiftModifier);
                 key(Qt::Key_Space);
             },
             4},
            {"Space on the first deselects all", [&] {
                 c->setCurrentRow(0, QItemSelectionModel::NoUpdate);
                 key(Qt::Key_Space);
             },
             0},
            {"Space on the third selects the first three", [&] {
                 c->setCurrentRow(2, QItemSelectionModel::NoUpdate);
                 key(Qt::Key_Space);
             },
             3},
        };
        c->setFocus();
        c->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        for (const Step& step : steps) {
            step.keys();
            std::vector<int> expected;
            for (int i = 0; i < step.selected; ++i) expected.push_back(i);
            QVERIFY2(selectedRows() == expected, step.what);
            const std::string name = step.selected ? dir.File("Stitched_k_0001-000" + std::to_string(step.selected + 1) + ".qxc")
                                                   : std::string();
            QVERIFY2(d.OutputPath() == name, step.what);
            QVERIFY2(d.StartButton()->isEnabled() == (step.selected > 0), step.what);
        }

        // k_0001 to k_0004, as the name says: their bytes, the first header block counting all after it.
        std::vector<uint8_t> expected;
        for (int i = 0; i < 4; ++i) {
            const std::vector<uint8_t> file = ReadFile(series.paths[size_t(i)]);
            expected.insert(expected.end(), file.begin(), file.end());
        }
        const std::vector<uint8_t> head = testrec::ClosedHeader(expected.size() - 64);
        std::copy(head.begin(), head.end(), expected.begin());
        d.StartButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return d.Flags().done.load(); }, 10000));
        d.OnTimer();
        QCOMPARE(messages, std::vector<std::string>{"Stitch Files Completed."});
        QVERIFY(ReadFile(dir.File("Stitched_k_0001-0004.qxc")) == expected);
    }

    // A series recorded anew over an older, longer one: selecting the older one's files too does not
    // join the two recordings; the status names the file that does not continue and why.
    void StitchDoesNotJoinAnotherRecording() {
        TempDir dir;
        const std::string folder = dir.Path().string();
        testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 8, 1), 4);
        testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 3, 2), 2);
        const auto before = testseries::FolderContents(dir.Path());
        std::vector<std::string> messages;
        CStitchFileDlg d(folder, dir.File("rec_0001.qxc"));
        d.message = [&](const std::string& t) { messages.push_back(t); };
        d.show();
        QListWidget* c = d.CandidateList();
        QCOMPARE(c->count(), 3);
        QTest::mouseClick(c->viewport(), Qt::LeftButton, {}, c->visualItemRect(c->item(2)).center());
        QCOMPARE(d.OutputPath(), dir.File("Stitched_rec_0001-0004.qxc"));
        d.StartButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return d.Flags().done.load(); }, 10000));
        d.OnTimer();
        QCOMPARE(messages, std::vector<std::string>{"Stitch Files Aborted."});
        QVERIFY(d.StatusText().startsWith("rec_0003.qxc does not continue rec_0002.qxc: its first VBUS sample comes "));
        QVERIFY(testseries::FolderContents(dir.Path()) == before);
    }

    // The window offers both commands as it offers Save, opens each dialog on the open record file, and
    // exports at once on a remote request.
    void WindowCommandsOpenTheDialogs() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(!w.IsCommandEnabled(cmd::kExport));
        QVERIFY(!w.IsCommandEnabled(cmd::kStitch));
        w.RemoteExport(); // no record file: nothing happens
        QVERIFY(!w.AutomaticExport());
        const std::string first = Synth(f.dir.File("w_0001.qxc"), 3);
        Synth(f.dir.File("w_0002.qxc"), 1, 2);
        QVERIFY(w.OpenFile(first));
        w.UpdateCommandStates();
        QVERIFY(w.Action(cmd::kExport)->isEnabled());
        QVERIFY(w.Action(cmd::kStitch)->isEnabled());
        QCOMPARE(w.Action(cmd::kExport)->text(), QString("&Export..."));
        QCOMPARE(w.Action(cmd::kExport)->toolTip(), QString("Export"));
        QCOMPARE(w.Action(cmd::kStitch)->text(), QString("Stitch Record Files"));
        const QList<QAction*> bar = w.findChild<QToolBar*>("Standard")->actions();
        QCOMPARE(bar.indexOf(w.Action(cmd::kExport)), bar.indexOf(w.Action(cmd::kSaveAs)) + 1);

        QString exportName, stitchOutput;
        w.execToolDialog = [&](QDialog& d) {
            d.show();
            if (auto* e = qobject_cast<CExportDlg*>(&d)) exportName = Get<QLabel>(*e, CExportDlg::kFileName)->text();
            if (auto* s = qobject_cast<CStitchFileDlg*>(&d)) stitchOutput = QString::fromStdString(s->OutputPath());
            return int(QDialog::Rejected);
        };
        w.ExecuteCommand(cmd::kExport);
        QCOMPARE(exportName, QString::fromStdString(f.dir.File("w_0001_export.csv")));
        w.ExecuteCommand(cmd::kStitch);
        QCOMPARE(stitchOutput, QString::fromStdString(f.dir.File("Stitched_w_0001-0002.qxc")));

        w.RemoteExport();
        QVERIFY(w.AutomaticExport() && w.AutomaticExport()->Exporting());
        QTRY_VERIFY_WITH_TIMEOUT(!w.AutomaticExport()->isVisible(), 10000);
        // Automatic: samples and packets from the capture's top to its end.
        QCOMPARE(CsvLineCount(f.dir.File("w_0001_export.csv")), WholeCaptureLines(w.Doc().store, true, true));
        // A second request while one runs is left alone; a later one exports again under the next name.
        w.RemoteExport();
        w.RemoteExport();
        QTRY_VERIFY_WITH_TIMEOUT(!w.AutomaticExport()->isVisible(), 10000);
        QVERIFY(std::filesystem::exists(f.dir.File("w_0001_export (1).csv")));
        QVERIFY(!std::filesystem::exists(f.dir.File("w_0001_export (2).csv")));
    }
};

// The remote export request on the session bus: Export() answers at once and the file follows.
class ToolRemoteTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected()) QSKIP("no session bus");
    }

    void ExportAnswersAtOnceAndWritesTheFile() {
        CFrameFixture f;
        CZerlinAppService service(*f.frame);
        QVERIFY(service.Register());
        QVERIFY(f.frame->OpenFile(Synth(f.dir.File("remote.qxc"), 3)));
        QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "export-client");
        const QDBusMessage m =
            QDBusMessage::createMethodCall(kDBusServiceName, kDBusObjectPath, kDBusInterface, "Export");
        QDBusPendingCall pending = client.asyncCall(m, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(pending.isFinished(), 5000);
        QCOMPARE(pending.reply().type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(f.frame->AutomaticExport() && !f.frame->AutomaticExport()->isVisible(), 10000);
        QCOMPARE(CsvLineCount(f.dir.File("remote_export.csv")), WholeCaptureLines(f.frame->Doc().store, true, true));
        QVERIFY(f.messages.empty());
        QDBusConnection::disconnectFromBus("export-client");
    }
};

AMBRIO_GUI_TEST(ToolDialogsTest)
AMBRIO_GUI_TEST(ToolRemoteTest)
#include "ToolDialogsTest.moc"
