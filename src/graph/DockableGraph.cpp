#include "DockableGraph.h"

#include "GraphView.h"

CDockableGraph::CDockableGraph(IViewHost& host, QWidget* parent) : QDockWidget(QStringLiteral("Graph"), parent) {
    setObjectName(QStringLiteral("Graph"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    // The window's own popup (toolbars and panes) does not open over the pane.
    setContextMenuPolicy(Qt::PreventContextMenu);
    view = new CGraphView(host, this);
    setWidget(view);
    setFocusProxy(view);
}
