#include "CaptureStore.h"
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testblocks;


TEST(PacketAssembly, SequenceContinuity) {
    struct Case {
        int lastCounter, lastSub, counter, sub;
        bool continues;
    } cases[] = {
        {5, 6, 5, 7, true},   {5, 7, 6, 0, true},  {5, 7, 5, 0, true}, // sub wraps within the counter too
        {5, 7, 6, 1, false},  {5, 6, 6, 0, false}, {5, 3, 5, 5, false}, {255, 7, 0, 0, true},
        {-1, -1, 0, 0, false}, {5, 7, 7, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CCaptureStore::ContinuesSequence(c.lastCounter, c.lastSub, c.counter, c.sub), c.continues)
            << c.lastCounter << "," << c.lastSub << " -> " << c.counter << "," << c.sub;
}

TEST(PacketAssembly, IdleGapEndsAPacket) {
    struct Case {
        uint16_t clock;
        int gap;
        size_t packets;
    } cases[] = {
        {0, 23, 1}, {0, 24, 2},           // divisor 20: 10 µs is 24 ticks
        {0x100, 479, 1}, {0x100, 480, 2}, // divisor 1: 480 ticks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "clock " << c.clock << " gap " << c.gap);
        CCaptureStore store;
        Stream s;
        // Reference byte 0, four intervals of 10 ticks, the gap, four more. A gap across a counter wrap
        // needs a filler at each wrap.
        std::vector<uint8_t> edges = Ramp(0, 10, 6);
        const int tick = 50 + c.gap;
        for (int wrap = 256; wrap <= tick; wrap += 256) edges.push_back(edges.back());
        auto second = Ramp(tick, 10, 5);
        edges.insert(edges.end(), second.begin(), second.end());
        s.Cc(0, 0, edges, c.clock); // the rest of the block is fillers, which close the last packet
        s.Decode(store);
        ASSERT_EQ(store.PacketCount(), c.packets);
        const CCCPacket* p = store.PacketAt(0);
        const int divisor = c.clock ? 1 : 20;
        EXPECT_EQ(p->absStartTime, 10 * divisor / 48);
        if (c.packets == 1) {
            EXPECT_EQ(p->intervalCount, 9);
            EXPECT_EQ(p->tickSum, 80 + (c.gap & 0xFF)); // intervals keep their low 8 bits
        } else {
            EXPECT_EQ(p->intervalCount, 4);
            EXPECT_EQ(store.PacketAt(1)->intervalCount, 4);
            EXPECT_EQ(store.PacketAt(1)->absStartTime, int64_t(tick) * divisor / 48);
        }
    }
}

TEST(PacketAssembly, IdleEndDropsFragmentsButABreakKeepsThem) {
    // Three transitions at the very end of a block: an open packet of two intervals.
    std::vector<uint8_t> edges(53, 0);
    edges.push_back(10), edges.push_back(20), edges.push_back(30);
    for (bool brk : {false, true}) {
        CCaptureStore store;
        Stream s;
        s.Cc(0, 0, edges);
        if (brk) s.sub = 5; // the next block does not continue the sequence
        s.Cc(1, 0, {0});
        s.Cc(0, 0, {30}); // fillers on CC1 (only reached without a break)
        s.Decode(store);
        ASSERT_EQ(store.PacketCount(), brk ? 1u : 0u) << brk;
        if (brk) {
            EXPECT_EQ(store.PacketAt(0)->intervalCount, 2);
        }
    }
}

TEST(PacketAssembly, TimeBaseOnlyFromSubCounterZero) {
    CCaptureStore store;
    Stream s;
    s.sub = 3;
    s.Cc(0, 0, Ramp(0, 10, 10)); // ignored: no time base yet
    for (int i = 4; i < 8; ++i) s.Cc(1, 0, Ramp(0, 10, 10)); // CC2 likewise
    s.Cc(0, 1000, Concat({{0, 0}, Ramp(100, 10, 6)}));       // sub-counter 0: time base 1000 µs
    s.Decode(store);
    ASSERT_EQ(store.PacketCount(), 1u);
    // Reference byte 0 at 1000 µs (2400 ticks), a filler of 0 ticks, the first transition 100 ticks on.
    EXPECT_EQ(store.PacketAt(0)->absStartTime, (2400 + 100) * 20 / 48);
    EXPECT_EQ(store.PacketAt(0)->startOffset, 64 * 6);
}

TEST(PacketAssembly, BlockStampRebasesOnlyBeyond500Microseconds) {
    struct Case {
        int offset;
        bool open; // a packet still open across the block boundary
        int64_t expected;
    } cases[] = {
        {500, false, (13824 + 100) * 20 / 48},  {-500, false, (13824 + 100) * 20 / 48},
        {501, false, ((5760 + 501) * 48 / 20 + 100) * 20 / 48},
        {-501, false, ((5760 - 501) * 48 / 20 + 100) * 20 / 48},
    };
    for (const Case& c : cases) {
        CCaptureStore store;
        Stream s;
        s.Cc(0, 0, {0}); // 54 wraps of fillers: 13824 ticks, 5760 µs
        for (int i = 1; i < 8; ++i) s.Cc(1, 0, {0});
        s.Cc(0, uint32_t(5760 + c.offset), Ramp(100, 10, 6));
        s.Decode(store);
        ASSERT_EQ(store.PacketCount(), 1u);
        EXPECT_EQ(store.PacketAt(0)->absStartTime, c.expected) << c.offset;
    }
    // A sub-counter other than 0 never rebases, and neither does a block while a packet is open.
    CCaptureStore store;
    Stream s;
    s.Cc(0, 0, Concat({{0}, std::vector<uint8_t>(50, 0), Ramp(100, 10, 5)})); // packet open at the end
    for (int i = 1; i < 8; ++i) s.Cc(1, 0, {0});
    s.Cc(0, 99999, Ramp(150, 10, 5)); // continues the packet
    s.Decode(store);
    ASSERT_EQ(store.PacketCount(), 1u);
    EXPECT_EQ(store.PacketAt(0)->intervalCount, 9);
}

TEST(PacketAssembly, KeepsTheFirst5000Intervals) {
    CCaptureStore store;
    Stream s;
    std::vector<uint8_t> all = Ramp(0, 10, 5003); // reference + 5002 transitions = 5001 intervals
    size_t blocks = 0;
    for (size_t i = 0; i < all.size(); i += 56, ++blocks)
        s.Cc(0, 0, std::vector<uint8_t>(all.begin() + long(i), all.begin() + long(std::min(all.size(), i + 56))));
    s.Cc(0, 0, {all.back()}); // fillers close it
    s.Decode(store);
    ASSERT_EQ(store.PacketCount(), 1u);
    const CCCPacket* p = store.PacketAt(0);
    EXPECT_EQ(p->intervalCount, 5000);
    EXPECT_EQ(p->endOffset, int64_t(64 * blocks + 63)); // block of the last transition
    EXPECT_EQ(p->startOffset, 64);
}

TEST(PacketAssembly, FillersAfterATransitionAtTickZero) {
    // Transitions up to byte 0 (a counter wrap), then one or two fillers, then byte 10.
    for (int fillers : {1, 2}) {
        CCaptureStore store;
        Stream s;
        std::vector<uint8_t> edges = Concat({{150}, Ramp(200, 14, 5)}); // 200..256, the last at byte 0
        ASSERT_EQ(edges.back(), 0);
        for (int i = 0; i < fillers; ++i) edges.push_back(0);
        edges.push_back(10);
        edges.push_back(20);
        s.Cc(0, 0, edges);
        s.Decode(store);
        if (fillers == 1) { // the filler adds nothing: one packet with an interval of 10
            ASSERT_EQ(store.PacketCount(), 1u);
            EXPECT_EQ(store.PacketAt(0)->intervalCount, 6);
        } else { // the second filler is a whole wrap: the gap of 266 ticks splits the packets
            ASSERT_EQ(store.PacketCount(), 1u); // the second part has one interval and is dropped
            EXPECT_EQ(store.PacketAt(0)->intervalCount, 4);
        }
    }
}
