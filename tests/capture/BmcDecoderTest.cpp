#include "BmcDecoder.h"
#include "RecordEncoder.h"
#include "SymbolDecoder.h"
#include "support/DecodedPackets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testdecoded::BmcIntervals;

CCCPacket FromIntervals(const std::vector<int>& intervals, int divisor) {
    CCCPacket p;
    p.divisor = divisor;
    for (int v : intervals) p.AppendInterval(uint8_t(v));
    return p;
}

std::vector<uint8_t> Preamble(int n = 64) {
    std::vector<uint8_t> bits;
    for (int i = 0; i < n; ++i) bits.push_back(uint8_t(i & 1));
    return bits;
}

// Bits of a whole frame: preamble, ordered set, bytes with their CRC, EOP.
std::vector<uint8_t> FrameBits(int32_t kind, const std::vector<uint8_t>& bytes) {
    return enc::SymbolsToBits(enc::FrameSymbols(kind, bytes.data(), bytes.size()));
}

} // namespace

TEST(BmcDecoder, ClassBoundariesWithDivisor5) {
    // Fewer than 151 intervals: U = 3.3 µs, a half-UI of 15.84 ticks.
    std::vector<int> intervals;
    for (int v = 1; v <= 60; ++v) intervals.push_back(v);
    CCCPacket p = FromIntervals(intervals, 5);
    ASSERT_TRUE(bmc::Classify(p, nullptr));
    auto cls = [&](int ticks) { return p.edges[size_t(ticks - 1)].Class(); };
    // The first entry (1 tick) is the only one read with the first-entry rule; check it separately.
    for (int v = 2; v <= 9; ++v) EXPECT_EQ(cls(v), kClassShort) << v;
    for (int v = 10; v <= 20; ++v) EXPECT_EQ(cls(v), kClass1Bit) << v;
    for (int v = 21; v <= 25; ++v) EXPECT_EQ(cls(v), kClass1Or2Bits) << v;
    for (int v = 26; v <= 41; ++v) EXPECT_EQ(cls(v), kClass2Bits) << v;
    for (int v = 42; v <= 60; ++v) EXPECT_EQ(cls(v), kClassLong) << v;
    EXPECT_EQ(p.shortCount, 9);
    EXPECT_EQ(p.longCount, 19);
    EXPECT_EQ(p.tickSum, 60 * 61 / 2);
    EXPECT_EQ(p.edges[25].Kind(), kBitZero); // full-UI intervals are zeros at once

    struct First {
        int ticks;
        uint8_t cls;
    } firsts[] = {{9, kClassShort}, {10, kClass1Bit}, {20, kClass1Bit}, {21, kClass2Bits}, {200, kClass2Bits}};
    for (const First& f : firsts) {
        CCCPacket q = FromIntervals({f.ticks, 16}, 5);
        ASSERT_TRUE(bmc::Classify(q, nullptr));
        EXPECT_EQ(q.edges[0].Class(), f.cls) << f.ticks;
    }
}

TEST(BmcDecoder, UnitIntervalEstimateFromLongPackets) {
    // 151 intervals of 5 ticks at divisor 20: 150 intervals taken as 100 bits give U = 3.125 µs and a
    // half-UI of 3.75 ticks; 5 ticks is then 13.3 tenths, ambiguous, where a 3.3 µs estimate says "1bit".
    CCCPacket p = FromIntervals(std::vector<int>(151, 5), 20);
    ASSERT_TRUE(bmc::Classify(p, nullptr));
    EXPECT_EQ(p.edges[1].Class(), kClass1Or2Bits);
    CCCPacket q = FromIntervals(std::vector<int>(150, 5), 20);
    ASSERT_TRUE(bmc::Classify(q, nullptr));
    EXPECT_EQ(q.edges[1].Class(), kClass1Bit);
}

TEST(BmcDecoder, DecodesAFrame) {
    const std::vector<uint8_t> bytes = {0x61, 0x31, 0x2c, 0x91, 0x01, 0x0a};
    CCCPacket p = FromIntervals(BmcIntervals(FrameBits(kKindSop, bytes), 4), 20);
    bmc::DecodePacketBits(p, nullptr);
    EXPECT_EQ(p.kind, kKindSop);
    EXPECT_TRUE(p.crcGood);
    ASSERT_EQ(p.messageByteCount, 6);
    EXPECT_EQ(std::vector<uint8_t>(p.messageBytes, p.messageBytes + 6), bytes);
    EXPECT_EQ(p.preambleStart, 0);
    EXPECT_EQ(p.preambleLength, 64);
    EXPECT_EQ(p.dataStart, 64);
    // 63 preamble bits of 8 ticks at 20/48 µs a tick.
    EXPECT_FLOAT_EQ(p.unitInterval, 20.0f * 504.0f / 63.0f / 48.0f);
    EXPECT_EQ(p.bitCount, int32_t(FrameBits(kKindSop, bytes).size()));
}

