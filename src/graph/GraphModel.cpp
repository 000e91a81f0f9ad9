#include "GraphModel.h"

#include "CaptureStore.h"
#include "TimeMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr size_t V = size_t(GraphArea::Voltage);
constexpr size_t I = size_t(GraphArea::Current);
constexpr size_t W = size_t(GraphArea::Wattage);

// Float to integer toward zero, held inside the type: scales have no upper limit, and a value far
// outside the window must not wrap round into it.
int64_t Trunc64(float v) {
    constexpr float kLimit = 4.0e18f;
    if (std::isnan(v)) return 0;
    if (v >= kLimit) return int64_t(kLimit);
    if (v <= -kLimit) return -int64_t(kLimit);
    return int64_t(v);
}

int32_t Trunc32(float v) {
    constexpr float kLimit = 1.0e9f;
    if (std::isnan(v)) return 0;
    if (v >= kLimit) return int32_t(kLimit);
    if (v <= -kLimit) return -int32_t(kLimit);
    return int32_t(v);
}

} // namespace

const float CGraphModel::kMinTimeScale = 1024.0f / 3.6e11f;

GraphRanges RangesFromStore(const CCaptureStore& store, bool reverseCurrent) {
    const CaptureExtremes& e = store.extremes;
    GraphRanges r;
    r.voltageMin = 0;
    r.voltageMax = std::max(e.maxVoltage, 5000);
    auto pair = [reverseCurrent](int32_t lo, int32_t hi, int32_t* outMin, int32_t* outMax) {
        if (reverseCurrent) {
            const int32_t a = -hi, b = -lo;
            lo = std::min(a, b);
            hi = std::max(a, b);
        }
        if (hi < 100) hi = 100;
        if (lo >= -99) lo = -100;
        *outMin = lo;
        *outMax = hi;
    };
    pair(e.minCurrent, e.maxCurrent, &r.currentMin, &r.currentMax);
    pair(e.minPower, e.maxPower, &r.wattageMin, &r.wattageMax);
    const size_t n = store.SampleCount();
    const size_t packets = store.PacketCount();
    if (n == 0 && packets > 0) {
        // An imported logic capture has packets but no VBUS readings: the time axis spans the packets,
        // at least a millisecond so that fitting has a width to divide by.
        r.dataFirstTime = store.DisplayTime(*store.PacketAt(0));
        r.dataLastTime = std::max(store.DisplayTime(*store.PacketAt(packets - 1)), r.dataFirstTime + 1000);
    } else if (n == 0) {
        r.dataFirstTime = 0;
        r.dataLastTime = CGraphModel::kEmptyDataSpan;
    } else {
        r.dataFirstTime = store.DisplayTime(*store.SampleAt(0));
        r.dataLastTime = store.DisplayTime(*store.SampleAt(n - 1));
    }
    return r;
}

CGraphModel::CGraphModel() {
    areas[V].scale = 0.01f;
    areas[I].scale = 0.1f;
    areas[W].scale = 0.01f;
    UpdateLayout();
    SetCenter(0);
}

// ---- layout -------------------------------------------------------------------------------------------

int32_t CGraphModel::BottomMargin() const {
    return 4 * fontHeight < 73 ? 74 : 5 * fontHeight;
}

void CGraphModel::UpdateLayout() {
    plot.left = kSideMargin;
    plot.top = kTopMargin;
    plot.width = std::max(1, clientWidth - 2 * kSideMargin);
    plot.height = std::max(1, clientHeight - BottomMargin() - kTopMargin);
}

bool CGraphModel::SetClientSize(int32_t width, int32_t height) {
    const GraphRect before = plot;
    clientWidth = width;
    clientHeight = height;
    UpdateLayout();
    return LayoutChanged(before);
}

bool CGraphModel::SetFontHeight(int32_t f) {
    const GraphRect before = plot;
    fontHeight = std::abs(f);
    UpdateLayout();
    return LayoutChanged(before);
}

bool CGraphModel::LayoutChanged(const GraphRect& before) {
    if (plot == before) return false;
    // A taller or lower plot keeps each area's share of it: scales and baselines follow the height, so
    // that a pane resized (or first shown at its real size) does not push the traces off the plot.
    if (plot.height != before.height) {
        const float ratio = float(plot.height) / float(before.height);
        for (GraphAreaState& s : areas) {
            s.scale = s.scale * ratio;
            s.baseline = Trunc32(float(s.baseline) * ratio);
        }
    }
    SetCenter(centerTime);
    return true;
}

