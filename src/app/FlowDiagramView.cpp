#include "FlowDiagramView.h"

#include "Analyzer.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using namespace flow;

namespace {

// The vertical scroll bar runs over the capture's time in this many steps.
constexpr int kScrollSteps = 1000;
constexpr double kZoomIn = 1.2, kZoomOut = 0.8333333;

QColor ColorOf(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

} // namespace

CFlowDiagramView::CFlowDiagramView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("flowDiagram"));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setRange(0, kScrollSteps);
    verticalScrollBar()->setPageStep(kScrollSteps / 8);
}

void CFlowDiagramView::SetData(const Flow* f, const std::vector<analysis::Finding>* found, int64_t origin) {
    if (f != flow || origin != timeOrigin) {
        following = true;
        selected = -1;
    }
    flow = f;
    findings = found;
    timeOrigin = origin;
    Refresh();
}

void CFlowDiagramView::Refresh() {
    // Laid out when painted: a pane out of sight costs nothing.
    stale = true;
    viewport()->update();
}

DiagramOptions CFlowDiagramView::Options(int64_t start) const {
    DiagramOptions o;
    o.timeOrigin = timeOrigin;
    o.startTime = start;
    o.maxHeight = std::max(1, viewport()->height());
    o.scale = scale;
    o.fontHeight = fontMetrics().height();
    return o;
}

int64_t CFlowDiagramView::FirstTime() const {
    return flow && !flow->transactions.empty() ? flow->transactions.front().start : 0;
}

int64_t CFlowDiagramView::LastTime() const {
    if (!flow || flow->transactions.empty()) return 0;
    int64_t last = 0;
    const size_t n = flow->transactions.size();
    for (size_t i = n > 8 ? n - 8 : 0; i < n; ++i)
        last = std::max(last, flow->transactions[i].packets.back().time);
    return last;
}

int64_t CFlowDiagramView::TopForNewest() const {
    if (!flow || flow->transactions.empty()) return 0;
    static const std::vector<analysis::Finding> none;
    const std::vector<analysis::Finding>& found = findings ? *findings : none;
    // The first transaction from whose start everything after it fits; fewer frames fit less often.
    size_t lo = 0, hi = flow->transactions.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (LayoutDiagram(*flow, found, Options(flow->transactions[mid].start)).complete)
            hi = mid;
        else
            lo = mid + 1;
    }
    return flow->transactions[lo].start;
}

void CFlowDiagramView::Relayout() {
    static const std::vector<analysis::Finding> none;
    if (!flow) {
        layout = {};
    } else {
        if (following) topTime = TopForNewest();
        layout = LayoutDiagram(*flow, findings ? *findings : none, Options(topTime));
        // The lanes and bands run on to the bottom of the view.
        layout.height = std::max(layout.height, viewport()->height());
    }
    stale = false;
    UpdateScrollBars();
}

const DiagramLayout& CFlowDiagramView::Layout() {
    if (stale) Relayout();
    return layout;
}

void CFlowDiagramView::UpdateScrollBars() {
    settingScrollBars = true;
    const int64_t first = FirstTime(), last = LastTime();
    QScrollBar* v = verticalScrollBar();
    v->setValue(following || last <= first
                    ? kScrollSteps
                    : int(double(topTime - first) / double(last - first) * kScrollSteps));
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, layout.width - viewport()->width()));
    h->setPageStep(viewport()->width());
    settingScrollBars = false;
}

void CFlowDiagramView::scrollContentsBy(int, int dy) {
    if (settingScrollBars) return;
    if (dy != 0) {
        const int value = verticalScrollBar()->value();
        if (value >= kScrollSteps) {
            FollowNewest();
            return;
        }
        following = false;
        topTime = FirstTime() + int64_t(double(LastTime() - FirstTime()) * value / kScrollSteps);
        stale = true;
    }
    viewport()->update();
}

void CFlowDiagramView::Zoom(bool in) {
    const double next = std::clamp(scale * (in ? kZoomIn : kZoomOut), kMinDiagramScale, kMaxDiagramScale);
    if (next == scale) return;
    scale = next;
    Refresh();
}

