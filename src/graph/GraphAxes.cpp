#include "GraphAxes.h"

#include "TimeMath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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

// The label step of the current and wattage axes: the base step when it is taller than the font,
// else the first of up to five major steps that is.
int32_t BaseLabelStep(int32_t base, int32_t major, float scale, int32_t fontHeight) {
    if (fontHeight < Px(float(base) * scale)) return base;
    for (int32_t k = 1; k <= 5; ++k)
        if (Px(float(major) * scale * float(k)) > fontHeight) return k * major;
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

namespace {

// Whether a label of the format states the time exactly: a whole number of its unit.
bool LabelIsExact(int64_t t, TimeLabelFormat format) {
    switch (format) {
    case TimeLabelFormat::Microseconds:
        return true;
    case TimeLabelFormat::Milliseconds:
        return t % kMs == 0;
    case TimeLabelFormat::Seconds:
        return t % kSecond == 0;
    case TimeLabelFormat::Minutes:
        return t % kMinute == 0;
    case TimeLabelFormat::Hours:
        return t % kHour == 0;
    case TimeLabelFormat::Days:
        return t % kDay == 0;
    }
    return true;
}

} // namespace

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
        // A minor tick the label format cannot tell from its major (100 µs steps written in whole
        // milliseconds, 6 h steps in whole days ...) would only repeat that major's text.
        tick.label = onMajor || (dx > 50 && LabelIsExact(t, rule.format));
        if (tick.line || tick.label) ticks.push_back(tick);
    }
    return ticks;
}

ValueAxisRule VoltageAxisRule(float scale, int32_t plotHeight, int32_t fontHeight) {
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
    if (fontHeight < Px(float(r.minor) * scale)) {
        r.labelStep = r.minor;
    } else {
        for (int32_t k = 1; k <= 49 && k * r.major <= kVoltageLimit; ++k)
            if (fontHeight < Px(float(r.major) * scale * float(k))) {
                r.labelStep = k * r.major;
                break;
            }
    }
    return r;
}

ValueAxisRule CurrentAxisRule(float scale, int32_t plotHeight, int32_t fontHeight) {
    ValueAxisRule r;
    r.limit = kCurrentLimit;
    if (float(plotHeight) / scale < 1000.0f) {
        r.minor = 10, r.major = 50, r.base = 10, r.smallUnit = true;
    } else {
        r.minor = 100, r.major = 500, r.base = 100;
        if (scale < 0.03f) r.minor = 500, r.major = 500, r.base = 500;
    }
    r.labelStep = BaseLabelStep(r.base, r.major, scale, fontHeight);
    return r;
}

ValueAxisRule WattageAxisRule(float scale, int32_t plotHeight, int32_t fontHeight) {
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
    r.labelStep = BaseLabelStep(r.base, r.major, scale, fontHeight);
    return r;
}

ValueAxisRule AxisRuleOf(const CGraphModel& model, GraphArea area) {
    const float scale = model.Area(area).scale;
    const int32_t h = model.Plot().height;
    const int32_t f = model.FontHeight();
    switch (area) {
    case GraphArea::Voltage:
        return VoltageAxisRule(scale, h, f);
    case GraphArea::Current:
        return CurrentAxisRule(scale, h, f);
    case GraphArea::Wattage:
        return WattageAxisRule(scale, h, f);
    }
    return {};
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

std::vector<ValueTick> ValueTicks(const CGraphModel& model, GraphArea area, bool gridOn) {
    std::vector<ValueTick> ticks;
    const ValueAxisRule rule = AxisRuleOf(model, area);
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
