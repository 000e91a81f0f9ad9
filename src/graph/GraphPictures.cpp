#include "GraphPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace graphbutton {

namespace {

const QColor kInk(0x34, 0x3d, 0x48);
const QColor kFace(0xf4, 0xf6, 0xf8);
const QColor kFaceOff(0xdc, 0xdf, 0xe3);
const QColor kEdge(0x9a, 0xa3, 0xad);
const QColor kLampOn(0x2e, 0x9e, 0x44);
const QColor kLampOff(0xb4, 0xba, 0xc1);
const QColor kGlass(0xd6, 0xe8, 0xf7);
const QColor kArrow(0x3b, 0x6f, 0xb6);

QPen Stroke(const QColor& c, qreal width) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QPolygonF Points(std::initializer_list<QPointF> pts) {
    return QPolygonF(QList<QPointF>(pts));
}

// A filled arrow head at `tip`, pointing along (dx, dy).
void Head(QPainter& p, QPointF tip, qreal dx, qreal dy, qreal size, const QColor& c) {
    const QPointF d(dx, dy), n(-dy, dx);
    p.setPen(Stroke(c, 1));
    p.setBrush(c);
    p.drawPolygon(Points({tip, tip - d * size + n * size * 0.8, tip - d * size - n * size * 0.8}));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c, qreal width = 3) {
    const qreal len = std::max(1e-6, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const qreal dx = (to.x() - from.x()) / len, dy = (to.y() - from.y()) / len;
    p.setPen(Stroke(c, width));
    p.drawLine(from, to - QPointF(dx, dy) * 4);
    Head(p, to, dx, dy, 7, c);
}

// A magnifier with + or - in the glass and two arrows showing the axis it works on.
void Magnifier(QPainter& p, bool in, bool vertical) {
    const QPointF c(20, 20);
    p.setPen(Stroke(kInk, 4));
    p.drawLine(c + QPointF(7, 7), c + QPointF(14, 14));
    p.setPen(Stroke(kInk, 2));
    p.setBrush(kGlass);
    p.drawEllipse(c, 10, 10);
    p.setPen(Stroke(kInk, 2.5));
    p.drawLine(c + QPointF(-5, 0), c + QPointF(5, 0));
    if (in) p.drawLine(c + QPointF(0, -5), c + QPointF(0, 5));
    if (vertical) {
        Arrow(p, {41, 20}, {41, 6}, kArrow, 2);
        Arrow(p, {41, 24}, {41, 38}, kArrow, 2);
    } else {
        Arrow(p, {28, 41}, {40, 41}, kArrow, 2);
        Arrow(p, {24, 41}, {10, 41}, kArrow, 2);
    }
}

// Brackets around a span with arrows pushing into them: fitting.
void Fit(QPainter& p, bool vertical) {
    p.save();
    if (!vertical) {
        p.translate(48, 0);
        p.rotate(90);
    }
    p.setPen(Stroke(kInk, 3));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(Points({{12, 10}, {12, 6}, {36, 6}, {36, 10}}));
    p.drawPolyline(Points({{12, 38}, {12, 42}, {36, 42}, {36, 38}}));
    p.setPen(Stroke(QColor(0xe0, 0x4f, 0x1e), 2.5));
    QPainterPath wave;
    wave.moveTo(8, 24);
    wave.cubicTo(16, 12, 22, 12, 24, 24);
    wave.cubicTo(26, 36, 32, 36, 40, 24);
    p.drawPath(wave);
    p.restore();
}

void Flip(QPainter& p) {
    p.setPen(Stroke(kInk, 2));
    p.drawLine(QPointF(6, 24), QPointF(42, 24));
    Arrow(p, {16, 20}, {16, 5}, kArrow);
    Arrow(p, {32, 28}, {32, 43}, QColor(0xe0, 0x4f, 0x1e));
}

// Draws a design of w × h units centred and scaled into the pixmap.
template <class Draw> QPixmap Render(QSize size, qreal w, qreal h, bool on, bool framed, Draw draw) {
    if (size.isEmpty()) return QPixmap();
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (framed) {
        p.setPen(Stroke(kEdge, 1));
        p.setBrush(on ? kFace : kFaceOff);
        p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 4, 4);
    }
    const qreal s = std::min((size.width() - 4) / w, (size.height() - 4) / h);
    p.translate((size.width() - w * s) / 2, (size.height() - h * s) / 2);
    p.scale(s, s);
    draw(p);
    return pm;
}

// An area switch: a lamp and the area's name.
QPixmap AreaPicture(QSize size, bool on, const char* name) {
    if (size.isEmpty()) return QPixmap();
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Stroke(kEdge, 1));
    p.setBrush(on ? kFace : kFaceOff);
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 5, 5);
    const qreal r = std::min(size.height() * 0.22, 8.0);
    const QPointF lamp(size.height() * 0.5, size.height() * 0.5);
    p.setPen(Stroke(on ? kLampOn.darker(140) : kEdge, 1));
    p.setBrush(on ? kLampOn : kLampOff);
    p.drawEllipse(lamp, r, r);
    QFont f = p.font();
    f.setPixelSize(std::max(8, int(size.height() * 0.42)));
    f.setBold(true);
    p.setFont(f);
    p.setPen(on ? kInk : kEdge.darker(120));
    p.drawText(QRectF(lamp.x() + r + 6, 0, size.width() - lamp.x() - r - 8, size.height()),
               Qt::AlignVCenter | Qt::AlignLeft, QString::fromLatin1(name));
    return pm;
}

