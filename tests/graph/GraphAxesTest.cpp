#include "GraphAxes.h"
#include "GraphFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

constexpr int64_t kMs = 1000, kS = 1000000, kMin = 60 * kS, kH = 60 * kMin, kDay = 24 * kH;

// A scale at which 640 px show `span` µs.
float ScaleForSpan(double span) {
    return float(640.0 / span);
}

CGraphModel Model(float timeScale, int64_t center) {
    CGraphModel m;
    m.SetClientSize(1200, 738); // plot 900 × 600 from (150, 64)
    m.SetTimeScale(timeScale);
    m.SetCenter(center);
    return m;
}

} // namespace

TEST(GraphAxes, TimeStepsAcrossZoomLevels) {
    using F = TimeLabelFormat;
    struct Case {
        double span;
        TimeTickRule rule;
    };
    const Case cases[] = {
        {300.0 * kH, {10 * kDay, kDay, F::Days}},
        {30.0 * kH, {kDay, 6 * kH, F::Days}},
        {12.0 * kH, {10 * kH, kH, F::Hours}},
        {90.0 * kMin, {kH, 10 * kMin, F::Hours}},
        {61.5 * kMin, {kH, 10 * kMin, F::Hours}},
        {60.5 * kMin, {10 * kMin, kMin, F::Minutes}}, // sixty whole minutes are not more than 60 min
        {30.0 * kMin, {10 * kMin, kMin, F::Minutes}},
        {200.0 * kS, {100 * kS, 10 * kS, F::Seconds}},
        {50.0 * kS, {10 * kS, kS, F::Seconds}},
        {10.5 * kS, {kS, 100 * kMs, F::Seconds}}, // ten whole seconds are not more than 10 s
        {10.0 * kS, {kS, 100 * kMs, F::Seconds}},
        {500.0 * kMs, {100 * kMs, 10 * kMs, F::Milliseconds}},
        {50.0 * kMs, {10 * kMs, kMs, F::Milliseconds}},
        {5.0 * kMs, {kMs, 100, F::Milliseconds}},
        {500.0, {100, 10, F::Microseconds}},
        {50.0, {10, 1, F::Microseconds}},
        {10.0, {1, 1, F::Microseconds}},
        {0.5, {1, 1, F::Microseconds}},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseTimeTicks(ScaleForSpan(c.span)), c.rule) << c.span;
}

TEST(GraphAxes, TimeLabelFormats) {
    using F = TimeLabelFormat;
    struct Case {
        int64_t t;
        F format;
        const char* text;
    };
    const Case cases[] = {
        {-1500000, F::Seconds, "-1s"},  {250, F::Microseconds, "250us"},  {-7, F::Microseconds, "-7us"},
        {15000, F::Milliseconds, "15ms"}, {-300000, F::Milliseconds, "-300ms"}, {0, F::Seconds, "0s"},
        {10 * kMin, F::Minutes, "10min"}, {2 * kH + kMin, F::Hours, "2h"}, {3 * kDay, F::Days, "3day"},
        {-kDay, F::Days, "-1day"},
    };
    for (const Case& c : cases) EXPECT_EQ(TimeTickLabel(c.t, c.format), c.text) << c.t;
}

