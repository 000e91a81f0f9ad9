#include "Pictures.h"

#include "CommandTable.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

// Palette shared by the pictures.
const QColor kInk(0x34, 0x3d, 0x48);        // outlines and line drawings
const QColor kPaper(0xff, 0xff, 0xff);      // document sheets
const QColor kDeviceBody(0xa7, 0xb0, 0xb9); // the box the receptacle is built into
const QColor kShell(0xcb, 0xd0, 0xd5);      // connector metal
const QColor kCavity(0x5b, 0x63, 0x6d);     // inside of the receptacle
const QColor kOvermold(0x2f, 0x36, 0x40);   // plug body and cable
const QColor kContact(0xd4, 0xa0, 0x17);    // gold contacts
const QColor kCurrent(0xe0, 0x4f, 0x1e);    // current arrow
const QColor kVbus(0xf5, 0xb0, 0x00);       // VBUS present
const QColor kGo(0x2e, 0x9e, 0x44);         // run
const QColor kGoDark(0x1d, 0x6b, 0x2d);
const QColor kBlue(0x3b, 0x6f, 0xb6);
const QColor kBlueDark(0x24, 0x46, 0x7a);
const QColor kStop(0xc0, 0x39, 0x2b);
const QColor kFolder(0xe6, 0xb8, 0x4a);
const QColor kBin(0xdf, 0xe3, 0xe7);

QPen Stroke(const QColor& c, qreal width) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Paints a design of designW × designH units, scaled to fit and centred, on a transparent pixmap.
template <class Draw> QPixmap Render(QSize size, qreal designW, qreal designH, Draw draw) {
    if (size.isEmpty()) return QPixmap();
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(size.width() / designW, size.height() / designH);
    p.translate((size.width() - designW * s) / 2, (size.height() - designH * s) / 2);
    p.scale(s, s);
    draw(p);
    return pm;
}

QPolygonF Points(std::initializer_list<QPointF> pts) {
    return QPolygonF(QList<QPointF>(pts));
}

// ---------------------------------------------------------------------------------------------
// Direction pictures, 120 × 54 units: connectors above, the current below along y = 46.

void DrawReceptacle(QPainter& p) {
    // The device the receptacle is built into.
    p.setPen(Stroke(kInk, 1.5));
    p.setBrush(kDeviceBody);
    p.drawRoundedRect(QRectF(2, 2, 30, 36), 4, 4);
    // Shell, open towards the plug, with the tongue inside.
    p.setPen(Qt::NoPen);
    p.setBrush(kCavity);
    p.drawRect(QRectF(20, 8, 31, 24));
    QPainterPath shell;
    shell.moveTo(52, 8);
    shell.lineTo(20, 8);
    shell.lineTo(20, 32);
    shell.lineTo(52, 32);
    p.setBrush(Qt::NoBrush);
    p.setPen(Stroke(kInk, 5));
    p.drawPath(shell);
    p.setPen(Stroke(kShell, 2.5));
    p.drawPath(shell);
    p.setPen(Stroke(kInk, 1));
    p.setBrush(kOvermold);
    p.drawRoundedRect(QRectF(24, 17.5, 22, 5), 1.5, 1.5);
    p.setPen(Stroke(kContact, 1.5));
    p.drawLine(QPointF(27, 20), QPointF(43, 20));
}

void DrawPlug(QPainter& p) {
    // Cable, overmold, then the metal shell with its slot.
    p.setPen(Stroke(kInk, 1));
    p.setBrush(kOvermold);
    p.drawRoundedRect(QRectF(102, 15.5, 17, 9), 3, 3);
    p.drawRoundedRect(QRectF(82, 6, 24, 28), 5, 5);
    p.setPen(Stroke(kInk, 1.5));
    p.setBrush(kShell);
    p.drawRoundedRect(QRectF(57, 10.5, 27, 19), 9.5, 9.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(61, 17.5, 19, 5), 2.5, 2.5);
}

// A thick arrow along y = 46 with its tip at tipX, pointing left or right.
void DrawCurrentArrow(QPainter& p, qreal tipX, bool pointsRight) {
    const qreal dir = pointsRight ? -1 : 1; // from the tip back along the shaft
    const qreal headBase = tipX + dir * 15;
    const qreal tail = tipX + dir * 88;
    p.setPen(Stroke(kCurrent, 6));
    p.drawLine(QPointF(headBase, 46), QPointF(tail, 46));
    p.setPen(Stroke(kCurrent, 2));
    p.setBrush(kCurrent);
    p.drawPolygon(Points({{tipX, 46}, {headBase, 39.5}, {headBase, 52.5}}));
}

