#include "GraphView.h"

#include "CaptureStore.h"
#include "GraphFont.h"
#include "GraphPictures.h"
#include "QXDoc.h"
#include "QXLogView.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace gb = graphbutton;

namespace {

// Columns of buttons beside the plot: x inset and width.
constexpr int kColumnInset = 4;
constexpr int kColumnWidth = 56;
constexpr int kAreaButtonWidth = 128;
constexpr int kAreaButtonHeight = 36;
constexpr int kRowButton = 64;
constexpr int kRowPitch = 68;

constexpr uint32_t kLeftColumn[] = {gb::kVbusVoltage,    gb::kCc1Voltage,     gb::kCc2Voltage,
                                    gb::kVoltageZoomIn,  gb::kVoltageZoomOut, gb::kVoltageUp,
                                    gb::kVoltageDown,    gb::kFitVoltage};
constexpr uint32_t kRightColumn[] = {gb::kVbusCurrent,    gb::kCc1Current,   gb::kCc2Current,
                                     gb::kCurrentZoomIn,  gb::kCurrentZoomOut, gb::kCurrentUp,
                                     gb::kCurrentDown,    gb::kFitCurrent,   gb::kCurrentFlip};
constexpr uint32_t kBottomRow[] = {gb::kScrollLeft, gb::kScrollRight, gb::kTimeZoomOut, gb::kTimeZoomIn, gb::kFitTime};
constexpr uint32_t kVoltageGroup[] = {gb::kVoltageZoomIn, gb::kVoltageZoomOut, gb::kVoltageUp, gb::kVoltageDown,
                                      gb::kFitVoltage};
constexpr uint32_t kCurrentGroup[] = {gb::kCurrentUp,      gb::kCurrentDown, gb::kCurrentZoomIn,
                                      gb::kCurrentZoomOut, gb::kFitCurrent,  gb::kCurrentFlip};

// A picture button: its picture shows the state of what it switches.
class CGraphButton : public QAbstractButton {
public:
    CGraphButton(uint32_t id, QWidget* parent) : QAbstractButton(parent), id(id) {
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("graphButton%1").arg(id));
        setToolTip(QString::fromLatin1(gb::ToolTip(id)));
        setAttribute(Qt::WA_Hover);
    }
    void SetLook(bool lookOn, const QColor& lookInk) {
        if (lookOn == on && lookInk == ink) return;
        on = lookOn;
        ink = lookInk;
        picture = QPixmap();
        update();
    }
    bool LooksOn() const { return on; }

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture.size() != size()) picture = gb::Picture(id, size(), on, ink);
        QPainter p(this);
        if (isDown()) p.translate(1, 1);
        p.drawPixmap(0, 0, picture);
        if (underMouse() && !isDown()) p.fillRect(rect(), QColor(255, 255, 255, 50));
        if (isDown()) p.fillRect(rect(), QColor(0, 0, 0, 40));
    }

private:
    uint32_t id;
    bool on = true;
    QColor ink;
    QPixmap picture;
};

GraphTraceSwitch SwitchOfButton(uint32_t id) {
    switch (id) {
    case gb::kCc1Voltage:
        return GraphTraceSwitch::Cc1Voltage;
    case gb::kCc2Voltage:
        return GraphTraceSwitch::Cc2Voltage;
    case gb::kVbusCurrent:
        return GraphTraceSwitch::VbusCurrent;
    case gb::kCc1Current:
        return GraphTraceSwitch::Cc1Current;
    case gb::kCc2Current:
        return GraphTraceSwitch::Cc2Current;
    default:
        return GraphTraceSwitch::VbusVoltage;
    }
}

GraphSettings::Trace StyleOfButton(uint32_t id) {
    switch (id) {
    case gb::kCc1Voltage:
        return GraphSettings::Cc1Voltage;
    case gb::kCc2Voltage:
        return GraphSettings::Cc2Voltage;
    case gb::kVbusCurrent:
        return GraphSettings::VbusCurrent;
    case gb::kCc1Current:
        return GraphSettings::Cc1Current;
    case gb::kCc2Current:
        return GraphSettings::Cc2Current;
    default:
        return GraphSettings::VbusVoltage;
    }
}