GraphRect CGraphModel::MeasurementRegion() const {
    GraphRect r;
    r.left = 0;
    r.top = plot.Bottom() + 15;
    r.width = std::max(0, plot.left + plot.width / 2 - 136);
    r.height = std::max(0, clientHeight - r.top);
    return r;
}

// ---- document ------------------------------------------------------------------------------------------

void CGraphModel::SetRanges(const GraphRanges& r) {
    areas[V].min = r.voltageMin;
    areas[V].max = r.voltageMax;
    areas[I].min = r.currentMin;
    areas[I].max = r.currentMax;
    areas[W].min = r.wattageMin;
    areas[W].max = r.wattageMax;
    dataFirstTime = r.dataFirstTime;
    dataLastTime = r.dataLastTime;
}

GraphRanges CGraphModel::Ranges() const {
    GraphRanges r;
    r.voltageMin = areas[V].min;
    r.voltageMax = areas[V].max;
    r.currentMin = areas[I].min;
    r.currentMax = areas[I].max;
    r.wattageMin = areas[W].min;
    r.wattageMax = areas[W].max;
    r.dataFirstTime = dataFirstTime;
    r.dataLastTime = dataLastTime;
    return r;
}

void CGraphModel::LoadRanges(const CCaptureStore& store) {
    SetRanges(RangesFromStore(store, reverseCurrent));
}

void CGraphModel::Attach(const CCaptureStore& store, bool reverse) {
    markerO = store.loadedGraphO == -1 ? 0 : store.DisplayTime(store.loadedGraphO);
    markerX = store.loadedGraphX == -1 ? 0 : store.DisplayTime(store.loadedGraphX);
    highlighted = GraphMarker::None;
    reverseCurrent = reverse;
    LoadRanges(store);
    currentFlip = areas[I].min <= 0 && areas[I].max < -areas[I].min;
    timeScale = 1.0f;
    SetCenter(0);
    FitTime();
    FitVoltage();
    FitCurrent();
    FitWattage();
}

void CGraphModel::SetReverseCurrent(const CCaptureStore& store, bool reverse) {
    reverseCurrent = reverse;
    LoadRanges(store);
    currentFlip = areas[I].min <= 0 && areas[I].max < -areas[I].min;
    FitCurrent();
    FitWattage();
}

void CGraphModel::FollowLatest(int64_t t, const CCaptureStore& store) {
    const GraphRanges r = RangesFromStore(store, reverseCurrent);
    if (r.voltageMax > areas[V].max || r.voltageMin < areas[V].min) {
        areas[V].min = std::min(areas[V].min, r.voltageMin);
        areas[V].max = std::max(areas[V].max, r.voltageMax);
        FitVoltage();
    }
    if (r.currentMax > areas[I].max || r.currentMin < areas[I].min) {
        areas[I].min = std::min(areas[I].min, r.currentMin);
        areas[I].max = std::max(areas[I].max, r.currentMax);
        FitCurrent();
    }
    if (areas[W].on && (r.wattageMax > areas[W].max || r.wattageMin < areas[W].min)) {
        areas[W].min = std::min(areas[W].min, r.wattageMin);
        areas[W].max = std::max(areas[W].max, r.wattageMax);
        FitWattage();
    }
    dataFirstTime = r.dataFirstTime;
    dataLastTime = r.dataLastTime;
    if (!IsVisible(t)) SetCenter(t);
}

void CGraphModel::ShiftTimes(int64_t delta) {
    for (int64_t* t : {&markerO, &markerX, &centerTime, &viewStart, &viewEnd, &dataFirstTime, &dataLastTime})
        *t = TimeDifference(*t, delta);
}

// ---- time window ---------------------------------------------------------------------------------------

void CGraphModel::SetCenter(int64_t t) {
    centerTime = t;
    const int64_t half = Trunc64(float(plot.width) / timeScale) / 2;
    viewStart = TimeDifference(centerTime, half);
    viewEnd = TimeSum(centerTime, half);
}

