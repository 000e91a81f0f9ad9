#include "GraphFixture.h"
#include "GraphStrip.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

using namespace graphtest;

namespace {

// A packet of `intervals` intervals of `ticks` ticks each, at an analyzer time in µs.
CCCPacket* Offer(CCaptureStore& store, int64_t absStart, int intervals, int ticks) {
    auto p = std::make_unique<CCCPacket>();
    CCCPacket* raw = p.get();
    p->absStartTime = absStart;
    for (int i = 0; i < intervals; ++i) p->AppendInterval(uint8_t(ticks));
    return store.AddPacket(p) ? raw : nullptr;
}

// The colour each pixel column of the strip ends up with, boxes painted in order, and the boxes
// that put something above the strip.
struct Raster {
    std::map<int32_t, StripColour> columns;
    std::vector<std::pair<const CCCPacket*, int32_t>> above;
    bool operator==(const Raster&) const = default;
};
Raster Paint(const std::vector<StripBox>& boxes) {
    Raster r;
    for (const StripBox& b : boxes) {
        for (int32_t x = b.x; x < b.x + b.width; ++x) r.columns[x] = b.colour;
        if (b.label || b.marked) r.above.push_back({b.packet, b.x});
    }
    return r;
}

CGraphModel Model(float scale, int64_t centre) {
    CGraphModel m;
    m.SetClientSize(1920, 1080);
    m.SetTimeScale(scale);
    m.SetCenter(centre);
    return m;
}

} // namespace

TEST(GraphStrip, IndexedBoxesPaintWhatEveryPacketPaints) {
    CCaptureStore store;
    Add(store, {0});
    std::mt19937 random(9);
    std::vector<CCCPacket*> packets;
    int64_t t = 100;
    for (int i = 0; i < 20000; ++i) {
        // Mostly short packets, some long ones, a few of a single interval (not drawn).
        const int intervals = i % 97 == 0 ? 1 : i % 53 == 0 ? 200 : 20 + int(random() % 20);
        if (CCCPacket* p = Offer(store, t, intervals, 40 + int(random() % 10))) packets.push_back(p);
        t += 200 + int64_t(random() % 3000);
    }
    store.markerAPacket = packets[500];
    store.markerBPacket = packets[501];
    for (size_t i = 0; i < packets.size(); i += 37) packets[i]->bookmarked = true;
    const CCCPacket* selected = packets[7000];
    store.SetTimeOrigin(50000);

    CPacketStripIndex index;
    index.Sync(store);
    ASSERT_TRUE(index.InSync(store));
    const int64_t last = store.DisplayTime(*packets.back());
    struct Window {
        float scale;
        int64_t centre;
    };
    for (const Window& w : {Window{1620.0f / float(last), last / 2}, Window{0.01f, last / 3}, Window{0.2f, 1000000},
                            Window{0.001f, -500000}}) {
        const CGraphModel m = Model(w.scale, w.centre);
        const std::vector<StripBox> plain = StripBoxes(store, nullptr, m, selected);
        const std::vector<StripBox> indexed = StripBoxes(store, &index, m, selected);
        EXPECT_EQ(Paint(indexed), Paint(plain)) << w.scale;
        EXPECT_LE(indexed.size(), plain.size());
    }
    // Fitted, nearly all of the 20,000 boxes lie under later ones.
    const CGraphModel fitted = Model(1620.0f / float(last), last / 2);
    EXPECT_LT(StripBoxes(store, &index, fitted, selected).size(), 3000u);
}

