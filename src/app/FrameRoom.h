// How the main window shares its room: its size at creation, the sizes of its panes once it is first
// laid out, and where the height goes when it grows or shrinks. The packet list gets the room: the
// control view and the tree row keep their heights, the list and the graph share the rest.
#pragma once

#include "Settings.h"

#include <QObject>
#include <QSize>

class CGraphView;
class CQXCtrlView;
class QDockWidget;
class QMainWindow;
class QSplitter;
class QTableView;
class QTreeView;

// The window's size at creation: the record's, or, while the record is still the untouched default
// of a first start, about 85 % of the screen's available area and at least 1200 x 700 (the record's
// default size).
QSize FrameStartSize(const WindowRecord& record, const QSize& available);

struct FramePanes {
    QMainWindow* window = nullptr;
    QSplitter* rows = nullptr;   // control view, packet list, tree row
    QSplitter* bottom = nullptr; // tree, field table
    CQXCtrlView* ctrl = nullptr;
    QTableView* list = nullptr;
    QTreeView* tree = nullptr;
    QTableView* fieldTable = nullptr;
    QDockWidget* graph = nullptr;
    CGraphView* graphView = nullptr;
};

class CFrameRoom : public QObject {
public:
    // Takes the stored pane sizes as the window is created; child of the window.
    CFrameRoom(const FramePanes& panes, const CSettings& settings);

    // A pane size still at the record's default was never set by hand, so the room decides it.
    static bool ListHeightStored(const WindowRecord& record);
    static bool TreeWidthStored(const WindowRecord& record);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // At the first show, when the window has its real size.
    void LayOut();
    // The window's height changed by `change`: the plot takes its share, the list the rest.
    void ShareHeight(int change);
    bool GraphDocked() const;
    // The tree row at a first start: the field table's header and a few rows.
    int TreeRowHeight() const;
    int DefaultTreeWidth() const;

    FramePanes panes;
    WindowRecord record;
    int32_t storedCtrlHeight = 0;
    bool laidOut = false;
};
