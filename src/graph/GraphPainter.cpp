#include "GraphPainter.h"

#include "CaptureStore.h"
#include "Contrast.h"
#include "GraphAxes.h"
#include "GraphTexts.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kGutter = 86;
constexpr int kRightStrip = 28;
// Traces are cut to this far beyond the plot, so that a sample far outside the window cannot take the
// rasteriser out of its range.
constexpr double kFarX = 4096;
constexpr double kFarY = 100000;
// The summary pays once a column holds more than a few samples on average.
constexpr size_t kSamplesPerColumnForSummary = 4;

const QColor kMarkerAColour(255, 128, 0);
const QColor kMarkerBColour(255, 0, 128);
// By StripColour: marker A, marker B, selected, bookmarked, invalid, reset, port 0 to 3.
const QColor kStripColours[] = {kMarkerAColour,      kMarkerBColour,       QColor(100, 100, 255), QColor(200, 200, 0),
                                QColor(255, 0, 0),   QColor(255, 255, 0),  QColor(255, 0, 0),     QColor(0, 0, 255),
                                QColor(0, 100, 100), QColor(100, 100, 0)};
// Below the plot, dark as the plot itself: the light marker colours of the read-outs read on it.
const QColor kMeasurementBackground(20, 20, 20);

struct VrdBand {
    int32_t lower, upper; // mV
    GraphSettings::Region region;
    const char* label;
};
constexpr VrdBand kVrdBands[] = {
    {250, 610, GraphSettings::VrdUsb, "vRd-USB"},
    {700, 1160, GraphSettings::Vrd15, "vRd-1.5"},
    {1310, 2040, GraphSettings::Vrd30, "vRd-3.0"},
};

enum class HAlign { Left, Right, Centre };
enum class VAlign { Top, Bottom };

// Text on its own background box; (x, y) is the anchor the alignments name. The ink keeps its hue but
// is darkened or lightened as far as the background needs for the text to be read.
void Label(QPainter& p, const QFontMetrics& fm, const QString& text, int x, int y, HAlign h, VAlign v,
           const QColor& ink, const QColor& background) {
    const int w = fm.horizontalAdvance(text);
    const int height = fm.height();
    const int left = h == HAlign::Left ? x : h == HAlign::Right ? x - w : x - w / 2;
    const int top = v == VAlign::Top ? y : y - height;
    p.fillRect(left, top, w, height, background);
    p.setPen(ReadableInk(ink, background));
    p.drawText(left, top + fm.ascent(), text);
}

// The row height of a value label: its digits and unit letters with a pixel above and below, not the
// font's whole line. Labels as close as that still read apart, and a low area keeps two of them.
int ValueLabelHeight(const QFontMetrics& fm) {
    return fm.tightBoundingRect(QStringLiteral("-0123456789.VmAW")).height() + 2;
}

// A value label in a row ValueLabelHeight() high whose top is `top`.
void ValueLabel(QPainter& p, const QFontMetrics& fm, const QString& text, int x, int top, HAlign h,
                const QColor& ink, const QColor& background) {
    const int w = fm.horizontalAdvance(text);
    const QRect ink_ = fm.tightBoundingRect(QStringLiteral("-0123456789.VmAW"));
    const int left = h == HAlign::Left ? x : x - w;
    p.fillRect(left, top, w, ink_.height() + 2, background);
    p.setPen(ReadableInk(ink, background));
    // The tallest glyph's top one pixel below the row's top.
    p.drawText(left, top + 1 - ink_.top(), text);
}

