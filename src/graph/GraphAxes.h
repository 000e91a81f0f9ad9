// The graph's four axes: which ticks and grid lines each draws, where, and the text of each label. The
// time axis picks its steps from the span 640 px show; the value axes from their scale and the font
// height, so that labels never crowd.
#pragma once

#include "GraphModel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TimeLabelFormat { Microseconds, Milliseconds, Seconds, Minutes, Hours, Days };

struct TimeTickRule {
    int64_t major = 1;
    int64_t minor = 1;
    TimeLabelFormat format = TimeLabelFormat::Microseconds;
    bool operator==(const TimeTickRule&) const = default;
};

// Steps and label format for a time scale in pixels per µs.
TimeTickRule ChooseTimeTicks(float timeScale);
// "%lldus", "%1.0fms", "%llds", "%lldmin", "%lldh" or "%lldday" of |t|, with "-" before a negative t.
std::string TimeTickLabel(int64_t t, TimeLabelFormat format);

struct TimeTick {
    int64_t time = 0;
    int32_t x = 0; // pixels from the plot's left edge
    bool line = false;
};

// The tick lines of the window, left to right: majors, minors more than 50 px apart, and with the grid
// on every minor.
std::vector<TimeTick> TimeTicks(const CGraphModel& model, bool gridOn);

struct TimeLabel {
    int64_t time = 0;
    int32_t x = 0; // the label's centre, pixels from the plot's left edge
    std::string text;
};
// The labels of the time axis, all in one unit, left to right.
struct TimeLabels {
    TimeLabelFormat format = TimeLabelFormat::Microseconds;
    std::vector<TimeLabel> labels;
};
// The labels of the window, given how wide a text is set, in the rule's unit: on the majors, and on
// the minors more than 50 px apart where that unit states them. None is cut by the plot's edges, none
// comes nearer than kTimeLabelGap to the next: where they would crowd, every 2nd or 5th minor step, or
// every 1st, 2nd, 5th, 10th ... major. Only where the majors leave fewer than two labels in the window
// do the minors get theirs in the finer unit that states them (100 ms steps in ms).
inline constexpr int32_t kTimeLabelGap = 8;
TimeLabels PlaceTimeLabels(const CGraphModel& model,
                           const std::function<int32_t(const std::string&)>& widthOf);

struct ValueAxisRule {
    int32_t minor = 0;
    int32_t major = 0;
    int32_t base = 0;       // current and wattage: the step labels prefer
    bool smallUnit = false; // labels in mA or mW rather than A or W
    int32_t labelStep = 0;  // 0: only the zero line is labelled
    int32_t limit = 0;      // largest value of the axis
    bool operator==(const ValueAxisRule&) const = default;
};

// The steps of each value axis. A label is labelHeight rows high (the font's line, at least the font
// height): the label step is the first that is taller, so that labels never overlap.
ValueAxisRule VoltageAxisRule(float scale, int32_t plotHeight, int32_t labelHeight);
ValueAxisRule CurrentAxisRule(float scale, int32_t plotHeight, int32_t labelHeight);
ValueAxisRule WattageAxisRule(float scale, int32_t plotHeight, int32_t labelHeight);
// The rule of an area as it stands; a current or wattage band too narrow for a label step in A (W)
// counts in mA (mW).
ValueAxisRule AxisRuleOf(const CGraphModel& model, GraphArea area, int32_t labelHeight);

// "%1.1fV"; "%dmA" or "%1.1fA"; "%dmW" or "%.1fW". Negative values get the "-" in front of the text
// of their magnitude.
std::string ValueTickLabel(GraphArea area, int32_t value, bool smallUnit);

struct ValueTick {
    int32_t value = 0; // signed: a current or power below zero is negative
    int32_t y = 0;     // window row
    bool line = false;
    bool label = false;
    std::string text;
};

// The lines and labels of a value axis over its band, zero first; with the grid off only lines and
// labels that stay. Grid lines closer than 4 px are left out too: they would fill the area. Current
// and wattage axes mirror each value below zero.
std::vector<ValueTick> ValueTicks(const CGraphModel& model, GraphArea area, bool gridOn, int32_t labelHeight);

// Where the labels of value ticks go, as the top row of each label `textHeight` rows high, in the
// order of the ticks; -1 for a label left out. A label sits on its line; one whose line is in the band
// but too near its top moves down to the band's top, still beside its line, so that no label is cut
// by the band's edge. A label whose line is outside the band, or that would overlap one placed before
// it, is left out.
std::vector<int32_t> PlaceValueLabels(const std::vector<ValueTick>& ticks, int32_t bandTop, int32_t bandBottom,
                                      int32_t textHeight);
