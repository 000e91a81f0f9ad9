#include "CaptureStore.h"
#include "Notify.h"
#include "PacketTexts.h"
#include "RecordEncoder.h"
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

using namespace testblocks;

namespace {

void AddSample(CCaptureStore& s, uint32_t stamp, uint16_t mV = 5000, int16_t raw = 0) {
    const Block b = VbusBlock({{stamp, mV, raw}});
    s.AddSamples(b.data(), 0);
}

// A packet without intervals: decoding leaves it undecoded, which is all these tests need. Given ticks,
// it carries intervals that add up to them, so that it has a length.
bool Offer(CCaptureStore& s, int64_t absStart, int channel = 0, int32_t ticks = 0) {
    auto p = std::make_unique<CCCPacket>();
    p->absStartTime = absStart;
    p->channel = channel;
    for (int32_t left = ticks; left > 0; left -= 200) p->AppendInterval(uint8_t(std::min(left, 200)));
    return s.AddPacket(p);
}

std::vector<int64_t> StartTimes(const CCaptureStore& s) {
    std::vector<int64_t> v;
    for (size_t i = 0; i < s.PacketCount(); ++i) {
        EXPECT_EQ(s.PacketAt(i)->index, int32_t(i));
        v.push_back(s.PacketAt(i)->startTime);
    }
    return v;
}

// Messages and their GoodCRCs back to back on CC1 after one VBUS sample: two packets per message.
std::vector<uint8_t> BusyStream(int messages) {
    std::vector<uint8_t> data;
    enc::CRecordEncoder e({}, enc::AppendTo(data));
    enc::VbusSample first;
    first.vbusVoltage = 5000;
    e.AddVbusSample(first);
    const std::vector<uint8_t> request = {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x13}, goodCrc = {0x41, 0x00};
    auto endOf = [&](const enc::PlacedFrame& f) { return double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0; };
    double t = 1000;
    for (int i = 0; i < messages; ++i) {
        const double end = endOf(e.AddMessage(0, t, kKindSop, request));
        t = endOf(e.AddMessage(0, end + 150, kKindSop, goodCrc)) + 300;
        e.AdvanceTo(t);
    }
    e.Finish(t + 1000);
    return data;
}

// Decodes in steps of 64 KB, enforcing the limits before each as the document does.
void DecodeInSteps(CCaptureStore& s, const std::vector<uint8_t>& data) {
    constexpr size_t kStep = 65536;
    for (size_t off = 0; off < data.size(); off += kStep) {
        s.EnforceLimits();
        s.DecodeChunk(data.data() + off, std::min(kStep, data.size() - off), int64_t(off));
    }
}

} // namespace

// Stored packets live in the packet pool's blocks: a block must go back once its packets are removed
// or cleared, and packets made on one thread must be freed on another.
TEST(CaptureStore, PacketMemoryGoesBackWithThePackets) {
    const std::vector<uint8_t> data = BusyStream(8000);
    constexpr size_t kBlock = size_t(2) << 20;
    const size_t before = packetpool::BytesHeld();
    {
        StoreLimits limits;
        limits.packetLimit = 500;
        limits.packetAutoRemove = true;
        CCaptureStore s(nullptr, limits);
        DecodeInSteps(s, data);
        EXPECT_EQ(s.tallies.all, 16000u);
        EXPECT_EQ(s.tallies.badCrc, 0u);
        EXPECT_LT(s.PacketCount(), 1000u);
        // Some 11 MB went through; what is held is the packets left and the block being filled.
        EXPECT_LT(packetpool::BytesHeld(), before + 3 * kBlock);
        s.Reset();
        EXPECT_LE(packetpool::BytesHeld(), before + kBlock);
    }

    // Decoded on a thread that ends before its packets go: the last one frees every block. (This
    // thread keeps the block it was filling.)
    auto store = std::make_unique<CCaptureStore>();
    const size_t thisThread = packetpool::BytesHeld();
    std::thread([&] { DecodeInSteps(*store, data); }).join();
    EXPECT_EQ(store->PacketCount(), 16000u);
    ASSERT_TRUE(store->PacketAt(15999)->bits);
    EXPECT_EQ(store->PacketAt(15999)->bits[0], 0); // the preamble starts with a zero
    store.reset();
    EXPECT_EQ(packetpool::BytesHeld(), thisThread);
}

