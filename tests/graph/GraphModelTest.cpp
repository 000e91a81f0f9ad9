#include "GraphFixture.h"
#include "GraphModel.h"

#include <gtest/gtest.h>

#include <array>

using namespace graphtest;

namespace {

// A plot 900 × 600 px: client 1200 × (64 + 600 + 74).
CGraphModel Model() {
    CGraphModel m;
    m.SetClientSize(1200, 738);
    return m;
}

} // namespace

TEST(GraphModel, LayoutFollowsSizeAndFont) {
    struct Case {
        int32_t w, h, font;
        GraphRect plot;
        int32_t bottomMargin;
    };
    const Case cases[] = {
        {1200, 700, 16, {150, 64, 900, 562}, 74},
        {1200, 700, 18, {150, 64, 900, 562}, 74},  // 4 × 18 = 72 is below 73
        {1200, 700, -20, {150, 64, 900, 536}, 100}, // the height's absolute value; 4 × 20 is not below 73
        {200, 100, 16, {150, 64, 1, 1}, 74},         // never below one pixel
    };
    for (const Case& c : cases) {
        CGraphModel m;
        m.SetFontHeight(c.font);
        m.SetClientSize(c.w, c.h);
        EXPECT_EQ(m.Plot(), c.plot) << c.w << "x" << c.h << " font " << c.font;
        EXPECT_EQ(m.BottomMargin(), c.bottomMargin);
    }
    CGraphModel m = Model();
    const GraphRect r = m.MeasurementRegion();
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 664 + 15);
    EXPECT_EQ(r.width, 150 + 450 - 136);
    EXPECT_EQ(r.Bottom(), 738);
}

TEST(GraphModel, RangesFromTheStoresExtremes) {
    // Currents within ±50 mA still get -100..100 mA; voltage at least 0..5000 mV.
    CCaptureStore small;
    AddAll(small, {{0, 3000, 50}, {1000, 3300, -50}});
    GraphRanges r = RangesFromStore(small, false);
    EXPECT_EQ(r.voltageMax, 5000);
    EXPECT_EQ(r.currentMin, -100);
    EXPECT_EQ(r.currentMax, 100);
    EXPECT_EQ(r.wattageMin, -165);
    EXPECT_EQ(r.wattageMax, 150);
    EXPECT_EQ(r.dataFirstTime, 0);
    EXPECT_EQ(r.dataLastTime, 1000);

    // The reverse-current setting negates and reorders the pair; a minimum of -99 still becomes -100.
    CCaptureStore big;
    AddAll(big, {{0, 20000, 3000}, {10, 9000, 99}});
    r = RangesFromStore(big, true);
    EXPECT_EQ(r.voltageMax, 20000);
    EXPECT_EQ(r.currentMin, -3000);
    EXPECT_EQ(r.currentMax, 100);
    EXPECT_EQ(r.wattageMin, -60000);
    EXPECT_EQ(r.wattageMax, 100);

    // Without samples the data span is 0 to 100 s.
    CCaptureStore empty;
    r = RangesFromStore(empty, false);
    EXPECT_EQ(r.dataFirstTime, 0);
    EXPECT_EQ(r.dataLastTime, 100000000);
}

TEST(GraphModel, AttachFitsEveryAxisAndSetsTheFlipForNegativeCurrents) {
    CCaptureStore store;
    AddAll(store, {{0, 5000, -2000}, {1000000, 5000, 300}, {2000000, 5000, -1500}});
    store.loadedGraphO = 1500000;
    store.loadedGraphX = -1;
    store.timeOrigin = 500000;
    CGraphModel m = Model();
    m.Attach(store, false);
    EXPECT_TRUE(m.CurrentFlip());
    EXPECT_EQ(m.MarkerTime(GraphMarker::O), 1000000); // saved capture time minus the origin
    EXPECT_EQ(m.MarkerTime(GraphMarker::X), 0);       // none saved
    // The data (display times -500000 .. 1500000) takes 99 % of the plot width.
    EXPECT_FLOAT_EQ(m.TimeScale(), 891.0f / 2000000.0f);
    EXPECT_EQ(m.CenterTime(), 500000);
    EXPECT_TRUE(m.IsVisible(-500000) && m.IsVisible(1500000));

    // The same currents the other way round: no flip.
    CGraphModel r = Model();
    r.Attach(store, true);
    EXPECT_FALSE(r.CurrentFlip());
    EXPECT_EQ(r.Area(GraphArea::Current).min, -300);
    EXPECT_EQ(r.Area(GraphArea::Current).max, 2000);
}

