#include "GraphAxes.h"

#include "TimeMath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr int64_t kMs = 1000;
constexpr int64_t kSecond = 1000 * kMs;
constexpr int64_t kMinute = 60 * kSecond;
constexpr int64_t kHour = 60 * kMinute;
constexpr int64_t kDay = 24 * kHour;

constexpr int32_t kVoltageLimit = 80000;  // mV
constexpr int32_t kCurrentLimit = 6000;   // mA
constexpr int32_t kWattageLimit = 240000; // mW
// Ticks this far outside their band cannot reach into it, not even with their label.
constexpr int32_t kLabelReach = 100;
// Grid lines closer than this would fill the area with their colour; the labelled ones stay.
constexpr int32_t kMinGridSpacing = 4;

int32_t Px(float v) {
    if (v >= 1.0e9f) return 1000000000;
    if (v <= -1.0e9f) return -1000000000;
    return int32_t(v);
}

// The label step of a value axis: the base step when it is taller than a label, else the first
// multiple of the major step within the axis that is. Every axis looks as far as the voltage axis does,
// so that a wide range on a low area still gets a label above its zero line.
int32_t LabelStep(int32_t base, int32_t major, int32_t limit, float scale, int32_t labelHeight) {
    if (labelHeight < Px(float(base) * scale)) return base;
    for (int32_t k = 1; k <= 49 && k * major <= limit; ++k)
        if (labelHeight < Px(float(major) * scale * float(k))) return k * major;
    return 0;
}

} // namespace

TimeTickRule ChooseTimeTicks(float timeScale) {
    const int64_t us = int64_t(640.0f / timeScale);
    const int64_t ms = us / 1000;
    const int64_t s = ms / 1000;
    const int64_t min = s / 60;
    const int64_t h = min / 60;
    using F = TimeLabelFormat;
    if (h > 240) return {10 * kDay, kDay, F::Days};
    if (h > 24) return {kDay, 6 * kHour, F::Days};
    if (h > 10) return {10 * kHour, kHour, F::Hours};
    if (min > 60) return {kHour, 10 * kMinute, F::Hours};
    if (min > 10) return {10 * kMinute, kMinute, F::Minutes};
    if (s > 100) return {100 * kSecond, 10 * kSecond, F::Seconds};
    if (s > 10) return {10 * kSecond, kSecond, F::Seconds};
    if (ms > 1000) return {kSecond, 100 * kMs, F::Seconds};
    if (ms > 100) return {100 * kMs, 10 * kMs, F::Milliseconds};
    if (ms > 10) return {10 * kMs, kMs, F::Milliseconds};
    if (us > 1000) return {kMs, 100, F::Milliseconds};
    if (us > 100) return {100, 10, F::Microseconds};
    if (us > 10) return {10, 1, F::Microseconds};
    return {1, 1, F::Microseconds};
}

std::string TimeTickLabel(int64_t t, TimeLabelFormat format) {
    const long long a = std::llabs(t);
    char text[64];
    switch (format) {
    case TimeLabelFormat::Microseconds:
        std::snprintf(text, sizeof text, "%lldus", a);
        break;
    case TimeLabelFormat::Milliseconds:
        std::snprintf(text, sizeof text, "%1.0fms", double(float(a) / 1000.0f));
        break;
    case TimeLabelFormat::Seconds:
        std::snprintf(text, sizeof text, "%llds", a / kSecond);
        break;
    case TimeLabelFormat::Minutes:
        std::snprintf(text, sizeof text, "%lldmin", a / kMinute);
        break;
    case TimeLabelFormat::Hours:
        std::snprintf(text, sizeof text, "%lldh", a / kHour);
        break;
    case TimeLabelFormat::Days:
        std::snprintf(text, sizeof text, "%lldday", a / kDay);
        break;
    }
    return t < 0 ? "-" + std::string(text) : std::string(text);
}

std::vector<TimeTick> TimeTicks(const CGraphModel& model, bool gridOn) {
    std::vector<TimeTick> ticks;
    const TimeTickRule rule = ChooseTimeTicks(model.TimeScale());
    const int64_t viewStart = model.ViewStart(), viewEnd = model.ViewEnd();
    const int32_t width = model.Plot().width;
    int64_t previousX = 0;
    // Ticks counted from the first one: a window at the top of the time range must not step past it.
    const int64_t first = viewStart - viewStart % rule.minor;
    const int64_t steps = first <= viewEnd ? TimeDifference(viewEnd, first) / rule.minor : -1;
    for (int64_t k = 0; k <= steps; ++k) {
        const int64_t t = first + k * rule.minor;
        const int64_t x = model.XOfTime(t);
        if (x < 0) continue;
        if (x > width) break;
        const int64_t dx = x - previousX;
        previousX = x;
        const bool onMajor = t % rule.major == 0;
        TimeTick tick;
        tick.time = t;
        tick.x = int32_t(x);
        tick.line = gridOn || onMajor || dx > 50;
        if (tick.line) ticks.push_back(tick);
    }
    return ticks;
}