bool IsTraceButton(uint32_t id) {
    return id >= gb::kVbusVoltage && id <= gb::kCc2Current;
}

} // namespace

CGraphView::CGraphView(IViewHost& h, QWidget* parent)
    : QWidget(parent), host(h), settings(h.Settings()), style(h.Settings().graph) {
    setObjectName(QStringLiteral("GraphView"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAutoFillBackground(true);
    // Small enough for the pane under the list in a window of the default size; below 300 px of plot
    // the buttons shrink.
    setMinimumSize(640, 240);

    CreateButtons();
    // The default font first, then the settings' font and area switches.
    graphFont = FontFromRecord(FontRecord::Default());
    model.SetFontHeight(16);
    model.SetAreaOn(GraphArea::Voltage, style.voltageOn);
    model.SetAreaOn(GraphArea::Current, style.currentOn);
    model.SetAreaOn(GraphArea::Wattage, style.wattageOn);
    model.SetStripShown(showPdPackets);
    SetGraphFont(FontFromRecord(settings.graphFont), FontHeightOf(settings.graphFont));
    ApplySize();
    RefreshButtons();
}

CGraphView::~CGraphView() {
    settings.graph.voltageOn = model.AreaOn(GraphArea::Voltage);
    settings.graph.currentOn = model.AreaOn(GraphArea::Current);
    settings.graph.wattageOn = model.AreaOn(GraphArea::Wattage);
}

const CCaptureStore* CGraphView::Store() const {
    const CQXDoc* doc = host.Document();
    return doc ? &doc->store : nullptr;
}

void CGraphView::SyncSummary() {
    if (const CCaptureStore* store = Store()) {
        summary.Sync(*store);
        strip.Sync(*store);
    }
}

// ---- the document --------------------------------------------------------------------------------------

void CGraphView::OnUpdate(IDocView*, int64_t) {
    if (const CCaptureStore* store = Store()) {
        model.LoadRanges(*store);
        SyncSummary();
    }
    update();
}

void CGraphView::Attach() {
    const CCaptureStore* store = Store();
    if (!store) return;
    model.Attach(*store, settings.vbusCurrDirReverse);
    summary = CSampleSummary();
    strip = CPacketStripIndex();
    // Attached before the pane has its size on screen (the window attaches as it is built): the fit
    // is done again once it has.
    fitWhenShown = !isVisible();
    SyncSummary();
    Changed();
}

void CGraphView::SetReverseCurrent(bool reverse) {
    const CCaptureStore* store = Store();
    if (!store) return;
    model.SetReverseCurrent(*store, reverse);
    summary = CSampleSummary();
    SyncSummary();
    Changed();
}

void CGraphView::FollowLatest(int64_t t) {
    const CCaptureStore* store = Store();
    if (!store) return;
    model.FollowLatest(t, *store);
    update();
}

void CGraphView::ShiftTimes(int64_t delta) {
    model.ShiftTimes(delta);
    rightClickTime -= delta;
    update();
}

void CGraphView::CenterOn(int64_t displayTime) {
    model.SetCenter(displayTime);
    update();
}

void CGraphView::MarksChanged() {
    if (CQXDoc* doc = host.Document()) doc->SetMarksChanged();
    host.RepaintGraph();
}

void CGraphView::SetShowPdPackets(bool on) {
    showPdPackets = on;
    // The strip's room follows at the next fit.
    model.SetStripShown(on);
    update();
}

void CGraphView::SetShowMeasuringPoints(bool on) {
    showMeasuringPoints = on;
    update();
}

void CGraphView::SetGraphFont(const QFont& font, int32_t height) {
    graphFont = font;
    // The layout follows the font: the bottom margin grows with it.
    model.SetFontHeight(height);
    LayoutButtons();
    update();
}

void CGraphView::SetCursorOn(bool on) {
    cursorOn = on;
    update();
}

void CGraphView::SetPointer(QPoint p) {
    pointer = p;
    pointerSet = true;
    if (!leftDown && !rightDown) model.UpdateHighlight(p.x());
    update();
}

// ---- commands ------------------------------------------------------------------------------------------

bool CGraphView::IsCommandEnabled(uint32_t id) const {
    switch (id) {
    case kCmdSetMarkerO:
    case kCmdSetMarkerX:
    case kCmdOriginCurrent:
        return rightClickValid;
    case kCmdOriginAbsolute:
        return host.Document() != nullptr;
    default:
        return false;
    }
}

void CGraphView::OnCommand(uint32_t id) {
    if (!IsCommandEnabled(id)) return;
    CQXDoc* doc = host.Document();
    switch (id) {
    case kCmdSetMarkerO:
    case kCmdSetMarkerX:
        model.SetMarkerTime(id == kCmdSetMarkerO ? GraphMarker::O : GraphMarker::X, rightClickTime);
        MarksChanged();
        break;
    case kCmdOriginAbsolute:
    case kCmdOriginCurrent:
        if (!doc) return;
        // The document shifts this view through its hook, and the packet list rebuilds its rows.
        if (id == kCmdOriginAbsolute)
            doc->SetTimeOrigin(0, false);
        else
            doc->SetTimeOrigin(rightClickTime, true);
        MarksChanged();
        break;
    default:
        return;
    }
    update();
}

void CGraphView::ToggleAreaWithFitting(GraphArea area) {
    model.SetAreaOn(area, !model.AreaOn(area));
    model.FitAreas();
    Changed();
}

void CGraphView::FitAllAreas() {
    model.FitAreas();
    update();
}

QMenu* CGraphView::CreateContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("GraphContext"));
    auto routed = [this](QMenu* to, uint32_t id, const char* text) {
        QAction* a = to->addAction(QString::fromLatin1(text));
        a->setData(id);
        a->setEnabled(host.IsCommandEnabled(id));
        connect(a, &QAction::triggered, this, [this, id] { host.ExecuteCommand(id); });
    };
    routed(menu, kCmdSetMarkerO, "Set Marker O");
    routed(menu, kCmdSetMarkerX, "Set Marker X");
    QMenu* origin = menu->addMenu(QStringLiteral("Set Time Stamp Origin"));
    routed(origin, kCmdOriginAbsolute, "Absolute");
    routed(origin, kCmdOriginCurrent, "Current Position");
    menu->addSeparator();
    auto area = [this, menu](GraphArea a, const char* text) {
        QAction* act = menu->addAction(QString::fromLatin1(text));
        act->setCheckable(true);
        act->setChecked(model.AreaOn(a));
        connect(act, &QAction::triggered, this, [this, a] { ToggleAreaWithFitting(a); });
    };
    area(GraphArea::Voltage, "Enable Voltage Graph (with Fitting)");
    area(GraphArea::Current, "Enable Current Graph  (with Fitting)");
    area(GraphArea::Wattage, "Enable Wattage Graph (with Fitting)");
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Fit All Graphs")), &QAction::triggered, this, [this] { FitAllAreas(); });
    QAction* cursor = menu->addAction(QStringLiteral("Enable Cursor"));
    cursor->setCheckable(true);
    cursor->setChecked(cursorOn);
    connect(cursor, &QAction::triggered, this, [this] { SetCursorOn(!cursorOn); });
    return menu;
}

