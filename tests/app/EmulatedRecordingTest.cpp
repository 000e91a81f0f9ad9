// Recordings from the emulated analyzer through the real connection, reader thread, recording control and
// document: whole scenarios end to end, a numbered series, and the faults: unplugging, old firmware, a full
// disk, and Stop, Clear or window close at any moment.
#include "DeviceConnection.h"
#include "EmulatedAnalyzer.h"
#include "HeadlessUi.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordEncoder.h"
#include "RecordStream.h"
#include "RecordingControl.h"
#include "Settings.h"
#include "device/SynthSupport.h"
#include "support/FullDiskFile.h"
#include "support/RecordFiles.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using testrec::Bytes;
using testrec::WaitUntil;
using testrec::ClosedHeader;
using testrec::Head;
using testrec::Payload;
using testrec::Slice;

std::string SeriesName(int32_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "Test_%04d.qxc", int(n));
    return name;
}

// The main window's recording parts around one emulated analyzer, with a copy of everything the analyzer
// handed out.
class CRig {
public:
    CRig(const synth::Scenario& scenario, const EmulatorOptions& options, int64_t diskRoom = -1)
        : analyzer(scenario, options), reader(connection, FullDiskOpener(diskRoom)) {
        settings.recordFileFolder = dir.Path().string();
        settings.recordFileCaption = "Test";
        settings.recordDoNotAskAgain = true;
        hooks.control = &control;
        analyzer.SetStreamTap([this](const uint8_t* data, size_t size) {
            std::lock_guard<std::mutex> lock(tapMutex);
            tap.insert(tap.end(), data, data + size);
        });
        reader.SetReadTimeout(20);
        reader.Start();
    }

    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) control.OnTimer();
    }
    // Connects and starts a recording before the analyzer has sent anything, so that the recording holds
    // the stream from its first byte.
    void ConnectAndRun() {
        analyzer.SetStalled(true);
        Tick();
        ASSERT_TRUE(connection.connected);
        ASSERT_TRUE(control.RunCommand());
        analyzer.SetStalled(false);
    }
    // Manual clock: plays `micros` and waits until the reader has handled it.
    void Play(double micros) {
        analyzer.AdvanceClock(micros);
        ASSERT_TRUE(analyzer.WaitCaughtUp());
    }
    void WaitStopped() {
        ASSERT_TRUE(WaitUntil([&] { return !reader.capturing && !reader.captureStopRequest; }));
    }
    Bytes Tap() {
        std::lock_guard<std::mutex> lock(tapMutex);
        return tap;
    }
    Bytes File(const std::string& name) const { return ReadFile(dir.File(name)); }

private:
    // Before the analyzer and the reader thread, so that it outlives them.
    std::mutex tapMutex;
    Bytes tap;

public:
    TempDir dir;
    CEmulatedAnalyzer analyzer;
    CSettings settings;
    CDeviceConnection connection{analyzer};
    CReaderThread reader;
    CHeadlessUi ui{reader};
    CRecordFolderHooks hooks;
    CQXDoc doc{&ui, &hooks};
    CRecordingControl control{settings, connection, reader, &doc, ui};
};

EmulatorOptions Options(EmulatorPace pace, double seconds = 0) {
    EmulatorOptions o;
    o.pace = pace;
    o.seconds = seconds;
    return o;
}

// The decoder's view of a stream, for comparing a file with the bytes it should hold.
struct Decoded {
    size_t packets = 0, samples = 0;
};
Decoded DecodeStream(const Bytes& stream) {
    CCaptureStore store;
    store.DecodeChunk(stream.data(), stream.size(), 64);
    return {store.PacketCount(), store.SampleCount()};
}

TEST(EmulatedRecording, WholeScenarioEndToEnd) {
    const synth::Scenario demo = synthtest::Builtin("demo");
    CRig rig(demo, Options(EmulatorPace::Manual, demo.seconds));
    rig.Tick();
    EXPECT_EQ(rig.ui.status, kConnectedStatusText);
    EXPECT_EQ(rig.analyzer.SamplingIntervalMs(), rig.settings.recordVbusSamplingIntervalMS);
    ASSERT_TRUE(rig.control.RunCommand());
    for (double t = 0; t < demo.seconds + 1; ++t) {
        rig.Play(1e6);
        rig.Tick();
        EXPECT_EQ(rig.ui.status.rfind("Capturing... ", 0), 0u) << rig.ui.status;
    }
    ASSERT_TRUE(rig.analyzer.StreamFinished());
    rig.control.Stop();
    rig.WaitStopped();
    rig.Tick(); // the rest is decoded

    const Bytes stream = rig.Tap();
    const Bytes file = rig.File("Test.qxc");
    EXPECT_EQ(Head(file), ClosedHeader(stream.size())); // firmware, serial and byte count
    EXPECT_EQ(Payload(file), stream);
    const synthtest::Played played = synthtest::Play(demo);
    synthtest::ExpectDecodedAsSent(rig.doc.store, played.sent);
    EXPECT_EQ(rig.doc.store.SampleCount(), DecodeStream(played.stream).samples);
}

