// Logic samples to CC edge blocks: where each level change lands on the tick scale of every clock
// setting, changes that share a tick, channels that never change, and the sample layouts (bit
// indexes, unit sizes, other channels toggling) that must not matter.
#include "LogicToRecord.h"
#include "import/ImportSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace imptest;

const Bytes kSourceCaps = {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26};
const Bytes kRequest = {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x11};

struct Imported {
    Bytes stream;
    imp::ChannelTally tally[2];
    uint64_t moved = 0;
};

Imported Import(const Bytes& samples, const imp::LogicLayout& layout, size_t chunk = 0, unsigned unitSize = 1) {
    Imported r;
    imp::CLogicToRecord conv(layout, enc::AppendTo(r.stream));
    const size_t step = chunk ? chunk * unitSize : samples.size();
    for (size_t at = 0; at < samples.size(); at += step)
        conv.AddSamples(samples.data() + at, std::min(step, samples.size() - at), unitSize);
    conv.Finish();
    r.tally[0] = conv.Tally(0);
    r.tally[1] = conv.Tally(1);
    r.moved = conv.MovedTransitions();
    return r;
}

std::vector<int64_t> CeilTicks(const std::vector<uint64_t>& changes, uint64_t rate, int divisor) {
    std::vector<int64_t> t;
    for (uint64_t n : changes) t.push_back(int64_t((n * 48000000ull + divisor * rate - 1) / (divisor * rate)));
    return t;
}

TEST(LogicToRecord, EveryClockSettingPlacesChangesOnTheNextTickAndDecodes) {
    struct Case {
        uint16_t clock;
        int divisor;
        uint64_t rate;
    };
    const Case cases[] = {{0, 20, 6000000}, {0, 20, 2400000}, {19, 20, 6000000}, {4, 5, 6000000},
                          {9, 10, 2000000}, {1, 2, 6000000}, {0x100, 1, 6000000}, {0x104, 5, 25000000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "clock " << c.clock << " at " << c.rate << " Hz");
        const auto cc1 = MessageChanges(1000.3, c.rate, kSourceCaps);
        const auto cc2 = MessageChanges(1900.7, c.rate, kRequest);
        const uint64_t count = c.rate / 200; // 5 ms
        const Bytes samples = DrawSamples(count, {{0, cc1}, {1, cc2}});
        const Imported r = Import(samples, {c.rate, 0, 1, c.clock});

        EXPECT_EQ(TransitionTicks(r.stream, 0), CeilTicks(cc1, c.rate, c.divisor));
        EXPECT_EQ(TransitionTicks(r.stream, 1), CeilTicks(cc2, c.rate, c.divisor));
        EXPECT_EQ(r.moved, 0u);
        EXPECT_EQ(CountBlocks(r.stream, true), 0) << "no VBUS sample blocks";

        const auto store = DecodeImported(r.stream);
        ASSERT_EQ(store->PacketCount(), 2u);
        const Bytes* want[2] = {&kSourceCaps, &kRequest};
        for (int i = 0; i < 2; ++i) {
            const CCCPacket& p = *store->PacketAt(size_t(i));
            EXPECT_EQ(p.channel, i);
            EXPECT_EQ(p.divisor, c.divisor);
            EXPECT_EQ(p.kind, 1);
            EXPECT_TRUE(p.crcGood);
            EXPECT_EQ(Bytes(p.messageBytes, p.messageBytes + p.messageByteCount), *want[i]);
            const int64_t firstTick = CeilTicks({i == 0 ? cc1[0] : cc2[0]}, c.rate, c.divisor)[0];
            EXPECT_EQ(p.startTime, firstTick * c.divisor / 48);
        }
    }
}

// At 6 MHz and clock setting 0 a tick is 2.5 samples: changes at samples 101 and 102 share tick 41,
// those at 103, 104 and 105 tick 42. Tick 336 is a whole wrap after tick 80.
TEST(LogicToRecord, ChangesOnOneTickCancelInPairsAcrossChunks) {
    const std::vector<uint64_t> changes = {50, 101, 102, 103, 104, 105, 200, 840};
    const Bytes samples = DrawSamples(3000, {{2, changes}});
    for (size_t chunk : {size_t(1), size_t(7), size_t(102), size_t(0)}) {
        SCOPED_TRACE(::testing::Message() << "chunks of " << chunk);
        const Imported r = Import(samples, {6000000, 2, -1, 0}, chunk);
        EXPECT_EQ(TransitionTicks(r.stream, 0), (std::vector<int64_t>{20, 42, 80, 335}));
        EXPECT_EQ(r.tally[0].changes, 8u);
        EXPECT_EQ(r.tally[0].cancelled, 4u);
        EXPECT_EQ(r.tally[0].written, 4u);
        EXPECT_EQ(r.moved, 1u); // tick 336 read as a filler, so one tick early
    }
}