int64_t CGraphModel::XOfTime(int64_t t) const {
    return Trunc64(float(TimeDifference(t, viewStart)) * timeScale);
}

int64_t CGraphModel::TimeAtX(int32_t windowX) const {
    return TimeSum(viewStart, Trunc64(float(windowX - plot.left) / timeScale));
}

// ---- value areas ---------------------------------------------------------------------------------------

int32_t CGraphModel::ZeroY(GraphArea a) const {
    return plot.top + plot.height - Area(a).baseline;
}

int32_t CGraphModel::YOfValue(GraphArea a, int32_t value) const {
    const bool negate = a != GraphArea::Voltage && currentFlip;
    return ZeroY(a) - Trunc32(float(negate ? -value : value) * Area(a).scale);
}

void CGraphModel::AreaBand(GraphArea a, int32_t* top, int32_t* bottom) const {
    const GraphAreaState& s = Area(a);
    const int32_t zeroY = ZeroY(a);
    int32_t upper, lower; // pixels above the zero line of the band's top and bottom values
    if (a != GraphArea::Voltage && currentFlip) {
        upper = -Trunc32(float(s.min) * s.scale);
        lower = -Trunc32(float(s.max) * s.scale);
    } else {
        upper = Trunc32(float(s.max) * s.scale);
        lower = Trunc32(float(s.min) * s.scale);
    }
    *top = std::max(plot.top, zeroY - (upper + kAreaPadding));
    *bottom = std::min(plot.Bottom(), zeroY - (lower - kAreaPadding));
}

bool CGraphModel::InBand(GraphArea a, int32_t y) const {
    if (!AreaOn(a)) return false;
    int32_t top, bottom;
    AreaBand(a, &top, &bottom);
    return top <= y && y <= bottom;
}

int32_t CGraphModel::PdStripTop() const {
    for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
        if (!AreaOn(a)) continue;
        int32_t top, bottom;
        AreaBand(a, &top, &bottom);
        return bottom + kPdStripGap;
    }
    return plot.top + plot.height / 2;
}

void CGraphModel::PressTraceButton(GraphTraceSwitch t) {
    const bool voltage = t == GraphTraceSwitch::VbusVoltage || t == GraphTraceSwitch::Cc1Voltage ||
                         t == GraphTraceSwitch::Cc2Voltage;
    GraphAreaState& area = areas[voltage ? V : I];
    if (area.on) {
        traces[size_t(t)] = !traces[size_t(t)];
        return;
    }
    area.on = true;
    for (GraphTraceSwitch other : voltage ? std::array{GraphTraceSwitch::VbusVoltage, GraphTraceSwitch::Cc1Voltage,
                                                       GraphTraceSwitch::Cc2Voltage}
                                          : std::array{GraphTraceSwitch::VbusCurrent, GraphTraceSwitch::Cc1Current,
                                                       GraphTraceSwitch::Cc2Current})
        traces[size_t(other)] = false;
    traces[size_t(t)] = true;
}

// ---- fitting -------------------------------------------------------------------------------------------

namespace {

int32_t AreasOn(const std::array<GraphAreaState, kGraphAreaCount>& areas) {
    return int32_t(areas[V].on) + int32_t(areas[I].on) + int32_t(areas[W].on);
}

// The fifth of a slot a fit leaves free below and above an area's range.
int32_t SlotPad(int32_t size) {
    return Trunc32(float(size) * 0.4f * 0.5f);
}

} // namespace

int32_t CGraphModel::StripRoom() const {
    const int32_t on = AreasOn(areas);
    if (!stripShown || on == 0) return 0;
    // From the first area's range down: its band's padding, the gap holding the strip's labels, the
    // strip, and the next area's padding; the slots' own free fifths give part of it. Two rows more
    // for the fit's truncations.
    const bool next = on > 1;
    const int32_t needed = kAreaPadding + kPdStripGap + kPdStripHeight + (next ? kAreaPadding : 0) + 2;
    int32_t room = 0;
    for (int i = 0; i < 8; ++i) {
        const int32_t pad = SlotPad((plot.height - room) / on);
        const int32_t more = std::max(0, needed - pad * (next ? 2 : 1));
        if (more == room) break;
        room = more;
    }
    return std::min(room, plot.height / 2);
}

