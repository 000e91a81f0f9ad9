// The nine sample traces as polylines, in two ways that draw the same picture:
//  - the walk visits every sample of the window and keeps, per pixel column, the first sample, each one
//    that extends the column's minimum or maximum, and a line back to the column's last sample;
//  - the summary finds each column's samples by bisection on their times and takes the column's
//    minimum and maximum from CSampleSummary, a min/max tree over blocks of samples, so that a window
//    of millions of samples costs a few thousand look-ups.
// Inside one column every point lies on one vertical line between the column's minimum and maximum;
// drawn as separate steps with their ends included, the line covers the same pixels whichever of those
// points it visits and in whatever order. The walk is kept for few samples and for the measuring points,
// which mark every point the walk draws.
#pragma once

#include "GraphModel.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class CCaptureStore;
struct CVbusInfo;

// The nine sample values; powers in mW, currents and powers as stored (before the reverse-current
// setting).
enum class GraphValue { VbusVoltage, Cc1Voltage, Cc2Voltage, VbusCurrent, Cc1Current, Cc2Current, VbusPower, Cc1Power, Cc2Power };
inline constexpr int kGraphValueCount = 9;

int32_t SampleValue(const CVbusInfo& s, GraphValue v);

struct GraphTraceInfo {
    GraphValue value;
    GraphArea area;
};

// Drawing order: later traces lie over earlier ones.
inline constexpr GraphTraceInfo kTraceOrder[kGraphValueCount] = {
    {GraphValue::Cc1Current, GraphArea::Current}, {GraphValue::Cc2Current, GraphArea::Current},
    {GraphValue::Cc1Voltage, GraphArea::Voltage}, {GraphValue::Cc2Voltage, GraphArea::Voltage},
    {GraphValue::VbusCurrent, GraphArea::Current}, {GraphValue::VbusVoltage, GraphArea::Voltage},
    {GraphValue::VbusPower, GraphArea::Wattage},  {GraphValue::Cc1Power, GraphArea::Wattage},
    {GraphValue::Cc2Power, GraphArea::Wattage},
};

// Whether a trace is drawn: its area is on and, except for VBUS power, its switch (the current switch
// for a CC power).
bool TraceShown(const CGraphModel& model, GraphValue v);

// Everything a trace needs of the model.
struct TraceGeometry {
    int64_t viewStart = 0;
    int64_t viewEnd = 0;
    float timeScale = 1.0f;
    int32_t plotLeft = 0;
    float scale = 1.0f;
    int32_t zeroY = 0;
    bool negate = false; // reverse current and current flip, for currents and powers
    GraphValue value = GraphValue::VbusVoltage;

    int64_t X(int64_t displayTime) const;
    int32_t P(int32_t value) const;
};
TraceGeometry TraceGeometryOf(const CGraphModel& model, GraphValue v);

// The samples a trace visits, [first, end): from the one before the last sample at or before the
// window's start, to the first one beyond its end.
struct SampleSpan {
    size_t first = 0;
    size_t end = 0;
    size_t Count() const { return end - first; }
};
SampleSpan TraceSpan(const CCaptureStore& store, int64_t viewStart, int64_t viewEnd);

// The VBUS pairs whose first drawn sample gets a peak mark (VBUS traces only).
struct PeakTargets {
    bool maxOn = false, minOn = false;
    int32_t maxVoltage = 0, maxCurrent = 0, maxPower = 0;
    int32_t minVoltage = 0, minCurrent = 0, minPower = 0;
};
PeakTargets PeakTargetsOf(const CCaptureStore& store);

struct TracePoint {
    double x = 0, y = 0; // window coordinates
    bool operator==(const TracePoint&) const = default;
};

struct TracePath {
    std::vector<TracePoint> points; // the polyline; a point equal to the one before it is left out
    int64_t peakMax = -1;           // sample positions carrying the peak marks, -1 for none
    int64_t peakMin = -1;
    void Clear() {
        points.clear();
        peakMax = peakMin = -1;
    }
};

// Min/max of the nine values over blocks of 32 samples, and over blocks of 32 such blocks, and so on,
// with the time of each block's first sample. It follows a store as it grows; a store that was reset
// or trimmed from the front is summarised anew.
class CSampleSummary {
public:
    static constexpr size_t kFanOut = 32;

