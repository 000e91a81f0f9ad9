// The synthesizer as a stream source: deterministic, the same whether pulled in small steps or at once,
// never far ahead of the time asked for, and cut cleanly at the end of the capture.
#include "device/SynthSupport.h"

#include "RecordStream.h"

#include <random>

namespace {

// The largest VBUS sample time stamp in a stream, and how many samples it holds.
void Samples(const std::vector<uint8_t>& stream, int64_t* last, size_t* count) {
    *last = -1;
    *count = 0;
    for (size_t off = 0; off + 64 <= stream.size(); off += 64) {
        const uint8_t* b = stream.data() + off;
        if (rec::ClassifyBlock(b) != rec::BlockKind::VbusSamples) continue;
        for (int k = 0; k < rec::SampleCount(b); ++k) {
            *last = std::max<int64_t>(*last, rec::ExtractSample(b, k).timeStamp);
            ++*count;
        }
    }
}

} // namespace

TEST(Synthesizer, SameSeedSameBytesOtherSeedOtherBytes) {
    const synth::Scenario demo = synthtest::Builtin("demo");
    synth::SynthOptions o;
    o.seed = 7;
    const auto a = synth::SynthesizeStream(demo, o);
    const auto b = synth::SynthesizeStream(demo, o);
    EXPECT_EQ(a, b);
    o.seed = 8;
    const auto c = synth::SynthesizeStream(demo, o);
    EXPECT_NE(a, c);
    EXPECT_EQ(a.size() % 64, 0u);
}

// The emulated analyzer pulls the stream in real time; it must be the very stream of a one-go run, with
// every sample up to the time asked for out, and little more.
TEST(Synthesizer, PullingInStepsGivesTheSameStream) {
    for (const char* name : {"demo", "epr", "noisy"}) {
        SCOPED_TRACE(name);
        const synth::Scenario s = synthtest::Builtin(name);
        synth::SynthOptions o;
        o.seconds = 6;
        o.seed = 3;
        std::vector<synth::ExpectedPacket> sentOnce, sentSteps;
        const auto once = synth::SynthesizeStream(s, o, &sentOnce);

        std::vector<uint8_t> steps;
        synth::CSynthesizer sy(s, o, enc::AppendTo(steps),
                               [&](const synth::ExpectedPacket& p) { sentSteps.push_back(p); });
        std::mt19937 rng(1);
        double t = 0;
        while (t < sy.EndTime()) {
            t += 100 + double(rng() % 40000); // 0.1 to 40 ms
            sy.RunUntil(t);
            int64_t last = 0;
            size_t count = 0;
            Samples(steps, &last, &count);
            const double until = std::min(t, sy.EndTime());
            ASSERT_EQ(count, size_t(until / 10000) + 1) << t;
            // Blocks of CC edges run ahead by at most the exchange in progress.
            for (size_t off = 0; off + 64 <= steps.size(); off += 64) {
                if (rec::ClassifyBlock(steps.data() + off) == rec::BlockKind::CcEdges) {
                    ASSERT_LT(double(rec::CcTimeStamp(steps.data() + off)), until + 100000) << t;
                }
            }
        }
        sy.Finish();
        EXPECT_TRUE(sy.Finished());
        EXPECT_EQ(steps, once);
        EXPECT_EQ(sy.BytesWritten(), once.size());
        EXPECT_EQ(sentSteps.size(), sentOnce.size());
    }
}

// A capture shorter than the script stops in the middle of it; nothing is sent from the end on, and what
// was sent decodes.
TEST(Synthesizer, TheEndCutsTheScript) {
    const synth::Scenario s = synthtest::Builtin("spr");
    synth::SynthOptions o;
    o.seconds = 0.5;
    synthtest::Played p = synthtest::Play(s, o);
    ASSERT_FALSE(p.sent.empty());
    for (const auto& x : p.sent) EXPECT_LT(x.startTime, 500000);
    CCaptureStore store;
    synthtest::Decode(p, store);
    synthtest::ExpectDecodedAsSent(store, p.sent);
    EXPECT_EQ(store.SampleCount(), 51u);
}

// Repetitions: a count, a period, and a loop that would take no time ends rather than spin.
TEST(Synthesizer, RepeatsKeepTheirCountAndPeriod) {
    synth::Scenario s;
    std::string error;
    ASSERT_TRUE(synth::ScenarioFromJson(R"({
      "seconds": 5,
      "analog": {"attach": false},
      "timing": {"responseMs": 2},
      "steps": [
        {"repeat": {"times": 4, "everyMs": 300, "steps": [
          {"message": "Get_Status", "from": "sink"}, {"message": "Status", "from": "source"}]}},
        {"repeat": {"steps": [{"load": 500}]}},
        {"message": "Ping", "from": "source", "at": 3000}
      ]})",
                                        &s, &error))
        << error;
    const synthtest::Played p = synthtest::Play(s);
    std::vector<int64_t> starts;
    int pings = 0;
    for (const auto& x : p.sent) {
        if (x.name == "Get_Status") starts.push_back(x.startTime);
        if (x.name == "Ping (Deprecated)") {
            ++pings;
            EXPECT_NEAR(double(x.startTime), 3000000, 1);
        }
    }
    ASSERT_EQ(starts.size(), 4u);
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_NEAR(double(starts[i] - starts[i - 1]), 300000, 2);
    EXPECT_EQ(pings, 1);
}