TEST(GraphAxes, TimeTicksAndLabelsOnMajorsAndWideMinors) {
    // Labels of a font that sets every character `charWidth` px wide.
    auto labelsAt = [](const CGraphModel& m, int32_t charWidth) {
        std::vector<std::string> texts;
        for (const TimeLabel& l : PlaceTimeLabels(m, [charWidth](const std::string& t) {
                                      return int32_t(t.size()) * charWidth;
                                  }).labels)
            texts.push_back(l.text);
        return texts;
    };
    // 0.1 px/µs: 1 ms major, 100 µs minor 10 px apart: lines at every minor with the grid on, labels on
    // majors only ("0ms" and "9ms" would be cut by the plot's edges).
    CGraphModel m = Model(0.1f, 4500); // window 0 .. 9000 µs
    std::vector<TimeTick> grid = TimeTicks(m, true);
    ASSERT_EQ(grid.size(), 91u);
    EXPECT_EQ(grid.front().time, 0);
    EXPECT_EQ(grid.back().x, 900);
    for (const TimeTick& t : grid) EXPECT_TRUE(t.line);
    // Without the grid only the majors stay.
    std::vector<TimeTick> plain = TimeTicks(m, false);
    EXPECT_EQ(plain.size(), 10u);
    EXPECT_EQ(labelsAt(m, 10),
              (std::vector<std::string>{"1ms", "2ms", "3ms", "4ms", "5ms", "6ms", "7ms", "8ms"}));

    // 0.06 px/µs: 10 ms major, 1 ms minor 60 px apart: every minor has its line and its label (the
    // first line once it lies more than 50 px from the plot's edge).
    CGraphModel wide = Model(0.06f, 7500); // window 0 .. 15000 µs
    const std::vector<TimeTick> ticks = TimeTicks(wide, false);
    ASSERT_FALSE(ticks.empty());
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_EQ(ticks[i].time - ticks[i - 1].time, 1000);
    EXPECT_EQ(ticks.front().time, 0);
    EXPECT_EQ(labelsAt(wide, 10),
              (std::vector<std::string>{"1ms", "2ms", "3ms", "4ms", "5ms", "6ms", "7ms", "8ms", "9ms", "10ms",
                                        "11ms", "12ms", "13ms", "14ms"}));

    // 0.6 px/µs: 1 ms major, 100 µs minor 60 px apart. Whole milliseconds cannot state the minors (a
    // minor label would repeat its major's text, "341ms" ten times): the majors alone are labelled.
    CGraphModel fine = Model(0.6f, 341500); // window 340750 .. 342250 µs
    for (const TimeTick& t : TimeTicks(fine, false)) EXPECT_TRUE(t.line) << t.time;
    EXPECT_EQ(labelsAt(fine, 10), (std::vector<std::string>{"341ms", "342ms"}));
    // With a single major in the window the minors are labelled in µs, every one where they have room,
    // else every 2nd.
    CGraphModel oneMajor = Model(0.6f, 341000); // window 340250 .. 341750 µs
    EXPECT_EQ(labelsAt(oneMajor, 5).size(), 15u);
    EXPECT_EQ(labelsAt(oneMajor, 5).front(), "340300us");
    EXPECT_EQ(labelsAt(oneMajor, 10),
              (std::vector<std::string>{"340400us", "340600us", "340800us", "341000us", "341200us",
                                        "341400us", "341600us"}));

    // Negative times: ticks at multiples of the step, labelled with a minus.
    CGraphModel before = Model(0.0001f, -3000000); // 1 s major ticks, window -7.5 s .. 1.5 s
    const std::vector<TimeTick> seconds = TimeTicks(before, false);
    EXPECT_TRUE(
        std::any_of(seconds.begin(), seconds.end(), [](const TimeTick& t) { return t.time == -2000000; }));
    const std::vector<std::string> secondLabels = labelsAt(before, 10);
    EXPECT_EQ(secondLabels,
              (std::vector<std::string>{"-7s", "-6s", "-5s", "-4s", "-3s", "-2s", "-1s", "0s", "1s"}));
}

TEST(GraphAxes, VoltageAxisSteps) {
    // 100 mV taller than the font: every 100 mV labelled.
    ValueAxisRule r = VoltageAxisRule(0.2f, 600, 16);
    EXPECT_EQ(r.minor, 100);
    EXPECT_EQ(r.major, 500);
    EXPECT_EQ(r.labelStep, 100);
    // 600 px show 25 V: 1 V minor steps, 24 px each, labelled.
    r = VoltageAxisRule(0.024f, 600, 16);
    EXPECT_EQ(r.minor, 1000);
    EXPECT_EQ(r.labelStep, 1000);
    // 1 V steps of 12 px: the first multiple of 5 V taller than the font.
    r = VoltageAxisRule(0.012f, 600, 16);
    EXPECT_EQ(r.labelStep, 5000);
    r = VoltageAxisRule(0.012f, 600, 70);
    EXPECT_EQ(r.labelStep, 10000);
    // Too small for any label within 80 V: only zero.
    r = VoltageAxisRule(0.0001f, 600, 16);
    EXPECT_EQ(r.labelStep, 0);

    CGraphModel m = Model(1.0f, 0);
    GraphAreaState& v = m.MutableArea(GraphArea::Voltage);
    v.scale = 0.2f;
    v.baseline = 100;
    const std::vector<ValueTick> ticks = ValueTicks(m, GraphArea::Voltage, false, 16);
    // From 0 up to the plot's top: 0.0 V to 2.5 V (500 px above a baseline of 100 px).
    ASSERT_EQ(ticks.size(), 26u);
    EXPECT_EQ(ticks[0].text, "0.0V");
    EXPECT_EQ(ticks[0].y, 664 - 100);
    EXPECT_EQ(ticks[7].text, "0.7V");
    EXPECT_EQ(ticks[7].y, 664 - 100 - 140);
    EXPECT_EQ(ticks.back().text, "2.5V");
}

