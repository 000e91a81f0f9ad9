// The graph's coordinate model: the time window, the three value areas with their ranges, scales and
// baselines, the screen layout, fitting, zooming and scrolling, and the markers O and X with their
// highlighting. No toolkit: the view feeds it sizes and pointer positions and paints what it says.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class CCaptureStore;

enum class GraphArea { Voltage = 0, Current = 1, Wattage = 2 };
inline constexpr int kGraphAreaCount = 3;

// The six trace switches of the graph buttons; the power traces follow the current switches.
enum class GraphTraceSwitch { VbusVoltage, VbusCurrent, Cc1Voltage, Cc1Current, Cc2Voltage, Cc2Current };
inline constexpr int kGraphTraceSwitchCount = 6;

enum class GraphMarker { None, O, X };

struct GraphRect {
    int32_t left = 0, top = 0, width = 1, height = 1;
    int32_t Right() const { return left + width; }
    int32_t Bottom() const { return top + height; }
    bool operator==(const GraphRect&) const = default;
};

// One value area: its switch, value range (mV, mA or mW), pixels per unit and baseline (pixels from the
// bottom of the plot up to the area's zero line).
struct GraphAreaState {
    bool on = true;
    float scale = 0.01f;
    int32_t baseline = 10;
    int32_t min = 0, max = 0;
};

// Value ranges as the store's extremes give them.
struct GraphRanges {
    int32_t voltageMin = 0, voltageMax = 5000;
    int32_t currentMin = -100, currentMax = 100;
    int32_t wattageMin = -100, wattageMax = 100;
    int64_t dataFirstTime = 0, dataLastTime = 100000000;
};

// The ranges of a store's extremes: voltage from 0 to at least 5000 mV, current and power at least
// -100 to 100, reversed when the current counts the other way; the data times of the first and last
// sample, or 0 to 100 s without samples.
GraphRanges RangesFromStore(const CCaptureStore& store, bool reverseCurrent);

class CGraphModel {
public:
    static constexpr int32_t kSideMargin = 150;
    static constexpr int32_t kTopMargin = 64;
    static constexpr int32_t kTimeLabelStrip = 28;
    static constexpr int32_t kPdStripHeight = 16;
    static constexpr int32_t kPdStripGap = 34;
    static constexpr int32_t kAreaPadding = 16;
    static constexpr int32_t kMarkerReach = 10;
    static constexpr int32_t kMinZoomBox = 10;
    static constexpr int64_t kEmptyDataSpan = 100000000; // µs shown without samples
    static const float kMinTimeScale;                    // 1024 px per 100 hours
    static constexpr float kMaxTimeScale = 1.0f;         // one pixel per µs

    CGraphModel();

    // ---- layout ----
    // Client size and font height; the layout follows at once, and the value areas keep their share
    // of a plot that changed height. True when the plot moved or resized.
    bool SetClientSize(int32_t width, int32_t height);
    bool SetFontHeight(int32_t fontHeight);
    int32_t FontHeight() const { return fontHeight; }
    int32_t ClientWidth() const { return clientWidth; }
    int32_t ClientHeight() const { return clientHeight; }
    const GraphRect& Plot() const { return plot; }
    int32_t BottomMargin() const;
    // The region of the measurement texts below the plot: x from 0, y from plot bottom + 15 to the
    // client's bottom.
    GraphRect MeasurementRegion() const;

    // ---- document ----
    // A document was opened or created: markers from the saved marks, ranges from the store, the
    // current flip from the ranges, and every axis fitted.
    void Attach(const CCaptureStore& store, bool reverseCurrent);
    // The current's direction changed: the ranges and the current's orientation follow it, while the
    // markers and the time window stay where they are.
    void SetReverseCurrent(const CCaptureStore& store, bool reverseCurrent);
    // Ranges again from the store (every document update); scales stay.
    void LoadRanges(const CCaptureStore& store);
    void SetRanges(const GraphRanges& r);
    GraphRanges Ranges() const;
    bool ReverseCurrent() const { return reverseCurrent; }
    void SetReverseCurrent(bool on) { reverseCurrent = on; }
    // While capturing: widen the ranges the store has outgrown (and refit those areas), then centre on
    // t when it lies outside the window.
    void FollowLatest(int64_t t, const CCaptureStore& store);
    // The time origin moved by delta: every stored display time decreases by delta.
    void ShiftTimes(int64_t delta);

    // ---- time window ----
    int64_t CenterTime() const { return centerTime; }
    float TimeScale() const { return timeScale; }
    int64_t ViewStart() const { return viewStart; }
    int64_t ViewEnd() const { return viewEnd; }
    int64_t DataFirstTime() const { return dataFirstTime; }
    int64_t DataLastTime() const { return dataLastTime; }
    void SetCenter(int64_t t);
    void SetTimeScale(float scale) { timeScale = scale; }
    bool IsVisible(int64_t t) const { return viewStart <= t && t <= viewEnd; }
    // Pixels from the plot's left edge of a time, and the time at a window x.
    int64_t XOfTime(int64_t t) const;
    int64_t TimeAtX(int32_t windowX) const;

