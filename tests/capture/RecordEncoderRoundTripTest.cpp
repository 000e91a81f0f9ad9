// The encoder against the decoder: random valid traffic comes back as the same packets.
#include "capture/CaptureStore.h"
#include "capture/RecordEncoder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Sent {
    int32_t kind;
    int channel;
    Bytes bytes;
    bool corrupt;
    double unitInterval, jitter;
    int64_t absStartTime;
};

double Uniform(std::mt19937& rng, double lo, double hi) {
    return lo + (hi - lo) * double(rng()) / 4294967296.0;
}

// A message of a random layout: control or data message with up to seven objects, or an unchunked
// extended message with up to 26 data bytes.
Bytes RandomMessage(std::mt19937& rng) {
    Bytes m;
    const int layout = int(rng() % 3);
    uint16_t header = uint16_t(rng() & 0x0FFF & ~0x8000);
    if (layout == 2) {
        const int size = int(rng() % 27);
        header = uint16_t(header | 0x8000 | (((size + 2 + 3) / 4) << 12));
        m = {uint8_t(header), uint8_t(header >> 8), uint8_t(size), 0};
        for (int i = 0; i < size; ++i) m.push_back(uint8_t(rng()));
    } else {
        const int objects = layout == 0 ? 0 : 1 + int(rng() % 7);
        header = uint16_t(header | (objects << 12));
        m = {uint8_t(header), uint8_t(header >> 8)};
        for (int i = 0; i < 4 * objects; ++i) m.push_back(uint8_t(rng()));
    }
    return m;
}

std::string Describe(const Sent& s) {
    std::string t = "kind " + std::to_string(s.kind) + " ch " + std::to_string(s.channel) + " UI " +
                    std::to_string(s.unitInterval) + " jitter " + std::to_string(s.jitter) + " bytes";
    char b[4];
    for (uint8_t x : s.bytes) {
        std::snprintf(b, sizeof b, " %02x", x);
        t += b;
    }
    return t;
}

struct Scenario {
    uint16_t clockSetting;
    uint32_t baseTime;
    double uiLow, uiHigh; // unit interval range, µs
    double jitter;        // largest jitter, µs
};

void RunRoundTrip(const Scenario& sc, uint32_t seed, int messages) {
    SCOPED_TRACE(testing::Message() << "clock " << sc.clockSetting << " base " << sc.baseTime << " seed "
                                    << seed);
    std::mt19937 rng(seed);
    Bytes stream;
    enc::EncoderConfig cfg;
    cfg.clockSetting = sc.clockSetting;
    cfg.baseTime = sc.baseTime;
    cfg.seed = seed;
    cfg.samplesPerVbusBlock = 1 + int(seed % 3);
    enc::CRecordEncoder e(cfg, enc::AppendTo(stream));

    std::vector<Sent> sent;
    double t = 0, nextSample = 0, free[2] = {20, 20};
    const int32_t kinds[] = {1, 1, 1, 2, 3, 6, 7, 4, 5};
    for (int i = 0; i < messages; ++i) {
        Sent s;
        s.channel = int(rng() % 2);
        s.kind = kinds[rng() % 9];
        s.bytes = RandomMessage(rng);
        s.corrupt = IsMessageKind(s.kind) && rng() % 8 == 0;
        s.unitInterval = Uniform(rng, sc.uiLow, sc.uiHigh);
        s.jitter = Uniform(rng, 0, sc.jitter);
        // The other channel may talk at the same time; the same channel waits for its idle gap.
        t = std::max(t + Uniform(rng, 0, 1500), free[s.channel]);
        while (nextSample <= t) {
            e.AddVbusSample({nextSample, 5000, 1000, 1700, 3, 0, -3});
            nextSample += 1000;
        }
        enc::FrameOptions options;
        options.corruptCrc = s.corrupt;
        enc::BmcTiming timing;
        timing.unitInterval = s.unitInterval;
        timing.jitter = s.jitter;
        timing.end = rng() % 2 ? enc::FrameEnd::HoldLow : enc::FrameEnd::Edge;
        const enc::PlacedFrame f = e.AddMessage(s.channel, t, s.kind, s.bytes, options, timing);
        s.absStartTime = f.startMicros;
        sent.push_back(s);
        free[s.channel] = t + (f.lastTick - f.firstTick) * e.Divisor() / 48.0 + 12 + Uniform(rng, 0, 50);
    }
    e.Finish(t + 100);

    CCaptureStore store;
    EXPECT_EQ(store.DecodeChunk(stream.data(), stream.size(), 0), stream.size());
    ASSERT_EQ(store.SampleCount(), size_t(nextSample / 1000));
    const int64_t origin = int64_t(sc.baseTime);

    std::map<std::pair<int64_t, int>, const Sent*> byStart;
    for (const Sent& s : sent) byStart[{s.absStartTime, s.channel}] = &s;
    EXPECT_EQ(store.PacketCount(), sent.size());
    int64_t previousStart = INT64_MIN;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket* p = store.PacketAt(i);
        ASSERT_NE(p, nullptr);
        EXPECT_GE(p->startTime, previousStart);
        previousStart = p->startTime;
        auto it = byStart.find({p->absStartTime, p->channel});
        if (it == byStart.end()) {
            ADD_FAILURE() << "unexpected packet at " << p->absStartTime << " on channel " << p->channel;
            continue;
        }
        const Sent& s = *it->second;
        SCOPED_TRACE(Describe(s));
        EXPECT_EQ(p->startTime, s.absStartTime - origin);
        EXPECT_EQ(p->kind, s.kind) << "bits " << p->bitCount << " short " << p->shortCount << " long "
                                   << p->longCount << " preamble " << p->preambleFound << " UI "
                                   << p->unitInterval;
        if (IsMessageKind(s.kind)) {
            EXPECT_TRUE(p->hasCrc);
            EXPECT_TRUE(p->eopFound);
            EXPECT_EQ(p->crcGood, !s.corrupt);
            ASSERT_EQ(p->messageByteCount, int32_t(s.bytes.size()));
            EXPECT_EQ(Bytes(p->messageBytes, p->messageBytes + p->messageByteCount), s.bytes);
        }
        byStart.erase(it);
    }
    EXPECT_TRUE(byStart.empty()) << byStart.size() << " frames not found";
}

// Unit intervals over the whole PD range (3.03 to 3.70 µs) where the tick is fine enough; with the
// default 20/48 µs tick, where a half UI is only four ticks, a narrower band around the nominal rate.
TEST(RecordEncoderRoundTrip, RandomTrafficDecodesToTheSamePackets) {
    const Scenario scenarios[] = {
        {0x0100, 0, 3.03, 3.70, 0.10},               // divisor 1
        {0x0001, 77777, 3.03, 3.70, 0.10},           // divisor 2
        {4, 0, 3.03, 3.70, 0.08},                    // divisor 5
        {9, 4294967295u - 150000, 3.10, 3.60, 0.05}, // divisor 10, across the 32-bit wrap
        {0, 0, 3.20, 3.45, 0.04},                    // divisor 20
        {0, 4294967295u - 100000, 3.20, 3.45, 0.04},
    };
    uint32_t seed = 11;
    for (const Scenario& sc : scenarios) RunRoundTrip(sc, seed++, 400);
}

} // namespace
