// The Transactions pane's sequence diagram: the toolkit-free layout drawn with QPainter from the time at
// its top down. Its time axis zooms and scrolls as the graph's does: Page Up/Down and the wheel with Ctrl
// (or the right button held) zoom by a fifth, Up/Down and the wheel scroll by an eighth of what is shown,
// Home fits the capture, End follows its newest frames. A click on an arrow says which packet it is.
#pragma once

#include "FlowDiagram.h"

#include <QAbstractScrollArea>

#include <cstdint>
#include <vector>

class QPainter;

class CFlowDiagramView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CFlowDiagramView(QWidget* parent = nullptr);

    // What to draw; null for nothing. Call Refresh when it changed.
    void SetData(const flow::Flow* flow, const std::vector<analysis::Finding>* findings, int64_t timeOrigin);
    // The data grew: a view that follows the newest frames moves on with them.
    void Refresh();
    // Shows a packet's arrow, selected: from the start of its exchange when it is not in view.
    void ShowPacket(int64_t number, int64_t time);
    int64_t SelectedPacket() const { return selected; }

    // Navigation, as the keys and the wheel do it.
    void Zoom(bool in);
    void Scroll(int eighths); // positive: later
    void Fit();
    void FollowNewest();
    bool Following() const { return following; }
    double Scale() const { return scale; }
    int64_t TopTime() const { return topTime; }

    // The layout drawn last (laid out now when stale).
    const flow::DiagramLayout& Layout();
    // Draws the shapes of a layout that reach into the rows top..bottom; the view's paint and the benchmark
    // use it.
    static void Paint(QPainter& painter, const flow::DiagramLayout& layout, const QFont& font, int top,
                      int bottom);

signals:
    void packetClicked(qint64 number, qint64 time);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;

private:
    flow::DiagramOptions Options(int64_t start) const;
    int64_t FirstTime() const;
    int64_t LastTime() const;
    // The latest top from which the newest frames still fit.
    int64_t TopForNewest() const;
    void Relayout();
    void UpdateScrollBars();
    QString ToolTipAt(const QPoint& at);

    const flow::Flow* flow = nullptr;
    const std::vector<analysis::Finding>* findings = nullptr;
    int64_t timeOrigin = 0;
    double scale = flow::kDefaultDiagramScale;
    int64_t topTime = 0;
    bool following = true;
    int64_t selected = -1;
    flow::DiagramLayout layout;
    bool stale = true;
    bool settingScrollBars = false;
};
