// The Export and Stitch Record Files dialogs as a user drives them: initial values and enabling, the
// extension following the type, the To number shown as used, a run to its message box, failure and
// automatic mode; the stitch lists, the contiguous candidates, the output name and the copy.
#include "CommandTable.h"
#include "DBusService.h"
#include "ExportDlg.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "StitchFileDlg.h"
#include "Synthesizer.h"
#include "support/TempFiles.h"

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

#include <filesystem>

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
        {
            CExportDlg d;
            d.message = [&](const std::string& t) { messages.push_back(t); };
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
            QVERIFY(std::filesystem::file_size(dir.File("run_export.csv")) > 100);
        }
        messages.clear();
        CExportDlg d;
        d.message = [&](const std::string& t) { messages.push_back(t); };
        d.chooseFile = [&](int type) { return dir.File(type == kExportCsv ? "no-folder/x.csv" : "?"); };
        d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
        d.show();
        Get<QPushButton>(d, CExportDlg::kFile)->click();
        QCOMPARE(Get<QLabel>(d, CExportDlg::kFileName)->text(), QString::fromStdString(dir.File("no-folder/x.csv")));
        Get<QPushButton>(d, CExportDlg::kExport)->click();
        QVERIFY(FinishRun(d));
        QCOMPARE(messages, std::vector<std::string>{"Export Aborted."});
        QVERIFY(d.isVisible());
        QCOMPARE(d.StatusText(), QString());
        QVERIFY(Get<QPushButton>(d, CExportDlg::kExport)->isEnabled());
    }

    void AutomaticExportStartsAtOnceAndClosesWithoutAMessage() {
        TempDir dir;
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(Synth(dir.File("auto.qxc"), 3)));
        std::vector<std::string> messages;
        CExportDlg d;
        d.message = [&](const std::string& t) { messages.push_back(t); };
        d.Prepare(doc, nullptr, ColumnLayout::Defaults(), false);
        d.SetAutomatic(true);
        d.show();
        QVERIFY(d.Exporting());
        QVERIFY(Get<QRadioButton>(d, CExportDlg::kBoth)->isChecked());
        QVERIFY(FinishRun(d));
        QVERIFY(messages.empty());
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        // Samples and packets both: more lines than packets.
        const auto text = ReadFile(dir.File("auto_export.csv"));
        QVERIFY(size_t(std::count(text.begin(), text.end(), '\n')) > doc.store.PacketCount() + doc.store.SampleCount() / 2);
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
        std::vector<uint8_t> joined;
        for (int i = 1; i <= 3; ++i) {
            const std::string path = Synth(dir.File("s_000" + std::to_string(i) + ".qxc"), 1, uint32_t(i));
            const auto b = ReadFile(path);
            joined.insert(joined.end(), b.begin(), b.end());
        }
        std::vector<std::string> messages;
        {
            CStitchFileDlg d(dir.Path().string(), dir.File("s_0001.qxc"));
            d.message = [&](const std::string& t) { messages.push_back(t); };
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
        QCOMPARE(d.StatusText(), QString());
        QVERIFY(d.StartButton()->isEnabled());
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
        QVERIFY(std::filesystem::file_size(f.dir.File("w_0001_export.csv")) > 1000);
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
        QVERIFY(std::filesystem::file_size(f.dir.File("remote_export.csv")) > 1000);
        QVERIFY(f.messages.empty());
        QDBusConnection::disconnectFromBus("export-client");
    }
};

AMBRIO_GUI_TEST(ToolDialogsTest)
AMBRIO_GUI_TEST(ToolRemoteTest)
#include "ToolDialogsTest.moc"