// A packet's arrays from the pool and from new[] side by side; each freed its own way (the address
// checker tells a mismatch).
TEST(CaptureStore, PacketBytesFromPoolOrNew) {
    PacketBytes a, b;
    ASSERT_TRUE(a.Allocate(10));
    b.reset(new uint8_t[3]{1, 0, 1});
    for (int i = 0; i < 10; ++i) a[size_t(i)] = uint8_t(i);
    std::swap(a, b);
    EXPECT_EQ(a[2], 1);
    EXPECT_EQ(b[9], 9);
    a = std::move(b);
    EXPECT_FALSE(b);
    ASSERT_TRUE(a);
    EXPECT_EQ(a[9], 9);
    a.reset(new uint8_t[1]{7});
    EXPECT_EQ(a[0], 7);
    ASSERT_TRUE(a.Allocate(5000));
    a.reset();
    EXPECT_FALSE(a);
}

TEST(CaptureStore, PacketsBeforeTheFirstSampleAreDropped) {
    CCaptureStore s;
    EXPECT_FALSE(Offer(s, 100)); // no origin yet
    AddSample(s, 1000);
    EXPECT_FALSE(Offer(s, 999));
    EXPECT_TRUE(Offer(s, 1000));
    EXPECT_EQ(s.PacketCount(), 1u);
    EXPECT_EQ(s.tallies.all, 1u);
    EXPECT_EQ(s.PacketAt(0)->startTime, 0);
}

TEST(CaptureStore, InsertKeepsTimeOrderAndArrivalOrderForTies) {
    CCaptureStore s;
    AddSample(s, 0);
    Offer(s, 10, 1);
    Offer(s, 30, 1);
    Offer(s, 20, 0); // a late CC1 packet goes before the later CC2 one
    Offer(s, 30, 0); // equal time: after the one that came first
    Offer(s, 5, 0);
    EXPECT_EQ(StartTimes(s), (std::vector<int64_t>{5, 10, 20, 30, 30}));
    EXPECT_EQ(s.PacketAt(3)->channel, 1);
    EXPECT_EQ(s.PacketAt(4)->channel, 0);
    EXPECT_EQ(s.tallies.cc1, 3u);
    EXPECT_EQ(s.tallies.cc2, 2u);
    EXPECT_EQ(s.tallies.noPreamble, 5u);
    EXPECT_EQ(s.tallies.otherKind, 5u);
}

// Each packet's idle time is the gap from the end of the packet before it in the store (length = ticks
// × 20 / 48 µs, truncated), the first one's its start from the time origin; insertions anywhere, a new
// time origin and the removal of the oldest packets keep every value so.
TEST(CaptureStore, IdleTimesFollowTheStoreOrder) {
    struct Offered {
        int64_t start;
        int channel;
        int32_t ticks;
    };
    const Offered offers[] = {
        {1000, 1, 100},  // 41 µs long
        {3000, 1, 250},  // appended
        {2000, 0, 490},  // a CC1 packet closed after the later CC2 one: goes before the last
        {400, 0, 90},    // becomes the first
        {3000, 0, 30},   // a tie: after the CC2 packet of the same start
        {3010, 1, 1000}, // starts inside the one before it: a negative gap
        {5000, 1, 0},
    };
    StoreLimits limits;
    limits.packetLimit = 4;
    limits.packetAutoRemove = true;
    CCaptureStore s(nullptr, limits);
    AddSample(s, 0);

    std::vector<Offered> order; // the store order, kept here on its own
    auto expected = [&](int64_t origin) {
        std::vector<int64_t> v;
        for (size_t i = 0; i < order.size(); ++i)
            v.push_back(i == 0 ? order[i].start - origin
                               : order[i].start - (order[i - 1].start + order[i - 1].ticks * 20 / 48));
        return v;
    };
    auto idleTimes = [&] {
        std::vector<int64_t> v;
        for (size_t i = 0; i < s.PacketCount(); ++i) v.push_back(s.PacketAt(i)->idleTime);
        return v;
    };
    for (const Offered& o : offers) {
        ASSERT_TRUE(Offer(s, o.start, o.channel, o.ticks));
        const auto at = std::upper_bound(order.begin(), order.end(), o.start,
                                         [](int64_t t, const Offered& x) { return t < x.start; });
        order.insert(at, o);
        EXPECT_EQ(idleTimes(), expected(0)) << "after the packet at " << o.start;
    }
    EXPECT_EQ(idleTimes()[0], 400);
    EXPECT_EQ(idleTimes()[4], -104); // the tie: the same start as the 104 µs packet before it

    // Only the first packet depends on the time origin.
    s.SetTimeOrigin(700);
    EXPECT_EQ(idleTimes(), expected(700));
    EXPECT_EQ(idleTimes()[0], -300);

    // Trimmed to the limit, the oldest remaining packet is the first.
    s.EnforceLimits();
    ASSERT_EQ(s.PacketCount(), 4u);
    order.erase(order.begin(), order.begin() + 3);
    EXPECT_EQ(idleTimes(), expected(700));
    EXPECT_EQ(idleTimes()[0], 3000 - 700);
}

