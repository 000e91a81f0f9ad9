#include "GraphTraces.h"

#include "CaptureStore.h"
#include "TimeMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
// Columns with at most this many samples are read directly rather than through the summary.
constexpr size_t kDirectColumn = 16;

size_t BlockSize(size_t level) {
    size_t s = CSampleSummary::kFanOut;
    for (size_t l = 0; l < level; ++l) s *= CSampleSummary::kFanOut;
    return s;
}

void Emit(TracePath* out, double x, double y) {
    const TracePoint p{x, y};
    if (out->points.empty() || !(out->points.back() == p)) out->points.push_back(p);
}

bool MatchesPair(const CVbusInfo& s, int32_t voltage, int32_t current) {
    return s.vbusVoltage == voltage && s.vbusCurrent == current;
}

bool IsVbusTrace(GraphValue v) {
    return v == GraphValue::VbusVoltage || v == GraphValue::VbusCurrent || v == GraphValue::VbusPower;
}

} // namespace

int32_t SampleValue(const CVbusInfo& s, GraphValue v) {
    switch (v) {
    case GraphValue::VbusVoltage:
        return s.vbusVoltage;
    case GraphValue::Cc1Voltage:
        return s.cc1Voltage;
    case GraphValue::Cc2Voltage:
        return s.cc2Voltage;
    case GraphValue::VbusCurrent:
        return s.vbusCurrent;
    case GraphValue::Cc1Current:
        return s.cc1Current;
    case GraphValue::Cc2Current:
        return s.cc2Current;
    case GraphValue::VbusPower:
        return PowerMilliwatts(s.vbusVoltage, s.vbusCurrent);
    case GraphValue::Cc1Power:
        return PowerMilliwatts(s.cc1Voltage, s.cc1Current);
    case GraphValue::Cc2Power:
        return PowerMilliwatts(s.cc2Voltage, s.cc2Current);
    }
    return 0;
}

bool TraceShown(const CGraphModel& m, GraphValue v) {
    using T = GraphTraceSwitch;
    const bool volts = m.AreaOn(GraphArea::Voltage), amps = m.AreaOn(GraphArea::Current);
    const bool watts = m.AreaOn(GraphArea::Wattage);
    switch (v) {
    case GraphValue::VbusVoltage:
        return volts && m.TraceOn(T::VbusVoltage);
    case GraphValue::Cc1Voltage:
        return volts && m.TraceOn(T::Cc1Voltage);
    case GraphValue::Cc2Voltage:
        return volts && m.TraceOn(T::Cc2Voltage);
    case GraphValue::VbusCurrent:
        return amps && m.TraceOn(T::VbusCurrent);
    case GraphValue::Cc1Current:
        return amps && m.TraceOn(T::Cc1Current);
    case GraphValue::Cc2Current:
        return amps && m.TraceOn(T::Cc2Current);
    case GraphValue::VbusPower:
        return watts;
    case GraphValue::Cc1Power:
        return watts && m.TraceOn(T::Cc1Current);
    case GraphValue::Cc2Power:
        return watts && m.TraceOn(T::Cc2Current);
    }
    return false;
}

int64_t TraceGeometry::X(int64_t displayTime) const {
    const float x = float(TimeDifference(displayTime, viewStart)) * timeScale;
    if (std::isnan(x)) return 0;
    return int64_t(std::clamp(x, -4.0e18f, 4.0e18f));
}

int32_t TraceGeometry::P(int32_t v) const {
    const float p = float(negate ? -v : v) * scale;
    if (std::isnan(p)) return 0;
    return int32_t(std::clamp(p, -1.0e9f, 1.0e9f));
}

TraceGeometry TraceGeometryOf(const CGraphModel& m, GraphValue v) {
    TraceGeometry g;
    g.viewStart = m.ViewStart();
    g.viewEnd = m.ViewEnd();
    g.timeScale = m.TimeScale();
    g.plotLeft = m.Plot().left;
    g.value = v;
    GraphArea area = GraphArea::Voltage;
    for (const GraphTraceInfo& t : kTraceOrder)
        if (t.value == v) area = t.area;
    g.scale = m.Area(area).scale;
    g.zeroY = m.ZeroY(area);
    // Currents and powers are negated by the reverse-current setting, and once more by the flip.
    if (area != GraphArea::Voltage) g.negate = m.ReverseCurrent() != m.CurrentFlip();
    return g;
}