TEST(GraphStrip, IndexFollowsInsertionsAndRemovals) {
    CCaptureStore store;
    StoreLimits limits;
    limits.packetLimit = 100;
    limits.packetAutoRemove = true;
    store.SetLimits(limits);
    Add(store, {0});
    for (int i = 0; i < 50; ++i) Offer(store, 1000 + i * 1000, 30, 40);
    CPacketStripIndex index;
    index.Sync(store);
    // A late packet lands before the last one: the index sees it in its place.
    Offer(store, 48500, 30, 40);
    EXPECT_FALSE(index.InSync(store));
    index.Sync(store);
    ASSERT_TRUE(index.InSync(store));
    for (size_t i = 0; i < store.PacketCount(); ++i) EXPECT_EQ(index.Entries()[i].packet, store.PacketAt(i));
    // Old packets removed from the front.
    for (int i = 0; i < 80; ++i) Offer(store, 60000 + i * 1000, 30, 40);
    store.EnforceLimits();
    ASSERT_EQ(store.PacketCount(), 100u);
    index.Sync(store);
    ASSERT_TRUE(index.InSync(store));
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        EXPECT_EQ(index.Entries()[i].packet, store.PacketAt(i));
        EXPECT_EQ(index.Entries()[i].startTime, store.PacketAt(i)->startTime);
    }
}

TEST(GraphStrip, LabelsShareTheirRowWithoutOverlapping) {
    // Packets a few hundred µs apart, some long: at these zooms many boxes are wider than 50 px and
    // their names would run into one another; markers A and B on neighbours, the selection beside them.
    CCaptureStore store;
    Add(store, {0});
    std::mt19937 random(5);
    std::vector<CCCPacket*> packets;
    int64_t t = 100;
    for (int i = 0; i < 400; ++i) {
        if (CCCPacket* p = Offer(store, t, i % 9 == 0 ? 300 : 40 + int(random() % 60), 40))
            packets.push_back(p);
        t += 50 + int64_t(random() % 900);
    }
    store.markerAPacket = packets[200];
    store.markerBPacket = packets[201];
    const CCCPacket* selected = packets[202];
    for (float scale : {0.02f, 0.1f, 0.3f, 1.0f}) {
        for (int64_t centre : {store.DisplayTime(*packets[200]), store.DisplayTime(*packets[10]),
                               store.DisplayTime(*packets[399])}) {
            const CGraphModel m = Model(scale, centre);
            const int32_t plotLeft = m.Plot().left, plotRight = m.Plot().Right();
            const std::vector<StripBox> boxes = StripBoxes(store, nullptr, m, selected);
            // Names about 160 px wide, the marked ones a little wider for their "A " or "B ".
            std::vector<int32_t> widths(boxes.size());
            for (size_t i = 0; i < boxes.size(); ++i)
                widths[i] = boxes[i].marked ? 180 : 150 + int32_t(i % 3) * 10;
            const std::vector<StripLabel> labels =
                PlaceStripLabels(boxes, widths, store, plotLeft, plotRight);
            SCOPED_TRACE(testing::Message() << "scale " << scale << ", centre " << centre);
            size_t marked = 0;
            for (size_t i = 0; i < labels.size(); ++i) {
                const StripLabel& l = labels[i];
                const StripBox& b = boxes[l.box];
                EXPECT_TRUE(b.label || b.marked);
                EXPECT_GE(l.left, plotLeft);
                EXPECT_EQ(l.width, widths[l.box]);
                if (b.marked) {
                    ++marked;
                    EXPECT_LE(l.left + l.width, plotRight);
                } else {
                    // A name stands at its box, or at the plot's edge for a box that begins before it.
                    EXPECT_EQ(l.left, std::max(b.x, plotLeft));
                }
                for (size_t j = 0; j < i; ++j) {
                    const StripLabel& o = labels[j];
                    EXPECT_TRUE(l.left >= o.left + o.width + kStripLabelGap ||
                                o.left >= l.left + l.width + kStripLabelGap)
                        << "labels of #" << b.packet->index << " and #" << boxes[o.box].packet->index;
                }
            }
            // Every marked box in the window has its label.
            EXPECT_EQ(marked, size_t(std::count_if(boxes.begin(), boxes.end(),
                                                   [](const StripBox& b) { return b.marked; })));
        }
    }
}