TEST(CaptureStore, PacketLimitTrimsInBulk) {
    struct Case {
        size_t count;
        bool autoRemove;
        size_t expected;
        bool full;
    } cases[] = {
        {109998, true, 109998, false},
        {109999, true, 99999, false},
        {100000, false, 100000, true},
        {99999, false, 99999, false},
    };
    for (const Case& c : cases) {
        StoreLimits limits;
        limits.packetAutoRemove = c.autoRemove;
        CCaptureStore s(nullptr, limits);
        AddSample(s, 0);
        for (size_t i = 0; i < c.count; ++i) Offer(s, int64_t(i));
        s.markerAPacket = s.PacketAt(5);
        s.markerBPacket = s.PacketAt(c.count - 1);
        s.EnforceLimits();
        ASSERT_EQ(s.PacketCount(), c.expected) << c.count;
        EXPECT_EQ(s.packetsFull, c.full);
        EXPECT_EQ(s.packetsRemoved, c.expected < c.count);
        const CCCPacket* first = s.PacketAt(0);
        EXPECT_EQ(first->index, 0);
        EXPECT_EQ(first->startTime, int64_t(c.count - c.expected));
        EXPECT_EQ(s.PacketAt(c.expected - 1)->index, int32_t(c.expected - 1));
        // References into the removed range are cleared, others kept.
        EXPECT_EQ(s.markerAPacket == nullptr, c.expected < c.count);
        EXPECT_EQ(s.markerBPacket, s.PacketAt(c.expected - 1));
    }
}

TEST(CaptureStore, SampleLimit) {
    StoreLimits limits;
    limits.sampleLimit = 100;
    limits.sampleAutoRemove = true;
    CCaptureStore s(nullptr, limits);
    for (uint32_t i = 0; i < 110; ++i) AddSample(s, i * 10);
    s.EnforceLimits();
    EXPECT_EQ(s.SampleCount(), 110u); // not above 110
    AddSample(s, 1100);
    s.EnforceLimits();
    ASSERT_EQ(s.SampleCount(), 100u);
    EXPECT_EQ(s.SampleAt(0)->time, 110);

    limits.sampleAutoRemove = false;
    CCaptureStore t(nullptr, limits);
    for (uint32_t i = 0; i < 101; ++i) AddSample(t, i);
    t.EnforceLimits();
    EXPECT_EQ(t.SampleCount(), 101u);
    EXPECT_TRUE(t.vbusFull);
}

TEST(CaptureStore, SamplesExtendTimeAndTrackExtremes) {
    CCaptureStore s;
    AddSample(s, 0xFFFFFF00u, 5000, 1598); // 1500 mA
    AddSample(s, 0x00000100u, 20000, -3196); // -3000 mA, after the 32-bit wrap
    ASSERT_EQ(s.SampleCount(), 2u);
    EXPECT_EQ(s.captureOrigin, 0xFFFFFF00ll);
    EXPECT_EQ(s.SampleAt(1)->time, 0x200);
    EXPECT_EQ(s.extremes.maxVoltage, 20000);
    EXPECT_EQ(s.extremes.maxCurrent, 1500);
    EXPECT_EQ(s.extremes.minCurrent, -3000);
    EXPECT_EQ(s.extremes.maxVbusPower, 7500);
    EXPECT_EQ(s.extremes.minVbusPower, -60000);
    EXPECT_EQ(s.extremes.minVbusPowerVoltage, 20000);
    EXPECT_EQ(s.extremes.minPower, -60000);
}