TEST(GraphModel, FitTimeWithoutSamplesSpansHundredSecondsAndCentresASingleSample) {
    CGraphModel m = Model();
    m.FitTime();
    EXPECT_FLOAT_EQ(m.TimeScale(), 891.0f / 100000000.0f);
    EXPECT_EQ(m.CenterTime(), 50000000);
    EXPECT_TRUE(m.IsVisible(0) && m.IsVisible(100000000));

    // One sample: no span of its own, so it sits in the middle of the empty capture's span.
    GraphRanges one;
    one.dataFirstTime = one.dataLastTime = 7000000;
    m.SetRanges(one);
    m.FitTime();
    EXPECT_FLOAT_EQ(m.TimeScale(), 891.0f / 100000000.0f);
    EXPECT_EQ(m.CenterTime(), 7000000);
    EXPECT_EQ(m.ViewEnd() - m.CenterTime(), m.CenterTime() - m.ViewStart());
}

TEST(GraphModel, FittingWithOneTwoAndThreeAreas) {
    // Plot height 600; ranges 0..5000 mV, -100..100 mA and -100..100 mW.
    struct Case {
        bool v, i, w;
        float vScale, iScale, wScale;
        int32_t vBase, iBase, wBase;
    };
    const float third = 200 * 0.6f, half = 300 * 0.6f, whole = 600 * 0.6f;
    const Case cases[] = {
        {true, true, true, third / 5000, third / 200, third / 200, 400 + 40, 200 + 60 + 40, 0 + 60 + 40},
        {true, true, false, half / 5000, half / 200, 0, 300 + 60, 0 + 90 + 60, 0},
        {true, false, true, half / 5000, 0, half / 200, 300 + 60, 0, 0 + 90 + 60},
        {false, true, true, 0, half / 200, half / 200, 0, 300 + 90 + 60, 0 + 90 + 60},
        {true, false, false, whole / 5000, 0, 0, 120, 0, 0},
        {false, true, false, 0, whole / 200, 0, 0, 180 + 120, 0},
        {false, false, true, 0, 0, whole / 200, 0, 0, 180 + 120},
    };
    for (const Case& c : cases) {
        CGraphModel m = Model();
        m.SetRanges(GraphRanges{});
        m.SetAreaOn(GraphArea::Voltage, c.v);
        m.SetAreaOn(GraphArea::Current, c.i);
        m.SetAreaOn(GraphArea::Wattage, c.w);
        const GraphAreaState before = m.Area(GraphArea::Voltage);
        m.FitAreas();
        SCOPED_TRACE(testing::Message() << c.v << c.i << c.w);
        if (c.v) {
            EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, c.vScale);
            EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, c.vBase);
        } else { // an area that is off keeps its scale
            EXPECT_EQ(m.Area(GraphArea::Voltage).scale, before.scale);
        }
        if (c.i) {
            EXPECT_FLOAT_EQ(m.Area(GraphArea::Current).scale, c.iScale);
            EXPECT_EQ(m.Area(GraphArea::Current).baseline, c.iBase);
        }
        if (c.w) {
            EXPECT_FLOAT_EQ(m.Area(GraphArea::Wattage).scale, c.wScale);
            EXPECT_EQ(m.Area(GraphArea::Wattage).baseline, c.wBase);
        }
    }

    // With the flip, the range's top (negated, at the bottom) sits a fifth of the slot above the slot.
    CGraphModel f = Model();
    GraphRanges r;
    r.currentMin = -1000;
    r.currentMax = 100;
    f.SetRanges(r);
    f.SetCurrentFlip(true);
    f.FitCurrent();
    const float scale = third / 1100;
    EXPECT_FLOAT_EQ(f.Area(GraphArea::Current).scale, scale);
    EXPECT_EQ(f.Area(GraphArea::Current).baseline, 200 + int32_t(100 * scale) + 40);
    // -1000 mA is drawn at the top of the fitted range, 100 mA at the bottom.
    EXPECT_EQ(f.YOfValue(GraphArea::Current, -1000), 64 + 600 - f.Area(GraphArea::Current).baseline - int32_t(1000 * scale));
    EXPECT_GT(f.YOfValue(GraphArea::Current, 100), f.ZeroY(GraphArea::Current));
}