TEST(LogicToRecord, AChannelThatNeverChangesCarriesOnlyFillersToTheEnd) {
    const uint64_t rate = 2400000;
    const auto cc1 = MessageChanges(500, rate, kSourceCaps);
    const Bytes high = DrawSamples(24000, {{0, cc1}, {1, {}, 1}}); // CC2 held high, 10 ms
    const Imported held = Import(high, {rate, 0, 1, 0});
    const Imported absent = Import(high, {rate, 0, -1, 0});

    EXPECT_EQ(held.tally[1].changes, 0u);
    EXPECT_TRUE(TransitionTicks(held.stream, 1).empty());
    EXPECT_EQ(held.stream, absent.stream) << "a constant channel is written like one not imported";
    int64_t end = 0;
    TransitionTicks(held.stream, 1, &end);
    EXPECT_GE(end, 24000) << "CC2's fillers run to the end of the capture (10 ms of 1/2.4 µs ticks)";
    const auto store = DecodeImported(held.stream);
    ASSERT_EQ(store->PacketCount(), 1u);
    EXPECT_EQ(store->PacketAt(0)->channel, 0);

    const Imported silent = Import(DrawSamples(24000, {{0, {}}, {1, {}, 1}}), {rate, 0, 1, 0});
    EXPECT_GT(silent.stream.size(), 0u);
    EXPECT_EQ(DecodeImported(silent.stream)->PacketCount(), 0u);
}

// Other channels of the analyzer toggle freely; only the chosen bits count, wherever they sit in a
// sample of one or more bytes.
TEST(LogicToRecord, BitIndexesAndUnitSizesGiveTheSameStream) {
    const uint64_t rate = 6000000;
    const auto cc1 = MessageChanges(300, rate, kSourceCaps);
    const auto cc2 = MessageChanges(900, rate, kRequest);
    const uint64_t count = 9000;
    const Imported plain = Import(DrawSamples(count, {{0, cc1}, {1, cc2}}), {rate, 0, 1, 0});

    std::mt19937 rng(3);
    Bytes noisy = DrawSamples(count, {{6, cc1}, {3, cc2}});
    for (uint8_t& s : noisy) s |= uint8_t(rng() & 0xB7); // everything but bits 3 and 6
    EXPECT_EQ(Import(noisy, {rate, 6, 3, 0}, 1000).stream, plain.stream);

    const Bytes lo = DrawSamples(count, {{3, cc2}});
    const Bytes hi = DrawSamples(count, {{1, cc1}}); // bit 9 of a two-byte sample
    Bytes wide;
    for (uint64_t n = 0; n < count; ++n) {
        wide.push_back(uint8_t(lo[n] | (rng() & 0xF7)));
        wide.push_back(uint8_t(hi[n] | (rng() & 0xFD)));
    }
    EXPECT_EQ(Import(wide, {rate, 9, 3, 0}, 333, 2).stream, plain.stream);
}

// The header's origin entry stands in for the first VBUS sample: packets before it are dropped, the
// others timed from it; without the entry nothing is kept, as for any file without samples.
TEST(LogicToRecord, TheHeaderOriginTimesThePacketsOfAStreamWithoutSamples) {
    const uint64_t rate = 6000000;
    const auto cc1 = MessageChanges(1000, rate, kSourceCaps);
    const auto cc2 = MessageChanges(1900, rate, kRequest);
    const Imported r = Import(DrawSamples(rate / 200, {{0, cc1}, {1, cc2}}), {rate, 0, 1, 0});
    struct Case {
        int64_t origin;
        std::vector<int64_t> startTimes;
    };
    const Case cases[] = {{-1, {}}, {0, {1000, 1900}}, {1500, {400}}, {1000, {0, 900}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.origin);
        const auto store = DecodeImported(r.stream, c.origin);
        std::vector<int64_t> times;
        for (size_t i = 0; i < store->PacketCount(); ++i) times.push_back(store->PacketAt(i)->startTime);
        EXPECT_EQ(times, c.startTimes);
        EXPECT_EQ(store->captureOrigin, c.origin);
    }
}

TEST(LogicToRecord, TickOfSampleRoundsUp) {
    EXPECT_EQ(imp::CLogicToRecord::TickOfSample(0, 6000000, 20), 0);
    EXPECT_EQ(imp::CLogicToRecord::TickOfSample(5, 6000000, 20), 2);  // exactly 2 ticks
    EXPECT_EQ(imp::CLogicToRecord::TickOfSample(6, 6000000, 20), 3);  // 2.4 ticks
    EXPECT_EQ(imp::CLogicToRecord::TickOfSample(1, 2400000, 5), 4);   // a quarter sample per tick
    // Ten hours at 100 MHz: no overflow in the product.
    EXPECT_EQ(imp::CLogicToRecord::TickOfSample(3600000000000ull, 100000000, 1), 1728000000000);
}

} // namespace