TEST(CaptureStore, LookupsFindTheLastAtOrBefore) {
    CCaptureStore s;
    for (uint32_t t : {100u, 200u, 300u}) AddSample(s, t);
    Offer(s, 150);
    Offer(s, 250);
    s.timeOrigin = 50; // display times are 50 lower
    struct Case {
        int64_t t;
        int64_t sample, packet;
    } cases[] = {{-51, -1, -1}, {-50, 0, -1}, {-1, 0, -1}, {0, 0, 0}, {50, 1, 0},
                 {99, 1, 0},    {100, 1, 1},  {150, 2, 1}, {1000, 2, 1}};
    for (const Case& c : cases) {
        int64_t pos = 99;
        const CVbusInfo* v = s.FindSampleAt(c.t, &pos);
        EXPECT_EQ(pos, c.sample) << c.t;
        EXPECT_EQ(v == nullptr, c.sample < 0);
        const CCCPacket* p = s.FindPacketAt(c.t, &pos);
        EXPECT_EQ(pos, c.packet) << c.t;
        EXPECT_EQ(p == nullptr, c.packet < 0);
    }
    CCaptureStore empty;
    EXPECT_EQ(empty.FindSampleAt(0), nullptr);
}

TEST(CaptureStore, DisplayTimesHoldAtTheEndsOfTheRange) {
    // A time origin read from a file may be any 64-bit value: display times (and the first packet's
    // idle time, counted from the origin) stop at +-INT64_MAX instead of wrapping round, and the
    // lookups by display time still find every sample and packet.
    CCaptureStore s;
    for (uint32_t t : {100u, 200u, 300u}) AddSample(s, t);
    Offer(s, 150);
    Offer(s, 250);
    const int64_t p62 = int64_t(1) << 62;
    struct Case {
        int64_t origin;
        int64_t sample0, packet1; // display times of the first sample (time 0) and the second packet (150)
    } cases[] = {
        {0, 0, 150},
        {p62, -p62, 150 - p62},
        {-p62, p62, 150 + p62},
        {INT64_MAX, -INT64_MAX, 150 - INT64_MAX},
        {INT64_MIN, INT64_MAX, INT64_MAX},
        {INT64_MIN + 1, INT64_MAX, INT64_MAX},
        {INT64_MIN + 100, INT64_MAX - 99, INT64_MAX},
        {INT64_MIN + 151, INT64_MAX - 150, INT64_MAX},
    };
    for (const Case& c : cases) {
        s.SetTimeOrigin(c.origin);
        EXPECT_EQ(s.DisplayTime(*s.SampleAt(0)), c.sample0) << c.origin;
        EXPECT_EQ(s.DisplayTime(*s.PacketAt(1)), c.packet1) << c.origin;
        EXPECT_EQ(s.PacketAt(0)->idleTime, s.DisplayTime(*s.PacketAt(0))) << c.origin;
        EXPECT_EQ(s.PacketAt(1)->GetColumnText(kColumnTimestamp, false), FormatTimeText(c.packet1)) << c.origin;
        for (size_t i = 0; i < s.SampleCount(); ++i) {
            int64_t pos = -1;
            const CVbusInfo* v = s.FindSampleAt(s.DisplayTime(*s.SampleAt(i)), &pos);
            ASSERT_NE(v, nullptr) << c.origin;
            EXPECT_EQ(s.DisplayTime(*v), s.DisplayTime(*s.SampleAt(i))) << c.origin;
            EXPECT_GE(pos, int64_t(i)) << c.origin; // samples that share a held time: the last of them
        }
        for (size_t i = 0; i < s.PacketCount(); ++i) {
            const CCCPacket* p = s.FindPacketAt(s.DisplayTime(*s.PacketAt(i)));
            ASSERT_NE(p, nullptr) << c.origin;
            EXPECT_GE(p->index, int32_t(i)) << c.origin;
        }
    }
}

TEST(CaptureStore, SnapshotOfTheSampleInForce) {
    CCaptureStore s;
    AddSample(s, 0, 5000);
    AddSample(s, 1000, 9000);
    AddSample(s, 2000, 15000);
    Offer(s, 1500);
    EXPECT_TRUE(s.PacketAt(0)->hasSnapshot);
    EXPECT_EQ(s.PacketAt(0)->snapVbusVoltage, 9000);
    Offer(s, 2500); // after the last sample: no snapshot until asked for
    CCCPacket* late = s.PacketAt(1);
    EXPECT_FALSE(late->hasSnapshot);
    AddSample(s, 3000, 20000);
    s.EnsureSnapshot(*late);
    EXPECT_TRUE(late->hasSnapshot);
    EXPECT_EQ(late->snapVbusVoltage, 15000);
}

