// The graph's texts: marker names, the value panel of a highlighted marker, the measurements below the
// plot (times between the markers, energy and average power between O and X) and the cursor read-outs.
// Each text names the colour it is written in or on; the view maps that to the drawing settings.
#pragma once

#include "GraphModel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CCaptureStore;
struct CVbusInfo;

enum class GraphInk {
    MarkerO,
    MarkerX,
    MarkerA,
    MarkerB,
    VbusVoltage,
    VbusCurrent,
    VbusPower,
    Cc1Voltage,
    Cc2Voltage,
    TimeAxis,
};

struct GraphText {
    std::string text;
    GraphInk ink;
    bool operator==(const GraphText&) const = default;
};

// " O " or " X "; " <<" before it when the marker is left of the window, " >>" after it when right.
std::string MarkerLabelText(GraphMarker m, const CGraphModel::MarkerPlace& place);

// The value panel of a highlighted marker: its time, then VBUS voltage, current and power, CC1 and CC2
// voltage of the sample at or before it; each line's ink is its background.
std::vector<GraphText> MarkerPanelTexts(GraphMarker m, const CCaptureStore& store, const CVbusInfo& sample,
                                        bool reverseCurrent);

// Energy and average power from O to X, as the store's integral of VBUS power gives them:
// " (%.2f[mWh] Ave=%.2f[W])", or the watt-hour form from a million mWh. Time before the first sample
// adds nothing, as time after the last does; without samples there is no text.
std::optional<std::string> EnergyText(const CCaptureStore& store, int64_t markerO, int64_t markerX,
                                      bool reverseCurrent);

// The lines below the plot: "O to X : %s" (with the energy while the wattage area is on), then
// "O to A : %s" and "O to B : %s" for the packet markers that exist. Each ink is the text colour.
std::vector<GraphText> MeasurementTexts(const CGraphModel& model, const CCaptureStore* store);

// The cursor's read-outs at a window point inside the plot; a text is empty where it is not shown.
struct CursorTexts {
    std::string time;    // when no marker is highlighted
    std::string voltage; // inside the voltage band
    std::string current; // inside the current band
    std::string power;   // inside the wattage band
};
CursorTexts CursorTextsAt(const CGraphModel& model, int32_t x, int32_t y);
