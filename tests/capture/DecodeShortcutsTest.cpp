// The decoder's shortcuts against the plain rules: blocks taken many bytes at a time assemble the same
// packets as the byte-by-byte rule, and the one-pass reading of a regular packet gives the same
// packet as classifying, pairing and decoding step by step.
#include "BmcDecoder.h"
#include "CaptureStore.h"
#include "RecordEncoder.h"
#include "support/Blocks.h"
#include "support/DecodedPackets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using namespace testblocks;
using testdecoded::ExpectSameDecode;

namespace {

std::unique_ptr<CCCPacket> FromIntervals(const std::vector<int>& intervals, int divisor) {
    auto p = std::make_unique<CCCPacket>();
    p->divisor = divisor;
    for (int v : intervals) p->AppendInterval(uint8_t(v));
    return p;
}

// The run order for one packet, one step at a time.
void DecodeStepByStep(CCCPacket& p) {
    if (p.intervalCount == 0 || !bmc::Classify(p, nullptr)) return;
    if (p.shortCount > 10 || p.longCount > 10) return;
    if (bmc::Pair(p) == 0)
        bmc::DecodeBits(p, nullptr);
    else if (!bmc::TryAlternative(p, kClass1BitResolved, nullptr))
        bmc::TryAlternative(p, kClass2BitsResolved, nullptr);
}

// BMC intervals of a frame.
std::vector<int> FrameIntervals(const std::vector<uint8_t>& bytes, int half) {
    return testdecoded::BmcIntervals(enc::SymbolsToBits(enc::FrameSymbols(kKindSop, bytes.data(), bytes.size())), half);
}

} // namespace

TEST(DecodeShortcuts, OnePassReadsLikeTheStepsOneByOne) {
    std::mt19937 rng(7);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> bytes(size_t(2 + pick(30)));
        for (auto& b : bytes) b = uint8_t(rng());
        const int half = 3 + pick(3); // 3 to 5 ticks
        std::vector<int> v = FrameIntervals(bytes, half);
        // Damage of the kinds real links show: a stray half-UI (a run of odd length, anywhere, the ends
        // included), an interval squeezed or stretched into another class, a glitch.
        switch (pick(6)) {
        case 0: break;
        case 1: v.insert(v.begin() + pick(int(v.size()) + 1), half); break;
        case 2: v[size_t(pick(int(v.size())))] += pick(2) ? 1 : -1; break;
        case 3: v.insert(v.begin() + pick(int(v.size()) + 1), 1); break;
        case 4: v[size_t(pick(int(v.size())))] = 2 * half - 1 - pick(2); break;
        case 5:
            v.push_back(half); // the trailing edge of a frame that left the line high
            v.insert(v.begin(), 2 * half);
            break;
        }
        const int divisor = pick(4) ? 20 : 5 + pick(40);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << v.size() << " intervals");

        auto want = FromIntervals(v, divisor);
        DecodeStepByStep(*want);
        auto got = FromIntervals(v, divisor);
        bmc::DecodePacketBits(*got, nullptr);
        ExpectSameDecode(*want, *got, true);
        auto dropped = FromIntervals(v, divisor);
        bmc::DecodePacketBitsDroppingEdges(*dropped, nullptr);
        ExpectSameDecode(*want, *dropped, false);
        if (testing::Test::HasFailure()) return;
    }
}