TEST(GraphModel, TimeZoomStopsAtItsLimits) {
    CGraphModel m = Model();
    m.SetTimeScale(1.0f);
    m.SetCenter(0);
    EXPECT_FALSE(m.ZoomTime(true)); // one pixel per µs already
    EXPECT_TRUE(m.ZoomTime(false));
    EXPECT_FLOAT_EQ(m.TimeScale(), 83.333336f / 100.0f);

    m.SetTimeScale(0.9f);
    EXPECT_TRUE(m.ZoomTime(true));
    EXPECT_EQ(m.TimeScale(), 1.0f); // 1.08 is held at the limit

    m.SetTimeScale(CGraphModel::kMinTimeScale);
    EXPECT_FALSE(m.ZoomTime(false));
    EXPECT_TRUE(m.ZoomTime(true));
    EXPECT_FLOAT_EQ(m.TimeScale(), CGraphModel::kMinTimeScale * 120.0f / 100.0f);

    // The window follows the scale: half the plot's width in µs on either side of the centre.
    m.SetTimeScale(0.5f);
    m.SetCenter(1000);
    EXPECT_EQ(m.ViewStart(), 1000 - 900);
    EXPECT_EQ(m.ViewEnd(), 1000 + 900);
}

TEST(GraphModel, ScrollingStopsAtTheEndsOfTheData) {
    CGraphModel m = Model();
    GraphRanges r;
    r.dataFirstTime = 0;
    r.dataLastTime = 10000;
    m.SetRanges(r);
    m.SetTimeScale(0.1f);
    m.SetCenter(5000);
    // A step is an eighth of the plot: 112 px, 1120 µs.
    EXPECT_TRUE(m.ScrollLeft());
    EXPECT_EQ(m.CenterTime(), 5000 - 1120);
    while (m.ScrollLeft()) {
    }
    EXPECT_LE(m.CenterTime(), 0);
    EXPECT_GT(m.CenterTime(), -1120);
    while (m.ScrollRight()) {
    }
    EXPECT_GE(m.CenterTime(), 10000);
    EXPECT_LT(m.CenterTime(), 10000 + 1120);
}

TEST(GraphModel, ValueZoomKeepsTheMiddleOfThePlot) {
    CGraphModel m = Model();
    GraphAreaState& v = m.MutableArea(GraphArea::Voltage);
    v.scale = 0.1f;
    v.baseline = 100;
    // The value at the plot's middle (200 px above the zero line: 2000 mV) stays near the middle.
    m.ZoomVoltage(true);
    EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, 0.12f);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, 100 - 40);
    m.ZoomVoltage(false);
    EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, 0.1f);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, 60 - int32_t(240 * -0.16666669f));

    // Up and down move by a fortieth of the plot; current and wattage together, only when on.
    m.MutableArea(GraphArea::Current).baseline = 10;
    m.MutableArea(GraphArea::Wattage).baseline = 10;
    m.SetAreaOn(GraphArea::Wattage, false);
    m.MoveCurrentWattage(true);
    EXPECT_EQ(m.Area(GraphArea::Current).baseline, 25);
    EXPECT_EQ(m.Area(GraphArea::Wattage).baseline, 10);
}

