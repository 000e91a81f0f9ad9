// The main window with the emulated analyzer: start-up with and without a file, Run, Stop and Clear with
// rows arriving live, where a stopped recording went, the views following the selection (across a new
// time origin too), marks saved and restored, the keys the menus show, and the commands' enabling and
// check states while recording and idle.
#include "CommandTable.h"
#include "DemoCapture.h"
#include "GraphView.h"
#include "PacketTexts.h"
#include "SettingsDialogs.h"
#include "FrameFixture.h"
#include "GuiTest.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "QXCtrlView.h"
#include "QXApp.h"
#include "QXLogView.h"
#include "RecordingControl.h"
#include "Synthesizer.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenuBar>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTreeWidgetItem>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {

bool RowVisible(CQXLogView* list, int row) {
    const QRect r = list->visualRect(list->model()->index(row, 0));
    return r.isValid() && list->viewport()->rect().intersects(r);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

public slots:
    // Where File > Open Containing Folder goes, in place of the desktop's file manager.
    void OpenUrl(const QUrl& url) { openedUrls.push_back(url); }

private:
    QList<QUrl> openedUrls;

private slots:
    void CommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("emulate");
        QTest::addColumn<QString>("scenario");
        QTest::newRow("nothing") << QStringList{} << true << "" << false << "";
        QTest::newRow("a file") << QStringList{"a.qxc"} << true << "a.qxc" << false << "";
        QTest::newRow("emulated demo") << QStringList{"--emulate"} << true << "" << true << "";
        QTest::newRow("emulated scenario and a file")
            << QStringList{"--emulate=epr", "b.qxc"} << true << "b.qxc" << true << "epr";
        QTest::newRow("speed with the emulator") << QStringList{"--emulate", "--speed", "4"} << true << "" << true << "";
        QTest::newRow("speed without the emulator") << QStringList{"--speed=4"} << false << "" << false << "";
        QTest::newRow("speed out of range") << QStringList{"--emulate", "--speed=0"} << false << "" << true << "";
        QTest::newRow("two files") << QStringList{"a.qxc", "b.qxc"} << false << "a.qxc" << false << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << false << "" << false << "";
    }

    void CommandLine() {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        args.prepend("ambrio");
        AppOptions o;
        std::string error;
        QCOMPARE(ParseAppOptions(args, &o, &error), ok);
        QCOMPARE(error.empty(), ok);
        if (!ok) return;
        QTEST(QString::fromStdString(o.file), "file");
        QTEST(o.emulate, "emulate");
        QTEST(QString::fromStdString(o.scenario), "scenario");
    }

    void StartsEmptyAndWaitsForTheAnalyzer() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QCOMPARE(w.windowTitle(), QString("Untitled[*] - Ambrio App"));
        QCOMPARE(w.LogView()->RowCount(), 0);
        QVERIFY(!w.IsCommandEnabled(cmd::kRun)); // not connected before the first tick
        QVERIFY(!w.IsCommandEnabled(cmd::kSave));
        QVERIFY(!w.IsCommandEnabled(cmd::kClear));
        QVERIFY(!w.IsCommandEnabled(cmd::kCalibration));
        QCOMPARE(w.IsCommandChecked(cmd::kDisableDisplayFilters), std::optional<bool>(true));

        w.Tick();
        QCOMPARE(w.StatusText(), std::string(kConnectedStatusText));
        QVERIFY(w.IsCommandEnabled(cmd::kRun));
        QVERIFY(!w.IsCommandEnabled(cmd::kInstallDriver));
        QVERIFY(w.Action(cmd::kRun)->isEnabled());
        QVERIFY(f.settings.launchDriverInstaller == false);

        f.analyzer->Unplug();
        w.Tick();
        QCOMPARE(w.StatusText(), std::string(kDisconnectedStatusText));
        QVERIFY(!w.Action(cmd::kRun)->isEnabled());
        QVERIFY(w.IsCommandEnabled(cmd::kInstallDriver));
    }

    void OpensAFileGivenAtStart() {
        TempDir dir;
        const std::string path = DemoFile(dir);
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(path));
        QCOMPARE(w.windowTitle(), QString("demo.qxc[*] - Ambrio App"));
        const size_t packets = w.Doc().store.PacketCount();
        QVERIFY(packets > 10);
        QCOMPARE(size_t(w.LogView()->RowCount()), packets);
        QVERIFY(w.IsCommandEnabled(cmd::kSave));
        QVERIFY(w.IsCommandEnabled(cmd::kClear));
        QCOMPARE(w.RecentFiles().size(), size_t(1));
        QCOMPARE(w.RecentFiles()[0], std::filesystem::absolute(path).string());

        QVERIFY(!w.OpenFile(dir.File("missing.qxc")));
        QCOMPARE(f.messages.size(), size_t(1));
        QCOMPARE(w.RecentFiles().size(), size_t(1));
    }

    void RunStopAndClearLive() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.show();
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        // While recording: the file commands and the record settings are off, Stop is on.
        const std::map<uint32_t, bool> recording = {
            {cmd::kNew, false},  {cmd::kOpen, false}, {cmd::kSave, false}, {cmd::kSaveAs, false},
            {cmd::kRun, false},  {cmd::kStop, true},  {cmd::kFindNext, true}, {cmd::kPdAutoScroll, true},
        };
        for (const auto& [id, on] : recording) {
            QVERIFY2(w.IsCommandEnabled(id) == on, qPrintable(QString::number(id)));
            QCOMPARE(w.Action(id)->isEnabled(), on);
        }

        int rows = 0;
        for (int second = 0; second < 6; ++second) {
            f.Advance(1);
            QVERIFY(QString::fromStdString(w.StatusText()).startsWith("Capturing... "));
            QVERIFY(w.LogView()->RowCount() >= rows);
            rows = w.LogView()->RowCount();
        }
        QVERIFY(rows > 5);
        QCOMPARE(size_t(rows), w.Doc().store.PacketCount());
        // Auto scroll keeps the newest row in sight.
        QVERIFY(RowVisible(w.LogView(), rows - 1));
        QCOMPARE(w.windowTitle(), QString("Test.qxc[*] - Ambrio App"));

        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        QVERIFY(!w.RecordingActive());
        QVERIFY(w.IsCommandEnabled(cmd::kRun));
        QVERIFY(w.IsCommandEnabled(cmd::kSave));
        const size_t kept = w.Doc().store.PacketCount();
        QVERIFY(kept >= size_t(rows));
        QCOMPARE(size_t(w.LogView()->RowCount()), kept);
        QVERIFY(std::filesystem::file_size(f.dir.File("Test.qxc")) > 64);

        // Clear when idle empties the document.
        w.ExecuteCommand(cmd::kClear);
        QCOMPARE(w.Doc().store.PacketCount(), size_t(0));
        QCOMPARE(w.LogView()->RowCount(), 0);
        QVERIFY(!w.IsCommandEnabled(cmd::kClear));
        QCOMPARE(w.windowTitle(), QString("Untitled[*] - Ambrio App"));
    }

    void ClearWhileRecordingStartsAgain() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        f.Advance(2);
        QVERIFY(w.LogView()->RowCount() > 0);
        w.ExecuteCommand(cmd::kClear);
        for (int i = 0; i < 20 && !(w.Reader().capturing && w.Doc().store.PacketCount() == 0); ++i) {
            w.Tick();
            QTest::qWait(20);
        }
        QVERIFY(w.Reader().capturing);
        QVERIFY(w.RecordingActive());
        QCOMPARE(w.LogView()->RowCount(), 0);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    void AutoScrollOffLeavesTheListAlone() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.show();
        w.ExecuteCommand(cmd::kPdAutoScroll);
        QCOMPARE(w.IsCommandChecked(cmd::kPdAutoScroll), std::optional<bool>(false));
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        for (int i = 0; i < 8; ++i) f.Advance(1);
        QVERIFY(w.LogView()->RowCount() > 20);
        QCOMPARE(w.LogView()->verticalScrollBar()->value(), 0);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
    }

    void SelectionDrivesTreeAndFieldTable() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        // The first Source_Capabilities of the demo.
        int row = -1;
        for (int r = 0; r < list->RowCount() && row < 0; ++r)
            if (list->PacketOfRow(r)->GetMessageTypeText() == "Source_Capabilities") row = r;
        QVERIFY(row >= 0);
        list->selectRow(row);
        QCOMPARE(w.SelectedPacket(), list->PacketOfRow(row));
        QCOMPARE(w.TreeView()->ShownPacket(), list->PacketOfRow(row));
        QCOMPARE(w.TreeView()->topLevelItem(0)->text(0),
                 QString("Packet #%1").arg(list->PacketOfRow(row)->index));
        QCOMPARE(w.TreeView()->SelectedItemValue(), uint32_t(0x02000000));
        QVERIFY(w.FieldView()->RowCount() > 0);
        const int headerRows = w.FieldView()->RowCount();
        QVERIFY(w.TreeView()->SelectItemByValue(0x04000000)); // the first power data object
        QVERIFY(w.FieldView()->RowCount() > 0);
        QVERIFY(w.FieldView()->CellText(0, 2) != std::string() || headerRows > 0);

        // A timer tick without a new selection keeps the chosen item.
        w.Tick();
        QCOMPARE(w.TreeView()->SelectedItemValue(), uint32_t(0x04000000));

        // No selection: both views empty.
        w.ExecuteCommand(cmd::kNew);
        w.Tick();
        QCOMPARE(w.TreeView()->topLevelItemCount(), 0);
        QCOMPARE(w.FieldView()->RowCount(), 0);
    }

    void MarksSurviveSaveAndReopen() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        QVERIFY(list->RowCount() > 6);
        const auto indexOf = [&](int row) { return list->PacketOfRow(row)->index; };
        const int32_t a = indexOf(2), b = indexOf(4), mark = indexOf(5);

        list->SetContextRow(2);
        list->OnCommand(cmd::kSetMarkerA);
        list->SetContextRow(4);
        list->OnCommand(cmd::kSetMarkerB);
        list->SetContextRow(5);
        list->OnCommand(cmd::kSetBookmark);
        QVERIFY(w.Doc().modified);
        QCOMPARE(w.windowTitle(), QString("demo.qxc[*] - Ambrio App"));
        QVERIFY(w.isWindowModified());

        // Opening another file asks first; Cancel keeps everything.
        f.saveAnswers.push_back(FrameDialogs::SaveAnswer::Cancel);
        f.fileNames.push_back(dir.File("demo.qxc"));
        w.ExecuteCommand(cmd::kOpen);
        QCOMPARE(f.savePrompts, 1);
        QVERIFY(w.Doc().modified);
        QCOMPARE(list->MarkerARow(), 2);

        const std::string saved = dir.File("marked.qxc");
        f.fileNames.push_back(saved);
        w.ExecuteCommand(cmd::kSaveAs);
        QVERIFY(!w.Doc().modified);
        QCOMPARE(w.windowTitle(), QString("marked.qxc[*] - Ambrio App"));

        w.ExecuteCommand(cmd::kNew);
        QCOMPARE(list->RowCount(), 0);
        QVERIFY(w.OpenFile(saved));
        QVERIFY(list->MarkerARow() >= 0 && list->MarkerBRow() >= 0);
        QCOMPARE(indexOf(list->MarkerARow()), a);
        QCOMPARE(indexOf(list->MarkerBRow()), b);
        int bookmarked = -1;
        for (int r = 0; r < list->RowCount(); ++r)
            if (list->PacketOfRow(r)->bookmarked) bookmarked = r;
        QVERIFY(bookmarked >= 0);
        QCOMPARE(indexOf(bookmarked), mark);
        QCOMPARE(w.RecentFiles().front(), std::filesystem::absolute(saved).string());
    }

    void DisableDisplayFiltersTogglesAndRebuilds() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(dir)));
        const int all = w.LogView()->RowCount();
        // A filter that lets only CC2 traffic through: nothing of the demo's CC1 traffic.
        CFindCriteria& filter = w.DisplayFilterForEdit();
        filter.SetAll(true);
        filter.cc1 = false;
        w.ExecuteCommand(cmd::kDisableDisplayFilters);
        QCOMPARE(w.IsCommandChecked(cmd::kDisableDisplayFilters), std::optional<bool>(false));
        QVERIFY(w.LogView()->RowCount() < all);
        w.ExecuteCommand(cmd::kDisableDisplayFilters);
        QCOMPARE(w.IsCommandChecked(cmd::kDisableDisplayFilters), std::optional<bool>(true));
        QCOMPARE(w.LogView()->RowCount(), all);
    }

    void FindNextAndPrevGoThroughTheList() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        CFindCriteria& find = w.FindCriteriaForEdit();
        find.enableText = true;
        find.text = "PS_RDY";
        const auto matches = [&](int r) { return find.FindMatchColumn(*list->PacketOfRow(r), false) != -1; };
        std::vector<int> rows;
        for (int r = 0; r < list->RowCount(); ++r)
            if (matches(r)) rows.push_back(r);
        QVERIFY(rows.size() >= 2 && rows[0] > 0);

        w.ExecuteCommand(cmd::kFindNext);
        QCOMPARE(list->SelectedRow(), rows[0]);
        w.ExecuteCommand(cmd::kFindNext);
        QCOMPARE(list->SelectedRow(), rows[1]);
        w.ExecuteCommand(cmd::kFindPrev);
        QCOMPARE(list->SelectedRow(), rows[0]);
        QVERIFY(f.messages.empty());
        w.ExecuteCommand(cmd::kFindPrev); // nothing earlier: unchanged, with the message
        QCOMPARE(list->SelectedRow(), rows[0]);
        QCOMPARE(f.messages, std::vector<std::string>{"Message Not Found."});
    }

    void CcInjectionCarriesItsCheckMark() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.Tick();
        w.ExecuteCommand(32904); // CC1 Rd
        QCOMPARE(f.analyzer->Termination(0), 2);
        QCOMPARE(w.IsCommandChecked(32904), std::optional<bool>(true));
        QCOMPARE(w.IsCommandChecked(32900), std::optional<bool>(false));
        QVERIFY(w.Action(32904)->isChecked());
    }

    // Here the driver is the udev rule: the command shows it and the command that loads it, where an
    // installer program would be started elsewhere.
    void InstallDriverShowsTheUdevRule() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.ExecuteCommand(cmd::kInstallDriver);
        QCOMPARE(f.messages.size(), size_t(1));
        const QString text = QString::fromStdString(f.messages[0]);
        QVERIFY2(text.contains("/70-ambrio-analyzer.rules\n"), qPrintable(text));
        QVERIFY2(text.contains("udevadm control --reload-rules && udevadm trigger"), qPrintable(text));
        QVERIFY2(!text.contains("DriverSetup"), qPrintable(text));
        QCOMPARE(f.messageTitles, std::vector<std::string>{"Install Ambrio Driver"});
    }

    void CloseStopsTheRecordingWithItsHeaderBlock() {
        auto f = std::make_unique<CFrameFixture>();
        CMainFrame& w = *f->frame;
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        f->Advance(2);
        const std::string path = f->dir.File("Test.qxc");
        QVERIFY(w.close());
        f->frame.reset();
        // The closed header block records the byte count of the stream.
        const auto bytes = ReadFile(path);
        QVERIFY(bytes.size() > 64);
        CQXDoc doc;
        QVERIFY(doc.OpenDocument(path));
        QVERIFY(doc.store.PacketCount() > 0);
    }

    void ClosePromptCancelKeepsTheWindow() {
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(dir)));
        w.LogView()->SetContextRow(1);
        w.LogView()->OnCommand(cmd::kSetBookmark);
        f.saveAnswers.push_back(FrameDialogs::SaveAnswer::Cancel);
        w.show();
        QVERIFY(!w.close());
        QVERIFY(w.Reader().readerRunning);
        QVERIFY(!w.Reader().readerExitRequest);
        w.Tick();
        QVERIFY(w.IsCommandEnabled(cmd::kRun));
    }

    // A new recording starts on a fresh graph: the markers and zoom of the file open before do not
    // carry over, and Save does not write them into the new file.
    void RunStartsAFreshGraph() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        QVERIFY(w.OpenFile(DemoFile(f.dir, 30)));
        CGraphModel& model = w.GraphView()->Model();
        model.SetMarkerTime(GraphMarker::O, 26'465'266);
        model.SetMarkerTime(GraphMarker::X, 28'000'000);
        model.SetTimeScale(model.TimeScale() * 8);
        w.Tick();
        f.saveAnswers.push_back(FrameDialogs::SaveAnswer::No);
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        QCOMPARE(model.MarkerTime(GraphMarker::O), int64_t(0));
        QCOMPARE(model.MarkerTime(GraphMarker::X), int64_t(0));
        f.Advance(2);
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        QCOMPARE(model.MarkerTime(GraphMarker::O), int64_t(0));
        QCOMPARE(model.MarkerTime(GraphMarker::X), int64_t(0));
        QVERIFY(!w.Doc().modified);
    }

    // VBUS Current Direction turns the current's sign and nothing else: the graph markers stay, and the
    // document is not marked modified, whether it was recorded here or opened from a file.
    void CurrentDirectionKeepsTheMarkers_data() {
        QTest::addColumn<bool>("recorded");
        QTest::newRow("recorded in this session") << true;
        QTest::newRow("opened from a file") << false;
    }

    void CurrentDirectionKeepsTheMarkers() {
        QFETCH(bool, recorded);
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        if (recorded) {
            w.Tick();
            w.ExecuteCommand(cmd::kRun);
            f.Advance(3);
            w.ExecuteCommand(cmd::kStop);
            f.TickUntilStopped();
        } else {
            QVERIFY(w.OpenFile(DemoFile(f.dir, 8)));
        }
        CGraphModel& model = w.GraphView()->Model();
        model.SetMarkerTime(GraphMarker::O, 500'000);
        model.SetMarkerTime(GraphMarker::X, 1'500'000);
        const int64_t center = model.CenterTime();
        const bool modified = w.Doc().modified;
        w.execSettingsDialog = [](QDialog& d) {
            auto* dialog = qobject_cast<CVbusCurrentDirCfg*>(&d);
            if (!dialog) return int(QDialog::Rejected);
            dialog->ReceptacleToPlugPicture()->click();
            return int(QDialog::Accepted);
        };
        w.ExecuteCommand(cmd::kVbusCurrentDirection);
        QVERIFY(f.settings.vbusCurrDirReverse);
        QVERIFY(model.ReverseCurrent());
        QCOMPARE(model.MarkerTime(GraphMarker::O), int64_t(500'000));
        QCOMPARE(model.MarkerTime(GraphMarker::X), int64_t(1'500'000));
        QCOMPARE(model.CenterTime(), center);
        QCOMPARE(w.Doc().modified, modified);
    }

    // Every menu item shows the key that runs it, no item shows a key that runs something else, and no
    // key is shown or bound twice.
    void MenuKeysAreTheKeysThatAct() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        std::map<QAction*, QKeySequence> bound; // the action of the command each window key runs
        std::set<QString> boundKeys;
        auto bind = [&](const QKeySequence& key, QAction* runs) {
            if (key.isEmpty()) return;
            QVERIFY2(boundKeys.insert(key.toString()).second, qPrintable("bound twice: " + key.toString()));
            if (runs) bound[runs] = key;
        };
        for (QShortcut* s : w.findChildren<QShortcut*>()) {
            const QVariant id = s->property("command");
            bind(s->key(), id.isValid() ? w.Action(id.toUInt()) : nullptr);
        }
        for (QAction* a : w.findChildren<QAction*>()) bind(a->shortcut(), a);

        std::vector<QAction*> items;
        std::function<void(QMenu*)> collect = [&](QMenu* menu) {
            for (QAction* a : menu->actions()) {
                if (a->menu())
                    collect(a->menu());
                else if (!a->isSeparator())
                    items.push_back(a);
            }
        };
        for (QAction* m : w.menuBar()->actions()) collect(m->menu());
        QVERIFY(items.size() > 30);

        std::set<QString> shownKeys;
        for (QAction* a : items) {
            const QString shownText = a->text().section('\t', 1);
            const QKeySequence shown(shownText, QKeySequence::PortableText);
            QVERIFY2(shownText.isEmpty() || !shown.isEmpty(), qPrintable(a->text()));
            const QKeySequence acting = bound.count(a) ? bound[a] : QKeySequence();
            QVERIFY2(shown == acting, qPrintable(QString("\"%1\" shows \"%2\"; its key is \"%3\"")
                                                     .arg(a->text(), shown.toString(), acting.toString())));
            if (!shown.isEmpty())
                QVERIFY2(shownKeys.insert(shown.toString()).second, qPrintable("shown twice: " + shown.toString()));
            bound.erase(a);
        }
        // A key that runs a command shows beside it in a menu.
        for (const auto& [a, key] : bound) QVERIFY2(false, qPrintable(key.toString() + " runs " + a->text()));
    }

    // After Stop the status bar names the record file with its length and size, until another
    // document is shown; File > Open Containing Folder opens that file's folder while the file is on
    // disk. A stop by another program says the same and shows nothing.
    void StopSaysWhereTheRecordingWent_data() {
        QTest::addColumn<bool>("series");
        QTest::addColumn<bool>("remote");
        QTest::newRow("one file") << false << false;
        QTest::newRow("a series of two") << true << false;
        QTest::newRow("stopped by another program") << false << true;
    }

    void StopSaysWhereTheRecordingWent() {
        QFETCH(bool, series);
        QFETCH(bool, remote);
        CFrameFixture f("demo", false, [series](CSettings& s) { s.recordMultiCaptureFile = series; });
        CMainFrame& w = *f.frame;
        openedUrls.clear();
        QDesktopServices::setUrlHandler("file", this, "OpenUrl");
        w.Tick();
        QVERIFY(!w.IsCommandEnabled(cmd::kOpenContainingFolder)); // no record file yet
        if (remote) {
            QVERIFY(w.RemoteSetRecordName("Test"));
            std::string why;
            const bool ran = w.RemoteRun(&why);
            QVERIFY2(ran, why.c_str());
        } else {
            w.ExecuteCommand(cmd::kRun);
        }
        QVERIFY(w.RecordingActive());
        QVERIFY(w.IsCommandEnabled(cmd::kOpenContainingFolder));
        f.Advance(2);
        if (series) {
            w.Reader().rotationRequest = true;
            f.Advance(1);
            QCOMPARE(w.Reader().fileNumber.load(), 2);
        }
        f.Advance(2);
        if (remote)
            w.RemoteStop();
        else
            w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        w.Tick();

        const std::string name = series ? "Test_0002.qxc" : "Test.qxc";
        const std::string path = std::filesystem::absolute(f.dir.File(name)).string();
        const CCaptureStore& store = w.Doc().store;
        QVERIFY(store.SampleCount() > 10);
        const int64_t length = store.SampleAt(store.SampleCount() - 1)->time - store.SampleAt(0)->time;
        const uintmax_t bytes = std::filesystem::file_size(path);
        QVERIFY(bytes > 64 && bytes < 10000000);
        // The length as the Timestamp column writes it, without its padding.
        const QString time = QString::fromStdString(FormatTimeText(length)).simplified();
        std::string expected = "Recorded to " + path + "  (" + time.toStdString() + ", " +
                               std::to_string(bytes / 1000) + "KB";
        if (series) expected += "; the last of 2 files, from Test_0001.qxc";
        QCOMPARE(w.StatusText(), expected + ")");
        QVERIFY(f.messages.empty());
        QVERIFY(f.questions.empty());
        QVERIFY(f.settingsDialogs.empty());
        w.Tick();
        QCOMPARE(w.StatusText(), expected + ")");

        QMenu* file = w.menuBar()->actions().front()->menu();
        QVERIFY(file->actions().contains(w.Action(cmd::kOpenContainingFolder)));
        w.UpdateCommandStates();
        QVERIFY(w.Action(cmd::kOpenContainingFolder)->isEnabled());
        w.ExecuteCommand(cmd::kOpenContainingFolder);
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(f.dir.Path().string()))});

        // The file gone from disk: nothing to open.
        std::filesystem::remove(path);
        QVERIFY(!w.IsCommandEnabled(cmd::kOpenContainingFolder));
        // Another document: the note goes.
        w.ExecuteCommand(cmd::kNew);
        w.Tick();
        QCOMPARE(w.StatusText(), std::string(kConnectedStatusText));
        QVERIFY(!w.IsCommandEnabled(cmd::kOpenContainingFolder));
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(openedUrls.size(), qsizetype(1));
    }

    // Setting the time-stamp origin, from the packet list or from the graph, rebuilds the rows with new
    // times and keeps the selected packet selected, in sight, with its tree shown.
    void TimeOriginKeepsTheSelection_data() {
        QTest::addColumn<bool>("fromGraph");
        QTest::addColumn<bool>("current");
        QTest::newRow("list, current position") << false << true;
        QTest::newRow("list, absolute") << false << false;
        QTest::newRow("graph, current position") << true << true;
        QTest::newRow("graph, absolute") << true << false;
    }

    void TimeOriginKeepsTheSelection() {
        QFETCH(bool, fromGraph);
        QFETCH(bool, current);
        TempDir dir;
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1400, 1000);
        w.show();
        QVERIFY(w.OpenFile(DemoFile(dir)));
        CQXLogView* list = w.LogView();
        QVERIFY(list->RowCount() > 40);
        list->selectRow(30);
        const CCCPacket* selected = list->PacketOfRow(30);
        QCOMPARE(w.TreeView()->ShownPacket(), selected);
        const int64_t before = w.Doc().store.timeOrigin;

        if (!fromGraph) {
            list->SetContextRow(30);
            list->OnCommand(current ? CQXLogView::kCmdOriginCurrent : CQXLogView::kCmdOriginAbsolute);
        } else {
            CGraphView* graph = w.GraphView();
            QCoreApplication::processEvents();
            const GraphRect& plot = graph->Model().Plot();
            const QPoint at(plot.left + 100, plot.top + 20);
            QTest::mousePress(graph, Qt::RightButton, {}, at);
            QTest::mouseRelease(graph, Qt::RightButton, {}, at);
            if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
            QVERIFY(graph->RightClickValid());
            w.ExecuteCommand(current ? cmd::kGraphOriginCurrent : CGraphView::kCmdOriginAbsolute);
        }
        if (current) QVERIFY(w.Doc().store.timeOrigin != before);
        QCOMPARE(list->CellText(30, 2).toStdString(),
                 FormatTimeText(selected->startTime - w.Doc().store.timeOrigin));
        QCOMPARE(list->PacketOfRow(30), selected);
        QCOMPARE(list->SelectedRow(), 30);
        QCOMPARE(w.SelectedPacket(), selected);
        QCOMPARE(w.TreeView()->ShownPacket(), selected);
        QVERIFY(w.TreeView()->topLevelItemCount() > 0);
        QVERIFY(w.FieldView()->RowCount() > 0);
        QVERIFY(RowVisible(list, 30));
    }
};

AMBRIO_GUI_TEST(MainWindowTest)
#include "MainWindowTest.moc"