// Run pressed a while after the analyzer was found: until then the bus idles as the scenario finds it
// (the demo starts unplugged), and the recording holds the scenario from its start, every frame at its
// own time from the first sample, not the rest of a tour that began when the analyzer was opened.
TEST(EmulatedRecording, RunAfterAWhileRecordsTheScenarioFromItsStart) {
    const synth::Scenario demo = synthtest::Builtin("demo");
    CRig rig(demo, Options(EmulatorPace::Manual, demo.seconds));
    rig.Tick();
    for (int i = 0; i < 3; ++i) {
        rig.Play(1e6);
        rig.Tick();
    }
    EXPECT_EQ(rig.ui.status, kConnectedStatusText);
    EXPECT_EQ(rig.reader.live.vbusVoltage, 0);
    EXPECT_EQ(rig.reader.live.cc1Voltage, 0);
    EXPECT_EQ(rig.reader.live.lastLiveTime - rig.reader.live.firstLiveTime, 3000000);

    ASSERT_TRUE(rig.control.RunCommand());
    for (double t = 0; t < demo.seconds + 1; ++t) {
        rig.Play(1e6);
        rig.Tick();
    }
    ASSERT_TRUE(rig.analyzer.StreamFinished());
    rig.control.Stop();
    rig.WaitStopped();
    rig.Tick();

    const Bytes stream = rig.Tap();
    const Bytes file = rig.File("Test.qxc");
    EXPECT_EQ(Head(file), ClosedHeader(stream.size()));
    EXPECT_EQ(Payload(file), stream);
    // The analyzer's clock went on through the idle seconds.
    synth::SynthOptions o;
    o.baseTime = 3000000;
    const synthtest::Played played = synthtest::Play(demo, o);
    synthtest::ExpectDecodedAsSent(rig.doc.store, played.sent);
    EXPECT_EQ(rig.doc.store.SampleCount(), DecodeStream(played.stream).samples);
    size_t at = 0;
    while (at + 64 <= stream.size() && rec::ClassifyBlock(stream.data() + at) != rec::BlockKind::VbusSamples)
        at += 64;
    ASSERT_LT(at, stream.size());
    EXPECT_EQ(rec::ExtractSample(stream.data() + at, 0).timeStamp, 3000000u);
}

TEST(EmulatedRecording, NumberedSeriesHoldsTheWholeStream) {
    const synth::Scenario pps = synthtest::Builtin("pps");
    constexpr double kSeconds = 100; // about 3 MB
    CRig rig(pps, Options(EmulatorPace::Unpaced, kSeconds));
    rig.settings.recordMultiCaptureFile = true;
    rig.settings.recordMaxFileSizeMB = 1;
    rig.ConnectAndRun();
    ASSERT_TRUE(rig.analyzer.WaitCaughtUp());
    ASSERT_TRUE(rig.analyzer.StreamFinished());
    rig.Tick();
    rig.control.Stop();
    rig.WaitStopped();
    rig.Tick();

    const int32_t files = rig.reader.fileNumber;
    ASSERT_GE(files, 3);
    EXPECT_EQ(rig.control.shownFileNumber, files);
    Bytes joined;
    for (int32_t n = 1; n <= files; ++n) {
        SCOPED_TRACE(SeriesName(n));
        const Bytes file = rig.File(SeriesName(n));
        EXPECT_EQ(Head(file), ClosedHeader(file.size() - 64));
        if (n < files) {
            EXPECT_GT(file.size(), 1000000u);
            EXPECT_LE(file.size(), 1000000u + kStreamReadSize);
        }
        const Bytes payload = Payload(file);
        joined.insert(joined.end(), payload.begin(), payload.end());
    }
    EXPECT_FALSE(std::filesystem::exists(rig.dir.File(SeriesName(files + 1))));
    EXPECT_EQ(joined, rig.Tap());
    synth::SynthOptions o;
    o.seconds = kSeconds;
    CCaptureStore store;
    store.DecodeChunk(joined.data(), joined.size(), 64);
    synthtest::ExpectDecodedAsSent(store, synthtest::Play(pps, o).sent);
}