void CFlowDiagramView::Scroll(int eighths) {
    if (!flow || flow->transactions.empty()) return;
    const DiagramLayout& l = Layout();
    const int64_t span = std::max<int64_t>(l.lastTime - l.firstTime, 8);
    const int64_t newest = TopForNewest();
    topTime = std::clamp<int64_t>(topTime + span / 8 * eighths, FirstTime(), std::max(FirstTime(), newest));
    following = topTime >= newest;
    Refresh();
}

void CFlowDiagramView::Fit() {
    if (!flow || flow->transactions.empty()) return;
    static const std::vector<analysis::Finding> none;
    following = false;
    topTime = FirstTime();
    // The largest scale at which everything fits; the smallest when nothing does.
    double lo = std::log(kMinDiagramScale), hi = std::log(kMaxDiagramScale);
    for (int i = 0; i < 24; ++i) {
        const double mid = (lo + hi) / 2;
        scale = std::exp(mid);
        if (LayoutDiagram(*flow, findings ? *findings : none, Options(topTime)).complete)
            lo = mid;
        else
            hi = mid;
    }
    scale = std::exp(lo);
    Refresh();
}

void CFlowDiagramView::FollowNewest() {
    following = true;
    Refresh();
}

void CFlowDiagramView::ShowPacket(int64_t number, int64_t time) {
    selected = number;
    const auto shown = [&] {
        for (const DiagramArrow& a : Layout().arrows)
            if (a.number == number) return true;
        return false;
    };
    if (flow && !shown()) {
        following = false;
        const int32_t tx = TransactionOfPacket(*flow, number);
        const int32_t x = tx >= 0 ? flow->transactions[size_t(tx)].exchange : -1;
        topTime = x >= 0 ? flow->exchanges[size_t(x)].start : time;
        stale = true;
        if (!shown() && tx >= 0) {
            topTime = flow->transactions[size_t(tx)].start;
            stale = true;
        }
    }
    viewport()->update();
}

void CFlowDiagramView::Paint(QPainter& painter, const DiagramLayout& l, const QFont& font, int top,
                             int bottom) {
    QFont small = font, bold = font;
    small.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.85 : 9);
    if (font.pixelSize() > 0) small.setPixelSize(std::max(6, font.pixelSize() * 85 / 100));
    bold.setBold(true);
    QFont smallBold = small;
    smallBold.setBold(true);
    const QFontMetrics metrics[4] = {QFontMetrics(font), QFontMetrics(bold), QFontMetrics(small),
                                     QFontMetrics(smallBold)};
    const QFont* fonts[4] = {&font, &bold, &small, &smallBold};
    // Smoothing only where edges slant: the lanes and arrows run straight, and smoothing them costs most
    // of a paint.
    const int reach = metrics[0].height();
    for (const flow::Shape& s : l.shapes) {
        int y0 = s.y[0], y1 = s.y[0];
        if (s.type == flow::Shape::Type::Rect) y1 = s.y[0] + s.y[1];
        if (s.type == flow::Shape::Type::Line || s.type == flow::Shape::Type::Polygon) {
            y0 = std::min({s.y[0], s.y[1], s.type == flow::Shape::Type::Polygon ? s.y[2] : s.y[1]});
            y1 = std::max({s.y[0], s.y[1], s.type == flow::Shape::Type::Polygon ? s.y[2] : s.y[1]});
        }
        if (y1 < top - reach || y0 > bottom + reach) continue;
        switch (s.type) {
        case flow::Shape::Type::Line: {
            QPen pen(ColorOf(s.color), qreal(s.width), s.dashed ? Qt::DashLine : Qt::SolidLine);
            pen.setCapStyle(Qt::FlatCap);
            painter.setPen(pen);
            painter.setRenderHint(QPainter::Antialiasing, s.x[0] != s.x[1] && s.y[0] != s.y[1]);
            painter.drawLine(QPoint(s.x[0], s.y[0]), QPoint(s.x[1], s.y[1]));
            break;
        }
        case flow::Shape::Type::Polygon: {
            const QPoint corners[3] = {{s.x[0], s.y[0]}, {s.x[1], s.y[1]}, {s.x[2], s.y[2]}};
            painter.setPen(Qt::NoPen);
            painter.setBrush(ColorOf(s.color));
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.drawPolygon(corners, 3);
            break;
        }
        case flow::Shape::Type::Circle:
            painter.setPen(Qt::NoPen);
            painter.setBrush(ColorOf(s.color));
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.drawEllipse(QPoint(s.x[0], s.y[0]), s.x[1], s.x[1]);
            break;
        case flow::Shape::Type::Rect:
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(s.width > 0 ? QPen(ColorOf(s.color), qreal(s.width)) : QPen(Qt::NoPen));
            painter.setBrush(s.filled ? QBrush(ColorOf(s.fill)) : QBrush(Qt::NoBrush));
            painter.drawRect(s.x[0], s.y[0], s.x[1], s.y[1]);
            break;
        case flow::Shape::Type::Text: {
            const int f = (s.small ? 2 : 0) + (s.bold ? 1 : 0);
            const QString text = QString::fromStdString(s.text);
            int x = s.x[0];
            if (s.anchor != flow::Shape::Anchor::Start) {
                const int w = metrics[f].horizontalAdvance(text);
                x -= s.anchor == flow::Shape::Anchor::Middle ? w / 2 : w;
            }
            painter.setFont(*fonts[f]);
            painter.setPen(ColorOf(s.color));
            painter.drawText(QPoint(x, s.y[0]), text);
            break;
        }
        }
    }
}