SampleSpan TraceSpan(const CCaptureStore& store, int64_t viewStart, int64_t viewEnd) {
    const size_t n = store.SampleCount();
    if (n == 0) return {};
    int64_t atStart = -1, atEnd = -1;
    store.FindSampleAt(viewStart, &atStart);
    store.FindSampleAt(viewEnd, &atEnd);
    SampleSpan s;
    s.first = atStart > 0 ? size_t(atStart - 1) : 0;
    const size_t last = atEnd < 0 ? n - 1 : std::min(size_t(atEnd) + (atEnd > 0 ? 1 : 0), n - 1);
    // The walk stops at the second sample beyond the window's end.
    const size_t secondBeyond = size_t(atEnd + 2);
    s.end = std::min(last + 1, secondBeyond);
    if (s.end < s.first) s.end = s.first;
    return s;
}

PeakTargets PeakTargetsOf(const CCaptureStore& store) {
    const CaptureExtremes& e = store.extremes;
    PeakTargets t;
    t.maxOn = e.maxVbusPower != 0;
    t.maxVoltage = e.maxVbusPowerVoltage;
    t.maxCurrent = e.maxVbusPowerCurrent;
    t.maxPower = e.maxVbusPower;
    t.minOn = e.minVbusPower != 0;
    t.minVoltage = e.minVbusPowerVoltage;
    t.minCurrent = e.minVbusPowerCurrent;
    t.minPower = e.minVbusPower;
    return t;
}

// ---- the walk ------------------------------------------------------------------------------------------

void WalkTrace(const CCaptureStore& store, const TraceGeometry& g, SampleSpan span, const PeakTargets* peaks,
               TracePath* out, std::vector<TracePoint>* drawnPoints) {
    out->Clear();
    if (peaks && !IsVbusTrace(g.value)) peaks = nullptr;
    bool started = false;
    int64_t columnX = 0;
    int32_t columnMin = 0, columnMax = 0, lastP = 0;
    auto draw = [&](int64_t x, int32_t p) {
        const double wx = double(g.plotLeft) + double(x), wy = double(g.zeroY) - double(p);
        Emit(out, wx, wy);
        if (drawnPoints && (drawnPoints->empty() || !(drawnPoints->back() == TracePoint{wx, wy})))
            drawnPoints->push_back({wx, wy});
    };
    auto drawn = [&](size_t i, const CVbusInfo& s) {
        if (!peaks) return;
        if (peaks->maxOn && out->peakMax < 0 && MatchesPair(s, peaks->maxVoltage, peaks->maxCurrent))
            out->peakMax = int64_t(i);
        if (peaks->minOn && out->peakMin < 0 && MatchesPair(s, peaks->minVoltage, peaks->minCurrent))
            out->peakMin = int64_t(i);
    };
    for (size_t i = span.first; i < span.end; ++i) {
        const CVbusInfo& s = *store.SampleAt(i);
        const int64_t x = g.X(store.DisplayTime(s));
        const int32_t p = g.P(SampleValue(s, g.value));
        if (!started || x != columnX) {
            if (started) draw(columnX, lastP);
            columnX = x;
            columnMin = columnMax = p;
            draw(x, p);
            drawn(i, s);
            started = true;
        } else if (p < columnMin) {
            columnMin = p;
            draw(x, p);
            drawn(i, s);
        } else if (p > columnMax) {
            columnMax = p;
            draw(x, p);
            drawn(i, s);
        }
        lastP = p;
    }
}

// ---- the summary ---------------------------------------------------------------------------------------

void CSampleSummary::Fold(Entry& e, const CVbusInfo& s) const {
    for (int v = 0; v < kGraphValueCount; ++v) {
        const int32_t value = SampleValue(s, GraphValue(v));
        e.lo[size_t(v)] = std::min(e.lo[size_t(v)], value);
        e.hi[size_t(v)] = std::max(e.hi[size_t(v)], value);
    }
}