void DrawVbusPresent(QPainter& p) {
    QPen dashes = Stroke(kInk, 2);
    dashes.setDashPattern({2, 3});
    p.setPen(dashes);
    p.drawLine(QPointF(14, 46), QPointF(106, 46));
    p.setPen(Stroke(kInk, 1.2));
    p.setBrush(kVbus);
    p.drawPolygon(Points(
        {{63, 38.5}, {54, 47.5}, {59.25, 47.5}, {56.25, 53.5}, {66, 43.75}, {60.75, 43.75}, {64.5, 38.5}}));
}

// ---------------------------------------------------------------------------------------------
// Button pictures, 48 × 48 units.

void DrawRun48(QPainter& p) {
    p.setPen(Stroke(kGoDark, 2.5));
    p.setBrush(kGo);
    p.drawPolygon(Points({{15, 9}, {15, 39}, {40, 24}}));
}

void DrawPause48(QPainter& p) {
    p.setPen(Stroke(kBlueDark, 2));
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(12, 9, 9, 30), 2, 2);
    p.drawRoundedRect(QRectF(27, 9, 9, 30), 2, 2);
}

void DrawBin48(QPainter& p) {
    p.setPen(Stroke(kInk, 2.5));
    p.setBrush(kBin);
    p.drawRect(QRectF(19, 5, 10, 5));
    p.drawPolygon(Points({{12, 16}, {36, 16}, {33, 43}, {15, 43}}));
    p.drawRoundedRect(QRectF(8, 10, 32, 6), 1.5, 1.5);
    p.setPen(Stroke(kStop, 2.5));
    for (qreal x : {19.0, 24.0, 29.0}) p.drawLine(QPointF(x, 21), QPointF(x, 38));
}

// ---------------------------------------------------------------------------------------------
// Toolbar icons, 24 × 24 units.

void DrawSheet(QPainter& p, qreal left, qreal right, qreal bottom) {
    const qreal fold = 5;
    p.setPen(Stroke(kInk, 1.5));
    p.setBrush(kPaper);
    p.drawPolygon(Points({{left, 2}, {right - fold, 2}, {right, 2 + fold}, {right, bottom}, {left, bottom}}));
    p.drawPolyline(Points({{right - fold, 2}, {right - fold, 2 + fold}, {right, 2 + fold}}));
}

void DrawMagnifier(QPainter& p, QPointF centre, qreal radius) {
    p.setPen(Stroke(kInk, 3));
    const QPointF off(radius * 0.72, radius * 0.72);
    p.drawLine(centre + off, centre + off * 1.9);
    p.setPen(Stroke(kInk, 1.8));
    p.setBrush(QColor(0xd6, 0xe8, 0xf7));
    p.drawEllipse(centre, radius, radius);
}

void DrawSmallArrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(Stroke(c, 2));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1e-6, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.setBrush(c);
    p.setPen(Stroke(c, 1));
    p.drawPolygon(Points({to + d * 1.5, to - d * 3.5 + n * 3.5, to - d * 3.5 - n * 3.5}));
}

void DrawFunnel(QPainter& p, const QColor& fill) {
    p.setPen(Stroke(kInk, 1.5));
    p.setBrush(fill);
    p.drawPolygon(Points({{3, 4}, {21, 4}, {14, 12}, {14, 19}, {10, 22}, {10, 12}}));
}