// A series that has come to file 9998 (set up as Run does, with that first number): file 9999 is the
// last; when it is full the recording stops instead of switching.
TEST(EmulatedRecording, SeriesStopsWhenFile9999IsFull) {
    CRig rig(synthtest::Builtin("pps"), Options(EmulatorPace::Unpaced, 100));
    rig.analyzer.SetStalled(true);
    rig.Tick();
    ASSERT_TRUE(rig.connection.connected);
    const auto path = [&](int32_t n) { return rig.dir.File(SeriesName(n)); };
    rig.reader.fileNumber = 9998;
    rig.reader.SetRecordFiles(path, 1, true);
    ASSERT_TRUE(rig.reader.OpenRecordFile(path(9998)));
    rig.reader.capturing = true;
    rig.analyzer.SetStalled(false);
    rig.WaitStopped();

    EXPECT_EQ(rig.reader.fileNumber, 9999);
    EXPECT_TRUE(rig.reader.finalDecodePending);
    EXPECT_FALSE(std::filesystem::exists(path(10000)));
    Bytes joined;
    for (const int32_t n : {9998, 9999}) {
        SCOPED_TRACE(n);
        const Bytes file = ReadFile(path(n));
        EXPECT_GT(file.size(), 1000000u);
        EXPECT_EQ(Head(file), ClosedHeader(file.size() - 64));
        const Bytes payload = Payload(file);
        joined.insert(joined.end(), payload.begin(), payload.end());
    }
    const Bytes tap = rig.Tap();
    ASSERT_GE(tap.size(), joined.size());
    EXPECT_EQ(joined, Slice(tap, 0, joined.size()));
}

TEST(EmulatedRecording, UnplugStopsWithinATickAndTheFileStaysWhole) {
    const synth::Scenario demo = synthtest::Builtin("demo");
    CRig rig(demo, Options(EmulatorPace::Manual));
    rig.Tick();
    ASSERT_TRUE(rig.control.RunCommand());
    for (int i = 0; i < 5; ++i) {
        rig.Play(1e6);
        rig.Tick();
    }
    rig.analyzer.Unplug();
    rig.Tick();
    EXPECT_FALSE(rig.connection.connected);
    EXPECT_FALSE(rig.control.RecordingActive());
    EXPECT_TRUE(rig.reader.captureStopRequest || !rig.reader.capturing);
    rig.WaitStopped();
    rig.Tick(2); // the final decode, then a poll that finds nothing
    EXPECT_EQ(rig.ui.status.rfind("Recorded to " + rig.dir.File("Test.qxc") + "  (", 0), 0u) << rig.ui.status;
    EXPECT_NE(rig.ui.status.find(kDisconnectedStatusText), std::string::npos) << rig.ui.status;

    const Bytes stream = rig.Tap();
    const Bytes file = rig.File("Test.qxc");
    EXPECT_EQ(Head(file), ClosedHeader(stream.size()));
    EXPECT_EQ(Payload(file), stream);
    EXPECT_EQ(rig.doc.store.decodePosition, int64_t(file.size()));
    const Decoded expected = DecodeStream(stream);
    EXPECT_GT(expected.packets, 20u);
    EXPECT_EQ(rig.doc.store.PacketCount(), expected.packets);
    EXPECT_EQ(rig.doc.store.SampleCount(), expected.samples);
    // The packets up to the cut are those the scenario sent.
    const synthtest::Played played = synthtest::Play(demo);
    for (size_t i = 0; i + 1 < rig.doc.store.PacketCount(); ++i) {
        const CCCPacket& p = *rig.doc.store.PacketAt(i);
        EXPECT_EQ(p.startTime, played.sent[i].startTime) << i;
        EXPECT_EQ(p.GetMessageTypeText(), played.sent[i].name) << i;
    }

    // Plugged in again, it is found, and a new recording starts from a fresh stream.
    rig.analyzer.Plug();
    rig.Tick();
    EXPECT_TRUE(rig.connection.connected);
    EXPECT_TRUE(rig.control.RunCommand());
}

TEST(EmulatedRecording, OldFirmwareIsRejectedUntilUnplugged) {
    CRig rig(synthtest::Builtin("spr"), Options(EmulatorPace::Manual));
    rig.analyzer.SetFirmwareText(u"1.00");
    rig.Tick(3);
    EXPECT_FALSE(rig.connection.connected);
    EXPECT_TRUE(rig.connection.invalidFirmware);
    EXPECT_EQ(rig.connection.fwVersionText, "1.00");
    EXPECT_FALSE(rig.control.CanRun());
    EXPECT_FALSE(rig.control.RunCommand());
    EXPECT_EQ(rig.ui.status, kDisconnectedStatusText);
    EXPECT_FALSE(rig.analyzer.IsOpen()); // opened and let go again on every tick

    // While it stays plugged in, new firmware is not even read.
    rig.analyzer.SetFirmwareText(u"1.10");
    rig.Tick();
    EXPECT_TRUE(rig.connection.invalidFirmware);
    EXPECT_FALSE(rig.connection.connected);

    rig.analyzer.Unplug();
    rig.Tick();
    EXPECT_FALSE(rig.connection.invalidFirmware);
    EXPECT_EQ(rig.connection.fwVersionText, "");
    rig.analyzer.SetFirmwareText(u"1.01");
    rig.analyzer.Plug();
    rig.Tick();
    EXPECT_TRUE(rig.connection.connected);
    EXPECT_EQ(rig.connection.fwVersionNumber, 0x101);
    EXPECT_TRUE(rig.control.RunCommand());
    EXPECT_TRUE(std::filesystem::exists(rig.dir.File("Test.qxc")));
}