bool CSampleSummary::InSync(const CCaptureStore& s) const {
    if (store != &s || s.SampleCount() != count) return false;
    if (count == 0) return true;
    const CVbusInfo& first = *s.SampleAt(0);
    return first.time == firstTime && first.fileOffset == firstOffset;
}

void CSampleSummary::Sync(const CCaptureStore& s) {
    const size_t n = s.SampleCount();
    bool fresh = store != &s || n < count;
    if (!fresh && count > 0) {
        // Samples trimmed from the front, or a store reset and refilled since the last look.
        const CVbusInfo& first = *s.SampleAt(0);
        fresh = first.time != firstTime || first.fileOffset != firstOffset;
    }
    if (fresh) {
        store = &s;
        count = 0;
        levels.clear();
        blockTimes.clear();
    }
    if (n == count) return;
    if (levels.empty()) levels.emplace_back();
    std::vector<Entry>& blocks = levels[0];
    Entry empty;
    empty.lo.fill(std::numeric_limits<int32_t>::max());
    empty.hi.fill(std::numeric_limits<int32_t>::min());
    const size_t firstBlock = count / kFanOut;
    for (size_t i = count; i < n; ++i) {
        const CVbusInfo& sample = *s.SampleAt(i);
        if (i % kFanOut == 0) {
            blocks.push_back(empty);
            blockTimes.push_back(sample.time);
        }
        Fold(blocks.back(), sample);
    }
    count = n;
    const CVbusInfo& first = *s.SampleAt(0);
    firstTime = first.time;
    firstOffset = first.fileOffset;
    RebuildUpper(firstBlock);
}

void CSampleSummary::RebuildUpper(size_t fromBlock) {
    size_t changed = fromBlock;
    for (size_t level = 1; levels[level - 1].size() > 1; ++level) {
        if (levels.size() <= level) levels.emplace_back();
        const std::vector<Entry>& below = levels[level - 1];
        std::vector<Entry>& here = levels[level];
        const size_t entries = (below.size() + kFanOut - 1) / kFanOut;
        here.resize(entries);
        changed /= kFanOut;
        for (size_t b = changed; b < entries; ++b) {
            Entry& e = here[b];
            e.lo.fill(std::numeric_limits<int32_t>::max());
            e.hi.fill(std::numeric_limits<int32_t>::min());
            const size_t end = std::min(below.size(), (b + 1) * kFanOut);
            for (size_t c = b * kFanOut; c < end; ++c)
                for (size_t v = 0; v < size_t(kGraphValueCount); ++v) {
                    e.lo[v] = std::min(e.lo[v], below[c].lo[v]);
                    e.hi[v] = std::max(e.hi[v], below[c].hi[v]);
                }
        }
    }
}

int64_t CSampleSummary::SampleTime(const CCaptureStore& s, size_t i) const {
    return s.SampleAt(i)->time;
}

void CSampleSummary::RangeAll(const CCaptureStore& s, size_t from, size_t to, int32_t* lo, int32_t* hi) const {
    Entry e;
    e.lo.fill(std::numeric_limits<int32_t>::max());
    e.hi.fill(std::numeric_limits<int32_t>::min());
    size_t i = from;
    to = std::min(to, count);
    while (i < to) {
        if (i % kFanOut == 0 && i + kFanOut <= to && !levels.empty()) {
            size_t level = 0;
            while (level + 1 < levels.size() && i % BlockSize(level + 1) == 0 && i + BlockSize(level + 1) <= to)
                ++level;
            const Entry& b = levels[level][i / BlockSize(level)];
            for (size_t v = 0; v < size_t(kGraphValueCount); ++v) {
                e.lo[v] = std::min(e.lo[v], b.lo[v]);
                e.hi[v] = std::max(e.hi[v], b.hi[v]);
            }
            i += BlockSize(level);
        } else {
            Fold(e, *s.SampleAt(i));
            ++i;
        }
    }
    std::copy(e.lo.begin(), e.lo.end(), lo);
    std::copy(e.hi.begin(), e.hi.end(), hi);
}