void DrawIcon(QPainter& p, uint32_t id) {
    switch (id) {
    case cmd::kNew:
        DrawSheet(p, 5, 19, 22);
        break;
    case cmd::kOpen:
        p.setPen(Stroke(kInk, 1.5));
        p.setBrush(kFolder.darker(115));
        p.drawPolygon(Points({{2, 5}, {9, 5}, {11, 7}, {19, 7}, {19, 20}, {2, 20}}));
        p.setBrush(kFolder);
        p.drawPolygon(Points({{2, 20}, {6, 11}, {23, 11}, {19, 20}}));
        break;
    case cmd::kSaveAs:
        p.setPen(Stroke(kBlueDark, 1.5));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(2, 2, 17, 17), 2, 2);
        p.setBrush(kPaper);
        p.drawRect(QRectF(6, 2, 9, 5));
        p.drawRect(QRectF(5, 11, 11, 8));
        p.setPen(Stroke(kInk, 1.2));
        p.setBrush(kFolder);
        p.drawPolygon(Points({{12, 22}, {13, 18}, {20, 11}, {23, 14}, {16, 21}}));
        break;
    case cmd::kExport:
        DrawSheet(p, 2, 14, 22);
        DrawSmallArrow(p, {8, 14}, {21, 14}, kGo);
        break;
    case cmd::kRun:
        p.setPen(Stroke(kGoDark, 1.5));
        p.setBrush(kGo);
        p.drawPolygon(Points({{7, 4}, {7, 20}, {20, 12}}));
        break;
    case cmd::kStop:
        p.setPen(Stroke(kStop.darker(130), 1.5));
        p.setBrush(kStop);
        p.drawRoundedRect(QRectF(5, 5, 14, 14), 1.5, 1.5);
        break;
    case cmd::kClear:
        p.scale(0.5, 0.5);
        DrawBin48(p);
        break;
    case cmd::kFind:
        DrawMagnifier(p, {10, 10}, 6.5);
        break;
    // The icons show what the commands do.
    case cmd::kFindNext:
        DrawMagnifier(p, {9, 8}, 5);
        DrawSmallArrow(p, {11, 20}, {22, 20}, kBlue);
        break;
    case cmd::kFindPrev:
        DrawMagnifier(p, {15, 8}, 5);
        DrawSmallArrow(p, {13, 20}, {2, 20}, kBlue);
        break;
    case cmd::kDisplayFilterSettings:
        DrawFunnel(p, kBlue);
        break;
    case cmd::kDisableDisplayFilters:
        DrawFunnel(p, kBin);
        p.setPen(Stroke(kStop, 2.5));
        p.drawLine(QPointF(3, 21), QPointF(21, 3));
        break;
    case cmd::kPdAutoScroll:
        p.setPen(Stroke(kInk, 2));
        for (qreal y : {5.0, 10.0, 15.0, 20.0}) p.drawLine(QPointF(2, y), QPointF(12, y));
        DrawSmallArrow(p, {18, 3}, {18, 20}, kBlue);
        break;
    case cmd::kShowGraph:
        p.setPen(Stroke(kInk, 1.5));
        p.drawPolyline(Points({{3, 2}, {3, 21}, {22, 21}}));
        p.setPen(Stroke(kBlue, 2));
        p.drawPolyline(Points({{5, 17}, {9, 10}, {13, 14}, {20, 4}}));
        break;
    case cmd::kShowPlots:
        p.setPen(Stroke(kInk, 1.2));
        p.drawPolyline(Points({{3, 19}, {8, 8}, {14, 14}, {21, 4}}));
        p.setPen(Stroke(kStop.darker(130), 1));
        p.setBrush(kStop);
        for (QPointF c : {QPointF(3, 19), QPointF(8, 8), QPointF(14, 14), QPointF(21, 4)})
            p.drawEllipse(c, 2.3, 2.3);
        break;
    case cmd::kShowPdPackets:
        p.setPen(Stroke(kInk, 1.5));
        p.drawLine(QPointF(1, 18), QPointF(23, 18));
        p.setPen(Stroke(kInk, 1));
        p.setBrush(kGo);
        p.drawRect(QRectF(2.5, 8, 5, 10));
        p.setBrush(kBlue);
        p.drawRect(QRectF(10, 8, 6, 10));
        p.setBrush(kFolder);
        p.drawRect(QRectF(18.5, 8, 3.5, 10));
        break;
    case cmd::kGraphAutoScroll:
        p.setPen(Stroke(kBlue, 2));
        p.drawPolyline(Points(
            {{2, 13}, {5, 13}, {5, 5}, {9, 5}, {9, 13}, {12, 13}, {12, 5}, {16, 5}, {16, 13}, {22, 13}}));
        DrawSmallArrow(p, {6, 20}, {21, 20}, kInk);
        break;
    case cmd::kRecordSettings:
        p.setPen(Stroke(kInk, 1.8));
        for (qreal y : {5.0, 12.0, 19.0}) p.drawLine(QPointF(2, y), QPointF(22, y));
        p.setPen(Stroke(kBlueDark, 1.2));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(6, 2, 4, 6), 1, 1);
        p.drawRoundedRect(QRectF(15, 9, 4, 6), 1, 1);
        p.drawRoundedRect(QRectF(9, 16, 4, 6), 1, 1);
        break;
    case cmd::kRecordFileSettings:
        DrawSheet(p, 3, 16, 21);
        p.setPen(Stroke(kInk, 1));
        for (qreal y : {10.0, 13.0, 16.0}) p.drawLine(QPointF(6, y), QPointF(12, y));
        p.setPen(Stroke(kStop.darker(130), 1.2));
        p.setBrush(kStop);
        p.drawEllipse(QPointF(18, 18), 4.5, 4.5);
        break;
    case cmd::kAbout:
        p.setPen(Stroke(kBlueDark, 1.5));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 12), 10, 10);
        p.setPen(Qt::NoPen);
        p.setBrush(kPaper);
        p.drawEllipse(QPointF(12, 7), 1.8, 1.8);
        p.drawRoundedRect(QRectF(10.5, 10, 3, 8.5), 1, 1);
        break;
    default:
        break;
    }
}