CGraphModel::Slot CGraphModel::SlotOf(GraphArea a) const {
    const int32_t room = StripRoom();
    const int32_t h = plot.height - room;
    const bool v = areas[V].on, i = areas[I].on;
    const int on = AreasOn(areas);
    // The first area on, the topmost, lies above the strip's room.
    const bool first =
        a == GraphArea::Voltage || (a == GraphArea::Current && !v) || (a == GraphArea::Wattage && !v && !i);
    Slot s;
    if (on == 1) {
        s = {h, 0};
    } else if (on == 3) {
        if (a == GraphArea::Voltage)
            s = {h / 3, 2 * h / 3};
        else if (a == GraphArea::Current)
            s = {h / 3, h / 3};
        else
            s = {h / 3, 0};
    } else {
        // Two areas: the upper one takes the top half. The voltage area is always on top, the wattage
        // area always at the bottom.
        s = first ? Slot{h / 2, h / 2} : Slot{h / 2, 0};
    }
    if (first) s.offset += room;
    return s;
}

void CGraphModel::FitArea(GraphArea a) {
    GraphAreaState& s = areas[size_t(a)];
    if (!s.on) return;
    const Slot slot = SlotOf(a);
    const int32_t range = s.max - s.min;
    if (range <= 0) return;
    s.scale = float(slot.size) * 0.6f / float(range);
    const int32_t pad = Trunc32(float(slot.size) * 0.4f * 0.5f);
    int32_t e = 0;
    if (a != GraphArea::Voltage) e = currentFlip ? Trunc32(float(s.max) * s.scale) : -Trunc32(float(s.min) * s.scale);
    s.baseline = slot.offset + e + pad;
}

void CGraphModel::FitVoltage() {
    FitArea(GraphArea::Voltage);
}

void CGraphModel::FitCurrent() {
    FitArea(GraphArea::Current);
}

void CGraphModel::FitWattage() {
    FitArea(GraphArea::Wattage);
}

void CGraphModel::FitAreas() {
    FitVoltage();
    FitCurrent();
    FitWattage();
}

void CGraphModel::FitTime() {
    // A single sample (or none) has no span of its own: it is shown in the middle of the span an
    // empty capture gets.
    int64_t span = TimeDifference(dataLastTime, dataFirstTime);
    if (span <= 0) span = kEmptyDataSpan;
    timeScale = float(Trunc32(float(plot.width) * 0.99f)) / float(span);
    SetCenter(TimeMidpoint(dataFirstTime, dataLastTime));
}

void CGraphModel::FitAll() {
    FitTime();
    FitAreas();
}

// ---- navigation ----------------------------------------------------------------------------------------

bool CGraphModel::ZoomTime(bool in) {
    float scale = in ? timeScale * 120.0f / 100.0f : timeScale * 83.333336f / 100.0f;
    if (scale > kMaxTimeScale) scale = kMaxTimeScale;
    if (scale < kMinTimeScale) scale = kMinTimeScale;
    if (scale == timeScale) return false;
    timeScale = scale;
    SetCenter(centerTime);
    return true;
}

bool CGraphModel::ScrollLeft() {
    if (centerTime <= dataFirstTime) return false;
    SetCenter(TimeDifference(centerTime, Trunc64(float(plot.width / 8) / timeScale)));
    return true;
}

bool CGraphModel::ScrollRight() {
    if (centerTime >= dataLastTime) return false;
    SetCenter(TimeSum(centerTime, Trunc64(float(plot.width / 8) / timeScale)));
    return true;
}

void CGraphModel::MoveVoltage(bool up) {
    const int32_t step = plot.height / 40;
    areas[V].baseline += up ? step : -step;
}

void CGraphModel::MoveCurrentWattage(bool up) {
    const int32_t step = plot.height / 40;
    for (size_t a : {I, W})
        if (areas[a].on) areas[a].baseline += up ? step : -step;
}

void CGraphModel::ZoomArea(GraphArea a, bool in) {
    GraphAreaState& s = areas[size_t(a)];
    const int32_t fromMiddle = plot.height / 2 - s.baseline;
    if (in) {
        s.scale = s.scale * 1.2f;
        s.baseline = s.baseline - Trunc32(float(fromMiddle) * 0.20000005f);
    } else {
        s.scale = s.scale / 1.2f;
        s.baseline = s.baseline - Trunc32(float(fromMiddle) * -0.16666669f);
    }
}

