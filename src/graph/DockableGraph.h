// The pane the graph lives in: one CGraphView filling it, resized with it, taking the focus it is given.
// It has no context menu of its own; a right click reaches the view's.
#pragma once

#include <QDockWidget>

#include <cstdint>

class CGraphView;
class IViewHost;

class CDockableGraph : public QDockWidget {
    Q_OBJECT

public:
    static constexpr uint32_t kId = 310;

    CDockableGraph(IViewHost& host, QWidget* parent = nullptr);
    CGraphView* View() const { return view; }

private:
    CGraphView* view = nullptr;
};
