// The emulated analyzer on its own: what the connection poll reads from it, the stream it plays, how the
// command frames change that stream, its clock, and the ways a read ends.
#include "EmulatedAnalyzer.h"
#include "CaptureStore.h"
#include "DeviceCommands.h"
#include "DeviceConnection.h"
#include "RecordStream.h"
#include "device/SynthSupport.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

synth::Scenario Demo() {
    return synthtest::Builtin("demo");
}

EmulatorOptions Paced(EmulatorPace pace, double seconds = 0) {
    EmulatorOptions o;
    o.pace = pace;
    o.seconds = seconds;
    return o;
}

// Everything the analyzer has ready now.
Bytes Drain(CEmulatedAnalyzer& a) {
    Bytes out;
    std::vector<uint8_t> buffer(kStreamReadSize);
    for (;;) {
        const int n = a.ReadPipe(buffer.data(), kStreamReadSize, 1);
        if (n <= 0) return out;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
}

// Opens a manually clocked analyzer and plays it for `micros`.
Bytes PlayFor(CEmulatedAnalyzer& a, double micros) {
    a.AdvanceClock(micros);
    return Drain(a);
}

struct Sample {
    int64_t time;
    int32_t cc1, cc2;
};

std::vector<Sample> Samples(const Bytes& stream) {
    CCaptureStore store;
    store.DecodeChunk(stream.data(), stream.size(), 0);
    std::vector<Sample> out;
    for (size_t i = 0; i < store.SampleCount(); ++i) {
        const CVbusInfo& s = *store.SampleAt(i);
        out.push_back({s.time, s.cc1Voltage, s.cc2Voltage});
    }
    return out;
}

size_t VbusBlocks(const Bytes& stream) {
    size_t n = 0;
    for (size_t at = 0; at + 64 <= stream.size(); at += 64)
        n += rec::ClassifyBlock(stream.data() + at) == rec::BlockKind::VbusSamples;
    return n;
}

bool Send(CEmulatedAnalyzer& a, const CommandFrame& frame) {
    return a.WritePipe(frame.data(), int(frame.size()));
}

TEST(EmulatedAnalyzer, ConnectionPollReadsItsDescriptorsAndItObeysTheCommands) {
    CEmulatedAnalyzer analyzer(Demo(), Paced(EmulatorPace::Manual));
    EXPECT_EQ(analyzer.Open(1), LinkOpenResult::NoDevice); // one analyzer only
    CDeviceConnection connection(analyzer);
    ASSERT_TRUE(connection.Poll(20));
    EXPECT_EQ(connection.fwVersionText, "1.10");
    EXPECT_EQ(connection.fwVersionNumber, 0x110);
    EXPECT_EQ(connection.serialText, "0123456789ABCDEF01234567");
    const std::array<uint8_t, 12> serial = {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD,
                                            0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
    EXPECT_EQ(connection.SerialBytes(), serial);
    // The frames sent right after the open arrived.
    EXPECT_EQ(analyzer.SamplingIntervalMs(), 20u);
    EXPECT_TRUE(connection.Poll(20)); // the presence probe

    ASSERT_TRUE(RunDeviceCommand(connection, 32910)); // "CC2 Rd"
    EXPECT_EQ(analyzer.Termination(1), kTerminationRd);
    EXPECT_EQ(connection.cc2Termination, kTerminationRd);
    EXPECT_EQ(analyzer.Termination(0), kTerminationNone);
    // Frames it does not know are taken and change nothing; a short frame is refused.
    EXPECT_TRUE(Send(analyzer, CommandFrameFor(9)));
    EXPECT_TRUE(Send(analyzer, CcInjectionFrame(0, 9)));
    CommandFrame unsigned_ = SamplingIntervalFrame(50);
    unsigned_[0] = 0;
    EXPECT_TRUE(Send(analyzer, unsigned_));
    EXPECT_FALSE(analyzer.WritePipe(SamplingIntervalFrame(50).data(), 63));
    EXPECT_EQ(analyzer.Termination(0), kTerminationNone);
    EXPECT_EQ(analyzer.SamplingIntervalMs(), 20u);

    // Firmware-update entry: it leaves the bus, and the poll notices.
    RunDeviceCommand(connection, kIdEnterFirmwareUpdate);
    EXPECT_FALSE(analyzer.IsPresent());
    EXPECT_FALSE(connection.Poll(20));
    EXPECT_FALSE(connection.Poll(20));
    EXPECT_EQ(connection.fwVersionText, "");
    analyzer.Plug();
    EXPECT_TRUE(connection.Poll(20));
}

TEST(EmulatedAnalyzer, StreamsItsScenarioAsTheSynthesizerPlaysIt) {
    TempDir dir;
    // A JSON scenario with its own sample interval, three samples a block, traffic on CC2.
    const std::string json = dir.File("bench-supply.json");
    const std::string text = R"({
      "seconds": 3, "orientation": "CC2",
      "source": {"rp": "1.5A", "sourceCaps": [{"fixed": 5000, "mA": 3000}, {"fixed": 9000, "mA": 2000}]},
      "analog": {"sampleIntervalMs": 5, "samplesPerBlock": 3, "attach": false},
      "steps": [
        {"message": "Source_Capabilities", "from": "source", "at": 100},
        {"message": "Request", "from": "sink", "position": 2, "mA": 1500},
        {"message": "Accept", "from": "source"},
        {"message": "PS_RDY", "from": "source"},
        {"message": "Get_Sink_Cap", "from": "source", "error": "crc"},
        {"message": "Sink_Capabilities", "from": "sink"}
      ]})";
    WriteFile(json, Bytes(text.begin(), text.end()));

    for (const std::string& name : {std::string("demo"), std::string("dock"), json}) {
        SCOPED_TRACE(name);
        synth::Scenario scenario;
        std::string error;
        ASSERT_TRUE(FindScenario(name, &scenario, &error)) << error;
        const synthtest::Played played = synthtest::Play(scenario);

        CEmulatedAnalyzer analyzer(scenario, Paced(EmulatorPace::Manual, scenario.seconds));
        ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
        ASSERT_TRUE(analyzer.CaptureStarted());
        Bytes stream;
        for (double t = 0; t <= scenario.seconds + 1; t += 0.25) {
            const Bytes part = PlayFor(analyzer, 250000);
            stream.insert(stream.end(), part.begin(), part.end());
        }
        EXPECT_TRUE(analyzer.StreamFinished());
        EXPECT_EQ(analyzer.BytesDelivered(), stream.size());

        CCaptureStore store;
        ASSERT_EQ(store.DecodeChunk(stream.data(), stream.size(), 0), stream.size());
        synthtest::ExpectDecodedAsSent(store, played.sent);
        // The samples come at the scenario's interval, as they do in its generated capture.
        std::vector<int64_t> times, playedTimes;
        for (const Sample& s : Samples(stream)) times.push_back(s.time);
        for (const Sample& s : Samples(played.stream)) playedTimes.push_back(s.time);
        EXPECT_EQ(times, playedTimes);

        // Unpaced, it makes the same stream as fast as it is read.
        CEmulatedAnalyzer fast(scenario, Paced(EmulatorPace::Unpaced, scenario.seconds));
        ASSERT_EQ(fast.Open(0), LinkOpenResult::Opened);
        ASSERT_TRUE(fast.CaptureStarted());
        EXPECT_EQ(Drain(fast), stream);
    }
}

