#include "GraphFixture.h"
#include "GraphTraces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using namespace graphtest;

namespace {

// What a round-jointed pen makes of a polyline: per pixel column the rows it covers and where the line
// enters and leaves it; between columns the straight lines from one exit to the next entry.
struct ColumnShape {
    double x, entry, exit, top, bottom;
    bool operator==(const ColumnShape&) const = default;
};
std::vector<ColumnShape> Shapes(const std::vector<TracePoint>& points) {
    std::vector<ColumnShape> shapes;
    for (const TracePoint& p : points) {
        if (shapes.empty() || shapes.back().x != p.x) {
            shapes.push_back({p.x, p.y, p.y, p.y, p.y});
            continue;
        }
        ColumnShape& c = shapes.back();
        c.exit = p.y;
        c.top = std::min(c.top, p.y);
        c.bottom = std::max(c.bottom, p.y);
    }
    // The last column leads nowhere: where the line leaves it makes no difference.
    if (!shapes.empty()) shapes.back().exit = 0;
    return shapes;
}

CGraphModel Model(float timeScale, int64_t center) {
    CGraphModel m;
    m.SetClientSize(1920, 1080);
    m.SetRanges(GraphRanges{});
    m.FitAreas();
    m.SetTimeScale(timeScale);
    m.SetCenter(center);
    return m;
}

} // namespace

TEST(GraphTraces, SpanStartsBeforeTheWindowAndStopsAfterIt) {
    CCaptureStore store;
    for (int i = 0; i < 10; ++i) Add(store, {i * 100});
    struct Case {
        int64_t start, end;
        size_t first, last;
    };
    const Case cases[] = {
        {250, 650, 1, 8},  // from the one before sample 2, to the one after sample 6
        {-500, 650, 0, 8}, // nothing at or before the start
        {0, 50, 0, 1},     // sample 0 at the start has no sample before it; at the end no +1 either
        {250, 5000, 1, 10},
        {-900, -500, 0, 1}, // all samples after the window: the first is the only one visited
    };
    for (const Case& c : cases) {
        const SampleSpan s = TraceSpan(store, c.start, c.end);
        EXPECT_EQ(s.first, c.first) << c.start;
        EXPECT_EQ(s.end, c.last) << c.start;
    }
    CCaptureStore empty;
    EXPECT_EQ(TraceSpan(empty, 0, 100).Count(), 0u);
}

TEST(GraphTraces, AColumnDrawsOnlyTheSamplesThatExtendIt) {
    // 100 samples in one pixel column between its first two values: two points only.
    CCaptureStore store;
    Add(store, {0, 1000});
    Add(store, {1, 5000});
    for (int i = 2; i < 100; ++i) Add(store, {i, uint16_t(2000 + 20 * i)});
    CGraphModel m = Model(0.001f, 400500); // samples 0 .. 101 µs at x 409.5 .. 409.6
    m.MutableArea(GraphArea::Voltage).scale = 0.01f;
    const TraceGeometry g = TraceGeometryOf(m, GraphValue::VbusVoltage);
    TracePath walk;
    WalkTrace(store, g, TraceSpan(store, m.ViewStart(), m.ViewEnd()), nullptr, &walk);
    ASSERT_EQ(walk.points.size(), 2u);
    EXPECT_EQ(walk.points[0].y, g.zeroY - 10);
    EXPECT_EQ(walk.points[1].y, g.zeroY - 50);

    // A new extreme and then the next column: drawn to, then back to the column's last sample.
    Add(store, {100, 500});
    Add(store, {101, 3000});
    Add(store, {5000, 4000});
    WalkTrace(store, g, TraceSpan(store, m.ViewStart(), m.ViewEnd()), nullptr, &walk);
    ASSERT_EQ(walk.points.size(), 5u);
    EXPECT_EQ(walk.points[2].y, g.zeroY - 5);
    EXPECT_EQ(walk.points[3], (TracePoint{walk.points[0].x, double(g.zeroY - 30)}));
    EXPECT_EQ(walk.points[4].y, g.zeroY - 40);
}

TEST(GraphTraces, SummaryMatchesTheWalkAtEveryZoom) {
    CCaptureStore store;
    const std::vector<Reading> readings = RoughCapture(60000);
    AddAll(store, readings);
    CSampleSummary summary;
    summary.Sync(store);
    const int64_t last = store.DisplayTime(*store.SampleAt(store.SampleCount() - 1));
    const PeakTargets peaks = PeakTargetsOf(store);
    struct Window {
        float scale;
        int64_t center;
    };
    const Window windows[] = {
        {1620.0f / float(last), last / 2}, // fitted
        {0.0005f, last / 3},               // a few samples per column
        {0.00005f, 2 * last / 3},          // tens per column
        {0.002f, 7918000},                 // a gap in the window
        {0.00001f, -1000000},              // before the first sample
        {0.00002f, last + 500000},         // past the last one
    };
    for (const Window& w : windows) {
        for (bool reverse : {false, true})
            for (bool flip : {false, true}) {
                CGraphModel m = Model(w.scale, w.center);
                m.SetReverseCurrent(reverse);
                m.SetCurrentFlip(flip);
                const SampleSpan span = TraceSpan(store, m.ViewStart(), m.ViewEnd());
                for (const GraphTraceInfo& t : kTraceOrder) {
                    SCOPED_TRACE(testing::Message() << "scale " << w.scale << " value " << int(t.value) << " reverse "
                                                    << reverse << " flip " << flip);
                    const TraceGeometry g = TraceGeometryOf(m, t.value);
                    TracePath walk, summed;
                    WalkTrace(store, g, span, &peaks, &walk);
                    // Columns found through the summary's block times are the ones found sample by sample.
                    const std::vector<TraceColumn> columns = TraceColumns(store, g, span, &summary);
                    const std::vector<TraceColumn> plain = TraceColumns(store, g, span);
                    ASSERT_EQ(columns.size(), plain.size());
                    for (size_t k = 0; k < columns.size(); ++k) {
                        ASSERT_EQ(columns[k].begin, plain[k].begin);
                        ASSERT_EQ(columns[k].end, plain[k].end);
                        ASSERT_EQ(columns[k].x, plain[k].x);
                    }
                    SummariseTrace(store, summary, columns, ColumnValuesOf(store, summary, columns), g, &peaks,
                                   &summed);
                    EXPECT_EQ(Shapes(summed.points), Shapes(walk.points));
                    EXPECT_EQ(summed.peakMax, walk.peakMax);
                    EXPECT_EQ(summed.peakMin, walk.peakMin);
                }
            }
    }
}