// ---- buttons -------------------------------------------------------------------------------------------

void CGraphView::CreateButtons() {
    auto make = [this](uint32_t id) {
        auto* b = new CGraphButton(id, this);
        connect(b, &QAbstractButton::clicked, this, [this, id] { PressButton(id); });
        buttons[id] = b;
    };
    make(gb::kVoltageArea);
    for (uint32_t id : kLeftColumn) make(id);
    for (uint32_t id : kRightColumn) make(id);
    make(gb::kCurrentArea);
    make(gb::kWattageArea);
    for (uint32_t id : kBottomRow) make(id);
}

QAbstractButton* CGraphView::Button(uint32_t id) const {
    const auto it = buttons.find(id);
    return it == buttons.end() ? nullptr : it->second;
}

void CGraphView::LayoutButtons() {
    if (buttons.empty()) return;
    buttonsPlaced = true;
    const GraphRect& plot = model.Plot();
    const int w = model.ClientWidth(), h = model.ClientHeight();
    // Smaller buttons on a low plot, so that the columns still fit beside it.
    const int d = std::max(8, int(32.0 * std::min(1.0, plot.height / 300.0)));
    buttons[gb::kVoltageArea]->setGeometry(kColumnInset, 0, kAreaButtonWidth, kAreaButtonHeight);
    int y = plot.top;
    for (uint32_t id : kLeftColumn) {
        buttons[id]->setGeometry(kColumnInset, y, kColumnWidth, d);
        y += d;
    }
    y = plot.top;
    for (uint32_t id : kRightColumn) {
        buttons[id]->setGeometry(w - kColumnInset - kColumnWidth, y, kColumnWidth, d);
        y += d;
    }
    buttons[gb::kWattageArea]->setGeometry(w - kColumnInset - kAreaButtonWidth, h - kAreaButtonHeight,
                                           kAreaButtonWidth, kAreaButtonHeight);
    buttons[gb::kCurrentArea]->setGeometry(w - kColumnInset - kAreaButtonWidth, h - 2 * kAreaButtonHeight,
                                           kAreaButtonWidth, kAreaButtonHeight);
    // The row begins where the measurement texts end, 136 px left of the plot's middle.
    const int first = plot.left + plot.width / 2 - 136;
    for (int i = 0; i < 5; ++i)
        buttons[kBottomRow[i]]->setGeometry(first + i * kRowPitch, plot.Bottom() + 5, kRowButton, kRowButton);
}