// Until a capture starts the analyzer streams the bus as the scenario finds it, without traffic: a
// detached bus for a scenario that begins with the plug-in, vSafe5V with the source's Rp for one that
// begins attached. Every capture start plays the scenario from its beginning, the analyzer's clock going
// on; the commands sent while idle still hold.
TEST(EmulatedAnalyzer, IdlesUntilACaptureStartsThenPlaysItsScenarioFromTheStart) {
    TempDir dir;
    const std::string attached = dir.File("attached.json");
    const std::string text = R"({
      "seconds": 2, "source": {"rp": "1.5A"}, "analog": {"attach": false, "idleMa": 120},
      "steps": [
        {"message": "Source_Capabilities", "from": "source", "at": 50},
        {"message": "Request", "from": "sink", "position": 1, "mA": 1000},
        {"message": "Accept", "from": "source"},
        {"message": "PS_RDY", "from": "source"}
      ]})";
    WriteFile(attached, Bytes(text.begin(), text.end()));
    struct Case {
        std::string scenario;
        int32_t vbusMv, ccMv, vbusMa; // the idle bus, CC on the line the traffic would use
    };
    // The sink's idle draw; 40 mΩ of cable take 5 mV off VBUS.
    const Case cases[] = {{"demo", 0, 0, 0}, {attached, 4995, 918, 120}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        synth::Scenario scenario;
        std::string error;
        ASSERT_TRUE(FindScenario(c.scenario, &scenario, &error)) << error;
        CEmulatedAnalyzer analyzer(scenario, Paced(EmulatorPace::Manual, scenario.seconds));
        ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
        ASSERT_TRUE(Send(analyzer, SamplingIntervalFrame(20)));

        const Bytes idle = PlayFor(analyzer, 3e6);
        EXPECT_FALSE(analyzer.StreamFinished());
        CCaptureStore idleStore;
        ASSERT_EQ(idleStore.DecodeChunk(idle.data(), idle.size(), 0), idle.size());
        EXPECT_EQ(idleStore.PacketCount(), 0u);
        ASSERT_EQ(idleStore.SampleCount(), 151u); // every 20 ms
        for (size_t i = 0; i < idleStore.SampleCount(); ++i) {
            const CVbusInfo& v = *idleStore.SampleAt(i);
            EXPECT_NEAR(v.vbusVoltage, c.vbusMv, 20) << i;
            EXPECT_NEAR(v.vbusCurrent, c.vbusMa, 10) << i;
            EXPECT_NEAR(v.cc1Voltage, c.ccMv, 5) << i;
        }

        // Twice from the start: the second capture start comes in the middle of the first play.
        synth::SynthOptions o;
        for (const double startsAt : {3e6, 4e6}) {
            SCOPED_TRACE(startsAt);
            ASSERT_TRUE(analyzer.CaptureStarted());
            Bytes stream;
            const double seconds = startsAt == 3e6 ? 1 : scenario.seconds + 1;
            for (double t = 0; t < seconds; t += 0.25) {
                const Bytes part = PlayFor(analyzer, 250000);
                stream.insert(stream.end(), part.begin(), part.end());
            }
            EXPECT_EQ(analyzer.StreamFinished(), startsAt == 4e6);
            o.baseTime = uint32_t(startsAt);
            o.seconds = seconds;
            const synthtest::Played played = synthtest::Play(scenario, o);
            CCaptureStore store;
            ASSERT_EQ(store.DecodeChunk(stream.data(), stream.size(), 0), stream.size());
            synthtest::ExpectDecodedAsSent(store, played.sent);
            ASSERT_GT(store.SampleCount(), 2u);
            EXPECT_EQ(store.SampleAt(1)->time - store.SampleAt(0)->time, 20000);
            size_t at = 0;
            while (rec::ClassifyBlock(stream.data() + at) != rec::BlockKind::VbusSamples) at += 64;
            EXPECT_EQ(rec::ExtractSample(stream.data() + at, 0).timeStamp, uint32_t(startsAt));
        }
    }
}