void CSampleSummary::Range(const CCaptureStore& s, size_t from, size_t to, GraphValue v, int32_t* lo,
                           int32_t* hi) const {
    int32_t l = std::numeric_limits<int32_t>::max(), h = std::numeric_limits<int32_t>::min();
    size_t i = from;
    to = std::min(to, count);
    while (i < to) {
        if (i % kFanOut == 0 && i + kFanOut <= to && !levels.empty()) {
            // The largest whole block that starts here and ends inside the range.
            size_t level = 0;
            while (level + 1 < levels.size() && i % BlockSize(level + 1) == 0 && i + BlockSize(level + 1) <= to)
                ++level;
            const Entry& e = levels[level][i / BlockSize(level)];
            l = std::min(l, e.lo[size_t(v)]);
            h = std::max(h, e.hi[size_t(v)]);
            i += BlockSize(level);
        } else {
            const int32_t value = SampleValue(*s.SampleAt(i), v);
            l = std::min(l, value);
            h = std::max(h, value);
            ++i;
        }
    }
    *lo = l;
    *hi = h;
}

size_t CSampleSummary::FindValue(const CCaptureStore& s, size_t from, size_t to, GraphValue v,
                                 int32_t target) const {
    to = std::min(to, count);
    // Searches a whole block of a level, skipping every block that cannot hold the value.
    auto search = [&](auto&& self, size_t level, size_t block) -> size_t {
        const Entry& e = levels[level][block];
        if (target < e.lo[size_t(v)] || target > e.hi[size_t(v)]) return kNone;
        if (level == 0) {
            const size_t end = std::min(count, (block + 1) * kFanOut);
            for (size_t i = block * kFanOut; i < end; ++i)
                if (SampleValue(*s.SampleAt(i), v) == target) return i;
            return kNone;
        }
        const size_t end = std::min(levels[level - 1].size(), (block + 1) * kFanOut);
        for (size_t c = block * kFanOut; c < end; ++c)
            if (const size_t r = self(self, level - 1, c); r != kNone) return r;
        return kNone;
    };
    size_t i = from;
    while (i < to) {
        if (i % kFanOut == 0 && i + kFanOut <= to && !levels.empty()) {
            size_t level = 0;
            while (level + 1 < levels.size() && i % BlockSize(level + 1) == 0 && i + BlockSize(level + 1) <= to)
                ++level;
            if (const size_t r = search(search, level, i / BlockSize(level)); r != kNone) return r;
            i += BlockSize(level);
        } else {
            if (SampleValue(*s.SampleAt(i), v) == target) return i;
            ++i;
        }
    }
    return to;
}

std::vector<TraceColumn> TraceColumns(const CCaptureStore& store, const TraceGeometry& g, SampleSpan span,
                                      const CSampleSummary* summary) {
    std::vector<TraceColumn> columns;
    auto xAt = [&](size_t i) { return g.X(store.DisplayTime(*store.SampleAt(i))); };
    const bool indexed = summary && summary->InSync(store);
    size_t i = span.first;
    while (i < span.end) {
        const int64_t x = xAt(i);
        if (indexed) {
            const size_t next = summary->FirstWhere(store, i + 1, span.end,
                                                    [&](int64_t time) { return g.X(store.DisplayTime(time)) > x; });
            columns.push_back({x, i, next});
            i = next;
            continue;
        }
        // Gallop to a sample of a later column, then bisect for the first one.
        size_t lo = i, step = 1, probe = i + 1;
        while (probe < span.end && xAt(probe) == x) {
            lo = probe;
            step *= 2;
            probe = i + step;
        }
        size_t hi = std::min(probe, span.end);
        while (hi - lo > 1) {
            const size_t mid = lo + (hi - lo) / 2;
            if (xAt(mid) == x)
                lo = mid;
            else
                hi = mid;
        }
        columns.push_back({x, i, hi});
        i = hi;
    }
    return columns;
}