void CGraphView::RefreshButtons() {
    const bool v = model.AreaOn(GraphArea::Voltage), i = model.AreaOn(GraphArea::Current);
    const bool w = model.AreaOn(GraphArea::Wattage);
    for (uint32_t id : kVoltageGroup) buttons[id]->setVisible(v);
    for (uint32_t id : kCurrentGroup) buttons[id]->setVisible(i || w);
    auto look = [this](uint32_t id, bool on, const QColor& ink = QColor()) {
        static_cast<CGraphButton*>(buttons[id])->SetLook(on, ink);
    };
    look(gb::kVoltageArea, v);
    look(gb::kCurrentArea, i);
    look(gb::kWattageArea, w);
    for (uint32_t id : {gb::kVbusVoltage, gb::kCc1Voltage, gb::kCc2Voltage, gb::kVbusCurrent, gb::kCc1Current,
                        gb::kCc2Current}) {
        const bool areaOn = id % 2 == 0 ? v : i;
        look(id, areaOn && model.TraceOn(SwitchOfButton(id)), GraphColour(style.traceColour[StyleOfButton(id)]));
    }
    look(gb::kCurrentFlip, model.CurrentFlip());
}

void CGraphView::Changed() {
    RefreshButtons();
    update();
}

void CGraphView::PressButton(uint32_t id) {
    if (IsTraceButton(id)) {
        model.PressTraceButton(SwitchOfButton(id));
        Changed();
        return;
    }
    switch (id) {
    // An area button switches the area only; the context menu's commands refit.
    case gb::kVoltageArea:
        model.SetAreaOn(GraphArea::Voltage, !model.AreaOn(GraphArea::Voltage));
        break;
    case gb::kCurrentArea:
        model.SetAreaOn(GraphArea::Current, !model.AreaOn(GraphArea::Current));
        break;
    case gb::kWattageArea:
        model.SetAreaOn(GraphArea::Wattage, !model.AreaOn(GraphArea::Wattage));
        break;
    case gb::kVoltageZoomIn:
    case gb::kVoltageZoomOut:
        model.ZoomVoltage(id == gb::kVoltageZoomIn);
        break;
    case gb::kVoltageUp:
    case gb::kVoltageDown:
        model.MoveVoltage(id == gb::kVoltageUp);
        break;
    case gb::kFitVoltage:
        model.FitVoltage();
        break;
    case gb::kCurrentZoomIn:
    case gb::kCurrentZoomOut:
        model.ZoomCurrentWattage(id == gb::kCurrentZoomIn);
        break;
    case gb::kCurrentUp:
    case gb::kCurrentDown:
        model.MoveCurrentWattage(id == gb::kCurrentUp);
        break;
    case gb::kFitCurrent:
        model.FitCurrent();
        model.FitWattage();
        break;
    case gb::kCurrentFlip:
        model.SetCurrentFlip(!model.CurrentFlip());
        break;
    case gb::kScrollLeft:
        model.ScrollLeft();
        break;
    case gb::kScrollRight:
        model.ScrollRight();
        break;
    case gb::kTimeZoomOut:
    case gb::kTimeZoomIn:
        model.ZoomTime(id == gb::kTimeZoomIn);
        break;
    case gb::kFitTime:
        model.FitTime();
        break;
    default:
        return;
    }
    Changed();
}