QString Q(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

GraphSettings::Trace StyleOf(GraphValue v) {
    switch (v) {
    case GraphValue::VbusVoltage:
        return GraphSettings::VbusVoltage;
    case GraphValue::Cc1Voltage:
        return GraphSettings::Cc1Voltage;
    case GraphValue::Cc2Voltage:
        return GraphSettings::Cc2Voltage;
    case GraphValue::VbusCurrent:
        return GraphSettings::VbusCurrent;
    case GraphValue::Cc1Current:
        return GraphSettings::Cc1Current;
    case GraphValue::Cc2Current:
        return GraphSettings::Cc2Current;
    case GraphValue::VbusPower:
        return GraphSettings::VbusPower;
    case GraphValue::Cc1Power:
        return GraphSettings::Cc1Power;
    case GraphValue::Cc2Power:
        return GraphSettings::Cc2Power;
    }
    return GraphSettings::VbusVoltage;
}

QColor TraceColour(const GraphSettings& s, GraphSettings::Trace t) {
    return GraphColour(s.traceColour[size_t(t)]);
}

QColor InkColour(const GraphSettings& s, GraphInk ink) {
    switch (ink) {
    case GraphInk::MarkerO:
        return GraphColour(s.markerOColour);
    case GraphInk::MarkerX:
        return GraphColour(s.markerXColour);
    case GraphInk::MarkerA:
        return kMarkerAColour;
    case GraphInk::MarkerB:
        return kMarkerBColour;
    case GraphInk::VbusVoltage:
        return TraceColour(s, GraphSettings::VbusVoltage);
    case GraphInk::VbusCurrent:
        return TraceColour(s, GraphSettings::VbusCurrent);
    case GraphInk::VbusPower:
        return TraceColour(s, GraphSettings::VbusPower);
    case GraphInk::Cc1Voltage:
        return TraceColour(s, GraphSettings::Cc1Voltage);
    case GraphInk::Cc2Voltage:
        return TraceColour(s, GraphSettings::Cc2Voltage);
    case GraphInk::TimeAxis:
        return GraphColour(s.axisColour[GraphSettings::TimeAxis]);
    }
    return Qt::black;
}

struct Frame {
    const GraphScene& scene;
    const CGraphModel& m;
    const GraphSettings& st;
    QFontMetrics fm;
    int plotLeft, plotTop, plotWidth, plotHeight, plotRight, plotBottom;
    QRect plot;

    explicit Frame(const GraphScene& s)
        : scene(s), m(*s.model), st(*s.style), fm(s.font), plotLeft(m.Plot().left), plotTop(m.Plot().top),
          plotWidth(m.Plot().width), plotHeight(m.Plot().height), plotRight(plotLeft + plotWidth),
          plotBottom(plotTop + plotHeight), plot(plotLeft, plotTop, plotWidth, plotHeight) {}

    QRect Band(GraphArea a) const {
        int32_t top, bottom;
        m.AreaBand(a, &top, &bottom);
        return QRect(plotLeft, top, plotWidth, std::max(0, bottom - top));
    }
    QColor Frame_() const { return GraphColour(st.frameColour); }
};

// vRd bands: where a sink's Rd sits on CC for each current the source's Rp offers. `fn` gets each band
// that is drawn, with its rectangle and colour, clipped to the voltage area.
template <class Fn> void ForEachVrdBand(QPainter& p, const Frame& f, Fn fn) {
    const bool ccShown =
        f.m.TraceOn(GraphTraceSwitch::Cc1Voltage) || f.m.TraceOn(GraphTraceSwitch::Cc2Voltage);
    if (!f.m.AreaOn(GraphArea::Voltage) || !f.scene.vrdBands || !ccShown) return;
    p.save();
    p.setClipRect(f.Band(GraphArea::Voltage).intersected(f.plot));
    const GraphAreaState& v = f.m.Area(GraphArea::Voltage);
    const int32_t zeroY = f.m.ZeroY(GraphArea::Voltage);
    for (const VrdBand& b : kVrdBands) {
        if (!f.st.backgroundOn[b.region]) continue;
        const int top = zeroY - int(float(b.upper) * v.scale);
        const int height = int(float(b.upper - b.lower) * v.scale);
        fn(b, QRect(f.plotLeft, top, f.plotWidth, height), GraphColour(f.st.backgroundColour[b.region]));
    }
    p.restore();
}

// The names of the vRd bands tall enough for one, written over the voltage grid that would cross them.
void PaintVrdLabels(QPainter& p, const Frame& f) {
    ForEachVrdBand(p, f, [&](const VrdBand& b, const QRect& band, const QColor& colour) {
        if (band.height() > 12)
            Label(p, f.fm, b.label, band.left(), band.top() + band.height(), HAlign::Left, VAlign::Bottom,
                  TraceColour(f.st, GraphSettings::VbusVoltage), colour);
    });
}

void PaintBackgrounds(QPainter& p, const Frame& f) {
    const GraphSettings& st = f.st;
    auto fillArea = [&](GraphArea a, GraphSettings::Region r) {
        if (f.m.AreaOn(a) && st.backgroundOn[r]) p.fillRect(f.Band(a), GraphColour(st.backgroundColour[r]));
    };
    p.setClipRect(f.plot);
    fillArea(GraphArea::Current, GraphSettings::CurrentArea);
    fillArea(GraphArea::Voltage, GraphSettings::VoltageArea);

    ForEachVrdBand(
        p, f, [&](const VrdBand&, const QRect& band, const QColor& colour) { p.fillRect(band, colour); });
    fillArea(GraphArea::Wattage, GraphSettings::WattageArea);
    if (f.scene.showPdPackets && st.backgroundOn[GraphSettings::PdStrip])
        p.fillRect(f.plotLeft, f.m.PdStripTop(), f.plotWidth, CGraphModel::kPdStripHeight,
                   GraphColour(st.backgroundColour[GraphSettings::PdStrip]));
}

void PaintTimeAxis(QPainter& p, const Frame& f) {
    const int stripTop = f.plotTop - CGraphModel::kTimeLabelStrip;
    p.setClipping(false);
    p.fillRect(f.plotLeft, stripTop, f.plotWidth, CGraphModel::kTimeLabelStrip, f.Frame_());
    p.setClipRect(QRect(f.plotLeft, stripTop, f.plotWidth, f.plotHeight + CGraphModel::kTimeLabelStrip));
    const QColor ink = GraphColour(f.st.axisColour[GraphSettings::TimeAxis]);
    p.setPen(QPen(ink, 1));
    for (const TimeTick& t : TimeTicks(f.m, f.st.gridOn[GraphSettings::TimeAxis]))
        p.drawLine(f.plotLeft + t.x, f.plotTop, f.plotLeft + t.x, f.plotBottom);
    const TimeLabels labels =
        PlaceTimeLabels(f.m, [&](const std::string& text) { return f.fm.horizontalAdvance(Q(text)); });
    for (const TimeLabel& l : labels.labels)
        Label(p, f.fm, Q(l.text), f.plotLeft + l.x, f.plotTop - 1, HAlign::Centre, VAlign::Bottom, ink,
              f.Frame_());
}

void PaintValueAxis(QPainter& p, const Frame& f, GraphArea a) {
    if (!f.m.AreaOn(a)) return;
    const GraphSettings& st = f.st;
    const int gutterTop = f.plotTop - CGraphModel::kTimeLabelStrip;
    const int gutterHeight = f.plotHeight + 2 * CGraphModel::kTimeLabelStrip;
    p.setClipping(false);
    if (a == GraphArea::Voltage) p.fillRect(f.plotLeft - kGutter, gutterTop, kGutter, gutterHeight, f.Frame_());
    if (a == GraphArea::Current) p.fillRect(f.plotRight, gutterTop, kRightStrip, gutterHeight, f.Frame_());
    const QRect band = f.Band(a);
    p.setClipRect(QRect(0, band.top(), f.plotRight + kGutter + f.plotLeft, band.height()));

    const GraphSettings::Axis axis = a == GraphArea::Voltage   ? GraphSettings::VoltageAxis
                                     : a == GraphArea::Current ? GraphSettings::CurrentAxis
                                                               : GraphSettings::WattageAxis;
    const QColor lineInk = GraphColour(st.axisColour[axis]);
    const QColor textInk = a == GraphArea::Wattage ? TraceColour(st, GraphSettings::VbusPower) : lineInk;
    const int labelHeight = ValueLabelHeight(f.fm);
    const std::vector<ValueTick> ticks = ValueTicks(f.m, a, st.gridOn[axis], labelHeight);
    for (const ValueTick& t : ticks) {
        if (!t.line) continue;
        p.setPen(QPen(lineInk, t.value == 0 ? 2 : 1));
        p.drawLine(f.plotLeft, t.y, f.plotRight, t.y);
    }
    // Labels whole inside the band: a label cut by its edge reads as another number.
    const std::vector<int32_t> tops = PlaceValueLabels(ticks, band.top(), band.top() + band.height(), labelHeight);
    for (size_t i = 0; i < ticks.size(); ++i) {
        if (tops[i] < 0) continue;
        if (a == GraphArea::Current)
            ValueLabel(p, f.fm, Q(ticks[i].text), f.plotRight + 1, tops[i], HAlign::Left, textInk, f.Frame_());
        else
            ValueLabel(p, f.fm, Q(ticks[i].text), f.plotLeft - 1, tops[i], HAlign::Right, textInk, f.Frame_());
    }
}

void PaintPdStrip(QPainter& p, const Frame& f) {
    if (!f.scene.showPdPackets || !f.scene.store) return;
    const CCaptureStore& store = *f.scene.store;
    p.setClipRect(f.plot);
    const int stripTop = f.m.PdStripTop();
    const std::vector<StripBox> boxes = StripBoxes(store, f.scene.strip, f.m, f.scene.selected);
    std::vector<QString> texts(boxes.size());
    std::vector<int32_t> widths(boxes.size(), 0);
    char text[160];
    for (size_t i = 0; i < boxes.size(); ++i) {
        const StripBox& b = boxes[i];
        p.fillRect(b.x, stripTop, b.width, CGraphModel::kPdStripHeight, kStripColours[size_t(b.colour)]);
        if (!b.label && !b.marked) continue;
        const CCCPacket& packet = *b.packet;
        const char* prefix = !b.marked                        ? ""
                             : &packet == store.markerAPacket ? "A "
                             : &packet == store.markerBPacket ? "B "
                                                              : "";
        std::snprintf(text, sizeof text, "%s#%d %s", prefix, packet.index, packet.GetMessageTypeText().c_str());
        texts[i] = QString::fromLatin1(text);
        widths[i] = f.fm.horizontalAdvance(texts[i]);
    }
    // The labels share one row above the strip, clear of the traces and of one another; where a marked
    // label had to make way, a line in its colour rises from its box.
    const std::vector<StripLabel> labels = PlaceStripLabels(boxes, widths, store, f.plotLeft, f.plotRight);
    for (const StripLabel& l : labels) {
        const int boxX = std::clamp(boxes[l.box].x, f.plotLeft, f.plotRight - 1);
        if (boxX >= l.left && boxX < l.left + l.width) continue;
        p.setPen(QPen(kStripColours[size_t(boxes[l.box].colour)], 1));
        p.drawLine(boxX, stripTop - f.fm.height(), boxX, stripTop);
    }
    for (const StripLabel& l : labels) {
        const QColor colour = kStripColours[size_t(boxes[l.box].colour)];
        Label(p, f.fm, texts[l.box], l.left, stripTop, HAlign::Left, VAlign::Bottom, InkOn(colour), colour);
    }
}

// Cuts the ends of a polyline (x never decreases along it) to the far bounds, and its rows likewise.
QPolygonF ToPolygon(const std::vector<TracePoint>& points, double minX, double maxX) {
    QPolygonF poly;
    poly.reserve(qsizetype(points.size()));
    auto clampY = [](double y) { return std::clamp(y, -kFarY, kFarY); };
    for (size_t i = 0; i < points.size(); ++i) {
        const TracePoint& pt = points[i];
        if (pt.x < minX) {
            if (i + 1 < points.size() && points[i + 1].x >= minX) {
                const TracePoint& n = points[i + 1];
                const double y = pt.y + (n.y - pt.y) * (minX - pt.x) / (n.x - pt.x);
                poly.append(QPointF(minX, clampY(y)));
            }
            continue;
        }
        if (pt.x > maxX) {
            if (i > 0 && points[i - 1].x <= maxX) {
                const TracePoint& b = points[i - 1];
                const double y = b.y + (pt.y - b.y) * (maxX - b.x) / (pt.x - b.x);
                poly.append(QPointF(maxX, clampY(y)));
            }
            break;
        }
        poly.append(QPointF(pt.x, clampY(pt.y)));
    }
    return poly;
}

void PaintTraces(QPainter& p, const Frame& f) {
    if (!f.scene.store) return;
    const CCaptureStore& store = *f.scene.store;
    if (store.SampleCount() == 0) return;
    p.setClipRect(f.plot);
    const SampleSpan span = TraceSpan(store, f.m.ViewStart(), f.m.ViewEnd());
    const PeakTargets peaks = PeakTargetsOf(store);
    const bool summaryReady = f.scene.summary && f.scene.summary->InSync(store);
    bool useSummary = false;
    switch (f.scene.traces) {
    case TraceMethod::Auto:
        useSummary = summaryReady && !f.scene.showMeasuringPoints &&
                     span.Count() > kSamplesPerColumnForSummary * size_t(f.plotWidth);
        break;
    case TraceMethod::Walk:
        break;
    case TraceMethod::Summary:
        useSummary = summaryReady;
        break;
    }
    std::vector<TraceColumn> columns;
    std::vector<ColumnValues> values;
    if (useSummary) {
        // Columns and their values once for every trace.
        columns = TraceColumns(store, TraceGeometryOf(f.m, GraphValue::VbusVoltage), span, f.scene.summary);
        values = ColumnValuesOf(store, *f.scene.summary, columns);
    }

    TracePath path;
    std::vector<TracePoint> drawn;
    QList<QLineF> lines;
    const double minX = f.plotLeft - kFarX, maxX = f.plotRight + kFarX;
    for (const GraphTraceInfo& info : kTraceOrder) {
        if (!TraceShown(f.m, info.value)) continue;
        const TraceGeometry g = TraceGeometryOf(f.m, info.value);
        drawn.clear();
        if (useSummary)
            SummariseTrace(store, *f.scene.summary, columns, values, g, &peaks, &path);
        else
            WalkTrace(store, g, span, &peaks, &path, f.scene.showMeasuringPoints ? &drawn : nullptr);
        const GraphSettings::Trace style = StyleOf(info.value);
        const QColor colour = TraceColour(f.st, style);
        const int width = f.st.traceWidth[size_t(style)];
        // Each step of the line is drawn on its own, ends included: a pixel column's points all lie on
        // one vertical line, so its steps cover the same pixels in whichever order the walk visits
        // them, and no join depends on the step before.
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        const QPolygonF poly = ToPolygon(path.points, minX, maxX);
        if (poly.size() == 1) {
            p.drawPoint(poly.front());
        } else if (poly.size() > 1) {
            lines.clear();
            for (qsizetype i = 1; i < poly.size(); ++i) lines.append(QLineF(poly[i - 1], poly[i]));
            p.drawLines(lines);
        }

        for (int64_t peak : {path.peakMax, path.peakMin}) {
            if (peak < 0) continue;
            const CVbusInfo& s = *store.SampleAt(size_t(peak));
            const double x = double(f.plotLeft) + double(g.X(store.DisplayTime(s)));
            const double y = double(g.zeroY) - double(g.P(SampleValue(s, info.value)));
            if (x < minX || x > maxX) continue;
            p.setPen(QPen(colour, width + 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            p.drawRect(QRectF(x - 3, std::clamp(y, -kFarY, kFarY) - 3, 7, 7));
        }
        if (f.scene.showMeasuringPoints) {
            p.setPen(QPen(colour, 1));
            for (const TracePoint& pt : drawn)
                if (pt.x >= minX && pt.x <= maxX) p.drawEllipse(QPointF(pt.x, std::clamp(pt.y, -kFarY, kFarY)), 2, 2);
        }
    }
}

void PaintMarkers(QPainter& p, const Frame& f) {
    p.setClipRect(f.plot);
    const int step = GraphLineStep(f.scene.font, f.m.FontHeight()) + 1;
    for (GraphMarker marker : {GraphMarker::O, GraphMarker::X}) {
        const CGraphModel::MarkerPlace place = f.m.PlaceOf(marker);
        const bool highlighted = f.m.Highlighted() == marker;
        const bool offScreen = place.offLeft || place.offRight;
        const QColor colour = GraphColour(marker == GraphMarker::O ? f.st.markerOColour : f.st.markerXColour);
        const int x = f.plotLeft + place.x;
        if (!offScreen || highlighted) {
            p.setPen(QPen(colour, highlighted ? 5 : 2, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(x, f.plotTop, x, f.plotBottom);
        }
        const QString name = Q(MarkerLabelText(marker, place));
        if (place.offLeft)
            Label(p, f.fm, name, f.plotLeft, f.plotBottom, HAlign::Left, VAlign::Bottom, InkOn(colour), colour);
        else if (place.offRight)
            Label(p, f.fm, name, f.plotRight, f.plotBottom, HAlign::Right, VAlign::Bottom, InkOn(colour), colour);
        else
            Label(p, f.fm, name, x, f.plotBottom, HAlign::Left, VAlign::Bottom, InkOn(colour), colour);

        if (!highlighted || !f.scene.store) continue;
        const CVbusInfo* sample = f.scene.store->FindSampleAt(f.m.MarkerTime(marker));
        if (!sample) continue;
        const bool leftHalf = place.x < f.plotWidth / 2;
        int y = f.plotTop + 2;
        for (const GraphText& line : MarkerPanelTexts(marker, *f.scene.store, *sample, f.m.ReverseCurrent())) {
            const QColor background = InkColour(f.st, line.ink);
            if (leftHalf)
                Label(p, f.fm, Q(line.text), x + 3, y, HAlign::Left, VAlign::Top, InkOn(background), background);
            else
                Label(p, f.fm, Q(line.text), x - 1, y, HAlign::Right, VAlign::Top, InkOn(background), background);
            y += step;
        }
    }
}

void PaintPointer(QPainter& p, const Frame& f) {
    const GraphScene& s = f.scene;
    if (!s.pointerSet) return;
    const QColor cursor = GraphColour(f.st.cursorColour);
    p.setClipRect(f.plot);
    if (s.zoomBox) {
        p.setPen(QPen(cursor, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(s.boxStart, s.pointer).normalized());
        return;
    }
    if (!s.cursorOn || !f.m.InPlot(s.pointer.x(), s.pointer.y())) return;
    const int px = s.pointer.x(), py = s.pointer.y();
    p.setPen(QPen(cursor, 1));
    p.drawLine(f.plotLeft, py, f.plotRight, py);
    p.drawLine(px, f.plotTop, px, f.plotBottom);
    const CursorTexts t = CursorTextsAt(f.m, px, py);
    if (!t.time.empty())
        Label(p, f.fm, Q(t.time), px, f.plotTop + 5, HAlign::Centre, VAlign::Top,
              GraphColour(f.st.axisColour[GraphSettings::TimeAxis]), cursor);
    if (!t.voltage.empty())
        Label(p, f.fm, Q(t.voltage), f.plotLeft + 5, py, HAlign::Left, VAlign::Bottom,
              TraceColour(f.st, GraphSettings::VbusVoltage), cursor);
    if (!t.current.empty())
        Label(p, f.fm, Q(t.current), f.plotRight - 5, py, HAlign::Right, VAlign::Bottom,
              TraceColour(f.st, GraphSettings::VbusCurrent), cursor);
    if (!t.power.empty())
        Label(p, f.fm, Q(t.power), f.plotLeft + 5, py, HAlign::Left, VAlign::Top,
              TraceColour(f.st, GraphSettings::VbusPower), cursor);
}

} // namespace

QColor GraphColour(uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QRect GraphImageRect(const CGraphModel& m) {
    const GraphRect& plot = m.Plot();
    return QRect(plot.left - kGutter, plot.top - CGraphModel::kTimeLabelStrip, plot.width + 2 * kGutter,
                 plot.height + CGraphModel::kTimeLabelStrip);
}

int GraphLineStep(const QFont& font, int32_t fontHeight) {
    return std::max(int(fontHeight), QFontMetrics(font).height());
}

void PaintGraph(QPainter& p, const GraphScene& scene) {
    const Frame f(scene);
    p.save();
    p.setFont(scene.font);
    p.setClipping(false);
    p.fillRect(GraphImageRect(f.m), f.Frame_());
    p.fillRect(f.plot, GraphColour(f.st.backgroundColour[GraphSettings::Plot]));
    PaintBackgrounds(p, f);
    PaintTimeAxis(p, f);
    for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) PaintValueAxis(p, f, a);
    PaintVrdLabels(p, f);
    PaintPdStrip(p, f);
    PaintTraces(p, f);
    PaintMarkers(p, f);
    PaintPointer(p, f);
    p.restore();
}

void PaintMeasurements(QPainter& p, const GraphScene& scene) {
    const CGraphModel& m = *scene.model;
    const GraphRect r = m.MeasurementRegion();
    if (r.width <= 0 || r.height <= 0) return;
    p.save();
    p.setFont(scene.font);
    const QRect region(r.left, r.top, r.width, r.height);
    p.setClipRect(region);
    p.fillRect(region, kMeasurementBackground);
    const int step = GraphLineStep(scene.font, m.FontHeight());
    int y = r.top;
    for (const GraphText& line : MeasurementTexts(m, scene.store)) {
        // A line wider than the region is set narrower rather than cut.
        const QString text = Q(line.text);
        QFont font = scene.font;
        QFontMetrics fm(font);
        for (int stretch = 95; fm.horizontalAdvance(text) > r.width && stretch >= 60; stretch -= 5) {
            font.setStretch(stretch);
            fm = QFontMetrics(font);
        }
        p.setFont(font);
        p.setPen(ReadableInk(InkColour(*scene.style, line.ink), kMeasurementBackground));
        p.drawText(0, y + fm.ascent(), text);
        y += step;
    }
    p.restore();
}