bool HasIcon(uint32_t id) {
    static constexpr uint32_t kIds[] = {cmd::kNew,
                                        cmd::kOpen,
                                        cmd::kSaveAs,
                                        cmd::kExport,
                                        cmd::kRun,
                                        cmd::kStop,
                                        cmd::kClear,
                                        cmd::kFind,
                                        32810,
                                        32811,
                                        cmd::kDisplayFilterSettings,
                                        cmd::kDisableDisplayFilters,
                                        cmd::kPdAutoScroll,
                                        cmd::kShowGraph,
                                        cmd::kShowPlots,
                                        cmd::kShowPdPackets,
                                        cmd::kGraphAutoScroll,
                                        cmd::kRecordSettings,
                                        cmd::kRecordFileSettings,
                                        cmd::kAbout};
    return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

// ---------------------------------------------------------------------------------------------
// Application icon, 64 × 64 units; packaging/ambrio.svg holds the same shapes.

void DrawAppIcon(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x4e, 0x79));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(Qt::NoBrush);
    p.setPen(Stroke(QColor(0xff, 0xb0, 0x00), 4));
    p.drawPolyline(Points({{8, 26},
                           {14, 26},
                           {14, 12},
                           {22, 12},
                           {22, 26},
                           {26, 26},
                           {26, 12},
                           {30, 12},
                           {30, 26},
                           {38, 26},
                           {38, 12},
                           {42, 12},
                           {42, 26},
                           {50, 26},
                           {50, 12},
                           {56, 12}}));
    p.setPen(QPen(Qt::white, 4));
    p.drawRoundedRect(QRectF(12, 34, 40, 18), 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(20, 41, 24, 4), 2, 2);
}

} // namespace

QPixmap DirectionPixmap(DirectionPicture which, QSize size) {
    return Render(size, 120, 54, [which](QPainter& p) {
        DrawReceptacle(p);
        DrawPlug(p);
        switch (which) {
        case DirectionPicture::PlugToReceptacle:
            DrawCurrentArrow(p, 12, false);
            break;
        case DirectionPicture::ReceptacleToPlug:
            DrawCurrentArrow(p, 108, true);
            break;
        case DirectionPicture::NoCurrent:
            DrawVbusPresent(p);
            break;
        }
    });
}

QPixmap ButtonPixmap(ButtonPicture which, int side) {
    return Render(QSize(side, side), 48, 48, [which](QPainter& p) {
        switch (which) {
        case ButtonPicture::Run:
            DrawRun48(p);
            break;
        case ButtonPicture::Pause:
            DrawPause48(p);
            break;
        case ButtonPicture::Clear:
            DrawBin48(p);
            break;
        }
    });
}

QIcon CommandIcon(uint32_t commandId) {
    if (!HasIcon(commandId)) return QIcon();
    QIcon icon;
    for (int side : {16, 20, 24, 32, 48})
        icon.addPixmap(
            Render(QSize(side, side), 24, 24, [commandId](QPainter& p) { DrawIcon(p, commandId); }));
    return icon;
}

QIcon AppIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Render(QSize(side, side), 64, 64, DrawAppIcon));
    return icon;
}