// A trace switch: a stroke of the trace's colour and the line's name; greyed out when off.
QPixmap TracePicture(QSize size, bool on, const QColor& ink, const char* name) {
    if (size.isEmpty()) return QPixmap();
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Stroke(kEdge, 1));
    p.setBrush(on ? QColor(0x20, 0x24, 0x2a) : kFaceOff);
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 4, 4);
    const QColor stroke = on ? ink : kLampOff;
    const qreal h = size.height(), w = size.width();
    // The name above, a step of the trace below it; a button too low to read a name by shows the step
    // alone (its tool tip names it).
    const bool named = h >= 22;
    const qreal low = named ? 0.86 : 0.75, high = named ? 0.62 : 0.25;
    p.setPen(Stroke(stroke, std::max(1.5, h / 14)));
    p.drawPolyline(Points({{w * 0.1, h * low}, {w * 0.32, h * low}, {w * 0.4, h * high}, {w * 0.6, h * high},
                           {w * 0.68, h * low}, {w * 0.9, h * low}}));
    if (!named) return pm;
    QFont f = p.font();
    f.setPixelSize(std::max(7, int(h * 0.36)));
    f.setBold(true);
    p.setFont(f);
    p.setPen(on ? QColor(Qt::white) : kEdge.darker(120));
    p.drawText(QRectF(0, h * 0.04, w, h * 0.5), Qt::AlignCenter, QString::fromLatin1(name));
    return pm;
}

} // namespace

QPixmap Picture(uint32_t id, QSize size, bool on, const QColor& ink) {
    switch (id) {
    case kVoltageArea:
        return AreaPicture(size, on, "Voltage");
    case kCurrentArea:
        return AreaPicture(size, on, "Current");
    case kWattageArea:
        return AreaPicture(size, on, "Wattage");
    case kVbusVoltage:
    case kVbusCurrent:
        return TracePicture(size, on, ink, "VBUS");
    case kCc1Voltage:
    case kCc1Current:
        return TracePicture(size, on, ink, "CC1");
    case kCc2Voltage:
    case kCc2Current:
        return TracePicture(size, on, ink, "CC2");
    case kVoltageZoomIn:
    case kCurrentZoomIn:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Magnifier(p, true, true); });
    case kVoltageZoomOut:
    case kCurrentZoomOut:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Magnifier(p, false, true); });
    case kTimeZoomIn:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Magnifier(p, true, false); });
    case kTimeZoomOut:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Magnifier(p, false, false); });
    case kVoltageUp:
    case kCurrentUp:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Arrow(p, {24, 40}, {24, 8}, kArrow, 5); });
    case kVoltageDown:
    case kCurrentDown:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Arrow(p, {24, 8}, {24, 40}, kArrow, 5); });
    case kScrollLeft:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Arrow(p, {40, 24}, {8, 24}, kArrow, 5); });
    case kScrollRight:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Arrow(p, {8, 24}, {40, 24}, kArrow, 5); });
    case kFitVoltage:
    case kFitCurrent:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Fit(p, true); });
    case kFitTime:
        return Render(size, 48, 48, true, true, [](QPainter& p) { Fit(p, false); });
    case kCurrentFlip:
        return Render(size, 48, 48, on, true, Flip);
    default:
        return QPixmap();
    }
}

const char* ToolTip(uint32_t id) {
    switch (id) {
    case kVoltageArea:
        return "Voltage graph on/off";
    case kCurrentArea:
        return "Current graph on/off";
    case kWattageArea:
        return "Wattage graph on/off";
    case kVbusVoltage:
        return "VBUS voltage";
    case kCc1Voltage:
        return "CC1 voltage";
    case kCc2Voltage:
        return "CC2 voltage";
    case kVbusCurrent:
        return "VBUS current and wattage";
    case kCc1Current:
        return "CC1 current and wattage";
    case kCc2Current:
        return "CC2 current and wattage";
    case kVoltageZoomIn:
        return "Voltage zoom in";
    case kVoltageZoomOut:
        return "Voltage zoom out";
    case kVoltageUp:
        return "Voltage up";
    case kVoltageDown:
        return "Voltage down";
    case kFitVoltage:
        return "Fit voltage";
    case kCurrentZoomIn:
        return "Current and wattage zoom in";
    case kCurrentZoomOut:
        return "Current and wattage zoom out";
    case kCurrentUp:
        return "Current and wattage up";
    case kCurrentDown:
        return "Current and wattage down";
    case kFitCurrent:
        return "Fit current and wattage";
    case kCurrentFlip:
        return "Turn current and wattage upside down";
    case kScrollLeft:
        return "Scroll left";
    case kScrollRight:
        return "Scroll right";
    case kTimeZoomOut:
        return "Time zoom out";
    case kTimeZoomIn:
        return "Time zoom in";
    case kFitTime:
        return "Fit time";
    default:
        return "";
    }
}

} // namespace graphbutton