// The disk fills in the middle of a block: the recording ends by itself, the file keeps every whole
// block written before, closed with its header block, and the user is told once.
TEST(EmulatedRecording, WriteFailureEndsTheRecordingWithWhatWasWrittenReadable) {
    constexpr int64_t kRoom = 200000 + 40;
    CRig rig(synthtest::Builtin("demo"), Options(EmulatorPace::Unpaced, 60), 64 + kRoom);
    rig.ConnectAndRun();
    rig.WaitStopped();
    rig.Tick(2);
    EXPECT_EQ(rig.ui.messages, std::vector<std::string>{kRecordWriteFailedText});
    EXPECT_EQ(rig.ui.status.rfind("Recorded to " + rig.dir.File("Test.qxc") + "  (", 0), 0u) << rig.ui.status;

    const Bytes kept = Slice(rig.Tap(), 0, 200000);
    const Bytes file = rig.File("Test.qxc");
    EXPECT_EQ(Head(file), ClosedHeader(kept.size()));
    EXPECT_EQ(Payload(file), kept);
    const Decoded expected = DecodeStream(kept);
    EXPECT_GT(expected.packets, 0u);
    EXPECT_EQ(rig.doc.store.PacketCount(), expected.packets);
    EXPECT_EQ(rig.doc.store.SampleCount(), expected.samples);
    EXPECT_TRUE(rig.control.CanRun());
}

// Stop, Clear and closing the window while the analyzer streams as fast as it can, at several points of
// the stream: every file left behind is closed with its header block, holds a gapless piece of the stream
// and decodes to its end.
TEST(EmulatedRecording, StopClearAndCloseAtAnyMoment) {
    enum class Action { Stop, Clear, Close };
    const Action actions[] = {Action::Stop, Action::Clear, Action::Close};
    const uint64_t moments[] = {0, 1, 100000, 1000000}; // bytes the analyzer has sent by then
    const synth::Scenario pps = synthtest::Builtin("pps");
    for (const Action action : actions) {
        for (const uint64_t moment : moments) {
            SCOPED_TRACE(testing::Message() << "action " << int(action) << " after " << moment << " bytes");
            CRig rig(pps, Options(EmulatorPace::Unpaced, 60));
            rig.ConnectAndRun();
            ASSERT_TRUE(WaitUntil([&] { return rig.analyzer.BytesDelivered() >= moment; }));
            switch (action) {
            case Action::Stop:
                rig.control.Stop();
                rig.WaitStopped();
                rig.Tick();
                break;
            case Action::Clear:
                rig.control.Clear();
                rig.WaitStopped();
                {
                    // A recording that wrote data starts anew at the next tick; one that did not only stops.
                    const bool wroteData = rig.reader.finalDecodePending;
                    if (moment >= 100000) {
                        EXPECT_TRUE(wroteData);
                    }
                    rig.Tick();
                    EXPECT_EQ(bool(rig.reader.capturing), wroteData);
                }
                rig.control.Stop();
                rig.WaitStopped();
                rig.Tick();
                break;
            case Action::Close:
                rig.reader.RequestExit();
                rig.reader.WaitForExit();
                EXPECT_FALSE(rig.reader.readerRunning);
                break;
            }
            EXPECT_FALSE(rig.reader.capturing);

            const Bytes file = rig.File("Test.qxc");
            ASSERT_GE(file.size(), 64u);
            EXPECT_EQ(file.size() % 64, 0u);
            EXPECT_EQ(Head(file), ClosedHeader(file.size() - 64));
            const Bytes payload = Payload(file);
            const Bytes tap = rig.Tap();
            if (!payload.empty()) {
                const auto at = std::search(tap.begin(), tap.end(), payload.begin(), payload.end());
                ASSERT_NE(at, tap.end());
                EXPECT_EQ((at - tap.begin()) % 64, 0);
            }
            CQXDoc doc;
            ASSERT_TRUE(doc.OpenDocument(rig.dir.File("Test.qxc")));
            EXPECT_EQ(doc.store.decodePosition, int64_t(file.size()));
        }
    }
}

} // namespace