    // ---- value areas ----
    const GraphAreaState& Area(GraphArea a) const { return areas[size_t(a)]; }
    GraphAreaState& MutableArea(GraphArea a) { return areas[size_t(a)]; }
    bool AreaOn(GraphArea a) const { return Area(a).on; }
    void SetAreaOn(GraphArea a, bool on) { MutableArea(a).on = on; }
    bool CurrentFlip() const { return currentFlip; }
    void SetCurrentFlip(bool on) { currentFlip = on; }
    int32_t ZeroY(GraphArea a) const;
    // Window y of a value of the area (currentFlip applied for current and wattage).
    int32_t YOfValue(GraphArea a, int32_t value) const;
    // The area's band, clipped to the plot: rows top to bottom inclusive of top, exclusive of bottom.
    void AreaBand(GraphArea a, int32_t* top, int32_t* bottom) const;
    bool InBand(GraphArea a, int32_t y) const;
    int32_t PdStripTop() const;
    // With the PD strip shown, fitting leaves it room of its own below the first area on: the strip
    // and the row of its labels then cover no area's band, and so no trace.
    void SetStripShown(bool on) { stripShown = on; }
    bool StripShown() const { return stripShown; }

    bool TraceOn(GraphTraceSwitch t) const { return traces[size_t(t)]; }
    void SetTraceOn(GraphTraceSwitch t, bool on) { traces[size_t(t)] = on; }
    // A trace button: with its area off the area comes on with this as its only trace of the kind;
    // otherwise the trace toggles.
    void PressTraceButton(GraphTraceSwitch t);

    // ---- fitting ----
    void FitTime();
    void FitVoltage();
    void FitCurrent();
    void FitWattage();
    // FitVoltage, FitCurrent and FitWattage for the areas that are on.
    void FitAreas();
    // FitTime, then FitAreas.
    void FitAll();

    // ---- navigation ----
    // Each returns false when nothing changed.
    bool ZoomTime(bool in);
    bool ScrollLeft();
    bool ScrollRight();
    void MoveVoltage(bool up);
    void MoveCurrentWattage(bool up);
    void ZoomVoltage(bool in);
    void ZoomCurrentWattage(bool in);
    // A right-button box from one window point to another; false (and nothing changes) when it is not
    // more than 10 px wide and high. A box that reaches into the bands of two or more areas zooms the
    // time axis only: one vertical factor for all of them would push the others out of the plot.
    bool ZoomToBox(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
    // A left drag by (dx, dy) pixels: the time window follows the pointer, and so do the baselines of the
    // dragged areas.
    void Drag(int32_t dx, int32_t dy, const std::array<bool, kGraphAreaCount>& dragged);
    // Which areas a left press at a window point drags: the band under it, or all three outside every
    // band or outside the plot.
    std::array<bool, kGraphAreaCount> AreasAt(int32_t x, int32_t y) const;
    bool InPlot(int32_t x, int32_t y) const;

    // ---- markers O and X ----
    int64_t MarkerTime(GraphMarker m) const { return m == GraphMarker::X ? markerX : markerO; }
    void SetMarkerTime(GraphMarker m, int64_t t);
    struct MarkerPlace {
        int32_t x = 0;        // pixels from the plot's left edge, clamped to the plot
        bool offLeft = false; // left of the window
        bool offRight = false;
    };
    MarkerPlace PlaceOf(GraphMarker m) const;
    // The marker under a pointer at window x, X tested first; None for neither.
    GraphMarker MarkerAt(int32_t windowX) const;
    GraphMarker Highlighted() const { return highlighted; }
    // The highlight follows the pointer; true when it changed.
    bool UpdateHighlight(int32_t windowX);
    void SetHighlighted(GraphMarker m) { highlighted = m; }

private:
    struct Slot {
        int32_t size = 0, offset = 0;
    };
    Slot SlotOf(GraphArea a) const;
    // Rows the fit keeps free for the PD strip below the first area on.
    int32_t StripRoom() const;
    void UpdateLayout();
    bool LayoutChanged(const GraphRect& before);
    void FitArea(GraphArea a);
    void ZoomArea(GraphArea a, bool in);

    int32_t clientWidth = 640, clientHeight = 480;
    int32_t fontHeight = 16;
    GraphRect plot;

    int64_t centerTime = 0;
    float timeScale = 1.0f;
    int64_t viewStart = 0, viewEnd = 0;
    int64_t dataFirstTime = 0, dataLastTime = kEmptyDataSpan;

    std::array<GraphAreaState, kGraphAreaCount> areas;
    bool currentFlip = false;
    bool reverseCurrent = false;
    bool stripShown = false;
    std::array<bool, kGraphTraceSwitchCount> traces{true, true, true, false, true, false};

    int64_t markerO = 0, markerX = 0;
    GraphMarker highlighted = GraphMarker::None;
};