void CFlowDiagramView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    if (!flow) return;
    const DiagramLayout& l = Layout();
    painter.translate(-horizontalScrollBar()->value(), 0);
    Paint(painter, l, font(), 0, viewport()->height());
    for (const DiagramArrow& a : l.arrows)
        if (a.number == selected) {
            const int h = fontMetrics().height();
            const QRect r(std::min(a.x1, a.x2) - h, a.y - h - 2, std::abs(a.x2 - a.x1) + 2 * h, h + 8);
            painter.setPen(QPen(QColor(0xF0, 0xA0, 0x00), 2));
            painter.setBrush(QColor(0xFF, 0xD0, 0x40, 0x50));
            painter.drawRoundedRect(r, 4, 4);
        }
}

void CFlowDiagramView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Refresh();
}

void CFlowDiagramView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        Scroll(-1);
        break;
    case Qt::Key_Down:
        Scroll(1);
        break;
    case Qt::Key_PageUp:
        Zoom(true);
        break;
    case Qt::Key_PageDown:
        Zoom(false);
        break;
    case Qt::Key_Home:
        Fit();
        break;
    case Qt::Key_End:
        FollowNewest();
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CFlowDiagramView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    // As on the graph: the wheel zooms while the right button is held (or with Ctrl).
    if ((event->buttons() & Qt::RightButton) || (event->modifiers() & Qt::ControlModifier)) {
        for (int i = 0; i < std::abs(steps); ++i) Zoom(steps > 0);
    } else {
        Scroll(-steps);
    }
    event->accept();
}

void CFlowDiagramView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !flow) return QAbstractScrollArea::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    const int32_t i = ArrowAt(Layout(), at.x() + horizontalScrollBar()->value(), at.y());
    if (i < 0) return;
    const DiagramArrow& a = Layout().arrows[size_t(i)];
    selected = a.number;
    viewport()->update();
    emit packetClicked(qint64(a.number), qint64(a.time));
}

QString CFlowDiagramView::ToolTipAt(const QPoint& at) {
    if (!flow) return {};
    const int32_t i = ArrowAt(Layout(), at.x() + horizontalScrollBar()->value(), at.y());
    if (i < 0) return {};
    const DiagramArrow& a = Layout().arrows[size_t(i)];
    const Transaction& t = flow->transactions[size_t(a.transaction)];
    QString text = QString::fromStdString(t.label + ": " + OutcomeText(t));
    for (const FlowPacket& p : t.packets)
        if (p.number == a.number)
            text += QStringLiteral("\n#%1 %2 at %3 s")
                        .arg(p.number)
                        .arg(PacketRoleName(p.role))
                        .arg(QString::fromStdString(DiagramTimeText(p.time, timeOrigin)));
    if (findings && t.exchange >= 0)
        for (int32_t f : flow->exchanges[size_t(t.exchange)].findings) {
            if (size_t(f) >= findings->size()) continue;
            const analysis::Finding& finding = (*findings)[size_t(f)];
            if (!finding.packets.empty() && finding.packets.front().number == a.number)
                text +=
                    QStringLiteral("\n%1 %2: %3")
                        .arg(analysis::SeverityName(finding.severity), analysis::RuleInfoOf(finding.rule).key,
                             QString::fromStdString(finding.text));
        }
    return text;
}

bool CFlowDiagramView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