TEST(GraphModel, ZoomBoxNeedsMoreThanTenPixelsEachWay) {
    CGraphModel m = Model();
    m.SetTimeScale(0.01f);
    m.SetCenter(0);
    const GraphAreaState before = m.Area(GraphArea::Voltage);
    EXPECT_FALSE(m.ZoomToBox(300, 200, 308, 240)); // 8 × 40
    EXPECT_FALSE(m.ZoomToBox(300, 200, 400, 210)); // 100 × 10
    EXPECT_EQ(m.Area(GraphArea::Voltage).scale, before.scale);
    EXPECT_EQ(m.TimeScale(), 0.01f);

    // A box from x 250 to 350 (10,000 µs) and half the plot's height, centred 150 px below its top.
    const int64_t left = m.TimeAtX(250), right = m.TimeAtX(350);
    ASSERT_TRUE(m.ZoomToBox(350, 364, 250, 64));
    EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, before.scale * 2);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, 300 - (600 - 150 - before.baseline) * 2);
    EXPECT_FLOAT_EQ(m.TimeScale(), 900.0f / float(right - left));
    EXPECT_EQ(m.CenterTime(), left + (right - left) / 2);

    // A box narrower than a µs per pixel allows is held at one pixel per µs.
    m.SetTimeScale(1.0f);
    m.SetCenter(0);
    ASSERT_TRUE(m.ZoomToBox(300, 100, 320, 200));
    EXPECT_EQ(m.TimeScale(), 1.0f);
}

TEST(GraphModel, MarkerHitTestingOnAndOffScreen) {
    CGraphModel m = Model();
    m.SetTimeScale(0.1f);
    m.SetCenter(4500); // window 0 .. 9000 µs, one pixel per 10 µs
    ASSERT_EQ(m.ViewStart(), 0);
    m.SetMarkerTime(GraphMarker::O, 1000); // x = 150 + 100
    m.SetMarkerTime(GraphMarker::X, 5000); // x = 150 + 500
    struct Case {
        int32_t x;
        GraphMarker expected;
    };
    for (const Case& c : {Case{250, GraphMarker::O}, Case{240, GraphMarker::O}, Case{260, GraphMarker::O},
                          Case{239, GraphMarker::None}, Case{261, GraphMarker::None}, Case{655, GraphMarker::X},
                          Case{149, GraphMarker::None}})
        EXPECT_EQ(m.MarkerAt(c.x), c.expected) << c.x;

    // On the same spot X wins.
    m.SetMarkerTime(GraphMarker::O, 5000);
    EXPECT_EQ(m.MarkerAt(650), GraphMarker::X);

    // Off to the left: caught in the plot's first 10 px only, placed at the left edge.
    m.SetMarkerTime(GraphMarker::O, -50000);
    m.SetMarkerTime(GraphMarker::X, 90000);
    const CGraphModel::MarkerPlace o = m.PlaceOf(GraphMarker::O);
    EXPECT_TRUE(o.offLeft);
    EXPECT_EQ(o.x, 0);
    for (const Case& c : {Case{150, GraphMarker::O}, Case{159, GraphMarker::O}, Case{160, GraphMarker::None},
                          Case{145, GraphMarker::None}, Case{1050, GraphMarker::X}, Case{1040, GraphMarker::X},
                          Case{1039, GraphMarker::None}, Case{1051, GraphMarker::None}})
        EXPECT_EQ(m.MarkerAt(c.x), c.expected) << c.x;
    const CGraphModel::MarkerPlace x = m.PlaceOf(GraphMarker::X);
    EXPECT_TRUE(x.offRight);
    EXPECT_EQ(x.x, 900);

    // The highlight changes only when the marker under the pointer does.
    EXPECT_TRUE(m.UpdateHighlight(152));
    EXPECT_EQ(m.Highlighted(), GraphMarker::O);
    EXPECT_FALSE(m.UpdateHighlight(155));
    EXPECT_TRUE(m.UpdateHighlight(500));
    EXPECT_EQ(m.Highlighted(), GraphMarker::None);
}