namespace {

// A closed packet as the byte-by-byte rule assembles it.
struct Assembled {
    int channel;
    int64_t absStartTime, startOffset, endOffset;
    std::vector<int> intervals;
};

// The assembly rule, one edge byte at a time, for a continuous block sequence whose first block has
// sub-counter 0, after a VBUS sample at time 0. Packets of fewer than four intervals at an idle end
// are dropped; the ones still open at the end are left out.
std::vector<Assembled> AssembleByTheRule(const std::vector<uint8_t>& stream) {
    struct Channel {
        int64_t blockTime = 0, edgeTime = -1, ticks = -1, gap = 0;
        int lastByte = -1, lastValue = -1, repeat = 0;
        bool open = false;
        Assembled packet{};
    } ch[2];
    std::vector<Assembled> out;
    for (size_t off = 0; off + 64 <= stream.size(); off += 64) {
        const uint8_t* b = stream.data() + off;
        if (rec::ClassifyBlock(b) != rec::BlockKind::CcEdges) continue;
        const int64_t div = rec::ClockDivisor(rec::CcClockSetting(b));
        const int c = rec::CcChannel(b);
        Channel& h = ch[c];
        const int64_t t = rec::ExtendTimeStamp(h.blockTime, rec::CcTimeStamp(b));
        h.blockTime = t;
        const int f = rec::CcSubCounter(b);
        if (h.edgeTime < 0) {
            if (f != 0) continue;
            h.edgeTime = t;
            h.ticks = t * 48 / div;
        } else if (f == 0 && !h.open && (t - h.edgeTime > 500 || t - h.edgeTime < -500)) {
            h.edgeTime = t;
            h.ticks = t * 48 / div;
        }
        for (int i = 0; i < rec::kEdgeBytesPerBlock; ++i) {
            const int v = b[rec::kEdgeBytesOffset + i];
            if (h.lastByte < 0) {
                h.lastByte = h.lastValue = v;
                continue;
            }
            const bool transition = v != h.lastByte;
            int d;
            if (transition) {
                h.repeat = 0;
                d = v;
            } else {
                h.repeat += 1;
                d = 0;
            }
            const int a = h.lastValue;
            const int step = d > a ? d - a : d < a ? d - a + 256 : (h.repeat < 2 ? 0 : 256);
            h.gap += step;
            h.lastByte = v;
            h.lastValue = d;
            h.ticks += step;
            h.edgeTime = div * h.ticks / 48;
            if (h.open && h.gap * div >= 480) {
                if (h.packet.intervals.size() >= 4) out.push_back(h.packet);
                h.open = false;
            }
            if (transition) {
                if (!h.open) {
                    h.open = true;
                    h.packet = Assembled{c, h.edgeTime, int64_t(off), 0, {}};
                } else if (h.packet.intervals.size() < size_t(kMaxIntervals)) {
                    h.packet.intervals.push_back(int(h.gap & 0xFF));
                }
                h.packet.endOffset = int64_t(off) + 63;
                h.gap = 0;
            }
        }
    }
    return out;
}

} // namespace

TEST(DecodeShortcuts, BlocksAssembleLikeTheByteRule) {
    // Edge bytes of every kind the analyzer can send: steps of a half or a whole UI, lone fillers at
    // a wrap, fillers where the next transition lies past the value before them, runs of fillers,
    // steps long enough to end a packet, at the default clock and others down to the fastest.
    const uint16_t clocks[] = {0, 0x100, 0x104, 0x10F};
    std::mt19937 rng(11);
    for (uint16_t clock : clocks) {
        SCOPED_TRACE(testing::Message() << "clock " << clock);
        Stream s;
        int values[2] = {0, 0};
        uint32_t stamp = 0;
        for (int block = 0; block < 400; ++block) {
            // Stretches of traffic and of idle line, a few blocks each.
            const bool idle = (block / 3) % 4 == 3;
            // Both channels for a while (each starts at a block with sub-counter 0), then CC1 alone.
            const int channel = block < 200 ? (block / 8) % 2 : 0;
            int& value = values[channel];
            std::vector<uint8_t> edges;
            for (int i = 0; i < rec::kEdgeBytesPerBlock; ++i) {
                const uint32_t r = rng() % 1000;
                if (idle ? r < 900 : r < 25) {
                    edges.push_back(uint8_t(value)); // a filler
                    continue;
                }
                int step;
                if (r < 850)
                    step = (rng() % 2 ? 4 : 8) + int(rng() % 3) - 1;
                else if (r < 980)
                    step = 1 + int(rng() % 40);
                else
                    step = 1 + int(rng() % 255);
                value = (value + step) & 0xFF;
                edges.push_back(uint8_t(value));
            }
            s.Cc(channel, stamp, edges, clock);
            stamp += 40;
        }
        CCaptureStore store;
        s.Decode(store);
        std::vector<Assembled> want = AssembleByTheRule(s.bytes);
        // Packets still open at the end are in neither.
        std::vector<const CCCPacket*> got;
        for (size_t i = 0; i < store.PacketCount(); ++i) got.push_back(store.PacketAt(i));
        std::stable_sort(want.begin(), want.end(),
                         [](const Assembled& x, const Assembled& y) { return x.absStartTime < y.absStartTime; });
        ASSERT_GT(want.size(), 20u);
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < want.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "packet " << k);
            const CCCPacket& p = *got[k];
            const Assembled& w = want[k];
            EXPECT_EQ(p.channel, w.channel);
            EXPECT_EQ(p.absStartTime, w.absStartTime);
            EXPECT_EQ(p.startOffset, w.startOffset);
            EXPECT_EQ(p.endOffset, w.endOffset);
            ASSERT_EQ(p.intervalCount, int32_t(w.intervals.size()));
            // The packet's own intervals are gone with its edge array; decoding them again must give
            // what the store kept.
            auto again = FromIntervals(w.intervals, p.divisor);
            bmc::DecodePacketBits(*again, nullptr);
            EXPECT_EQ(p.tickSum, again->tickSum);
            ASSERT_EQ(p.bitCount, again->bitCount);
            if (p.bitCount > 0) {
                EXPECT_EQ(std::memcmp(p.bits.get(), again->bits.get(), size_t(p.bitCount)), 0);
            }
            if (testing::Test::HasFailure()) return;
        }
    }
}