TEST(BmcDecoder, PreambleNeedsSixtyOneAlternatingBits) {
    struct Case {
        int length;
        bool found;
        int start, dataStart;
    } cases[] = {{60, false, -1, -1}, {61, true, 2, 62}, {62, true, 2, 64}, {96, true, 2, 98}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bits = {0, 0}; // not part of the run
        auto pre = Preamble(c.length);
        bits.insert(bits.end(), pre.begin(), pre.end());
        bits.push_back(bits.back()); // the run ends
        bits.insert(bits.end(), 20, 0);
        CCCPacket p = FromIntervals(BmcIntervals(bits, 4), 20);
        bmc::DecodePacketBits(p, nullptr);
        SCOPED_TRACE(c.length);
        EXPECT_EQ(p.preambleFound, c.found);
        if (c.found) { // an odd run ends before its last bit, a 0
            EXPECT_EQ(p.preambleStart, c.start);
            EXPECT_EQ(p.dataStart, c.dataStart);
            EXPECT_EQ(p.preambleLength, c.dataStart - c.start);
        }
    }
}

TEST(BmcDecoder, StrayIntervalsOnlyAtTheEnds) {
    const std::vector<int> frame = BmcIntervals(FrameBits(kKindSop, {0x41, 0x00}), 4);
    struct Case {
        const char* name;
        std::vector<int> intervals;
        bool good;
    } cases[] = {
        {"short first and last", [&] {
             std::vector<int> v = {1};
             v.insert(v.end(), frame.begin(), frame.end());
             v.push_back(1);
             return v;
         }(), true},
        {"long last", [&] {
             std::vector<int> v = frame;
             v.push_back(200);
             return v;
         }(), true},
        {"short in the middle", [&] {
             std::vector<int> v = frame;
             v.insert(v.begin() + 120, 1);
             return v;
         }(), false},
    };
    for (const Case& c : cases) {
        CCCPacket p = FromIntervals(c.intervals, 20);
        bmc::DecodePacketBits(p, nullptr);
        EXPECT_EQ(p.crcGood, c.good) << c.name;
    }
}

TEST(BmcDecoder, SearchResolvesAmbiguousIntervals) {
    // Two zeros in a row whose intervals shrank to 6 ticks (a half-UI is 4): each could be a zero or
    // half of a one, and pairing alone cannot tell. Only the reading with the right CRC is kept.
    const std::vector<uint8_t> bits = FrameBits(kKindSop, {0x42, 0x10, 0x2c, 0xb1, 0x04, 0x10});
    std::vector<int> intervals;
    size_t first = 0;
    for (size_t i = 0; i < bits.size(); ++i) {
        const bool squeeze = first == 0 && i > 100 && i + 1 < bits.size() && !bits[i] && !bits[i + 1];
        if (squeeze) first = intervals.size();
        if (bits[i]) {
            intervals.push_back(4);
            intervals.push_back(4);
        } else {
            intervals.push_back(first && intervals.size() <= first + 1 ? 6 : 8);
        }
    }
    ASSERT_GT(first, 0u);
    ASSERT_EQ(intervals[first + 1], 6);
    CCCPacket p = FromIntervals(intervals, 20);
    ASSERT_TRUE(bmc::Classify(p, nullptr));
    EXPECT_EQ(p.edges[first].Class(), kClass1Or2Bits);
    EXPECT_GT(bmc::Pair(p), 0);

    CCCPacket q = FromIntervals(intervals, 20);
    bmc::DecodePacketBits(q, nullptr);
    EXPECT_TRUE(q.crcGood);
    EXPECT_EQ(q.edges[first].Class(), kClass2BitsResolved);
    EXPECT_EQ(q.edges[first + 1].Class(), kClass2BitsResolved);
}

TEST(BmcDecoder, HostileAmbiguityEndsInBoundedTime) {
    // Every interval ambiguous: without a bound the search would try 2^2500 readings.
    CCCPacket p = FromIntervals(std::vector<int>(5000, 6), 20);
    bmc::DecodePacketBits(p, nullptr);
    EXPECT_FALSE(p.crcGood);
    EXPECT_EQ(p.kind, kKindNotDecoded);
}

TEST(BmcDecoder, TooManyShortOrLongIntervalsStopDecoding) {
    // The gate comes before pairing: past ten short (or long) intervals no entry gets a bit kind.
    const std::vector<int> frame = BmcIntervals(FrameBits(kKindSop, {0x41, 0x00}), 4);
    for (int stray : {1, 40}) {
        for (int extra : {10, 11}) {
            std::vector<int> intervals = frame;
            intervals.insert(intervals.end(), size_t(extra), stray);
            CCCPacket p = FromIntervals(intervals, 20);
            bmc::DecodePacketBits(p, nullptr);
            SCOPED_TRACE(testing::Message() << stray << " x" << extra);
            EXPECT_EQ(stray == 1 ? p.shortCount : p.longCount, extra);
            EXPECT_EQ(p.edges[1].Kind() == kBitUndecided, extra > 10);
        }
    }
}
