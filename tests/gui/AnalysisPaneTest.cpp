// The Analysis pane in the window: what it shows for a real capture and the demo capture, sorting the
// findings, a double click going to the packet in the list and on the graph, the findings count in the
// status bar, a live capture, Clear and New, and its visibility and limit overrides kept in the settings.
#include "AnalysisPane.h"
#include "AnalysisTexts.h"
#include "CommandTable.h"
#include "DemoCapture.h"
#include "DockableGraph.h"
#include "FrameFixture.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "QXLogView.h"

#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QSettings>
#include <QTreeWidget>

#include <filesystem>

using namespace analysis;

namespace {

// The application's store, where the window keeps the group.
QSettings AnalysisGroupFile() {
    return QSettings();
}

void ClearAnalysisGroup() {
    QSettings s;
    s.remove(QStringLiteral("Analysis"));
    s.sync();
}

std::vector<QTreeWidgetItem*> AllItems(QTreeWidget* tree) {
    std::vector<QTreeWidgetItem*> items;
    std::vector<QTreeWidgetItem*> open;
    for (int i = tree->topLevelItemCount() - 1; i >= 0; --i) open.push_back(tree->topLevelItem(i));
    while (!open.empty()) {
        QTreeWidgetItem* item = open.back();
        open.pop_back();
        items.push_back(item);
        for (int i = item->childCount() - 1; i >= 0; --i) open.push_back(item->child(i));
    }
    return items;
}

// Double click as the user does it, on the item's first cell.
void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QRect r = tree->visualItemRect(item);
    QVERIFY(r.isValid());
    const QPoint at(r.left() + 8, r.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

// Nothing in the tree, the list or the count.
void ExpectEmpty(CMainFrame& w) {
    QCOMPARE(w.AnalysisPane()->Summary()->topLevelItemCount(), 0);
    QCOMPARE(w.AnalysisPane()->Findings()->topLevelItemCount(), 0);
    QCOMPARE(w.FindingsText(), std::string());
}

std::string ExpectedCount(const Results& r) {
    size_t errors = 0;
    for (const Finding& f : r.findings) errors += f.severity == Severity::Error;
    std::string t = "Findings: " + std::to_string(r.findings.size());
    if (errors) t += " (" + std::to_string(errors) + (errors == 1 ? " error)" : " errors)");
    return t;
}

} // namespace

class AnalysisPaneTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearAnalysisGroup(); }
    void cleanupTestCase() { ClearAnalysisGroup(); }

    void showsTheCaptureAndGoesToItsPackets_data() {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("shot");
        QTest::newRow("demo") << QString() << "analysis-demo";
        const std::string shared = guitest::CapturesDir();
        if (!shared.empty())
            QTest::newRow("real") << QString::fromStdString(shared + "/macbook_2015-apple_av_hdmi.qxc")
                                  << "analysis-macbook-av-hdmi";
    }
    void showsTheCaptureAndGoesToItsPackets() {
        QFETCH(QString, capture);
        QFETCH(QString, shot);
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1500, 1000);
        w.show();
        QVERIFY(w.AnalysisPane()->isHidden());
        QCOMPARE(w.FindingsText(), std::string());
        const std::string path = capture.isEmpty() ? DemoFile(f.dir) : capture.toStdString();
        QVERIFY(w.OpenFile(path));
        w.ExecuteCommand(cmd::kShowAnalysis);
        QVERIFY(!w.AnalysisPane()->isHidden());
        QCOMPARE(w.IsCommandChecked(cmd::kShowAnalysis), std::optional<bool>(true));
        QCoreApplication::processEvents();

        CAnalysisPane* pane = w.AnalysisPane();
        const CCaptureStore& store = w.Doc().store;
        const Results whole = Analyze(store);
        QVERIFY(pane->Shown() == whole);
        QVERIFY(!whole.findings.empty());
        QCOMPARE(w.FindingsText(), ExpectedCount(whole));

        // Every contract of the capture is in the tree, with what it gives.
        std::vector<std::string> contracts;
        for (QTreeWidgetItem* item : AllItems(pane->Summary()))
            if (item->text(0) == "Contract") contracts.push_back(item->text(2).toStdString());
        std::vector<std::string> expected;
        for (const Connection& c : whole.connections)
            for (const Contract& k : c.contracts) expected.push_back(AskText(k.ask));
        QVERIFY(!expected.empty());
        QCOMPARE(contracts, expected);

        // The findings sort by any column, times as numbers.
        QTreeWidget* list = pane->Findings();
        QCOMPARE(size_t(list->topLevelItemCount()), whole.findings.size());
        list->sortByColumn(CAnalysisPane::kTime, Qt::DescendingOrder);
        for (int i = 1; i < list->topLevelItemCount(); ++i)
            QVERIFY(list->topLevelItem(i - 1)->data(CAnalysisPane::kTime, Qt::UserRole + 2).toDouble() >=
                    list->topLevelItem(i)->data(CAnalysisPane::kTime, Qt::UserRole + 2).toDouble());
        list->sortByColumn(CAnalysisPane::kText, Qt::AscendingOrder);
        for (int i = 1; i < list->topLevelItemCount(); ++i)
            QVERIFY(list->topLevelItem(i - 1)->text(CAnalysisPane::kText) <=
                    list->topLevelItem(i)->text(CAnalysisPane::kText));

        // A double click on a finding and on a summary line selects their packet and centres the graph.
        auto goesTo = [&](QTreeWidget* tree, QTreeWidgetItem* item, int64_t number, int64_t time) {
            DoubleClick(tree, item);
            const CCCPacket* selected = w.LogView()->GetSelectedPacket();
            QVERIFY(selected);
            QCOMPARE(int64_t(selected->index), number);
            QCOMPARE(selected->startTime, time);
            QCOMPARE(w.GraphView()->Model().CenterTime(), time - store.timeOrigin);
        };
        QTreeWidgetItem* last = list->topLevelItem(list->topLevelItemCount() - 1);
        const Finding* lastFinding = nullptr;
        for (const Finding& x : whole.findings)
            if (QString::fromStdString(x.text) == last->text(CAnalysisPane::kText) &&
                QString::fromStdString(SecondsText(store, x.time)) == last->text(CAnalysisPane::kTime))
                lastFinding = &x;
        QVERIFY(lastFinding && !lastFinding->packets.empty());
        goesTo(list, last, lastFinding->packets.front().number, lastFinding->packets.front().time);
        const Contract& firstContract = whole.connections.front().contracts.front();
        for (QTreeWidgetItem* item : AllItems(pane->Summary()))
            if (item->text(0) == "Contract") {
                goesTo(pane->Summary(), item, firstContract.psRdy.number, firstContract.psRdy.time);
                break;
            }

        // With every packet filtered out, the status bar says why nothing was selected; the graph still
        // goes there.
        w.DisplayFilterForEdit().SetAll(false);
        w.ExecuteCommand(cmd::kDisableDisplayFilters);
        QVERIFY(w.DisplayFilter().displayFilterEnabled);
        QCOMPARE(w.LogView()->RowCount(), 0);
        w.GraphView()->CenterOn(0);
        DoubleClick(list, last);
        QCOMPARE(w.StatusText(), "Packet #" + std::to_string(lastFinding->packets.front().number) +
                                     " is hidden by the display filter.");
        QCOMPARE(w.GraphView()->Model().CenterTime(), lastFinding->packets.front().time - store.timeOrigin);
        w.ExecuteCommand(cmd::kDisableDisplayFilters);

        // For review: the pane as docked.
        list->sortByColumn(CAnalysisPane::kTime, Qt::AscendingOrder);
        w.resizeDocks({pane}, {620}, Qt::Vertical);
        list->scrollToTop();
        QCoreApplication::processEvents();
        const QImage image = pane->grab().toImage();
        const std::string file = guitest::OutputDir() + "/" + shot.toStdString() + ".png";
        QVERIFY(image.save(QString::fromStdString(file)));
        QVERIFY(guitest::Busyness(image, 3) > 0.05);
        qInfo("screenshot: %s", file.c_str());

        // New empties the pane and the count.
        w.ExecuteCommand(cmd::kNew);
        ExpectEmpty(w);
    }

    // A finding without a packet (the demo's sink falls silent under its EPR contract after some eight
    // seconds) has only its time: a double click takes the graph there and brings it in front of the
    // pane it shares a tab with, since nothing else shows where the finding is; the list's selection
    // stays as it was.
    void aFindingWithoutAPacketTakesTheGraphToItsTime() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1500, 1000);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.OpenFile(DemoFile(f.dir, 10)));
        w.ExecuteCommand(cmd::kShowAnalysis);
        QCoreApplication::processEvents();
        CAnalysisPane* pane = w.AnalysisPane();
        const CCaptureStore& store = w.Doc().store;
        const Finding* silent = nullptr;
        for (const Finding& x : pane->Shown().findings)
            if (x.rule == RuleId::EprKeepAlive) silent = &x;
        QVERIFY(silent && silent->packets.empty());
        QTreeWidgetItem* row = nullptr;
        for (QTreeWidgetItem* item : AllItems(pane->Findings()))
            if (item->text(CAnalysisPane::kText).toStdString() == silent->text) row = item;
        QVERIFY(row);

        const CCCPacket* first = store.PacketAt(0);
        QVERIFY(w.LogView()->SelectPacket(first));
        w.GraphView()->CenterOn(0);
        QVERIFY(w.GraphView()->visibleRegion().isEmpty());
        DoubleClick(pane->Findings(), row);
        QCOMPARE(w.GraphView()->Model().CenterTime(), silent->time - store.timeOrigin);
        QVERIFY(!w.GraphView()->visibleRegion().isEmpty());
        const std::string status = w.StatusText();
        QVERIFY2(status.find(SecondsText(store, silent->time)) != std::string::npos, status.c_str());
        QCOMPARE(w.LogView()->GetSelectedPacket(), first);
    }

    void followsALiveCaptureAndClear() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.show();
        w.ExecuteCommand(cmd::kShowAnalysis);
        CAnalysisPane* pane = w.AnalysisPane();
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        int64_t before = 0;
        for (int i = 0; i < 4; ++i) {
            f.Advance(2);
            QVERIFY(pane->Shown().packetsRead >= before);
            before = pane->Shown().packetsRead;
        }
        // The pane shows what the whole of the store gives, as far as it came.
        QCOMPARE(pane->Shown().packetsRead, int64_t(w.Doc().store.PacketCount()));
        QVERIFY(pane->Shown().packetsRead > 20);
        QVERIFY(!pane->Shown().connections.empty());
        QVERIFY(!pane->Shown().connections.front().contracts.empty());
        QVERIFY(pane->Summary()->topLevelItemCount() > 0);
        QCOMPARE(w.FindingsText(), ExpectedCount(pane->Shown()));
        // Findings that came over several ticks each have one row, in time order as the list sorts.
        QTreeWidget* list = pane->Findings();
        QVERIFY(!pane->Shown().findings.empty());
        QCOMPARE(size_t(list->topLevelItemCount()), pane->Shown().findings.size());
        std::vector<Finding> byTime = pane->Shown().findings;
        std::stable_sort(byTime.begin(), byTime.end(), [](const Finding& a, const Finding& b) { return a.time < b.time; });
        for (size_t i = 0; i < byTime.size(); ++i)
            QCOMPARE(list->topLevelItem(int(i))->text(CAnalysisPane::kText).toStdString(), byTime[i].text);

        // Hidden, the pane only counts; shown again, it catches up.
        w.ExecuteCommand(cmd::kShowAnalysis);
        QVERIFY(pane->isHidden());
        const int64_t shownBefore = pane->Shown().packetsRead;
        f.Advance(2);
        QCOMPARE(pane->Shown().packetsRead, shownBefore);
        w.ExecuteCommand(cmd::kShowAnalysis);
        QCoreApplication::processEvents();
        QCOMPARE(pane->Shown().packetsRead, int64_t(w.Doc().store.PacketCount()));

        // Clear while recording starts the recording over: the pane then holds the new traffic only.
        w.ExecuteCommand(cmd::kClear);
        for (int i = 0; i < 50 && !(w.RecordingActive() && w.Doc().store.PacketCount() == 0); ++i) {
            w.Tick();
            QTest::qWait(20);
        }
        QVERIFY(w.RecordingActive());
        QCOMPARE(pane->Findings()->topLevelItemCount(), 0);
        QCOMPARE(pane->Shown().packetsRead, int64_t(0));
        f.Advance(2);
        QVERIFY(pane->Shown().packetsRead > 0);
        QCOMPARE(pane->Shown().packetsRead, int64_t(w.Doc().store.PacketCount()));

        // Stopped, Clear empties the pane and the count at once.
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        w.ExecuteCommand(cmd::kClear);
        ExpectEmpty(w);
    }

    void visibilityAndLimitsFromTheSettings() {
        {
            CFrameFixture f;
            QVERIFY(f.frame->AnalysisPane()->isHidden());
            f.frame->ExecuteCommand(cmd::kShowAnalysis);
        }
        QCOMPARE(AnalysisGroupFile().value("Analysis/PaneVisible").toBool(), true);
        {
            CFrameFixture f;
            QVERIFY(!f.frame->AnalysisPane()->isHidden());
            QCOMPARE(f.frame->IsCommandChecked(cmd::kShowAnalysis), std::optional<bool>(true));
            f.frame->ExecuteCommand(cmd::kShowAnalysis);
        }
        {
            CFrameFixture f;
            QVERIFY(f.frame->AnalysisPane()->isHidden());
        }

        // Overrides in the group change what is judged; a value that is no number is named, not used.
        {
            QSettings s = AnalysisGroupFile();
            s.setValue("Analysis/tTransmit", "fast");
            s.setValue("Analysis/tInterFrameGap", "100000");
            s.sync();
        }
        CFrameFixture f;
        const std::string status = f.frame->StatusText();
        QVERIFY2(status.find("tTransmit") != std::string::npos, status.c_str());
        QVERIFY2(status.find("tInterFrameGap") == std::string::npos, status.c_str());
        f.frame->show();
        QVERIFY(f.frame->OpenFile(DemoFile(f.dir)));
        f.frame->ExecuteCommand(cmd::kShowAnalysis);
        QCoreApplication::processEvents();
        CLimits limits;
        limits.Set(LimitId::TInterFrameGap, 100000);
        const Results expected = Analyze(f.frame->Doc().store, limits);
        QVERIFY(expected.findings != Analyze(f.frame->Doc().store).findings);
        QVERIFY(f.frame->AnalysisPane()->Shown() == expected);
    }
};

AMBRIO_GUI_TEST(AnalysisPaneTest)
#include "AnalysisPaneTest.moc"
