// The headless recording session of `qxtool record` against the emulated analyzer at speed: how long a
// timed recording lasts, a capture store that fills up (which never ends the recording, since the record
// file keeps everything), and a stream endpoint that halts.
#include "EmulatedAnalyzer.h"
#include "QXDoc.h"
#include "RecordSession.h"
#include "device/SynthSupport.h"
#include "support/RecordFiles.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testrec::Bytes;
using testrec::ClosedHeader;
using testrec::Head;
using testrec::Payload;
using testrec::Slice;
using testrec::WaitUntil;

// The emulated analyzer with a copy of every byte of its scenario it handed out.
class CTappedAnalyzer {
public:
    CTappedAnalyzer(const synth::Scenario& scenario, const EmulatorOptions& options)
        : analyzer(scenario, options) {
        analyzer.SetStreamTap([this](const uint8_t* data, size_t size) {
            std::lock_guard<std::mutex> lock(mutex);
            tap.insert(tap.end(), data, data + size);
        });
    }
    Bytes Tap() {
        std::lock_guard<std::mutex> lock(mutex);
        return tap;
    }
    size_t TapSize() {
        std::lock_guard<std::mutex> lock(mutex);
        return tap.size();
    }

private:
    // Before the analyzer, so that it outlives it.
    std::mutex mutex;
    Bytes tap;

public:
    CEmulatedAnalyzer analyzer;
};

EmulatorOptions AtSpeed(double speed) {
    EmulatorOptions o;
    o.speed = speed;
    return o;
}

RecordSessionOptions InFolder(const TempDir& dir) {
    RecordSessionOptions o;
    o.folder = dir.Path().string();
    o.caption = "Cli";
    return o;
}

// Runs a session while `meanwhile` acts on another thread; meanwhile returns true when the session is to
// be stopped now, false when it is to end by itself. A session that does not end is stopped after
// WaitUntil's limit, so that a fault fails the test instead of hanging it.
RecordSessionResult RunSession(IAnalyzerLink& link, const RecordSessionOptions& o, std::string* err,
                               const std::function<bool()>& meanwhile) {
    std::atomic<bool> stop{false}, done{false};
    std::thread watcher([&] {
        if (meanwhile() || !WaitUntil([&] { return done.load(); })) stop = true;
    });
    std::ostringstream out, errors;
    const RecordSessionResult r = RunRecordSession(link, o, stop, out, errors);
    done = true;
    watcher.join();
    *err = errors.str();
    return r;
}

// A record file closed with its header block, its stream the bytes the analyzer handed out from the
// start, without a gap; returns the stream's length.
size_t ExpectClosedWithoutAGap(const std::string& path, const Bytes& tap) {
    const Bytes file = ReadFile(path);
    EXPECT_GE(file.size(), 64u);
    EXPECT_EQ(Head(file), ClosedHeader(file.size() - 64));
    const Bytes payload = Payload(file);
    EXPECT_GE(tap.size(), payload.size());
    EXPECT_EQ(payload, Slice(tap, 0, std::min(tap.size(), payload.size())));
    return payload.size();
}

// --seconds counts real time from the start of the recording, not timer ticks: a recording of one second
// ends on time although the timer would not tick again for a minute.
TEST(RecordSessionEnds, LengthCountsRealTimeNotTimerTicks) {
    TempDir dir;
    CEmulatedAnalyzer analyzer(synthtest::Builtin("demo"));
    RecordSessionOptions o = InFolder(dir);
    o.seconds = 1;
    o.tickMs = 60000;
    std::string err;
    const RecordSessionResult r = RunSession(analyzer, o, &err, [] { return false; });
    EXPECT_EQ(r.end, RecordSessionEnd::Duration);
    EXPECT_EQ(err, "");
    ASSERT_EQ(r.files, std::vector<std::string>{dir.File("Cli.qxc")});
    const Bytes file = ReadFile(dir.File("Cli.qxc"));
    EXPECT_EQ(Head(file), ClosedHeader(file.size() - 64));
}

// Store limits of 200 samples and 5 packets, and a recording of 1 ms samples and PD traffic far beyond
// them: the recording goes on until it is stopped, and its file holds every sample.
TEST(RecordSessionEnds, FullStoreNeverEndsARecording) {
    TempDir dir;
    CTappedAnalyzer a(synthtest::Builtin("pps"), AtSpeed(50));
    RecordSessionOptions o = InFolder(dir);
    o.tickMs = 20;
    o.samplingIntervalMs = 1;
    o.sampleLimit = 200;
    o.packetLimit = 5;
    std::string err;
    const RecordSessionResult r = RunSession(a.analyzer, o, &err, [&] {
        WaitUntil([&] { return a.TapSize() >= 1800000; }); // some twenty seconds of the stream
        return true;
    });
    EXPECT_EQ(r.end, RecordSessionEnd::Stopped);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(err, "");
    ASSERT_EQ(r.files, std::vector<std::string>{dir.File("Cli.qxc")});
    EXPECT_GE(ExpectClosedWithoutAGap(dir.File("Cli.qxc"), a.Tap()), 1800000u);

    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(dir.File("Cli.qxc")));
    EXPECT_GT(doc.store.SampleCount(), 15000u);
    EXPECT_GT(doc.store.PacketCount(), 50u);
}

// A stream endpoint that halts during a recording: reads fail at once, while the analyzer still answers
// the connection poll. The halt is cleared once: when that cures it, the recording goes on without a
// gap; when it does not, the analyzer counts as lost and the recording ends as after an unplug, its file
// closed and decoded.
TEST(RecordSessionEnds, HaltedStreamIsClearedOnceOrTheAnalyzerIsLost) {
    struct Case {
        const char* name;
        StreamHalt halt;
        RecordSessionEnd end;
        const char* says;
    };
    const Case cases[] = {
        {"clearing cures it", StreamHalt::Clearable, RecordSessionEnd::Stopped, ""},
        {"clearing does not", StreamHalt::Stuck, RecordSessionEnd::AnalyzerLost,
         "The analyzer was disconnected; the recording stopped.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CTappedAnalyzer a(synthtest::Builtin("demo"), AtSpeed(20));
        RecordSessionOptions o = InFolder(dir);
        o.tickMs = 50;
        std::string err;
        size_t atHalt = 0;
        const RecordSessionResult r = RunSession(a.analyzer, o, &err, [&] {
            if (!WaitUntil([&] { return a.TapSize() > 0; })) return true;
            atHalt = a.TapSize();
            a.analyzer.HaltStream(c.halt);
            if (c.halt == StreamHalt::Stuck) return false;
            // Stopped once the recording has gone on after the clear.
            WaitUntil([&] { return a.analyzer.HaltClears() > 0 && a.TapSize() > atHalt; });
            return true;
        });
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(err, c.says);
        ASSERT_EQ(r.files, std::vector<std::string>{dir.File("Cli.qxc")});
        const Bytes tap = a.Tap();
        const size_t recorded = ExpectClosedWithoutAGap(dir.File("Cli.qxc"), tap);
        if (c.halt == StreamHalt::Clearable) {
            EXPECT_EQ(a.analyzer.HaltClears(), 1);
            EXPECT_GT(recorded, atHalt);
        } else {
            // A reconnected analyzer may be cleared again after the recording ended.
            EXPECT_GE(a.analyzer.HaltClears(), 1);
            EXPECT_EQ(recorded, tap.size());
        }
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(dir.File("Cli.qxc")));
        EXPECT_EQ(doc.store.decodePosition, int64_t(64 + recorded));
        EXPECT_GT(doc.store.SampleCount(), 0u);
    }
}

} // namespace