    // Brings the summary up to the store's samples.
    void Sync(const CCaptureStore& store);
    bool InSync(const CCaptureStore& store) const;
    size_t Count() const { return count; }

    // Min and max of a value over samples [from, to), from < to.
    void Range(const CCaptureStore& store, size_t from, size_t to, GraphValue v, int32_t* lo, int32_t* hi) const;
    // The same for all nine values at once.
    void RangeAll(const CCaptureStore& store, size_t from, size_t to, int32_t* lo, int32_t* hi) const;
    // The first sample in [from, to) whose time (from the capture origin) makes `later` true, or `to`;
    // `later` must be false up to some sample and true from there on.
    template <class Later> size_t FirstWhere(const CCaptureStore& store, size_t from, size_t to, Later later) const;
    // The first sample in [from, to) whose value is `target`, or `to`.
    size_t FindValue(const CCaptureStore& store, size_t from, size_t to, GraphValue v, int32_t target) const;

private:
    struct Entry {
        std::array<int32_t, kGraphValueCount> lo, hi;
    };
    void Fold(Entry& e, const CVbusInfo& s) const;
    void FoldRange(const CCaptureStore& store, size_t level, size_t a, size_t b, GraphValue v, int32_t* lo,
                   int32_t* hi) const;
    void RebuildUpper(size_t fromBlock);

    const CCaptureStore* store = nullptr;
    size_t count = 0;
    int64_t firstTime = 0, firstOffset = 0;
    std::vector<std::vector<Entry>> levels; // levels[k] holds blocks of 32^(k+1) samples
    std::vector<int64_t> blockTimes;        // time of the first sample of each block of levels[0]
    int64_t SampleTime(const CCaptureStore& store, size_t i) const;
};

template <class Later>
size_t CSampleSummary::FirstWhere(const CCaptureStore& s, size_t from, size_t to, Later later) const {
    size_t lo = from, hi = to; // the answer lies in [lo, hi]
    // First narrowed to one block by the blocks' first times, which lie close together in memory.
    if (to > from && to <= count) {
        size_t a = from / kFanOut + 1, b = (to - 1) / kFanOut + 1;
        const size_t firstBlock = a;
        while (a < b) {
            const size_t m = a + (b - a) / 2;
            if (later(blockTimes[m]))
                b = m;
            else
                a = m + 1;
        }
        if (a <= (to - 1) / kFanOut) hi = a * kFanOut;
        if (a > firstBlock) lo = std::max(lo, (a - 1) * kFanOut);
    }
    while (lo < hi) {
        const size_t m = lo + (hi - lo) / 2;
        if (later(SampleTime(s, m)))
            hi = m;
        else
            lo = m + 1;
    }
    return lo;
}

// Pixel columns of a span: a run of samples with one x each. Shared by every trace of one paint. With
// a summary in step with the store, columns are found through its block times.
struct TraceColumn {
    int64_t x = 0;
    size_t begin = 0, end = 0;
};
std::vector<TraceColumn> TraceColumns(const CCaptureStore& store, const TraceGeometry& g, SampleSpan span,
                                      const CSampleSummary* summary = nullptr);

// What the summary method needs of one column, for every value at once: the first and the last sample,
// and min and max over the samples after the first (lo > hi when there are none).
struct ColumnValues {
    std::array<int32_t, kGraphValueCount> first, last, lo, hi;
};
std::vector<ColumnValues> ColumnValuesOf(const CCaptureStore& store, const CSampleSummary& summary,
                                         const std::vector<TraceColumn>& columns);

// The walk, sample by sample. With `drawnPoints` it also collects every point it draws (the measuring
// points).
void WalkTrace(const CCaptureStore& store, const TraceGeometry& g, SampleSpan span, const PeakTargets* peaks,
               TracePath* out, std::vector<TracePoint>* drawnPoints = nullptr);
// The same polyline's pixels from the column summary.
void SummariseTrace(const CCaptureStore& store, const CSampleSummary& summary,
                    const std::vector<TraceColumn>& columns, const std::vector<ColumnValues>& values,
                    const TraceGeometry& g, const PeakTargets* peaks, TracePath* out);