std::vector<ColumnValues> ColumnValuesOf(const CCaptureStore& store, const CSampleSummary& summary,
                                         const std::vector<TraceColumn>& columns) {
    std::vector<ColumnValues> values(columns.size());
    for (size_t k = 0; k < columns.size(); ++k) {
        const TraceColumn& c = columns[k];
        ColumnValues& v = values[k];
        const CVbusInfo& first = *store.SampleAt(c.begin);
        const CVbusInfo& last = *store.SampleAt(c.end - 1);
        for (int i = 0; i < kGraphValueCount; ++i) {
            v.first[size_t(i)] = SampleValue(first, GraphValue(i));
            v.last[size_t(i)] = SampleValue(last, GraphValue(i));
        }
        v.lo.fill(std::numeric_limits<int32_t>::max());
        v.hi.fill(std::numeric_limits<int32_t>::min());
        if (c.end - c.begin > 1) summary.RangeAll(store, c.begin + 1, c.end, v.lo.data(), v.hi.data());
    }
    return values;
}

void SummariseTrace(const CCaptureStore& store, const CSampleSummary& summary,
                    const std::vector<TraceColumn>& columns, const std::vector<ColumnValues>& values,
                    const TraceGeometry& g, const PeakTargets* peaks, TracePath* out) {
    out->Clear();
    if (columns.empty()) return;
    auto pOf = [&](size_t i) { return g.P(SampleValue(*store.SampleAt(i), g.value)); };
    // Min and max of P over samples [a, b), a < b.
    auto pRange = [&](size_t a, size_t b, int32_t* pMin, int32_t* pMax) {
        int32_t lo, hi;
        if (b - a <= kDirectColumn) {
            lo = std::numeric_limits<int32_t>::max();
            hi = std::numeric_limits<int32_t>::min();
            for (size_t k = a; k < b; ++k) {
                const int32_t v = SampleValue(*store.SampleAt(k), g.value);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        } else {
            summary.Range(store, a, b, g.value, &lo, &hi);
        }
        const int32_t pa = g.P(lo), pb = g.P(hi);
        *pMin = std::min(pa, pb);
        *pMax = std::max(pa, pb);
    };
    auto point = [&](int64_t x, int32_t p) { Emit(out, double(g.plotLeft) + double(x), double(g.zeroY) - double(p)); };

    const size_t v = size_t(g.value);
    bool started = false;
    int64_t previousX = 0;
    int32_t lastP = 0;
    for (size_t k = 0; k < columns.size(); ++k) {
        const TraceColumn& c = columns[k];
        const ColumnValues& cv = values[k];
        if (started) point(previousX, lastP);
        const int32_t first = g.P(cv.first[v]);
        point(c.x, first);
        if (cv.lo[v] <= cv.hi[v]) {
            const int32_t pa = g.P(cv.lo[v]), pb = g.P(cv.hi[v]);
            const int32_t pMin = std::min(pa, pb), pMax = std::max(pa, pb);
            if (pMin < first) point(c.x, pMin);
            if (pMax > first) point(c.x, pMax);
        }
        lastP = g.P(cv.last[v]);
        previousX = c.x;
        started = true;
    }

    if (!peaks || !IsVbusTrace(g.value)) return;
    const size_t spanFirst = columns.front().begin, spanEnd = columns.back().end;
    // A sample is drawn when it opens its column or goes beyond every earlier sample of the column.
    auto isDrawn = [&](size_t k) {
        const auto c = std::upper_bound(columns.begin(), columns.end(), k,
                                         [](size_t i, const TraceColumn& col) { return i < col.begin; }) -
                       1;
        if (k == c->begin) return true;
        int32_t pMin, pMax;
        pRange(c->begin, k, &pMin, &pMax);
        const int32_t p = pOf(k);
        return p < pMin || p > pMax;
    };
    auto firstDrawn = [&](int32_t voltage, int32_t current, int32_t power) -> int64_t {
        for (size_t k = spanFirst; k < spanEnd; ++k) {
            k = summary.FindValue(store, k, spanEnd, GraphValue::VbusPower, power);
            if (k >= spanEnd) break;
            if (MatchesPair(*store.SampleAt(k), voltage, current) && isDrawn(k)) return int64_t(k);
        }
        return -1;
    };
    if (peaks->maxOn) out->peakMax = firstDrawn(peaks->maxVoltage, peaks->maxCurrent, peaks->maxPower);
    if (peaks->minOn) out->peakMin = firstDrawn(peaks->minVoltage, peaks->minCurrent, peaks->minPower);
}