// ---- painting ------------------------------------------------------------------------------------------

GraphScene CGraphView::Scene() const {
    GraphScene s;
    s.model = &model;
    s.style = &style;
    s.font = graphFont;
    s.store = Store();
    s.summary = &summary;
    s.strip = &strip;
    s.selected = host.SelectedPacket();
    s.showPdPackets = showPdPackets;
    s.showMeasuringPoints = showMeasuringPoints;
    s.vrdBands = vrdBands;
    s.cursorOn = cursorOn;
    s.pointerSet = pointerSet;
    s.pointer = pointer;
    s.zoomBox = rightDown && !boxSpent;
    s.boxStart = boxStart;
    s.traces = traceMethod;
    return s;
}

void CGraphView::ApplySize() {
    // Until the pane is laid out the widget has no real size: the layout works with the minimum.
    if (model.SetClientSize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight())) ||
        !buttonsPlaced)
        LayoutButtons();
}

void CGraphView::paintEvent(QPaintEvent*) {
    QElapsedTimer clock;
    clock.start();
    ApplySize();
    // The first paint comes once the pane is laid out at its size on screen.
    if (fitWhenShown) {
        fitWhenShown = false;
        model.FitAll();
    }
    SyncSummary();
    const GraphScene scene = Scene();
    // Everything around the plot is composed off-screen and copied in one go.
    const QRect area = GraphImageRect(model);
    if (offscreen.size() != area.size()) offscreen = QImage(area.size(), QImage::Format_RGB32);
    {
        QPainter image(&offscreen);
        image.translate(-area.topLeft());
        PaintGraph(image, scene);
    }
    QPainter p(this);
    p.drawImage(area.topLeft(), offscreen);
    PaintMeasurements(p, scene);
    worstPaint = std::max(worstPaint, std::chrono::microseconds(clock.nsecsElapsed() / 1000));
}

void CGraphView::resizeEvent(QResizeEvent*) {
    ApplySize();
}

// ---- pointer and keys ----------------------------------------------------------------------------------