TEST(GraphAxes, CurrentAndWattageAxesMirrorBelowZero) {
    ValueAxisRule r = CurrentAxisRule(0.5f, 600, 16); // 600 px show 1200 mA: labels in A
    EXPECT_EQ(r.minor, 100);
    EXPECT_FALSE(r.smallUnit);
    EXPECT_EQ(r.labelStep, 100); // 50 px
    r = CurrentAxisRule(0.7f, 600, 16);
    EXPECT_TRUE(r.smallUnit);
    EXPECT_EQ(r.minor, 10);
    EXPECT_EQ(r.labelStep, 50); // 10 mA is 7 px, 50 mA 35 px
    r = CurrentAxisRule(0.02f, 600, 16);
    EXPECT_EQ(r.minor, 500);
    EXPECT_EQ(r.labelStep, 1000); // 500 mA is 10 px; twice that is 20
    r = WattageAxisRule(0.001f, 600, 16);
    EXPECT_EQ(r.minor, 5000);
    EXPECT_EQ(r.labelStep, 20000);
    r = WattageAxisRule(0.01f, 600, 16);
    EXPECT_EQ(r.minor, 1000);
    EXPECT_EQ(r.major, 5000);
    EXPECT_EQ(r.labelStep, 5000);

    EXPECT_EQ(ValueTickLabel(GraphArea::Current, -50, true), "-50mA");
    EXPECT_EQ(ValueTickLabel(GraphArea::Current, 1500, false), "1.5A");
    EXPECT_EQ(ValueTickLabel(GraphArea::Wattage, -20000, false), "-20.0W");
    EXPECT_EQ(ValueTickLabel(GraphArea::Wattage, 40, true), "40mW");

    CGraphModel m = Model(1.0f, 0);
    GraphAreaState& c = m.MutableArea(GraphArea::Current);
    c.scale = 0.7f;
    c.baseline = 300;
    c.min = -100;
    c.max = 100;
    auto find = [](const std::vector<ValueTick>& ticks, int32_t value) {
        return *std::find_if(ticks.begin(), ticks.end(), [value](const ValueTick& t) { return t.value == value; });
    };
    const std::vector<ValueTick> plain = ValueTicks(m, GraphArea::Current, false, 16);
    const int32_t zeroY = 664 - 300;
    EXPECT_EQ(find(plain, 50).y, zeroY - 35);
    EXPECT_EQ(find(plain, 50).text, "50mA");
    EXPECT_EQ(find(plain, -50).y, zeroY + 35);
    EXPECT_EQ(find(plain, -50).text, "-50mA");
    EXPECT_TRUE(std::none_of(plain.begin(), plain.end(), [](const ValueTick& t) { return t.value == 10; }));
    // The flip turns the axis over: negative values above the zero line.
    m.SetCurrentFlip(true);
    const std::vector<ValueTick> flipped = ValueTicks(m, GraphArea::Current, true, 16);
    EXPECT_EQ(find(flipped, -50).y, zeroY - 35);
    EXPECT_EQ(find(flipped, 10).y, zeroY + 7);
    EXPECT_TRUE(find(flipped, 10).line);
    EXPECT_FALSE(find(flipped, 10).label);
}

TEST(GraphAxes, ValueLabelsStayWholeInsideTheirBand) {
    auto tick = [](int32_t value, int32_t y, bool label = true) {
        ValueTick t;
        t.value = value;
        t.y = y;
        t.label = label;
        t.line = true;
        return t;
    };
    // Band rows 100 .. 300, labels 18 rows high.
    const std::vector<ValueTick> ticks = {
        tick(0, 280),          // on its line
        tick(1000, 250),       // on its line
        tick(2000, 240),       // would overlap the one above it
        tick(3000, 110),       // too near the top: moved down to the band's top, beside its line
        tick(4000, 95),        // line outside the band
        tick(5000, 200, false), // a line without a label
        tick(-1000, 305),      // below the band
    };
    EXPECT_EQ(PlaceValueLabels(ticks, 100, 300, 18), (std::vector<int32_t>{262, 232, -1, 100, -1, -1, -1}));
}

