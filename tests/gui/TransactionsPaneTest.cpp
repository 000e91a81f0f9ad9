// The Transactions pane in the window: what it shows for the demo capture and a real one, selection from
// a row, from an arrow and from the packet list, zooming and scrolling the diagram, a live capture and
// Clear, and its visibility kept in a settings group of its own. Screenshots of the pane land in
// build/gui-output/ for review.
#include "TransactionsPane.h"
#include "Analyzer.h"
#include "CommandTable.h"
#include "DemoCapture.h"
#include "DockableGraph.h"
#include "FlowDiagramView.h"
#include "FlowTreeModel.h"
#include "FrameFixture.h"
#include "GraphView.h"
#include "GuiTest.h"
#include "QXLogView.h"

#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QSettings>
#include <QTreeView>

using namespace flow;

namespace {

void ClearGroup() {
    QSettings s;
    s.remove(QStringLiteral("Transactions"));
    s.sync();
}

// The whole capture grouped at once, as qxtool does it.
Flow Whole(const CCaptureStore& store) {
    return Group(store, analysis::Analyze(store).findings);
}

void Click(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
}

void SaveShot(QWidget* widget, const std::string& name) {
    const QImage image = widget->grab().toImage();
    const std::string file = guitest::OutputDir() + "/" + name + ".png";
    QVERIFY(image.save(QString::fromStdString(file)));
    QVERIFY(guitest::Busyness(image, 3) > 0.05);
    qInfo("screenshot: %s", file.c_str());
}

} // namespace

class TransactionsPaneTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ClearGroup(); }
    void cleanupTestCase() { ClearGroup(); }

    void showsTheCaptureAndSelectsBothWays_data() {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("shot");
        QTest::newRow("demo") << QString() << "transactions-demo";
        const std::string shared = guitest::CapturesDir();
        if (!shared.empty())
            QTest::newRow("real") << QString::fromStdString(shared + "/macbook_2015-apple_power_brick.qxc")
                                  << "transactions-macbook-power-brick";
    }
    void showsTheCaptureAndSelectsBothWays() {
        QFETCH(QString, capture);
        QFETCH(QString, shot);
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1600, 1000);
        w.show();
        CTransactionsPane* pane = w.TransactionsPane();
        QVERIFY(pane->isHidden());
        QVERIFY(w.OpenFile(capture.isEmpty() ? DemoFile(f.dir, 20) : capture.toStdString()));
        w.ExecuteCommand(cmd::kShowTransactions);
        QVERIFY(!pane->isHidden());
        QCOMPARE(w.IsCommandChecked(cmd::kShowTransactions), std::optional<bool>(true));
        QVERIFY(w.tabifiedDockWidgets(w.GraphPane()).contains(pane));
        w.resizeDocks({pane}, {650}, Qt::Vertical);
        QCoreApplication::processEvents();

        // The pane holds the capture's exchanges as qxtool groups them, one top-level row each.
        const CCaptureStore& store = w.Doc().store;
        const Flow whole = Whole(store);
        QCOMPARE(pane->Shown().transactions, whole.transactions);
        QCOMPARE(pane->Shown().exchanges.size(), whole.exchanges.size());
        CFlowTreeModel* model = pane->Model();
        QCOMPARE(size_t(model->rowCount()), whole.exchanges.size());
        for (size_t x = 0; x < whole.exchanges.size(); ++x) {
            QCOMPARE(pane->Shown().exchanges[x].kind, whole.exchanges[x].kind);
            QCOMPARE(model->index(int(x), CFlowTreeModel::kName).data().toString().toStdString(),
                     whole.exchanges[x].title);
            QCOMPARE(EndResult(pane->Shown().exchanges[x], pane->Shown().end), whole.exchanges[x].result);
        }

        // A row: its packet is selected in the list and the graph centres on it.
        const int32_t txIndex = whole.exchanges[1].transactions[1];
        const Transaction& t = whole.transactions[size_t(txIndex)];
        QTreeView* tree = pane->Tree();
        const QModelIndex row = model->TransactionIndex(txIndex);
        QVERIFY(row.isValid());
        tree->scrollTo(row);
        Click(tree->viewport(), tree->visualRect(row).center());
        const CCCPacket* selected = w.LogView()->GetSelectedPacket();
        QVERIFY(selected);
        QCOMPARE(int64_t(selected->index), t.packets.front().number);
        QCOMPARE(w.GraphView()->Model().CenterTime(), t.packets.front().time - store.timeOrigin);
        QCOMPARE(pane->Diagram()->SelectedPacket(), t.packets.front().number);

        // An arrow: the same for its packet, and the tree goes to its row.
        CFlowDiagramView* diagram = pane->Diagram();
        const DiagramLayout& layout = diagram->Layout();
        QVERIFY(layout.arrows.size() > 8);
        const DiagramArrow arrow = layout.arrows[layout.arrows.size() / 2];
        Click(diagram->viewport(),
              QPoint((arrow.x1 + arrow.x2) / 2 - diagram->horizontalScrollBar()->value(), arrow.y));
        selected = w.LogView()->GetSelectedPacket();
        QVERIFY(selected);
        QCOMPARE(int64_t(selected->index), arrow.number);
        QCOMPARE(w.GraphView()->Model().CenterTime(), arrow.time - store.timeOrigin);
        QCOMPARE(tree->currentIndex().data(CFlowTreeModel::kNumberRole).toLongLong(),
                 qlonglong(arrow.number));

        // A packet chosen in the list: its row and its arrow.
        const Transaction& last = whole.transactions.back();
        const int64_t number = last.packets.back().number;
        QVERIFY(w.LogView()->SelectPacket(store.PacketAt(size_t(number))));
        QCoreApplication::processEvents();
        QCOMPARE(tree->currentIndex().data(CFlowTreeModel::kNumberRole).toLongLong(), qlonglong(number));
        QCOMPARE(diagram->SelectedPacket(), number);
        bool inView = false;
        for (const DiagramArrow& a : diagram->Layout().arrows) inView |= a.number == number;
        QVERIFY(inView);

        // For review: the pane as docked, the second exchange selected and opened.
        diagram->FollowNewest();
        const QModelIndex second = model->ExchangeIndex(1);
        tree->expand(second);
        tree->setCurrentIndex(second);
        tree->scrollToTop();
        diagram->ShowPacket(whole.transactions[size_t(whole.exchanges[1].transactions[0])].packets[0].number,
                            whole.exchanges[1].start);
        QCoreApplication::processEvents();
        SaveShot(pane, shot.toStdString());

        // New empties the pane.
        w.ExecuteCommand(cmd::kNew);
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(pane->Shown().exchanges.empty());
    }

    // Page Up and Down zoom by a fifth, Up and Down scroll, Home fits the whole capture.
    void zoomsAndScrollsLikeTheGraph() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1400, 900);
        w.show();
        QVERIFY(w.OpenFile(DemoFile(f.dir, 20)));
        w.ExecuteCommand(cmd::kShowTransactions);
        w.resizeDocks({w.TransactionsPane()}, {600}, Qt::Vertical);
        QCoreApplication::processEvents();
        CFlowDiagramView* d = w.TransactionsPane()->Diagram();
        d->setFocus();
        const double scale = d->Scale();
        QTest::keyClick(d, Qt::Key_PageUp);
        QCOMPARE(d->Scale(), scale * 1.2);
        QTest::keyClick(d, Qt::Key_PageDown);
        QVERIFY(std::abs(d->Scale() - scale) < scale * 1e-6);
        QTest::keyClick(d, Qt::Key_Home);
        QVERIFY(d->Layout().complete);
        QVERIFY(!d->Following());
        const int64_t top = d->TopTime();
        QTest::keyClick(d, Qt::Key_PageUp);
        QTest::keyClick(d, Qt::Key_Down);
        QVERIFY(d->TopTime() > top);
        const int64_t down = d->TopTime();
        QTest::keyClick(d, Qt::Key_Up);
        QVERIFY(d->TopTime() < down);
        QTest::keyClick(d, Qt::Key_End);
        QVERIFY(d->Following());
        const Flow& flow = w.TransactionsPane()->Shown();
        QCOMPARE(d->Layout().arrows.back().number, flow.transactions.back().packets.back().number);
    }

    void followsALiveCaptureAndClear() {
        CFrameFixture f;
        CMainFrame& w = *f.frame;
        w.resize(1400, 900);
        w.show();
        w.ExecuteCommand(cmd::kShowTransactions);
        CTransactionsPane* pane = w.TransactionsPane();
        w.Tick();
        w.ExecuteCommand(cmd::kRun);
        QVERIFY(w.RecordingActive());
        int rows = 0;
        for (int i = 0; i < 4; ++i) {
            f.Advance(2);
            QCoreApplication::processEvents();
            QVERIFY(pane->Model()->rowCount() >= rows);
            rows = pane->Model()->rowCount();
            // The diagram follows: its last arrow is the newest frame grouped.
            const DiagramLayout& l = pane->Diagram()->Layout();
            if (!pane->Shown().transactions.empty()) {
                QVERIFY(!l.arrows.empty());
                QCOMPARE(l.arrows.back().number, pane->Shown().transactions.back().packets.back().number);
            }
        }
        QVERIFY(rows > 5);
        QCOMPARE(size_t(rows), pane->Shown().exchanges.size());

        // Stopped, the pane holds what the whole file gives.
        w.ExecuteCommand(cmd::kStop);
        f.TickUntilStopped();
        w.UpdateAllViews(nullptr, 0);
        QCOMPARE(pane->Shown().transactions, Whole(w.Doc().store).transactions);
        QCOMPARE(size_t(pane->Model()->rowCount()), pane->Shown().exchanges.size());
        w.ExecuteCommand(cmd::kClear);
        QCOMPARE(pane->Model()->rowCount(), 0);
    }

    void visibilityFromItsOwnSettingsGroup() {
        {
            CFrameFixture f;
            QVERIFY(f.frame->TransactionsPane()->isHidden());
            f.frame->ExecuteCommand(cmd::kShowTransactions);
        }
        QCOMPARE(QSettings().value("Transactions/PaneVisible").toBool(), true);
        {
            CFrameFixture f;
            QVERIFY(!f.frame->TransactionsPane()->isHidden());
            QCOMPARE(f.frame->IsCommandChecked(cmd::kShowTransactions), std::optional<bool>(true));
            f.frame->ExecuteCommand(cmd::kShowTransactions);
        }
        CFrameFixture f;
        QVERIFY(f.frame->TransactionsPane()->isHidden());
        QCOMPARE(QSettings().value("Transactions/PaneVisible").toBool(), false);
    }
};

AMBRIO_GUI_TEST(TransactionsPaneTest)
#include "TransactionsPaneTest.moc"
