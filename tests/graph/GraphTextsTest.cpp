#include "GraphFixture.h"
#include "GraphTexts.h"

#include <gtest/gtest.h>

using namespace graphtest;

namespace {

// 5000 mV and 1000 mA from 0 to 2 s, a sample a second.
void Constant5W(CCaptureStore& store) {
    AddAll(store, {{0, 5000, 1000}, {1000000, 5000, 1000}, {2000000, 5000, 1000}});
}

CGraphModel Model(const CCaptureStore& store, int64_t o, int64_t x, bool reverse = false) {
    CGraphModel m;
    m.SetClientSize(1200, 738);
    m.Attach(store, reverse);
    m.SetMarkerTime(GraphMarker::O, o);
    m.SetMarkerTime(GraphMarker::X, x);
    return m;
}

std::string FirstLine(const CGraphModel& m, const CCaptureStore& store) {
    return MeasurementTexts(m, &store).front().text;
}

} // namespace

TEST(GraphTexts, EnergyAndAverageBetweenTheMarkers) {
    CCaptureStore store;
    Constant5W(store);
    // 5 W for one second: 5000 mJ, 1.39 mWh, 5.00 W on average; X before O gives the same energy and a
    // negative average.
    EXPECT_EQ(FirstLine(Model(store, 0, 1000000), store), "O to X :   1s   0ms   0us (1.39[mWh] Ave=5.00[W])");
    EXPECT_EQ(FirstLine(Model(store, 1000000, 0), store), "O to X : - 1s   0ms   0us (1.39[mWh] Ave=-5.00[W])");
    // Half a second inside one segment: 2500 mJ, 0.69 mWh.
    EXPECT_EQ(FirstLine(Model(store, 250000, 750000), store), "O to X :   0s 500ms   0us (0.69[mWh] Ave=5.00[W])");
    // Coinciding markers: nothing, and an average of 0 rather than a division by zero.
    EXPECT_EQ(FirstLine(Model(store, 400000, 400000), store), "O to X :   0s   0ms   0us (0.00[mWh] Ave=0.00[W])");
    // With the current counted the other way both values turn negative.
    EXPECT_EQ(FirstLine(Model(store, 0, 1000000, true), store), "O to X :   1s   0ms   0us (-1.39[mWh] Ave=-5.00[W])");
    // Past the last sample nothing more is added, but the average still divides by the whole span.
    EXPECT_EQ(FirstLine(Model(store, 1000000, 3000000), store), "O to X :   2s   0ms   0us (1.39[mWh] Ave=2.50[W])");
}

TEST(GraphTexts, EnergyBeforeTheFirstSampleAndWithoutSamples) {
    CCaptureStore store;
    Constant5W(store);
    store.SetTimeOrigin(-1000000); // the first sample is at display time 1 s
    // O at 0 s precedes every sample: the integral starts at the first one, as it stops at the last.
    EXPECT_EQ(FirstLine(Model(store, 0, 2000000), store), "O to X :   2s   0ms   0us (1.39[mWh] Ave=2.50[W])");
    // Both markers before the first sample: nothing is covered.
    EXPECT_EQ(FirstLine(Model(store, 0, 500000), store), "O to X :   0s 500ms   0us (0.00[mWh] Ave=0.00[W])");

    CCaptureStore empty;
    EXPECT_EQ(FirstLine(Model(empty, 0, 500000), empty), "O to X :   0s 500ms   0us");
    // With the wattage area off the energy is not shown.
    CGraphModel off = Model(store, 1000000, 2000000);
    off.SetAreaOn(GraphArea::Wattage, false);
    EXPECT_EQ(FirstLine(off, store), "O to X :   1s   0ms   0us");
}

TEST(GraphTexts, AMillionAndAHalfMilliwattHoursInWattHours) {
    // 20 V and 5 A for 15 hours, a sample an hour: 1500 Wh, 100 W on average.
    CCaptureStore store;
    for (int h = 0; h <= 15; ++h) Add(store, {int64_t(h) * 3600000000LL, 20000, 5000});
    const std::optional<std::string> text = EnergyText(store, 0, 15 * 3600000000LL, false);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, " (1500.00[Wh] Ave=100.00[W]");
}