void CGraphView::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    pointer = p;
    pointerSet = true;
    setFocus(Qt::MouseFocusReason);
    switch (e->button()) {
    case Qt::LeftButton:
        leftDown = true;
        lastDrag = p;
        draggedMarker = model.Highlighted();
        if (draggedMarker == GraphMarker::None) draggedAreas = model.AreasAt(p.x(), p.y());
        setCursor(draggedMarker == GraphMarker::None ? Qt::SizeAllCursor : Qt::SizeHorCursor);
        break;
    case Qt::RightButton:
        rightDown = true;
        boxSpent = false;
        boxStart = p;
        rightClickValid = model.InPlot(p.x(), p.y());
        if (rightClickValid) rightClickTime = model.TimeAtX(p.x());
        setCursor(Qt::CrossCursor);
        break;
    case Qt::MiddleButton:
        model.FitAll();
        break;
    default:
        break;
    }
    update();
}

void CGraphView::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    pointer = p;
    pointerSet = true;
    if (leftDown) {
        if (draggedMarker != GraphMarker::None) {
            model.SetMarkerTime(draggedMarker, model.TimeAtX(p.x()));
            MarksChanged();
        } else {
            model.Drag(p.x() - lastDrag.x(), p.y() - lastDrag.y(), draggedAreas);
        }
        lastDrag = p;
    } else if (!rightDown) {
        model.UpdateHighlight(p.x());
        setCursor(model.Highlighted() == GraphMarker::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
    }
    update();
}

void CGraphView::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton && leftDown) {
        leftDown = false;
        draggedMarker = GraphMarker::None;
        model.UpdateHighlight(p.x());
        setCursor(model.Highlighted() == GraphMarker::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
    } else if (e->button() == Qt::RightButton && rightDown) {
        rightDown = false;
        setCursor(Qt::ArrowCursor);
        const bool spent = boxSpent;
        boxSpent = false;
        if (!spent) {
            if (p == boxStart) {
                update();
                QMenu* menu = CreateContextMenu();
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(mapToGlobal(p));
                return;
            }
            model.ZoomToBox(boxStart.x(), boxStart.y(), p.x(), p.y());
        }
    }
    update();
}

void CGraphView::mouseDoubleClickEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() != Qt::LeftButton || !model.InPlot(p.x(), p.y())) {
        QWidget::mouseDoubleClickEvent(e);
        return;
    }
    const int64_t t = model.TimeAtX(p.x());
    model.SetCenter(t);
    if (t >= model.DataFirstTime() && t <= model.DataLastTime()) SelectNearestPacket(t);
    update();
}

void CGraphView::SelectNearestPacket(int64_t t) {
    const CCaptureStore* store = Store();
    if (!store || store->PacketCount() == 0) return;
    int64_t position = -1;
    const CCCPacket* before = store->FindPacketAt(t, &position);
    const CCCPacket* after = store->PacketAt(size_t(position + 1));
    const CCCPacket* nearest = before;
    if (!before || (after && TimeDifference(store->DisplayTime(*after), t) < TimeDifference(t, store->DisplayTime(*before))))
        nearest = after;
    if (CQXLogView* list = host.PacketList(); list && nearest) list->SelectPacket(nearest);
}

void CGraphView::wheelEvent(QWheelEvent* e) {
    const bool forward = e->angleDelta().y() > 0;
    if (rightDown) {
        model.ZoomTime(forward);
        // The zoom box the right button began is given up.
        boxSpent = true;
    } else if (forward) {
        model.ScrollRight();
    } else {
        model.ScrollLeft();
    }
    e->accept();
    update();
}

void CGraphView::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Left:
        model.ScrollLeft();
        break;
    case Qt::Key_Right:
        model.ScrollRight();
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        model.MoveVoltage(e->key() == Qt::Key_Up);
        model.MoveCurrentWattage(e->key() == Qt::Key_Up);
        break;
    case Qt::Key_PageUp:
        model.ZoomTime(true);
        break;
    case Qt::Key_PageDown:
        model.ZoomTime(false);
        break;
    case Qt::Key_Home:
        model.FitAll();
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    update();
}

void CGraphView::leaveEvent(QEvent*) {
    if (leftDown || rightDown) return;
    pointerSet = false;
    if (model.Highlighted() != GraphMarker::None) model.SetHighlighted(GraphMarker::None);
    update();
}