TEST(GraphAxes, GridLinesTooCloseToReadAreLeftOut) {
    // Voltage minor steps of 1 V: 3 px apart at 0.003 px/mV, 5 px apart at 0.005 px/mV. Closer than 4 px
    // the grid would fill the area; only the zero line and the labelled values stay.
    CGraphModel m = Model(1.0f, 0);
    GraphAreaState& v = m.MutableArea(GraphArea::Voltage);
    v.baseline = 100;
    auto unlabelledLines = [&] {
        int n = 0;
        for (const ValueTick& t : ValueTicks(m, GraphArea::Voltage, true, 16)) n += t.line && !t.label;
        return n;
    };
    v.scale = 0.003f;
    ASSERT_EQ(VoltageAxisRule(v.scale, 600, 16).minor, 1000);
    EXPECT_EQ(unlabelledLines(), 0);
    v.scale = 0.005f;
    EXPECT_GT(unlabelledLines(), 30);
    // The same for current and wattage: 100 mA steps of 3.5 px.
    GraphAreaState& c = m.MutableArea(GraphArea::Current);
    c.scale = 0.035f;
    c.baseline = 300;
    c.min = -2000;
    c.max = 2000;
    ASSERT_EQ(CurrentAxisRule(c.scale, 600, 16).minor, 100);
    for (const ValueTick& t : ValueTicks(m, GraphArea::Current, true, 16))
        EXPECT_TRUE(!t.line || t.label) << t.value;
}

TEST(GraphAxes, EveryFittedAreaShowsTwoLabelsOrMore) {
    // A 16 px font's labels are 19 rows high. From a plot of 225 px (the window's default size gives the
    // graph 250 px and more), with the PD strip's room taken, every area shown gets a label above or
    // below its zero line besides the zero's own.
    constexpr int32_t kLabelHeight = 19;
    for (const graphtest::CaptureRanges& c : graphtest::SomeCaptures())
        for (int32_t height : {225, 250, 300, 400, 600, 900})
            for (const auto& on : graphtest::kAreaSets) {
                const CGraphModel m = graphtest::FittedWithStrip(c, height, on);
                ASSERT_EQ(m.Plot().height, height);
                for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage}) {
                    if (!on[size_t(a)]) continue;
                    int32_t top, bottom;
                    m.AreaBand(a, &top, &bottom);
                    const std::vector<ValueTick> ticks = ValueTicks(m, a, true, kLabelHeight);
                    const std::vector<int32_t> tops = PlaceValueLabels(ticks, top, bottom, kLabelHeight);
                    std::string shown;
                    for (size_t i = 0; i < ticks.size(); ++i)
                        if (tops[i] >= 0) shown += ticks[i].text + " ";
                    EXPECT_GE(std::count_if(tops.begin(), tops.end(), [](int32_t t) { return t >= 0; }), 2)
                        << c.name << ", plot " << height << ", areas " << on[0] << on[1] << on[2] << ", area "
                        << int(a) << ": " << shown;
                }
            }
}

TEST(GraphAxes, TimeLabelsUseOneUnitAndNeverOverlap) {
    // Labels as wide as a 16 px font sets them, about 10 px a character.
    auto width = [](const std::string& text) { return int32_t(10 * text.size()); };
    auto unit = [](const std::string& text) { return text.substr(text.find_first_not_of("-0123456789")); };
    const char* units[] = {"us", "ms", "s", "min", "h", "day"};
    // Each label states its time exactly in its unit: no "341ms" written for 341.1 ms.
    auto exact = [](int64_t t, TimeLabelFormat f) {
        const int64_t unitOf[] = {1, kMs, kS, kMin, kH, kDay};
        return t % unitOf[int(f)] == 0;
    };
    for (int64_t centre : {int64_t(0), 2000 * kS, -35 * kMin, 3 * kH + 17 * kS, 40 * kDay}) {
        // From one pixel per µs out to the widest view, a zoom step at a time.
        for (float scale = CGraphModel::kMaxTimeScale; scale >= CGraphModel::kMinTimeScale;
             scale *= 0.8333f) {
            const CGraphModel m = Model(scale, centre);
            const TimeLabels placed = PlaceTimeLabels(m, width);
            const std::vector<TimeLabel>& shown = placed.labels;
            SCOPED_TRACE(testing::Message() << "scale " << scale << ", centre " << centre);
            EXPECT_GE(shown.size(), 2u);
            for (size_t k = 0; k < shown.size(); ++k) {
                const TimeLabel& l = shown[k];
                EXPECT_EQ(l.text, TimeTickLabel(l.time, placed.format));
                EXPECT_EQ(unit(l.text), units[int(placed.format)]) << l.text;
                EXPECT_TRUE(exact(l.time, placed.format)) << l.time << " " << l.text;
                const int32_t left = l.x - width(l.text) / 2;
                EXPECT_GE(left, 0);
                EXPECT_LE(left + width(l.text), m.Plot().width);
                if (k == 0) continue;
                const TimeLabel& b = shown[k - 1];
                EXPECT_GE(left - (b.x - width(b.text) / 2 + width(b.text)), kTimeLabelGap)
                    << b.text << " and " << l.text;
            }
        }
    }
}
