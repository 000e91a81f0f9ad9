#include "FrameRoom.h"

#include "GraphView.h"
#include "QXCtrlView.h"

#include <QDockWidget>
#include <QEvent>
#include <QHeaderView>
#include <QLayout>
#include <QMainWindow>
#include <QResizeEvent>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>

#include <algorithm>

namespace {

// A first start takes this share of the screen, and never less than the window record's default.
constexpr int kScreenPercent = 85;
// Of the height the control view, the tree row and the graph's buttons and axes leave, the plot takes
// this share in percent and the list the rest: a little more, since its rows are what the user reads.
constexpr int kPlotPercent = 45;
// Rows of the field table the tree row shows at a first start.
constexpr int kTableRows = 4;
// The tree at a first start: as wide as its longest top-level line, and never narrower than this.
constexpr int kTreeWidth = 280;
constexpr char kWidestTreeLine[] = "Total Extended Data Block (260bytes)";

} // namespace

QSize FrameStartSize(const WindowRecord& record, const QSize& available) {
    const WindowRecord first;
    if (record != first) return QSize(record.width, record.height);
    return QSize(std::max(available.width() * kScreenPercent / 100, int(first.width)),
                 std::max(available.height() * kScreenPercent / 100, int(first.height)));
}

bool CFrameRoom::ListHeightStored(const WindowRecord& record) {
    return record.listPaneHeight != WindowRecord{}.listPaneHeight;
}

bool CFrameRoom::TreeWidthStored(const WindowRecord& record) {
    return record.treePaneWidth != WindowRecord{}.treePaneWidth;
}

CFrameRoom::CFrameRoom(const FramePanes& p, const CSettings& settings)
    : QObject(p.window), panes(p), record(settings.window), storedCtrlHeight(settings.ctrlViewHeight) {
    // What the window gains or loses in height goes to the list (and the graph, below); in width, to
    // the field table.
    panes.rows->setStretchFactor(0, 0);
    panes.rows->setStretchFactor(1, 1);
    panes.rows->setStretchFactor(2, 0);
    panes.bottom->setStretchFactor(0, 0);
    panes.bottom->setStretchFactor(1, 1);
    panes.window->installEventFilter(this);
}

bool CFrameRoom::eventFilter(QObject* watched, QEvent* event) {
    // Seen before the window's own layout takes the event, so that the graph's new height counts in it.
    if (watched == panes.window) {
        if (event->type() == QEvent::Show && !laidOut) {
            laidOut = true;
            LayOut();
        } else if (event->type() == QEvent::Resize && laidOut) {
            const auto* resize = static_cast<QResizeEvent*>(event);
            if (resize->oldSize().isValid())
                ShareHeight(resize->size().height() - resize->oldSize().height());
        }
    }
    return QObject::eventFilter(watched, event);
}

bool CFrameRoom::GraphDocked() const {
    return panes.graph && !panes.graph->isHidden() && !panes.graph->isFloating();
}

int CFrameRoom::TreeRowHeight() const {
    const QTableView* table = panes.fieldTable;
    return table->horizontalHeader()->sizeHint().height() +
           kTableRows * table->verticalHeader()->defaultSectionSize() + 2 * table->frameWidth();
}

int CFrameRoom::DefaultTreeWidth() const {
    const QTreeView* tree = panes.tree;
    const int line = tree->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestTreeLine));
    return std::max(kTreeWidth, line + 2 * tree->indentation() + 2 * tree->frameWidth());
}

void CFrameRoom::LayOut() {
    QSplitter& rows = *panes.rows;
    QSplitter& bottom = *panes.bottom;
    const int handles = 2 * rows.handleWidth();

    const int tree = TreeWidthStored(record) ? int(record.treePaneWidth) : DefaultTreeWidth();
    const int table = std::max(bottom.width() - tree - bottom.handleWidth(), 0);
    bottom.setSizes({tree, table});

    // A stored height too low for readable readings is raised; none stored gets the view's default.
    const int ctrl = storedCtrlHeight != 0 ? std::max(int(storedCtrlHeight), panes.ctrl->MinimumHeight())
                                           : panes.ctrl->DefaultHeight(panes.window->height(), rows.width());
    const int treeRow = TreeRowHeight();

    if (GraphDocked()) {
        // The graph keeps room for its buttons and axes (what it has beside its plot now) and takes its
        // share of the rest for the plot; the window lays itself out again at once, so that the rows
        // below have their height.
        const int frame = panes.graph->height() - panes.graphView->Model().Plot().height;
        const int shared = rows.height() + panes.graph->height() - ctrl - treeRow - handles - frame;
        panes.window->resizeDocks({panes.graph}, {frame + std::max(shared * kPlotPercent / 100, 0)},
                                  Qt::Vertical);
        panes.window->layout()->activate();
    }

    const int room = rows.height() - handles;
    const int list = ListHeightStored(record) ? int(record.listPaneHeight) : room - ctrl - treeRow;
    rows.setSizes({ctrl, list, std::max(room - ctrl - list, 0)});
}

void CFrameRoom::ShareHeight(int change) {
    if (change == 0 || !GraphDocked()) return;
    // As at a first start: the plot its share, the list the rest.
    const int graph = panes.graph->height() + change * kPlotPercent / 100;
    panes.window->resizeDocks({panes.graph}, {std::max(graph, 0)}, Qt::Vertical);
}