TEST(CaptureStore, Energy) {
    // 5000 mV and 1000 mA (raw 1066 gives 1000 mA) for one second.
    CCaptureStore s;
    AddSample(s, 0, 5000, 1066);
    AddSample(s, 1000000, 5000, 1066);
    AddSample(s, 2000000, 5000, 1066);
    float fwd = -1, rev = -1;
    ASSERT_TRUE(s.Energy(500000, 1500000, &fwd, &rev));
    EXPECT_FLOAT_EQ(fwd, 5000.0f);
    EXPECT_FLOAT_EQ(rev, 0.0f);
    // Past the last sample the integration stops there.
    ASSERT_TRUE(s.Energy(1000000, 9000000, &fwd, &rev));
    EXPECT_FLOAT_EQ(fwd, 5000.0f);
    EXPECT_FALSE(s.Energy(-1, 10, &fwd, &rev));

    // -100 mA to +100 mA over 100 µs at 10 V: the segment splits at 50 µs.
    CCaptureStore z;
    AddSample(z, 0, 10000, -107);  // -100 mA
    AddSample(z, 100, 10000, 107); // +100 mA
    ASSERT_TRUE(z.Energy(0, 100, &fwd, &rev));
    // Each half: 1,000,000 µW × 50 µs / 2 = 25,000,000 µW·µs = 0.025 mJ.
    EXPECT_FLOAT_EQ(fwd, 0.025f);
    EXPECT_FLOAT_EQ(rev, 0.025f);
}

TEST(CaptureStore, EnergyOfLongRunsDoesNotWrap) {
    // 48 V at 5 A (raw 5327), a sample an hour: 240 W. In µW·µs the integral passes 2^63 after about
    // 10.7 h and 2^64 after about 21.3 h; the result stays P × T as exact arithmetic gives it, in mJ.
    struct Case {
        int hours;
        int16_t raw;
    } cases[] = {{10, 5327}, {12, 5327}, {24, 5327}, {12, -5327}, {24, -5327}};
    for (const Case& c : cases) {
        CCaptureStore s;
        for (int h = 0; h <= c.hours; ++h) AddSample(s, uint32_t(uint64_t(h) * 3600000000u), 48000, c.raw);
        ASSERT_EQ(s.SampleAt(size_t(c.hours))->vbusCurrent, c.raw > 0 ? 5000 : -5000);
        const double exact = 48000.0 * 5000.0 * (c.hours * 3600e6); // a whole number a double holds exactly
        const float mJ = float(exact) / 1000.0f / 1000.0f / 1000.0f;
        float fwd = -1, rev = -1;
        ASSERT_TRUE(s.Energy(0, int64_t(c.hours) * 3600000000, &fwd, &rev));
        EXPECT_EQ(fwd, c.raw > 0 ? mJ : 0.0f) << c.hours << " h, " << c.raw;
        EXPECT_EQ(rev, c.raw > 0 ? 0.0f : mJ) << c.hours << " h, " << c.raw;
    }
}

namespace {
struct RecordingNotify : CSilentNotify {
    std::vector<std::string> status;
    int waits = 0;
    void SetStatusText(const std::string& t) override { status.push_back(t); }
    void BeginWaitCursor() override { ++waits; }
};
} // namespace

TEST(CaptureStore, ResetEmptiesEverythingWithProgress) {
    RecordingNotify n;
    CCaptureStore s(&n);
    for (uint32_t i = 0; i < 250; ++i) AddSample(s, i);
    Offer(s, 10);
    s.timeOrigin = 7;
    s.bookmarkTimes.push_back(3);
    s.loadedMarkerA = 4;
    n.status.clear();
    s.Reset();
    EXPECT_EQ(s.SampleCount(), 0u);
    EXPECT_EQ(s.PacketCount(), 0u);
    EXPECT_EQ(s.captureOrigin, -1);
    EXPECT_EQ(s.timeOrigin, 0);
    EXPECT_EQ(s.tallies.all, 0u);
    EXPECT_TRUE(s.bookmarkTimes.empty());
    EXPECT_EQ(s.loadedMarkerA, -1);
    EXPECT_EQ(n.status, (std::vector<std::string>{"Deleting VBUS Info... 0%", "Deleting VBUS Info... 40%",
                                                   "Deleting VBUS Info... 80%", "Deleting PD Messages... 0%"}));
}