TEST(GraphModel, ShiftTimesMovesEveryStoredTime) {
    CGraphModel m = Model();
    GraphRanges r;
    r.dataFirstTime = 100;
    r.dataLastTime = 900;
    m.SetRanges(r);
    m.SetTimeScale(1.0f);
    m.SetCenter(500);
    m.SetMarkerTime(GraphMarker::O, 200);
    m.SetMarkerTime(GraphMarker::X, 300);
    m.ShiftTimes(250);
    EXPECT_EQ(m.CenterTime(), 250);
    EXPECT_EQ(m.ViewStart(), 250 - 450);
    EXPECT_EQ(m.ViewEnd(), 250 + 450);
    EXPECT_EQ(m.DataFirstTime(), -150);
    EXPECT_EQ(m.DataLastTime(), 650);
    EXPECT_EQ(m.MarkerTime(GraphMarker::O), -50);
    EXPECT_EQ(m.MarkerTime(GraphMarker::X), 50);
}

TEST(GraphModel, FollowLatestWidensOutgrownRangesAndRecentres) {
    CCaptureStore store;
    AddAll(store, {{0, 5000, 500}});
    CGraphModel m = Model();
    m.Attach(store, false);
    const float currentScale = m.Area(GraphArea::Current).scale;
    const float voltageScale = m.Area(GraphArea::Voltage).scale;

    // 20 V and 3 A arrive; the wattage area is off and keeps its range.
    m.SetAreaOn(GraphArea::Wattage, false);
    AddAll(store, {{1000, 20000, 3000}});
    m.FollowLatest(1000, store);
    EXPECT_EQ(m.Area(GraphArea::Voltage).max, 20000);
    EXPECT_EQ(m.Area(GraphArea::Current).max, 3000);
    EXPECT_LT(m.Area(GraphArea::Voltage).scale, voltageScale);
    EXPECT_LT(m.Area(GraphArea::Current).scale, currentScale);
    EXPECT_EQ(m.Area(GraphArea::Wattage).max, 2500);
    EXPECT_EQ(m.CenterTime(), 0) << "1000 µs is still in the window";

    m.FollowLatest(300000000, store);
    EXPECT_EQ(m.CenterTime(), 300000000);
}

TEST(GraphModel, TraceButtonSwitchesItsAreaOnWithOnlyThatTrace) {
    CGraphModel m = Model();
    EXPECT_TRUE(m.TraceOn(GraphTraceSwitch::Cc1Voltage));
    m.PressTraceButton(GraphTraceSwitch::Cc1Voltage);
    EXPECT_FALSE(m.TraceOn(GraphTraceSwitch::Cc1Voltage));

    m.SetAreaOn(GraphArea::Voltage, false);
    m.PressTraceButton(GraphTraceSwitch::Cc2Voltage);
    EXPECT_TRUE(m.AreaOn(GraphArea::Voltage));
    EXPECT_FALSE(m.TraceOn(GraphTraceSwitch::VbusVoltage));
    EXPECT_FALSE(m.TraceOn(GraphTraceSwitch::Cc1Voltage));
    EXPECT_TRUE(m.TraceOn(GraphTraceSwitch::Cc2Voltage));
    EXPECT_TRUE(m.TraceOn(GraphTraceSwitch::VbusCurrent)); // the other kind stays
}

TEST(GraphModel, LeftPressDragsTheBandUnderThePointerOrAllAreas) {
    CGraphModel m = Model();
    m.SetRanges(GraphRanges{});
    m.FitAreas();
    const int32_t voltageZero = m.ZeroY(GraphArea::Voltage);
    EXPECT_EQ(m.AreasAt(500, voltageZero - 10), (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(m.AreasAt(500, m.ZeroY(GraphArea::Wattage)), (std::array<bool, 3>{false, false, true}));
    EXPECT_EQ(m.AreasAt(20, voltageZero), (std::array<bool, 3>{true, true, true})); // left of the plot

    const int32_t base = m.Area(GraphArea::Voltage).baseline;
    m.SetTimeScale(0.5f);
    m.SetCenter(1000);
    m.Drag(10, 7, {true, false, false});
    EXPECT_EQ(m.CenterTime(), 1000 - 20);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, base - 7);
}

TEST(GraphModel, AreasKeepTheirPlaceWhenThePlotChangesHeight) {
    // Fitted on a 600 px plot, then the pane shrinks to 300 px and grows to 900 px: every area keeps
    // its share of the plot, so the voltage range still fills the top third.
    CGraphModel m = Model();
    m.SetRanges(GraphRanges{});
    m.FitAreas();
    const GraphAreaState before = m.Area(GraphArea::Voltage);
    m.SetClientSize(1200, 438);
    ASSERT_EQ(m.Plot().height, 300);
    EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, before.scale / 2);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, before.baseline / 2);
    EXPECT_EQ(m.Area(GraphArea::Wattage).baseline, 100 / 2);
    m.SetClientSize(1200, 1038);
    EXPECT_FLOAT_EQ(m.Area(GraphArea::Voltage).scale, before.scale * 1.5f);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, 220 * 3);
    // 5 V, the range's top, stays a fifth of a third below the plot's top.
    EXPECT_NEAR(m.YOfValue(GraphArea::Voltage, 5000), m.Plot().top + 900 / 15, 2);
    // A width change alone leaves the value areas alone.
    m.SetClientSize(1600, 1038);
    EXPECT_EQ(m.Area(GraphArea::Voltage).baseline, 660);
}

