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