namespace {

// The coarsest format that states a time step exactly: 100 µs steps in µs, 100 ms steps in ms ...
TimeLabelFormat FormatOfStep(int64_t step) {
    if (step % kDay == 0) return TimeLabelFormat::Days;
    if (step % kHour == 0) return TimeLabelFormat::Hours;
    if (step % kMinute == 0) return TimeLabelFormat::Minutes;
    if (step % kSecond == 0) return TimeLabelFormat::Seconds;
    if (step % kMs == 0) return TimeLabelFormat::Milliseconds;
    return TimeLabelFormat::Microseconds;
}

} // namespace

TimeLabels PlaceTimeLabels(const CGraphModel& model,
                           const std::function<int32_t(const std::string&)>& widthOf) {
    const TimeTickRule rule = ChooseTimeTicks(model.TimeScale());
    const int64_t viewStart = model.ViewStart(), viewEnd = model.ViewEnd();
    const int32_t plotWidth = model.Plot().width;
    // The labels on multiples of `step`; false when two of them crowd.
    auto place = [&](int64_t step, TimeLabels* out) {
        // The rule's unit, or the finer one that states the step.
        out->format = std::min(rule.format, FormatOfStep(step));
        out->labels.clear();
        const int64_t first = viewStart - viewStart % step;
        const int64_t count = first <= viewEnd ? TimeDifference(viewEnd, first) / step : -1;
        int64_t lastRight = 0;
        for (int64_t k = 0; k <= count; ++k) {
            const int64_t t = first + k * step;
            const int64_t x = model.XOfTime(t);
            if (x < 0) continue;
            if (x > plotWidth) break;
            std::string text = TimeTickLabel(t, out->format);
            const int32_t width = widthOf(text);
            const int64_t left = x - width / 2;
            // A label cut by the plot's edge reads as another number.
            if (left < 0 || left + width > plotWidth) continue;
            if (!out->labels.empty() && left < lastRight + kTimeLabelGap) return false;
            out->labels.push_back({t, int32_t(x), std::move(text)});
            lastRight = left + width;
        }
        return true;
    };
    // Minor steps more than 50 px apart that divide the major step: first those the rule's unit
    // states (1 s steps in seconds), after the majors those it cannot (100 ms steps, in ms).
    std::vector<int64_t> stated, finer;
    for (int64_t k : {1, 2, 5}) {
        const int64_t step = rule.minor * k;
        if (step < rule.major && rule.major % step == 0 && float(step) * model.TimeScale() > 50.0f)
            (FormatOfStep(step) >= rule.format ? stated : finer).push_back(step);
    }
    TimeLabels best, labels;
    bool found = false;
    // The first step whose labels do not crowd and are two or more wins; else the one with most.
    auto wins = [&](int64_t step) {
        if (!place(step, &labels)) return false;
        if (!found || labels.labels.size() > best.labels.size()) best = labels, found = true;
        return best.labels.size() >= 2;
    };
    for (int64_t step : stated)
        if (wins(step)) return best;
    // Every 1st, 2nd, 5th, 10th ... major; a step longer than the window leaves one label at most.
    bool longer = false;
    for (int64_t every = 1; !longer; every *= 10)
        for (int64_t k : {every, 2 * every, 5 * every}) {
            const int64_t step = rule.major * k;
            if (wins(step)) return best;
            longer = longer || step > TimeDifference(viewEnd, viewStart);
        }
    for (int64_t step : finer)
        if (wins(step)) return best;
    return best;
}

ValueAxisRule VoltageAxisRule(float scale, int32_t plotHeight, int32_t labelHeight) {
    ValueAxisRule r;
    if (float(plotHeight) / scale < 5000.0f) {
        r.minor = 100;
        r.major = 500;
    } else {
        r.minor = 1000;
        r.major = 5000;
    }
    r.base = r.minor;
    r.smallUnit = false;
    r.limit = kVoltageLimit;
    r.labelStep = LabelStep(r.base, r.major, r.limit, scale, labelHeight);
    return r;
}

ValueAxisRule CurrentAxisRule(float scale, int32_t plotHeight, int32_t labelHeight) {
    ValueAxisRule r;
    r.limit = kCurrentLimit;
    if (float(plotHeight) / scale < 1000.0f) {
        r.minor = 10, r.major = 50, r.base = 10, r.smallUnit = true;
    } else {
        r.minor = 100, r.major = 500, r.base = 100;
        if (scale < 0.03f) r.minor = 500, r.major = 500, r.base = 500;
    }
    r.labelStep = LabelStep(r.base, r.major, r.limit, scale, labelHeight);
    return r;
}

ValueAxisRule WattageAxisRule(float scale, int32_t plotHeight, int32_t labelHeight) {
    ValueAxisRule r;
    r.limit = kWattageLimit;
    if (float(plotHeight) / scale < 1000.0f) {
        r.minor = 10, r.major = 50, r.base = 10, r.smallUnit = true;
    } else if (scale < 0.002f) {
        r.minor = 5000, r.major = 5000, r.base = 5000;
    } else {
        r.minor = 100, r.major = 500, r.base = 100;
        if (scale < 0.03f) r.minor = 1000, r.major = 5000, r.base = 1000;
    }
    r.labelStep = LabelStep(r.base, r.major, r.limit, scale, labelHeight);
    return r;
}