TEST(GraphModel, PdStripAndItsLabelsHaveRoomOfTheirOwn) {
    // Fitted with the strip shown, the strip and the row of its labels (19 rows for a 16 px font) lie
    // inside the plot and outside every area's band: no trace runs under them, whether the capture has
    // samples or only packets (the least ranges).
    for (const CaptureRanges& c : SomeCaptures())
        for (int32_t height : {150, 250, 400, 600, 900})
            for (const auto& on : kAreaSets) {
                const CGraphModel m = FittedWithStrip(c, height, on);
                const int32_t rowTop = m.PdStripTop() - 19,
                              stripBottom = m.PdStripTop() + CGraphModel::kPdStripHeight;
                SCOPED_TRACE(testing::Message()
                             << c.name << ", plot " << height << ", areas " << on[0] << on[1] << on[2]
                             << ": strip rows " << rowTop << ".." << stripBottom);
                EXPECT_GE(rowTop, m.Plot().top);
                EXPECT_LE(stripBottom, m.Plot().Bottom());
                for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
                    if (!on[size_t(a)]) continue;
                    int32_t top, bottom;
                    m.AreaBand(a, &top, &bottom);
                    EXPECT_TRUE(bottom <= rowTop || top >= stripBottom)
                        << "area " << int(a) << ": " << top << ".." << bottom;
                }
            }
}

TEST(GraphModel, ZoomBoxAcrossAreasZoomsTimeOnly) {
    CGraphModel m = Model();
    m.SetRanges(GraphRanges{});
    m.FitAreas();
    m.SetTimeScale(0.01f);
    m.SetCenter(0);
    auto middle = [&](GraphArea a) {
        int32_t top, bottom;
        m.AreaBand(a, &top, &bottom);
        return (top + bottom) / 2;
    };
    const std::array<GraphAreaState, 3> before = {m.Area(GraphArea::Voltage), m.Area(GraphArea::Current),
                                                  m.Area(GraphArea::Wattage)};
    // From the voltage band into the current band: the time zooms, every area stays as it was.
    const int64_t left = m.TimeAtX(250), right = m.TimeAtX(350);
    ASSERT_TRUE(m.ZoomToBox(250, middle(GraphArea::Voltage), 350, middle(GraphArea::Current)));
    EXPECT_FLOAT_EQ(m.TimeScale(), 900.0f / float(right - left));
    for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
        EXPECT_EQ(m.Area(a).scale, before[size_t(a)].scale);
        EXPECT_EQ(m.Area(a).baseline, before[size_t(a)].baseline);
        int32_t top, bottom;
        m.AreaBand(a, &top, &bottom);
        EXPECT_LT(top, bottom) << int(a);
    }
    // Inside one band the box zooms the values too.
    const int32_t y = middle(GraphArea::Voltage);
    ASSERT_TRUE(m.ZoomToBox(250, y - 20, 350, y + 20));
    EXPECT_GT(m.Area(GraphArea::Voltage).scale, before[0].scale * 10);
}