void CGraphModel::ZoomVoltage(bool in) {
    ZoomArea(GraphArea::Voltage, in);
}

void CGraphModel::ZoomCurrentWattage(bool in) {
    for (GraphArea a : {GraphArea::Current, GraphArea::Wattage})
        if (AreaOn(a)) ZoomArea(a, in);
}

bool CGraphModel::ZoomToBox(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int32_t boxWidth = std::abs(x1 - x0), boxHeight = std::abs(y1 - y0);
    if (boxWidth <= kMinZoomBox || boxHeight <= kMinZoomBox) return false;
    const int32_t h = plot.height;
    const float k = float(h) / float(boxHeight);
    const int32_t g = (y0 + y1) / 2 - plot.top;
    int reached = 0;
    for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
        if (!AreaOn(a)) continue;
        int32_t top, bottom;
        AreaBand(a, &top, &bottom);
        reached += std::min(y0, y1) < bottom && std::max(y0, y1) >= top;
    }
    if (reached < 2)
        for (GraphAreaState& s : areas) {
            s.scale = s.scale * k;
            s.baseline = h / 2 - Trunc32(float(h - g - s.baseline) * k);
        }
    const int64_t tLeft = TimeAtX(std::min(x0, x1));
    const int64_t tRight = TimeAtX(std::max(x0, x1));
    if (tRight > tLeft) {
        // The box obeys the time zoom limits like every other zoom.
        const int64_t span = TimeDifference(tRight, tLeft);
        timeScale = std::clamp(float(plot.width) / float(span), kMinTimeScale, kMaxTimeScale);
        SetCenter(TimeSum(tLeft, span / 2));
    }
    return true;
}

void CGraphModel::Drag(int32_t dx, int32_t dy, const std::array<bool, kGraphAreaCount>& dragged) {
    if (dx != 0) SetCenter(TimeDifference(centerTime, Trunc64(float(dx) / timeScale)));
    for (size_t a = 0; a < areas.size(); ++a)
        if (dragged[a]) areas[a].baseline -= dy;
}

bool CGraphModel::InPlot(int32_t x, int32_t y) const {
    return x >= plot.left && x < plot.Right() && y >= plot.top && y < plot.Bottom();
}

std::array<bool, kGraphAreaCount> CGraphModel::AreasAt(int32_t x, int32_t y) const {
    if (InPlot(x, y))
        for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage})
            if (InBand(a, y)) {
                std::array<bool, kGraphAreaCount> one{};
                one[size_t(a)] = true;
                return one;
            }
    return {true, true, true};
}

// ---- markers -------------------------------------------------------------------------------------------

void CGraphModel::SetMarkerTime(GraphMarker m, int64_t t) {
    if (m == GraphMarker::O) markerO = t;
    if (m == GraphMarker::X) markerX = t;
}

CGraphModel::MarkerPlace CGraphModel::PlaceOf(GraphMarker m) const {
    MarkerPlace p;
    const int64_t x = XOfTime(MarkerTime(m));
    if (x < 0) {
        p.offLeft = true;
        p.x = 0;
    } else if (x > plot.width) {
        p.offRight = true;
        p.x = plot.width;
    } else {
        p.x = int32_t(x);
    }
    return p;
}

GraphMarker CGraphModel::MarkerAt(int32_t windowX) const {
    for (GraphMarker m : {GraphMarker::X, GraphMarker::O}) {
        const MarkerPlace p = PlaceOf(m);
        bool hit;
        if (p.offLeft)
            hit = windowX >= plot.left && windowX < plot.left + kMarkerReach;
        else if (p.offRight)
            hit = windowX >= plot.Right() - kMarkerReach && windowX <= plot.Right();
        else
            hit = std::abs(windowX - (plot.left + p.x)) <= kMarkerReach;
        if (hit) return m;
    }
    return GraphMarker::None;
}

bool CGraphModel::UpdateHighlight(int32_t windowX) {
    const GraphMarker m = MarkerAt(windowX);
    if (m == highlighted) return false;
    highlighted = m;
    return true;
}
