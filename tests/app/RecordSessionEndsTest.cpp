// The headless recording session of `qxtool record` against the emulated analyzer at speed: a capture
// store that fills up never ends the recording, since the record file keeps everything.
#include "EmulatedAnalyzer.h"
#include "QXDoc.h"
#include "RecordSession.h"
#include "device/SynthSupport.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Twenty seconds of 1 ms samples and PD traffic, far beyond store limits of 200 samples and 5 packets:
// the session runs its time and the file holds every sample.
TEST(RecordSessionEnds, FullStoreNeverEndsARecording) {
    TempDir dir;
    EmulatorOptions eo;
    eo.speed = 50;
    CEmulatedAnalyzer analyzer(synthtest::Builtin("pps"), eo);
    RecordSessionOptions o;
    o.folder = dir.Path().string();
    o.caption = "Cli";
    o.seconds = 20;
    o.tickMs = 20; // one tick per second of the analyzer's clock
    o.samplingIntervalMs = 1;
    o.sampleLimit = 200;
    o.packetLimit = 5;
    std::atomic<bool> stop{false};
    std::ostringstream out, err;
    const RecordSessionResult r = RunRecordSession(analyzer, o, stop, out, err);
    EXPECT_EQ(r.end, RecordSessionEnd::Duration);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(err.str(), "");
    ASSERT_EQ(r.files, std::vector<std::string>{dir.File("Cli.qxc")});

    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(dir.File("Cli.qxc")));
    EXPECT_GT(doc.store.SampleCount(), 15000u);
    EXPECT_GT(doc.store.PacketCount(), 50u);
}

} // namespace