TEST(GraphTexts, OvernightRunsAtFortyEightVolts) {
    // 48 V and 5 A, a sample an hour, overnight and for a day: what passes 2^63 µW·µs still adds up.
    struct Case {
        int hours;
        int32_t mA;
        const char* text;
    } cases[] = {
        {10, 5000, " (2400.00[Wh] Ave=240.00[W]"},
        {12, 5000, " (2880.00[Wh] Ave=240.00[W]"},
        {24, 5000, " (5760.00[Wh] Ave=240.00[W]"},
        {12, -5000, " (-2880.00[Wh] Ave=-240.00[W]"},
    };
    for (const Case& c : cases) {
        CCaptureStore store;
        for (int h = 0; h <= c.hours; ++h) Add(store, {int64_t(h) * 3600000000LL, 48000, c.mA});
        const std::optional<std::string> text = EnergyText(store, 0, c.hours * 3600000000LL, false);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, c.text) << c.hours << " h, " << c.mA << " mA";
    }
}

TEST(GraphTexts, PacketMarkerLinesAndMarkerPanel) {
    CCaptureStore store;
    AddAll(store, {{0, 20000, -3000, 1650, 0, 420, 0}});
    CGraphModel m = Model(store, 0, 0);
    m.SetMarkerTime(GraphMarker::O, 1000);
    CCCPacket a, b;
    a.startTime = 1500;
    b.startTime = 250;
    store.markerAPacket = &a;
    store.markerBPacket = &b;
    const std::vector<GraphText> lines = MeasurementTexts(m, &store);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], (GraphText{"O to A :   0s   0ms 500us", GraphInk::MarkerA}));
    EXPECT_EQ(lines[2], (GraphText{"O to B : - 0s   0ms 750us", GraphInk::MarkerB}));
    store.markerAPacket = store.markerBPacket = nullptr;

    const std::vector<GraphText> panel = MarkerPanelTexts(GraphMarker::X, store, *store.SampleAt(0), true);
    const std::vector<GraphText> expected = {
        {" X   0s   0ms   0us ", GraphInk::MarkerX},     {" VBUS Voltage=20.00[V] ", GraphInk::VbusVoltage},
        {" VBUS Current=3.000[A] ", GraphInk::VbusCurrent}, {" VBUS Wattage=60.000[W] ", GraphInk::VbusPower},
        {" CC1 Voltage=1.65[V] ", GraphInk::Cc1Voltage},  {" CC2 Voltage=0.42[V] ", GraphInk::Cc2Voltage},
    };
    EXPECT_EQ(panel, expected);
}

TEST(GraphTexts, MarkerLabelsOffScreen) {
    EXPECT_EQ(MarkerLabelText(GraphMarker::O, {}), " O ");
    EXPECT_EQ(MarkerLabelText(GraphMarker::O, {0, true, false}), " << O ");
    EXPECT_EQ(MarkerLabelText(GraphMarker::X, {900, false, true}), " X  >>");
}

TEST(GraphTexts, CursorReadOuts) {
    CGraphModel m;
    m.SetClientSize(1200, 738);
    m.SetRanges(GraphRanges{});
    m.FitAreas();
    GraphAreaState& v = m.MutableArea(GraphArea::Voltage);
    v.scale = 0.01f;
    v.baseline = 500; // zero line at y 164, 5 V 50 px above it
    m.SetTimeScale(1.0f);
    m.SetCenter(0);
    // At the height of a 5 V trace, in the voltage band only.
    CursorTexts c = CursorTextsAt(m, 600, m.YOfValue(GraphArea::Voltage, 5000));
    EXPECT_EQ(c.voltage, "V=5.00[V]");
    EXPECT_EQ(c.current, "");
    EXPECT_EQ(c.time, "  0s   0ms   0us");

    // Current 100 mA above the zero line, and below it with the flip.
    const int32_t y = m.ZeroY(GraphArea::Current) - int32_t(100 * m.Area(GraphArea::Current).scale);
    c = CursorTextsAt(m, 600, y);
    EXPECT_EQ(c.current, "I=0.100[A]");
    EXPECT_EQ(c.voltage, "");
    m.SetCurrentFlip(true);
    EXPECT_EQ(CursorTextsAt(m, 600, y).current, "I=-0.100[A]");

    // A highlighted marker takes the place of the time text; outside the plot nothing is read.
    m.SetHighlighted(GraphMarker::O);
    EXPECT_EQ(CursorTextsAt(m, 600, y).time, "");
    c = CursorTextsAt(m, 100, y);
    EXPECT_EQ(c.current, "");
    EXPECT_EQ(c.time, "");
}