TEST(FindScenario, NamesWhatIsWrong) {
    TempDir dir;
    WriteFile(dir.File("bad.json"), {'{', '}'});
    struct Case {
        std::string name;
        const char* error;
    };
    const Case cases[] = {
        {"nosuch", "unknown scenario: nosuch (built-in: demo"},
        {dir.File("missing.json"), "missing.json"},
        {dir.File("bad.json"), "steps"},
    };
    for (const Case& c : cases) {
        synth::Scenario s;
        std::string error;
        EXPECT_FALSE(FindScenario(c.name, &s, &error)) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// The interval command restarts the sample schedule at the next sample: from then on one sample per
// interval, and so one VBUS block per interval at one sample a block.
TEST(EmulatedAnalyzer, SamplingIntervalSetsTheVbusBlockRate) {
    struct Case {
        uint32_t sent;
        int64_t interval;
    };
    const Case cases[] = {{1, 1}, {5, 5}, {50, 50}, {300, 300}, {0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        CEmulatedAnalyzer analyzer(Demo(), Paced(EmulatorPace::Manual));
        ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
        Bytes stream = PlayFor(analyzer, 1e6);
        ASSERT_TRUE(Send(analyzer, SamplingIntervalFrame(c.sent)));
        EXPECT_EQ(analyzer.SamplingIntervalMs(), uint32_t(c.interval));
        const Bytes after = PlayFor(analyzer, 1e6);
        stream.insert(stream.end(), after.begin(), after.end());

        std::vector<int64_t> before, since;
        for (const Sample& s : Samples(stream)) (s.time <= 1000000 ? before : since).push_back(s.time);
        ASSERT_FALSE(since.empty());
        EXPECT_EQ(before.back(), 1000000); // every 10 ms until the command
        EXPECT_EQ(since.front(), 1001000);
        for (size_t i = 1; i < since.size(); ++i) EXPECT_EQ(since[i] - since[i - 1], c.interval * 1000) << i;
        EXPECT_EQ(since.size(), size_t(999 / c.interval + 1));
        EXPECT_EQ(VbusBlocks(after), since.size());
    }
}

// Injection puts the termination's level on its line and leaves the other line as the scenario has it;
// None gives the line back to the scenario. The demo's source advertises 3.0 A.
TEST(EmulatedAnalyzer, CcInjectionChangesTheReportedCcVoltages) {
    const synth::Scenario demo = Demo();
    ASSERT_EQ(demo.source.rp, 2);
    CEmulatedAnalyzer reference(demo, Paced(EmulatorPace::Manual));
    ASSERT_EQ(reference.Open(0), LinkOpenResult::Opened);
    ASSERT_TRUE(reference.CaptureStarted());
    const std::vector<Sample> plain = Samples(PlayFor(reference, 2e6));

    struct Case {
        int32_t termination;
        int32_t mV;
    };
    const Case cases[] = {
        {kTerminationRa, 330},    {kTerminationRd, 1683},    {kTerminationRpDefault, 408},
        {kTerminationRp1A5, 918}, {kTerminationRp3A0, 1683},
    };
    for (int32_t channel : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "CC" << channel + 1 << " termination " << c.termination);
            CEmulatedAnalyzer analyzer(demo, Paced(EmulatorPace::Manual));
            ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
            ASSERT_TRUE(analyzer.CaptureStarted());
            ASSERT_TRUE(Send(analyzer, CcInjectionFrame(channel, c.termination)));
            Bytes stream = PlayFor(analyzer, 1e6);
            ASSERT_TRUE(Send(analyzer, CcInjectionFrame(channel, kTerminationNone)));
            const Bytes after = PlayFor(analyzer, 1e6);
            stream.insert(stream.end(), after.begin(), after.end());

            const std::vector<Sample> got = Samples(stream);
            ASSERT_EQ(got.size(), plain.size());
            for (size_t i = 0; i < got.size(); ++i) {
                const bool injected = got[i].time <= 1000000;
                EXPECT_EQ(channel == 0 ? got[i].cc1 : got[i].cc2,
                          injected ? c.mV : (channel == 0 ? plain[i].cc1 : plain[i].cc2))
                    << got[i].time;
                EXPECT_EQ(channel == 0 ? got[i].cc2 : got[i].cc1, channel == 0 ? plain[i].cc2 : plain[i].cc1)
                    << got[i].time;
            }
        }
    }
}

// A read without a time limit, waiting for data that does not come, ends at once with a failure when the
// link is released, the analyzer is unplugged or leaves the bus for its firmware update.
TEST(EmulatedAnalyzer, PendingReadFailsWhenTheAnalyzerGoes) {
    enum class Action { Release, Unplug, FirmwareUpdate };
    for (const Action action : {Action::Release, Action::Unplug, Action::FirmwareUpdate}) {
        SCOPED_TRACE(int(action));
        CEmulatedAnalyzer analyzer(Demo(), Paced(EmulatorPace::Manual));
        ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
        std::atomic<int> result{1};
        std::thread reader([&] {
            uint8_t buffer[kStreamReadSize];
            result = analyzer.ReadPipe(buffer, sizeof buffer, 0);
        });
        ASSERT_TRUE(analyzer.WaitCaughtUp()); // the read waits
        switch (action) {
        case Action::Release:
            analyzer.Release(); // returns only once the read has left
            break;
        case Action::Unplug:
            analyzer.Unplug();
            break;
        case Action::FirmwareUpdate:
            EXPECT_TRUE(Send(analyzer, FirmwareUpdateFrame()));
            break;
        }
        reader.join();
        EXPECT_EQ(result, -1);
        uint8_t buffer[64], descriptor[18];
        EXPECT_EQ(analyzer.ReadPipe(buffer, sizeof buffer, 1), -1);
        EXPECT_EQ(analyzer.GetDescriptor(kDescriptorTypeDevice, 0, 0, descriptor, 18), -1);
        EXPECT_FALSE(Send(analyzer, CommandFrameFor(6)));
        EXPECT_EQ(analyzer.Open(0),
                  action == Action::Release ? LinkOpenResult::Opened : LinkOpenResult::NoDevice);
        analyzer.Plug();
        EXPECT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
        EXPECT_EQ(analyzer.GetDescriptor(kDescriptorTypeDevice, 0, 0, descriptor, 18), 18);
    }
}

// A stalled analyzer sends nothing and reads time out; what it holds back comes afterwards, complete.
TEST(EmulatedAnalyzer, StallHoldsTheStreamBackWithoutLosingIt) {
    CEmulatedAnalyzer reference(Demo(), Paced(EmulatorPace::Manual));
    ASSERT_EQ(reference.Open(0), LinkOpenResult::Opened);
    ASSERT_TRUE(reference.CaptureStarted());
    const Bytes expected = PlayFor(reference, 2e6);

    CEmulatedAnalyzer analyzer(Demo(), Paced(EmulatorPace::Manual));
    ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
    ASSERT_TRUE(analyzer.CaptureStarted());
    Bytes got = PlayFor(analyzer, 1e6);
    analyzer.SetStalled(true);
    analyzer.AdvanceClock(1e6);
    uint8_t buffer[kStreamReadSize];
    EXPECT_EQ(analyzer.ReadPipe(buffer, sizeof buffer, 5), 0);
    analyzer.SetStalled(false);
    const Bytes rest = Drain(analyzer);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);
}

// Paced by the steady clock, the stream never runs ahead of it by more than the exchange being played.
TEST(EmulatedAnalyzer, ClockPaceKeepsTheStreamBehindTheClock) {
    constexpr double kSpeed = 200;
    EmulatorOptions o;
    o.speed = kSpeed;
    CEmulatedAnalyzer analyzer(Demo(), o);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(analyzer.Open(0), LinkOpenResult::Opened);
    Bytes stream;
    std::vector<uint8_t> buffer(kStreamReadSize);
    int64_t last = 0;
    while (last < 2000000) {
        const int n = analyzer.ReadPipe(buffer.data(), kStreamReadSize, 1000);
        ASSERT_GE(n, 0);
        const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
        stream.insert(stream.end(), buffer.begin(), buffer.begin() + n);
        const std::vector<Sample> s = Samples(stream);
        if (s.empty()) continue;
        last = s.back().time;
        ASSERT_LE(double(last), elapsed.count() * kSpeed + 50000);
    }
}

} // namespace