ValueAxisRule AxisRuleOf(const CGraphModel& model, GraphArea area, int32_t labelHeight) {
    const GraphAreaState& s = model.Area(area);
    const int32_t h = model.Plot().height;
    if (area == GraphArea::Voltage) return VoltageAxisRule(s.scale, h, labelHeight);
    ValueAxisRule r = area == GraphArea::Current ? CurrentAxisRule(s.scale, h, labelHeight)
                                                 : WattageAxisRule(s.scale, h, labelHeight);
    // A band whose label step in tenths of an ampere (watt) lies beyond it would show its zero alone:
    // it counts in mA (mW), whose finer steps fit.
    const float reach =
        float(std::max(std::abs(s.min), std::abs(s.max))) + float(CGraphModel::kAreaPadding) / s.scale;
    if (!r.smallUnit && (r.labelStep == 0 || float(r.labelStep) > reach)) {
        ValueAxisRule fine = r;
        fine.minor = 10, fine.major = 50, fine.base = 10, fine.smallUnit = true;
        fine.labelStep = LabelStep(fine.base, fine.major, fine.limit, s.scale, labelHeight);
        if (fine.labelStep != 0 && float(fine.labelStep) <= reach) return fine;
    }
    return r;
}

std::string ValueTickLabel(GraphArea area, int32_t value, bool smallUnit) {
    const int32_t v = std::abs(value);
    char text[32];
    switch (area) {
    case GraphArea::Voltage:
        std::snprintf(text, sizeof text, "%1.1fV", double(float(v) / 1000.0f));
        break;
    case GraphArea::Current:
        if (smallUnit)
            std::snprintf(text, sizeof text, "%dmA", v);
        else
            std::snprintf(text, sizeof text, "%1.1fA", double(float(v) / 1000.0f));
        break;
    case GraphArea::Wattage:
        if (smallUnit)
            std::snprintf(text, sizeof text, "%dmW", v);
        else
            std::snprintf(text, sizeof text, "%.1fW", double(float(v) / 1000.0f));
        break;
    }
    return value < 0 ? "-" + std::string(text) : std::string(text);
}

std::vector<ValueTick> ValueTicks(const CGraphModel& model, GraphArea area, bool gridOn,
                                  int32_t labelHeight) {
    std::vector<ValueTick> ticks;
    const ValueAxisRule rule = AxisRuleOf(model, area, labelHeight);
    const GraphAreaState& s = model.Area(area);
    const int32_t zeroY = model.ZeroY(area);
    const int32_t h = model.Plot().height;
    if (rule.minor <= 0) return ticks;
    const bool grid = gridOn && Px(float(rule.minor) * s.scale) >= kMinGridSpacing;
    auto add = [&](int32_t value, int32_t y, bool onLabelStep) {
        ValueTick t;
        t.value = value;
        t.y = y;
        t.line = grid || value == 0 || onLabelStep;
        t.label = value == 0 || onLabelStep;
        if (t.label) t.text = ValueTickLabel(area, value, rule.smallUnit);
        if (t.line || t.label) ticks.push_back(std::move(t));
    };

    if (area == GraphArea::Voltage) {
        for (int32_t v = 0; v <= rule.limit; v += rule.minor) {
            const int32_t p = Px(float(v) * s.scale);
            if (p + s.baseline > h) break;
            add(v, zeroY - p, rule.labelStep != 0 && v % rule.labelStep == 0);
        }
        return ticks;
    }

    int32_t bandTop, bandBottom;
    model.AreaBand(area, &bandTop, &bandBottom);
    for (int32_t v = 0; v <= rule.limit; v += rule.minor) {
        int32_t p = Px(float(v) * s.scale);
        if (model.CurrentFlip()) p = -p;
        const bool onStep = rule.labelStep != 0 && v % rule.labelStep == 0;
        if (v == 0) {
            add(0, zeroY, true);
            continue;
        }
        const int32_t up = zeroY - p, down = zeroY + p;
        // Further values only move further out.
        if (std::min(up, down) < bandTop - kLabelReach && std::max(up, down) > bandBottom + kLabelReach) break;
        add(v, up, onStep);
        add(-v, down, onStep);
    }
    return ticks;
}

std::vector<int32_t> PlaceValueLabels(const std::vector<ValueTick>& ticks, int32_t bandTop, int32_t bandBottom,
                                      int32_t textHeight) {
    std::vector<int32_t> tops(ticks.size(), -1);
    std::vector<int32_t> placed;
    for (size_t i = 0; i < ticks.size(); ++i) {
        const ValueTick& t = ticks[i];
        if (!t.label || t.y < bandTop || t.y > bandBottom) continue;
        const int32_t top = std::max(t.y - textHeight, bandTop);
        if (top + textHeight > bandBottom) continue;
        const bool overlaps = std::any_of(placed.begin(), placed.end(), [&](int32_t other) {
            return top < other + textHeight && other < top + textHeight;
        });
        if (overlaps) continue;
        placed.push_back(top);
        tops[i] = top;
    }
    return tops;
}
