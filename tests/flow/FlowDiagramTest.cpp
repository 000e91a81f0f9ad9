// The sequence diagram's layout, without a window: an arrow per frame in time order and in the right
// direction, lanes for the parties that speak, Hard Resets across every lane, long gaps cut short and
// marked, zooming that spreads the rows, a window that ends where its height does.
#include "FlowDiagram.h"

#include "Analyzer.h"
#include "device/SynthSupport.h"

#include <gtest/gtest.h>

#include <set>

using namespace flow;

namespace {

struct Fixture {
    explicit Fixture(const char* scenario, double seconds = 0) {
        synth::SynthOptions o;
        o.seconds = seconds;
        played = synthtest::Play(synthtest::Builtin(scenario), o);
        synthtest::Decode(played, store);
        findings = analysis::Analyze(store).findings;
        flow = Group(store, findings);
    }
    synthtest::Played played;
    CCaptureStore store;
    std::vector<analysis::Finding> findings;
    Flow flow;
};

std::set<std::string> Texts(const DiagramLayout& l) {
    std::set<std::string> t;
    for (const Shape& s : l.shapes)
        if (s.type == Shape::Type::Text) t.insert(s.text);
    return t;
}

int32_t LaneX(const DiagramLayout& l, const char* party) {
    for (const Shape& s : l.shapes)
        if (s.type == Shape::Type::Text && s.text == party && s.y[0] < l.headerHeight) return s.x[0];
    return -1;
}

TEST(Diagram, OneArrowPerFrameInTimeOrderAndDirection) {
    const Fixture f("demo");
    DiagramOptions o;
    o.toPacket = 100;
    const DiagramLayout l = LayoutDiagram(f.flow, f.findings, o);
    ASSERT_EQ(l.arrows.size(), 101u);
    const int32_t source = LaneX(l, "Source"), sink = LaneX(l, "Sink"), plug = LaneX(l, "Cable SOP'");
    ASSERT_GT(source, 0);
    ASSERT_GT(sink, source);
    ASSERT_GT(plug, 0);
    EXPECT_EQ(LaneX(l, "Cable SOP''"), -1); // no second plug in this cable
    std::set<int64_t> numbers;
    for (size_t i = 0; i < l.arrows.size(); ++i) {
        const DiagramArrow& a = l.arrows[i];
        numbers.insert(a.number);
        if (i) {
            EXPECT_GT(a.y, l.arrows[i - 1].y);
            EXPECT_GE(a.time, l.arrows[i - 1].time);
        }
        const Transaction& t = f.flow.transactions[size_t(a.transaction)];
        const FlowPacket* p = nullptr;
        for (const FlowPacket& q : t.packets)
            if (q.number == a.number) p = &q;
        ASSERT_TRUE(p);
        const int32_t from = t.from == Party::Source ? source : t.from == Party::Sink ? sink : plug;
        const int32_t to = t.to == Party::Source ? source : t.to == Party::Sink ? sink : plug;
        if (p->role == PacketRole::Signal) {
            // Hard Reset and Cable Reset: across every lane.
            EXPECT_EQ(std::min(a.x1, a.x2), plug) << t.label;
            EXPECT_EQ(std::max(a.x1, a.x2), sink) << t.label;
        } else if (t.from != Party::Unknown && p->role == PacketRole::GoodCrc) {
            EXPECT_EQ(a.x1, to) << t.label;
            EXPECT_EQ(a.x2, from) << t.label;
        } else if (t.from != Party::Unknown && p->role != PacketRole::Damaged) {
            EXPECT_EQ(a.x1, from) << t.label;
            EXPECT_EQ(a.x2, to) << t.label;
        }
        // What lies under the arrow is the arrow.
        EXPECT_EQ(ArrowAt(l, (a.x1 + a.x2) / 2, a.y), int32_t(i));
    }
    EXPECT_EQ(numbers.size(), 101u);
    EXPECT_EQ(*numbers.rbegin(), 100);
    const std::set<std::string> texts = Texts(l);
    for (const char* t : {"Discover Identity REQ", "Request", "GoodCRC", "Get_Status (not read)",
                          "Cable Reset", "Hard Reset", "power negotiation: completed, 58.6 ms", "0.341210"})
        EXPECT_TRUE(texts.count(t)) << t;
}

TEST(Diagram, LanesForThePartiesThatSpeak) {
    const Fixture spr("spr");
    const DiagramLayout l = LayoutDiagram(spr.flow, spr.findings, {});
    EXPECT_GT(LaneX(l, "Source"), 0);
    EXPECT_GT(LaneX(l, "Sink"), 0);
    EXPECT_EQ(LaneX(l, "Cable SOP'"), -1);
    const Fixture dock("dock", 1);
    const DiagramLayout d = LayoutDiagram(dock.flow, dock.findings, {});
    // Both plugs, left of the source that speaks to them.
    EXPECT_GT(LaneX(d, "Cable SOP'"), LaneX(d, "Cable SOP''"));
    EXPECT_GT(LaneX(d, "Source"), LaneX(d, "Cable SOP'"));
}

// A gap too long for the scale is cut short and says how long it was; zooming in spreads the rows of a
// conversation until their gaps are cut too.
TEST(Diagram, LongGapsMarkedAndZoomSpreadsRows) {
    const Fixture f("spr");
    const auto rowsOf = [&](double scale) {
        DiagramOptions o;
        o.scale = scale;
        return LayoutDiagram(f.flow, f.findings, o);
    };
    const DiagramLayout normal = rowsOf(kDefaultDiagramScale);
    // Request (#6) 150 ms after the unanswered offer's last retry: cut, and marked as 150 ms or so.
    bool marked = false;
    for (const std::string& t : Texts(normal))
        marked |= t.size() > 3 && t.substr(t.size() - 3) == " ms" && t[0] == '1';
    EXPECT_TRUE(marked);
    const auto gapAfter = [](const DiagramLayout& l, size_t i) { return l.arrows[i + 1].y - l.arrows[i].y; };
    // Source_Capabilities and its GoodCRC, then the GoodCRC and the Request 2 to 10 ms after.
    size_t offer = 0;
    while (offer < normal.arrows.size() && normal.arrows[offer].number != 3) ++offer;
    ASSERT_LT(offer + 2, normal.arrows.size());
    const DiagramLayout near = rowsOf(kDefaultDiagramScale * 20);
    const DiagramLayout far = rowsOf(kDefaultDiagramScale / 20);
    EXPECT_GT(gapAfter(near, offer + 1), gapAfter(normal, offer + 1));
    EXPECT_LT(gapAfter(far, offer + 1), gapAfter(normal, offer + 1));
    EXPECT_LT(far.height, normal.height);
    EXPECT_GT(near.height, normal.height);
}

TEST(Diagram, AWindowFromATimeEndsWhereItsHeightDoes) {
    const Fixture f("demo");
    DiagramOptions o;
    o.startTime = 5000000;
    o.maxHeight = 400;
    const DiagramLayout l = LayoutDiagram(f.flow, f.findings, o);
    EXPECT_FALSE(l.complete);
    ASSERT_FALSE(l.arrows.empty());
    EXPECT_GE(l.arrows.front().time, o.startTime);
    EXPECT_LE(l.arrows.back().y, o.maxHeight);
    // The first frame at or after the start.
    int64_t first = INT64_MAX;
    for (const Transaction& t : f.flow.transactions)
        for (const FlowPacket& p : t.packets)
            if (p.time >= o.startTime) first = std::min(first, p.time);
    EXPECT_EQ(l.arrows.front().time, first);
    o.maxHeight = 100000;
    EXPECT_TRUE(LayoutDiagram(f.flow, f.findings, o).complete);
}

} // namespace