TEST(GraphTraces, PeakMarksGoToTheFirstDrawnSampleOfThePeak) {
    CCaptureStore store;
    AddAll(store, {{0, 5000, 100}, {1000, 9000, 3000}, {2000, 5000, -500}, {3000, 9000, 3000}});
    const PeakTargets peaks = PeakTargetsOf(store);
    EXPECT_TRUE(peaks.maxOn && peaks.minOn);
    EXPECT_EQ(peaks.maxPower, 27000);
    EXPECT_EQ(peaks.minPower, -2500);
    CGraphModel m = Model(0.5f, 1500);
    for (GraphValue v : {GraphValue::VbusVoltage, GraphValue::VbusCurrent, GraphValue::VbusPower}) {
        TracePath walk;
        WalkTrace(store, TraceGeometryOf(m, v), TraceSpan(store, m.ViewStart(), m.ViewEnd()), &peaks, &walk);
        EXPECT_EQ(walk.peakMax, 1);
        EXPECT_EQ(walk.peakMin, 2);
    }
    // CC traces carry none.
    TracePath cc;
    WalkTrace(store, TraceGeometryOf(m, GraphValue::Cc1Voltage), TraceSpan(store, m.ViewStart(), m.ViewEnd()), &peaks,
              &cc);
    EXPECT_EQ(cc.peakMax, -1);

    // Fitted into one column, the peak sample of the voltage trace is not its first drawn one: the
    // second 9 V sample is never drawn, the first is.
    CGraphModel one = Model(0.0001f, 8100000); // the window starts at 0, every sample in its first column
    TracePath walk;
    WalkTrace(store, TraceGeometryOf(one, GraphValue::VbusVoltage), TraceSpan(store, one.ViewStart(), one.ViewEnd()),
              &peaks, &walk);
    EXPECT_EQ(walk.peakMax, 1);
    EXPECT_EQ(walk.peakMin, -1) << "-500 mA at 5 V is neither first nor a new extreme of the voltage";
}

TEST(GraphTraces, SummaryFollowsTheStoreAsItGrowsIsTrimmedAndReset) {
    CCaptureStore store;
    StoreLimits limits;
    limits.sampleLimit = 20000;
    limits.sampleAutoRemove = true;
    store.SetLimits(limits);
    const std::vector<Reading> readings = RoughCapture(30000, 11);
    CSampleSummary summary;
    std::mt19937 random(5);
    auto check = [&](const char* when) {
        ASSERT_TRUE(summary.InSync(store)) << when;
        const size_t n = store.SampleCount();
        for (int k = 0; k < 200; ++k) {
            size_t a = random() % n, b = random() % n;
            if (a > b) std::swap(a, b);
            ++b;
            const GraphValue v = GraphValue(random() % kGraphValueCount);
            int32_t lo, hi;
            summary.Range(store, a, b, v, &lo, &hi);
            int32_t elo = INT32_MAX, ehi = INT32_MIN;
            for (size_t i = a; i < b; ++i) {
                elo = std::min(elo, SampleValue(*store.SampleAt(i), v));
                ehi = std::max(ehi, SampleValue(*store.SampleAt(i), v));
            }
            ASSERT_EQ(lo, elo) << when << " [" << a << ", " << b << ")";
            ASSERT_EQ(hi, ehi) << when;
            const size_t found = summary.FindValue(store, a, b, v, ehi);
            ASSERT_LT(found, b);
            ASSERT_EQ(SampleValue(*store.SampleAt(found), v), ehi);
            for (size_t i = a; i < found; ++i) ASSERT_NE(SampleValue(*store.SampleAt(i), v), ehi);
        }
    };
    // Growing in uneven steps, as ticks of a live capture bring them.
    size_t added = 0;
    for (size_t step : {1u, 63u, 64u, 1000u, 4097u, 10000u}) {
        for (size_t i = 0; i < step; ++i) Add(store, readings[added++]);
        summary.Sync(store);
        check("growing");
    }
    // More than the limit allows: the oldest samples go from the front.
    while (added < readings.size()) Add(store, readings[added++]);
    store.EnforceLimits();
    ASSERT_EQ(store.SampleCount(), 20000u);
    summary.Sync(store);
    check("trimmed");
    // Reset and refilled with other samples before the summary looked again.
    store.Reset();
    for (size_t i = 0; i < 25000; ++i) Add(store, readings[(i * 7) % readings.size()]);
    summary.Sync(store);
    check("refilled");
}
