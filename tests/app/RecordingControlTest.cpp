// Recording control with the real reader thread and connection against a scripted analyzer: Run, Stop,
// Clear, the timer tick, record file names, the store-full rules, remote control, faults, and the
// headless recording session.
#include "RecordingControl.h"
#include "DeviceCommands.h"
#include "DeviceConnection.h"
#include "HeadlessUi.h"
#include "PacketTexts.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordEncoder.h"
#include "RecordSession.h"
#include "Settings.h"
#include "support/Blocks.h"
#include "support/FullDiskFile.h"
#include "support/RecordFiles.h"
#include "support/TempFiles.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

namespace {

using testrec::Bytes;
using testrec::WaitUntil;
using testrec::ClosedHeader;
using testrec::Slice;

// One analyzer on the bus: answers the descriptors, accepts command frames, streams prepared chunks
// and then stalls until more come. It can be unplugged and plugged in again with other firmware.
class CScriptedAnalyzer : public IAnalyzerLink {
public:
    LinkOpenResult Open(int index) override {
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
        if (index != 0 || !present) return LinkOpenResult::NoDevice;
        open = true;
        return LinkOpenResult::Opened;
    }
    bool IsOpen() const override {
        std::lock_guard<std::mutex> lock(mutex);
        return open;
    }
    int GetDescriptor(uint8_t type, uint8_t index, uint16_t, uint8_t* buffer, int size) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (!open || !present) return -1;
        Bytes d;
        if (type == kDescriptorTypeDevice) {
            d.assign(18, 0);
            d[0] = 18;
            d[1] = 1;
        } else if (type == kDescriptorTypeString &&
                   (index == kFirmwareStringIndex || index == kSerialStringIndex)) {
            ++stringReads;
            const std::u16string& text = index == kFirmwareStringIndex ? firmware : serial;
            d = {uint8_t(2 + 2 * text.size()), kDescriptorTypeString};
            for (char16_t c : text) {
                d.push_back(uint8_t(c));
                d.push_back(uint8_t(c >> 8));
            }
        } else {
            return -1;
        }
        const int n = std::min(size, int(d.size()));
        std::copy(d.begin(), d.begin() + n, buffer);
        return n;
    }
    int ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (chunks.empty() && open && present) {
            idle = true;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return !chunks.empty() || !open || !present; });
            idle = false;
        }
        if (!open || !present) return -1;
        if (chunks.empty()) return 0;
        Bytes& c = chunks.front();
        const int n = std::min(size, int(c.size()));
        std::copy(c.begin(), c.begin() + n, buffer);
        c.erase(c.begin(), c.begin() + n);
        if (c.empty()) chunks.pop_front();
        return n;
    }
    bool WritePipe(const uint8_t*, int size) override {
        std::lock_guard<std::mutex> lock(mutex);
        return open && present && size == kCommandFrameSize;
    }
    void Release() override {
        std::lock_guard<std::mutex> lock(mutex);
        open = false;
        cv.notify_all();
    }

    void Unplug() {
        std::lock_guard<std::mutex> lock(mutex);
        present = false;
        chunks.clear();
        cv.notify_all();
    }
    void Plug(std::u16string firmwareText) {
        std::lock_guard<std::mutex> lock(mutex);
        present = true;
        firmware = std::move(firmwareText);
    }
    void Feed(const Bytes& stream, size_t chunk = kStreamReadSize) {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t at = 0; at < stream.size(); at += chunk)
            chunks.emplace_back(stream.begin() + std::ptrdiff_t(at),
                                stream.begin() + std::ptrdiff_t(std::min(stream.size(), at + chunk)));
        cv.notify_all();
    }
    bool WaitDrained() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(30), [&] { return chunks.empty() && idle; });
    }
    int StringReads() const {
        std::lock_guard<std::mutex> lock(mutex);
        return stringReads;
    }

private:
    mutable std::mutex mutex;
    std::condition_variable cv;
    bool present = true;
    bool open = false;
    std::u16string firmware = u"1.10";
    std::u16string serial = u"0123456789ABCDEF01234567";
    std::deque<Bytes> chunks;
    bool idle = false;
    int stringReads = 0;
};

Bytes Recorded(const Bytes& header, const Bytes& stream) {
    Bytes b = header;
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
}

// PD traffic: a Request and its GoodCRC over and over, with a VBUS sample every 500 µs.
struct Traffic {
    Bytes stream;
    std::vector<Bytes> messages;
    size_t samples = 0;
};

Traffic MakeTraffic(int count) {
    Traffic t;
    enc::EncoderConfig config;
    config.samplesPerVbusBlock = 3;
    enc::CRecordEncoder e(config, enc::AppendTo(t.stream));
    double now = 100, nextSample = 0;
    for (int i = 0; i < count; ++i) {
        while (nextSample <= now) {
            e.AddVbusSample({nextSample, 5000, 1000, 1700, 3, 0, -3});
            ++t.samples;
            nextSample += 500;
        }
        const int id = i / 2 % 8;
        const Bytes m = i % 2 == 0 ? traffic::Bytes(traffic::Header{2, false, false, 2, id, 1}.Word(),
                                                    {0x1304B12Cu + uint32_t(i)})
                                   : traffic::Bytes(traffic::Header{1, true, true, 2, id}.Word());
        const enc::PlacedFrame f = e.AddMessage(0, now, kKindSop, m);
        t.messages.push_back(m);
        now = double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0 + 300;
        e.AdvanceTo(now);
    }
    e.Finish(now + 100);
    return t;
}

// Whole blocks, about a fraction of the stream.
size_t BlockCut(const Bytes& stream, double fraction) {
    return size_t(double(stream.size() / 64) * fraction) * 64;
}

void ExpectPackets(const CCaptureStore& store, const std::vector<Bytes>& messages) {
    ASSERT_EQ(store.PacketCount(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        const CCCPacket* p = store.PacketAt(i);
        EXPECT_TRUE(p->crcGood) << i;
        EXPECT_EQ(Bytes(p->messageBytes, p->messageBytes + p->messageByteCount), messages[i]) << i;
    }
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class RecordingControlTest : public testing::Test {
protected:
    void SetUp() override {
        settings.recordFileFolder = dir.Path().string();
        settings.recordFileCaption = "Test";
        settings.recordDoNotAskAgain = true;
        hooks.control = &control;
        reader.SetReadTimeout(20);
        reader.Start();
    }

    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) control.OnTimer();
    }
    void ConnectAndRun() {
        Tick();
        ASSERT_TRUE(connection.connected);
        ASSERT_TRUE(control.RunCommand());
    }
    void FeedAndDrain(const Bytes& bytes) {
        link.Feed(bytes);
        ASSERT_TRUE(link.WaitDrained());
    }
    void WaitStopped() {
        ASSERT_TRUE(WaitUntil([&] { return !reader.capturing && !reader.captureStopRequest; }));
    }
    Bytes File(const std::string& name) const { return ReadFile(dir.File(name)); }

    TempDir dir;
    CScriptedAnalyzer link;
    CSettings settings;
    CDeviceConnection connection{link};
    int64_t diskRoom = -1; // bytes a record file may take; -1: no limit
    CReaderThread reader{connection,
                         [this](const std::string& path) { return FullDiskOpener(diskRoom)(path); }};
    CHeadlessUi ui{reader};
    CRecordFolderHooks hooks;
    CQXDoc doc{&ui, &hooks};
    CRecordingControl control{settings, connection, reader, &doc, ui};
};

TEST_F(RecordingControlTest, RecordingEndToEnd) {
    const Traffic t = MakeTraffic(40);
    Tick();
    EXPECT_EQ(ui.status, kConnectedStatusText);
    EXPECT_TRUE(control.CanRun());
    ASSERT_TRUE(control.RunCommand());
    EXPECT_TRUE(control.RecordingActive());
    EXPECT_FALSE(control.CanRun());
    EXPECT_EQ(doc.docPath, dir.File("Test.qxc"));
    EXPECT_EQ(ui.title, "Untitled");

    const size_t half = BlockCut(t.stream, 0.5);
    FeedAndDrain(Slice(t.stream, 0, half));
    Tick();
    EXPECT_EQ(ui.status.rfind("Capturing... ", 0), 0u) << ui.status;
    EXPECT_GT(doc.store.SampleCount(), 0u);
    FeedAndDrain(Slice(t.stream, half, t.stream.size()));
    control.Stop();
    WaitStopped();
    EXPECT_TRUE(reader.finalDecodePending);

    Tick(); // the rest is decoded
    EXPECT_FALSE(reader.finalDecodePending);
    EXPECT_EQ(File("Test.qxc"), Recorded(ClosedHeader(t.stream.size()), t.stream));
    ExpectPackets(doc.store, t.messages);
    EXPECT_EQ(doc.store.SampleCount(), t.samples);
    // The status bar says where the recording went, how long it is and how big its file, until another
    // document is shown.
    const int64_t length = doc.store.SampleAt(doc.store.SampleCount() - 1)->time - doc.store.SampleAt(0)->time;
    // The length as the Timestamp column writes it, without its padding.
    std::istringstream words(FormatTimeText(length));
    std::string time, word;
    while (words >> word) time += (time.empty() ? "" : " ") + word;
    const std::string where = "Recorded to " + dir.File("Test.qxc") + "  (" + time + ", " +
                              std::to_string((64 + t.stream.size()) / 1000) + "KB)";
    EXPECT_EQ(ui.status, where);
    Tick();
    EXPECT_EQ(ui.status, where);
    control.ResetDocument();
    Tick();
    EXPECT_EQ(ui.status, kConnectedStatusText);
}

TEST_F(RecordingControlTest, RecordedFileText) {
    const int64_t length = 83'004'005;
    EXPECT_EQ(RecordedFileText("/r/Test.qxc", &length, 10000000, 1, "Test.qxc"),
              "Recorded to /r/Test.qxc  (1min 23s 004ms 005us, 10000KB)");
    EXPECT_EQ(RecordedFileText("/r/Test.qxc", &length, 10000001, 1, "Test.qxc"),
              "Recorded to /r/Test.qxc  (1min 23s 004ms 005us, 10MB)");
    const int64_t seconds = 5'000'007;
    EXPECT_EQ(RecordedFileText("/r/Test.qxc", &seconds, 999, 1, "Test.qxc"),
              "Recorded to /r/Test.qxc  (5s 0ms 7us, 0KB)");
    // A series names its first file; a file without samples has no length.
    EXPECT_EQ(RecordedFileText("/r/T_0003.qxc", nullptr, 64, 3, "T_0001.qxc"),
              "Recorded to /r/T_0003.qxc  (0KB; the last of 3 files, from T_0001.qxc)");
}

TEST_F(RecordingControlTest, UnplugStopsWithinATickAndTheFileStaysWhole) {
    const Traffic t = MakeTraffic(40);
    ConnectAndRun();
    const size_t cut = BlockCut(t.stream, 0.6);
    const Bytes part = Slice(t.stream, 0, cut);
    FeedAndDrain(part);
    Tick();
    link.Unplug();
    Tick();
    EXPECT_FALSE(connection.connected);
    EXPECT_TRUE(reader.captureStopRequest || !reader.capturing);
    EXPECT_FALSE(control.RecordingActive());
    WaitStopped();
    Tick(2); // final decode, then a poll that forgets the analyzer's texts
    EXPECT_EQ(connection.fwVersionNumber, 0);
    // Where the recording went, and that the analyzer is gone.
    EXPECT_EQ(ui.status.rfind("Recorded to " + dir.File("Test.qxc") + "  (", 0), 0u) << ui.status;
    EXPECT_EQ(ui.status.substr(ui.status.size() - std::strlen(kDisconnectedStatusText) - 4),
              std::string("    ") + kDisconnectedStatusText);
    // The header block still names the analyzer the data came from.
    EXPECT_EQ(File("Test.qxc"), Recorded(ClosedHeader(part.size()), part));
    CCaptureStore expected;
    expected.DecodeChunk(part.data(), part.size(), 64);
    EXPECT_GT(expected.PacketCount(), 0u);
    EXPECT_EQ(doc.store.PacketCount(), expected.PacketCount());
    EXPECT_EQ(doc.store.SampleCount(), expected.SampleCount());
}

TEST_F(RecordingControlTest, OldFirmwareIsRejectedUntilUnplugged) {
    link.Plug(u"1.00");
    Tick(3);
    EXPECT_FALSE(connection.connected);
    EXPECT_TRUE(connection.invalidFirmware);
    EXPECT_EQ(link.StringReads(), 2); // read once, not again while it stays plugged in
    EXPECT_FALSE(control.CanRun());
    EXPECT_FALSE(control.RunCommand());
    EXPECT_EQ(ui.status, kDisconnectedStatusText);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Test.qxc")));

    // Once it is gone the rejection is forgotten, and an analyzer with 1.01 is taken.
    link.Unplug();
    Tick();
    EXPECT_FALSE(connection.invalidFirmware);
    link.Plug(u"1.01");
    Tick();
    EXPECT_TRUE(connection.connected);
    EXPECT_TRUE(control.RunCommand());
}

TEST_F(RecordingControlTest, WriteFailureEndsTheRecordingReadableAndIsReportedOnce) {
    const Traffic t = MakeTraffic(40);
    diskRoom = 64 + int64_t(BlockCut(t.stream, 0.5)) + 40; // the disk fills in the middle of a block
    ConnectAndRun();
    link.Feed(t.stream, 4096);
    WaitStopped();
    ASSERT_TRUE(link.WaitDrained());
    Tick();
    Tick();
    EXPECT_EQ(ui.messages, std::vector<std::string>{kRecordWriteFailedText});
    const Bytes kept = Slice(t.stream, 0, BlockCut(t.stream, 0.5));
    EXPECT_EQ(File("Test.qxc"), Recorded(ClosedHeader(kept.size()), kept));
    CCaptureStore expected;
    expected.DecodeChunk(kept.data(), kept.size(), 64);
    EXPECT_EQ(doc.store.PacketCount(), expected.PacketCount());
    EXPECT_EQ(doc.store.SampleCount(), expected.SampleCount());
    EXPECT_TRUE(control.CanRun());
}

TEST_F(RecordingControlTest, StopAndClearDuringARecording) {
    struct Case {
        const char* name;
        bool clear;
        bool data;
        bool restarts;
    };
    const Case cases[] = {
        {"Stop before any data", false, false, false},
        {"Stop after data", false, true, false},
        {"Clear before any data only stops", true, false, false},
        {"Clear after data starts anew", true, true, true},
    };
    const Bytes stream = MakeTraffic(10).stream;
    Tick();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(control.RunCommand());
        if (c.data) FeedAndDrain(stream);
        Tick();
        c.clear ? control.Clear() : control.Stop();
        EXPECT_FALSE(control.RecordingActive());
        WaitStopped();
        EXPECT_EQ(File("Test.qxc"),
                  Recorded(ClosedHeader(c.data ? stream.size() : 0), c.data ? stream : Bytes()));
        Tick();
        EXPECT_EQ(bool(reader.capturing), c.restarts);
        if (c.restarts) {
            // A new recording, file number 1 again, with an empty document.
            EXPECT_FALSE(control.restartAfterStop);
            EXPECT_EQ(reader.fileNumber, 1);
            EXPECT_EQ(doc.store.SampleCount(), 0u);
            EXPECT_EQ(File("Test.qxc").size(), 64u);
            control.Stop();
            WaitStopped();
        } else {
            EXPECT_EQ(doc.store.SampleCount(), c.data ? MakeTraffic(10).samples : 0u);
        }
        Tick();
        // Even a file that holds no data is named.
        EXPECT_EQ(ui.status.rfind("Recorded to " + dir.File("Test.qxc") + "  (", 0), 0u) << ui.status;
        EXPECT_FALSE(reader.finalDecodePending);
    }
    EXPECT_TRUE(ui.messages.empty());
}

// The reader thread ends a recording in two steps: `capturing` goes, then `captureStopRequest`. What the
// user-interface side does in between, a Run followed at once by a Stop, or the timer's restart after a
// Clear, must not be lost: no recording runs on that was asked to stop, a Clear still starts anew, and
// every file is closed with its header block.
TEST_F(RecordingControlTest, RunStopAndRestartWhileTheThreadEndsARecording) {
    std::mutex mutex;
    std::condition_variable cv;
    bool parked = false, release = false;
    reader.RequestExit();
    reader.WaitForExit();
    reader.SetStopSeam([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (release) return; // only the first stop of a case waits
        parked = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    });
    reader.Start();

    struct Case {
        const char* name;
        bool clear;                    // the first recording ends by Clear, else by Stop
        std::function<void()> between; // the user-interface side, while the thread is between its stores
        bool secondRuns;               // a second recording runs afterwards
    };
    const Case cases[] = {
        {"Run and Stop",
         false,
         [&] {
             control.RunCommand();
             control.Stop();
         },
         false},
        {"the restart tick after Clear", true, [&] { Tick(); }, true},
    };
    const Bytes stream = MakeTraffic(10).stream;
    Tick();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> lock(mutex);
            parked = release = false;
        }
        settings.recordFileCaption = "First";
        ASSERT_TRUE(control.RunCommand());
        FeedAndDrain(stream);
        Tick();
        c.clear ? control.Clear() : control.Stop();
        {
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return parked; }));
        }
        settings.recordFileCaption = "Second";
        c.between();
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
        }
        cv.notify_all();
        ASSERT_TRUE(WaitUntil([&] { return !reader.captureStopRequest; }));
        FeedAndDrain(stream); // the thread has been round its loop since
        Tick();

        EXPECT_EQ(bool(reader.capturing), c.secondRuns);
        EXPECT_FALSE(control.restartAfterStop);
        EXPECT_EQ(File("First.qxc"), Recorded(ClosedHeader(stream.size()), stream));
        if (reader.capturing) {
            control.Stop();
            WaitStopped();
        }
        const bool second = std::filesystem::exists(dir.File("Second.qxc"));
        EXPECT_EQ(second, c.secondRuns);
        if (second) {
            const Bytes file = File("Second.qxc");
            ASSERT_GE(file.size(), 64u);
            EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), ClosedHeader(file.size() - 64));
            std::filesystem::remove(dir.File("Second.qxc"));
        }
        Tick();
        EXPECT_FALSE(reader.finalDecodePending);
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RecordingControlTest, ClearAndRunAskBeforeDroppingUnsavedChanges) {
    Tick();
    ASSERT_TRUE(control.RunCommand());
    FeedAndDrain(MakeTraffic(10).stream);
    control.Stop();
    WaitStopped();
    Tick();
    doc.SetMarksChanged();
    const size_t samples = doc.store.SampleCount();

    // Cancelled: everything stays as it was.
    ui.saveAnswer = false;
    control.Clear();
    EXPECT_FALSE(control.RunCommand());
    EXPECT_EQ(ui.saveAsked, 2);
    EXPECT_EQ(doc.store.SampleCount(), samples);
    EXPECT_EQ(doc.docPath, dir.File("Test.qxc"));
    EXPECT_FALSE(reader.capturing);

    ui.saveAnswer = true;
    control.Clear();
    EXPECT_EQ(ui.saveAsked, 3);
    EXPECT_EQ(doc.store.SampleCount(), 0u);
    EXPECT_TRUE(doc.docPath.empty());
    EXPECT_FALSE(doc.modified);
}

TEST_F(RecordingControlTest, WindowCloseDuringARecording) {
    const Bytes stream = MakeTraffic(10).stream;
    ConnectAndRun();
    FeedAndDrain(stream);
    reader.RequestExit();
    reader.WaitForExit();
    EXPECT_FALSE(reader.readerRunning);
    EXPECT_EQ(File("Test.qxc"), Recorded(ClosedHeader(stream.size()), stream));
    Tick();
    EXPECT_FALSE(control.RecordingActive());
    EXPECT_FALSE(control.Run()); // no reader, no recording
}

TEST_F(RecordingControlTest, RecordFileNames) {
    const std::time_t start = LocalTime(2024, 3, 5, 14, 25, 1);
    EXPECT_EQ(RecordBaseName("DUDevezud", true, start), "DUDevezud_20240305-142501");
    EXPECT_EQ(RecordBaseName("DUDevezud", false, start), "DUDevezud");

    struct Case {
        RecordNames names;
        int32_t n;
        const char* path;
    };
    const Case cases[] = {
        {{"/r", "Test", "", false}, 1, "/r/Test.qxc"},
        {{"/r/", "Test", "", true}, 1, "/r/Test_0001.qxc"},
        {{"/r", "Test", "", true}, 2, "/r/Test_0002.qxc"},
        {{"/r", "Test", "", true}, 9999, "/r/Test_9999.qxc"},
        {{"/r", "Test", "", false}, 2, "/r/Test_0002.qxc"},
        // An external name replaces the whole name; in a series it is numbered too.
        {{"/r", "Test", "ext", false}, 1, "/r/ext.qxc"},
        {{"/r", "Test", "ext", true}, 1, "/r/ext_0001.qxc"},
        {{"/r", "Test", "ext", true}, 2, "/r/ext_0002.qxc"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.names.Path(c.n), c.path);
}

TEST_F(RecordingControlTest, RunTakesTheStartTimeForTheTimestamp) {
    settings.recordAppendTimestamp = true;
    control.clock = [] { return LocalTime(2024, 3, 5, 14, 25, 1); };
    ConnectAndRun();
    EXPECT_EQ(control.recordBaseName, "Test_20240305-142501");
    EXPECT_TRUE(std::filesystem::exists(dir.File("Test_20240305-142501.qxc")));
}

TEST_F(RecordingControlTest, CapturingStatusText) {
    struct Case {
        uint64_t bytes;
        uint32_t maxMB;
        const char* fileSize;
    };
    const Case cases[] = {
        {5000000, 100, "    [File Size=5000KB (5%) ]"},
        {10000000, 100, "    [File Size=10000KB (10%) ]"},
        {10000001, 100, "    [File Size=10MB (10%) ]"},
        {25000000, 100, "    [File Size=25MB (25%) ]"},
        {999, 1, "    [File Size=0KB (0%) ]"},
        {25000000, 0, "    [File Size=25MB (2500%) ]"}, // a maximum of 0 counts as 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(CapturingStatusText(1234567, c.bytes, c.maxMB, 12, 99999, 3000, 9999999),
                  std::string("Capturing...   1s 234ms 567us") + c.fileSize +
                      "    [PD Packets=12 (0%) ]     [VBUS Samples=3000 (0%) ]");
    EXPECT_EQ(CapturingStatusText(0, 0, 100, 50, 100, 7, 0),
              "Capturing...   0s   0ms   0us    [File Size=0KB (0%) ]    [PD Packets=50 (50%) ]     "
              "[VBUS Samples=7 (700%) ]");
}

TEST_F(RecordingControlTest, SeriesOfFilesWithTheDocumentFollowing) {
    settings.recordMultiCaptureFile = true;
    settings.recordMaxFileSizeMB = 1;
    Bytes stream;
    for (uint32_t i = 0; i < 2500000 / 64; ++i)
        testblocks::Append(stream,
                           testblocks::VbusBlock({{i * 30, 5000}, {i * 30 + 10, 5000}, {i * 30 + 20, 5000}}));
    ConnectAndRun();
    EXPECT_EQ(doc.docPath, dir.File("Test_0001.qxc"));
    FeedAndDrain(Slice(stream, 0, stream.size() / 2));
    Tick();
    EXPECT_EQ(control.shownFileNumber, 2);
    EXPECT_EQ(doc.docPath, dir.File("Test_0002.qxc"));
    FeedAndDrain(Slice(stream, stream.size() / 2, stream.size()));
    control.Stop();
    WaitStopped();
    Tick();
    ASSERT_EQ(reader.fileNumber, 3);
    EXPECT_EQ(doc.docPath, dir.File("Test_0003.qxc"));
    Bytes joined;
    for (const char* name : {"Test_0001.qxc", "Test_0002.qxc", "Test_0003.qxc"}) {
        const Bytes file = File(name);
        joined.insert(joined.end(), file.begin() + 64, file.end());
    }
    EXPECT_EQ(joined, stream);
    // The document holds the last file only.
    EXPECT_EQ(doc.store.SampleCount(), (File("Test_0003.qxc").size() - 64) / 64 * 3);
}

TEST_F(RecordingControlTest, StoreFullRules) {
    struct Case {
        const char* name;
        bool fullStop, multi, packetsLimited;
        const char* message; // nullptr: none
        bool stops;          // otherwise the recording goes on in file 2
    };
    const Case cases[] = {
        {"VBUS samples full, stop with message", true, false, false, kVbusSampleFullText, true},
        {"PD packets full, stop with message", true, true, true, kPdMessageFullText, true},
        {"samples full, one file: stop, then say why", false, false, false, nullptr, true},
        {"packets full, one file: stop, then say why", false, false, true, nullptr, true},
        {"full, multiple files: next file", false, true, true, nullptr, false},
    };
    const Traffic t = MakeTraffic(40);
    const size_t a = BlockCut(t.stream, 0.4), b = BlockCut(t.stream, 0.7);
    Tick();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.recordCaptureFullStop = c.fullStop;
        settings.recordMultiCaptureFile = c.multi;
        settings.maxPDPacketCount = c.packetsLimited ? 2 : 99999;
        settings.maxVbusInfoCount = c.packetsLimited ? 9999999 : 10;
        ui.messages.clear();
        // A message box lets the timer run; the nested tick must not show the message again.
        ui.onMessage = [&](const std::string&) { Tick(); };
        ASSERT_TRUE(control.RunCommand());
        FeedAndDrain(Slice(t.stream, 0, a));
        Tick(); // decoded past the limit; the store notices it at the next step
        EXPECT_TRUE(ui.messages.empty());
        FeedAndDrain(Slice(t.stream, a, b));
        Tick();
        if (c.message) {
            EXPECT_EQ(ui.messages, std::vector<std::string>{c.message});
        } else {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_TRUE(reader.rotationRequest);
            FeedAndDrain(Slice(t.stream, b, t.stream.size())); // the switch follows the next read
        }
        if (c.stops) {
            WaitStopped();
            EXPECT_FALSE(std::filesystem::exists(dir.File("Test_0002.qxc")));
        } else {
            EXPECT_TRUE(reader.capturing);
            EXPECT_EQ(reader.fileNumber, 2);
            EXPECT_TRUE(reader.rotatedForFull);
            Tick(); // the document moves to file 2, empty again
            EXPECT_FALSE(reader.rotatedForFull);
            EXPECT_EQ(doc.docPath, dir.File("Test_0002.qxc"));
            EXPECT_FALSE(doc.store.vbusFull || doc.store.packetsFull);
            control.Stop();
            WaitStopped();
        }
        Tick(2);
        // A single file that stopped at the limit says which limit and where it is set, once, and the
        // status bar keeps it, after where the recording went, until another document is shown.
        EXPECT_EQ(ui.status.rfind("Recorded to " + doc.docPath + "  (", 0), 0u) << ui.status;
        if (!c.fullStop && !c.multi) {
            const std::string why = LimitStopText(c.packetsLimited, c.packetsLimited ? 2 : 10);
            EXPECT_EQ(ui.messages, std::vector<std::string>{why});
            EXPECT_EQ(ui.status.substr(ui.status.size() - why.size() - 4), "    " + why);
            Tick();
            EXPECT_EQ(ui.messages.size(), 1u);
            EXPECT_NE(why.find(c.packetsLimited ? "PD packet limit of 2 " : "VBUS sample limit of 10 "),
                      std::string::npos);
        } else {
            EXPECT_EQ(ui.status.find("The recording stopped"), std::string::npos) << ui.status;
        }
        ui.onMessage = nullptr;
        for (const char* name : {"Test.qxc", "Test_0001.qxc", "Test_0002.qxc"})
            std::filesystem::remove(dir.File(name));
    }
}

TEST_F(RecordingControlTest, RemoteRunAndStop) {
    settings.recordDoNotAskAgain = false; // remote runs never show the dialog
    Tick();
    EXPECT_FALSE(control.RemoteRun()); // no external name
    const std::string other = (dir.Path() / "other").string();
    std::filesystem::create_directory(other);
    control.OnCopyData(1, u"ext");
    control.OnCopyData(2, std::u16string(other.begin(), other.end()));
    control.OnCopyData(3, u"ignored");
    ASSERT_TRUE(control.RemoteRun());
    EXPECT_EQ(ui.dialogs, 0);
    EXPECT_EQ(doc.docPath, other + "/ext.qxc");
    const Bytes stream = MakeTraffic(6).stream;
    FeedAndDrain(stream);
    control.RemoteStop();
    EXPECT_TRUE(control.externalRecordName.empty());
    EXPECT_TRUE(settings.externalRecordFolder.empty());
    WaitStopped();
    Tick();
    EXPECT_EQ(ReadFile(other + "/ext.qxc"), Recorded(ClosedHeader(stream.size()), stream));
}

// Another program renaming the record file during a series changes nothing of the running series.
TEST_F(RecordingControlTest, ExternalNameInASeriesNeverOverwrites) {
    settings.recordMultiCaptureFile = true;
    Tick();
    control.SetExternalRecordName("ext");
    ASSERT_TRUE(control.RemoteRun());
    const Bytes a = MakeTraffic(6).stream;
    FeedAndDrain(a);
    control.SetExternalRecordName("renamed");
    reader.rotationRequest = true;
    FeedAndDrain(a);
    FeedAndDrain(a);
    control.Stop();
    WaitStopped();
    Tick();
    EXPECT_EQ(File("ext_0001.qxc"), Recorded(ClosedHeader(2 * a.size()), Recorded(a, a)));
    EXPECT_EQ(File("ext_0002.qxc"), Recorded(ClosedHeader(a.size()), a));
    EXPECT_EQ(doc.docPath, dir.File("ext_0002.qxc"));
}

TEST_F(RecordingControlTest, RunAsksForTheFileSettingsUnlessToldNotTo) {
    settings.recordDoNotAskAgain = false;
    Tick();
    EXPECT_FALSE(control.RunCommand()); // cancelled
    EXPECT_EQ(ui.dialogs, 1);
    EXPECT_FALSE(reader.capturing);

    ui.dialogAnswer = RecordFileChoice{"Dlg", true, LocalTime(2023, 12, 31, 23, 59, 58)};
    ASSERT_TRUE(control.RunCommand());
    EXPECT_TRUE(std::filesystem::exists(dir.File("Dlg_20231231-235958.qxc")));
}

TEST_F(RecordingControlTest, RecordFileThatCannotBeCreated) {
    settings.recordFileFolder = dir.File("missing");
    ui.dialogAnswer = RecordFileChoice{"Test", false, 0};
    Tick();
    EXPECT_FALSE(control.RunCommand());
    EXPECT_EQ(ui.messages, std::vector<std::string>{kCreateRecordFileErrorText});
    EXPECT_EQ(ui.dialogs, 1); // shown once more after the message
    EXPECT_FALSE(reader.capturing);
    Tick();
    EXPECT_EQ(ui.status, kConnectedStatusText);
}

// The dialogs and questions of Run run the event loop, where a remote Run arrives. The user's Run holds
// the document from its reset on: the remote one is refused at once with the reason, and the user's
// Run goes on alone; when the state changed under a dialog (the window closing), the user's Run stops.
TEST_F(RecordingControlTest, RemoteRunInsideTheDialogsOfRunIsRefused) {
    struct Case {
        const char* dialog;
        bool closeMeanwhile;
    };
    const Case cases[] = {
        {"save prompt", false},          {"Record File Settings", false}, {"replace question", false},
        {"Record File Settings", true},  {"replace question", true},
    };
    settings.recordDoNotAskAgain = false;
    ui.dialogAnswer = RecordFileChoice{"Test", false, 0};
    Tick();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dialog) + (c.closeMeanwhile ? ", window closing" : ""));
        WriteFile(dir.File("Test.qxc"), Bytes(64, 0)); // asks before replacing it
        doc.modified = true;                             // asks to save
        bool ran = false, remoteStarted = false;
        std::string refusal;
        ui.whileDialogOpen = [&](const std::string& dialog) {
            if (dialog != c.dialog) return;
            ran = true;
            ASSERT_TRUE(control.SetExternalRecordName("ext"));
            remoteStarted = control.RemoteRun();
            refusal = control.lastRunRefusal;
            control.SetExternalRecordName("");
            if (c.closeMeanwhile) reader.readerExitRequest = true;
        };
        const bool started = control.RunCommand();
        ui.whileDialogOpen = nullptr;
        ASSERT_TRUE(ran);
        EXPECT_FALSE(remoteStarted);
        EXPECT_EQ(refusal, "Starting a recording is not possible now: a recording is being started (its dialog "
                           "or question is open).");
        EXPECT_FALSE(std::filesystem::exists(dir.File("ext.qxc")));
        EXPECT_EQ(started, !c.closeMeanwhile);
        EXPECT_EQ(bool(reader.capturing), !c.closeMeanwhile);
        if (started) {
            EXPECT_EQ(doc.docPath, dir.File("Test.qxc"));
            control.Stop();
            WaitStopped();
            Tick();
        } else {
            EXPECT_EQ(File("Test.qxc"), Bytes(64, 0)); // untouched
            reader.readerExitRequest = false;
        }
        EXPECT_FALSE(control.gate.Held());
    }
}

// A Clear that stopped a recording before its first byte restarts nothing: a later, unrelated Run asks
// again before it replaces the file.
TEST_F(RecordingControlTest, ClearBeforeAnyDataLeavesTheNextRunAsking) {
    Tick();
    ASSERT_TRUE(control.RunCommand());
    control.Clear();
    WaitStopped();
    Tick(3);
    EXPECT_FALSE(reader.capturing);
    ASSERT_TRUE(std::filesystem::exists(dir.File("Test.qxc")));
    ui.replaceAnswer = false;
    EXPECT_FALSE(control.RunCommand());
    ASSERT_EQ(ui.replaceAsked.size(), 1u);
    EXPECT_EQ(ui.replaceAsked[0], std::vector<std::string>{dir.File("Test.qxc")});
}

// Replacing a series replaces it whole: the later files of the old series go, so that no stitch or
// listing takes them for part of the new one. Without the user's yes nothing is touched.
TEST_F(RecordingControlTest, ReplacingASeriesRemovesItsLaterFiles) {
    struct Case {
        const char* name;
        bool remote;
        bool answer;
    };
    settings.recordMultiCaptureFile = true;
    Tick();
    for (const Case& c : {Case{"user, yes", false, true}, Case{"user, no", false, false}, Case{"remote", true, true}}) {
        SCOPED_TRACE(c.name);
        const std::string stem = c.remote ? "ext" : "Test";
        for (const char* n : {"_0001.qxc", "_0002.qxc", "_0003.qxc", "_0004.qxc"})
            WriteFile(dir.File(stem + n), Bytes(128, 7));
        WriteFile(dir.File(stem + "_12.qxc"), Bytes(128, 7)); // not of the series
        ui.replaceAnswer = c.answer;
        if (c.remote) ASSERT_TRUE(control.SetExternalRecordName(stem));
        EXPECT_EQ(c.remote ? control.RemoteRun() : control.RunCommand(), c.answer);
        for (const char* n : {"_0002.qxc", "_0003.qxc", "_0004.qxc"})
            EXPECT_EQ(std::filesystem::exists(dir.File(stem + n)), !c.answer) << n;
        EXPECT_EQ(File(stem + "_0001.qxc").size(), c.answer ? 64u : 128u);
        EXPECT_TRUE(std::filesystem::exists(dir.File(stem + "_12.qxc")));
        if (c.answer) {
            control.RemoteStop();
            WaitStopped();
            Tick();
        }
    }
}

// Another program's record name is a file name in the record folder, never a path.
TEST_F(RecordingControlTest, RemoteRecordNameMustBeAPlainFileName) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"ext", true},         {"with blank", true},    {std::string(64, 'n'), true}, {"", true},
        {"Ger\xC3\xA4t", true}, {"../x", false},        {"a/b", false},             {"a\\b", false},
        {"..", false},         {"x..y", false},         {"c:x", false},             {"a*?", false},
        {"q\"", false},        {"t\nx", false},         {std::string(65, 'n'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(control.SetExternalRecordName("before"));
        std::string why;
        EXPECT_EQ(control.SetExternalRecordName(c.name, &why), c.accepted);
        EXPECT_EQ(control.externalRecordName, c.accepted ? c.name : "before");
        EXPECT_EQ(why.empty(), c.accepted) << why;
        EXPECT_EQ(RecordNameProblem(c.name).empty(), c.accepted);
    }
}

// ---------------------------------------------------------------------------------------------------
// The headless session of `qxtool record`.

// An output stream the test can wait on while the session writes it from another thread.
class CWatchedOutput : public std::streambuf {
public:
    bool WaitFor(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(30),
                           [&] { return all.find(text) != std::string::npos; });
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(mutex);
        return all;
    }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) Put(std::string(1, char(c)));
        return 0;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        Put(std::string(s, size_t(n)));
        return n;
    }

private:
    void Put(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex);
        all += s;
        cv.notify_all();
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::string all;
};

class RecordSessionTest : public testing::Test {
protected:
    RecordSessionResult RunSession(const std::function<void()>& meanwhile) {
        RecordSessionResult result;
        std::ostream out(&output), err(&errors);
        std::thread session([&] { result = RunRecordSession(link, options, stop, out, err); });
        meanwhile();
        if (HasFatalFailure()) stop = true; // never leave the session running
        session.join();
        return result;
    }
    void WaitRecording() { ASSERT_TRUE(output.WaitFor("Capturing... ")); }

    TempDir dir;
    CScriptedAnalyzer link;
    RecordSessionOptions options = [this] {
        RecordSessionOptions o;
        o.folder = dir.Path().string();
        o.caption = "Cli";
        o.tickMs = 5;
        return o;
    }();
    std::atomic<bool> stop{false};
    CWatchedOutput output, errors;
};

TEST_F(RecordSessionTest, RecordsUntilStoppedAndClosesTheFile) {
    const Traffic t = MakeTraffic(30);
    const RecordSessionResult r = RunSession([&] {
        WaitRecording();
        link.Feed(t.stream);
        ASSERT_TRUE(link.WaitDrained());
        stop = true;
    });
    EXPECT_EQ(r.end, RecordSessionEnd::Stopped);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.files, std::vector<std::string>{dir.File("Cli.qxc")});
    EXPECT_EQ(r.bytes, t.stream.size());
    EXPECT_EQ(ReadFile(dir.File("Cli.qxc")), Recorded(ClosedHeader(t.stream.size()), t.stream));
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(dir.File("Cli.qxc")));
    ExpectPackets(doc.store, t.messages);
    // The lines say what the session does, not what the window's buttons would: starting, capturing,
    // then where the recording went.
    const std::string text = output.Text();
    EXPECT_EQ(text.find(kConnectedStatusText), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(kStartingRecordingText) + "\nCapturing... "), std::string::npos) << text;
    const size_t last = text.rfind('\n', text.size() - 2);
    EXPECT_EQ(text.substr(last + 1, 12), "Recorded to ") << text;
    EXPECT_NE(text.find(dir.File("Cli.qxc"), last), std::string::npos) << text;
}

TEST_F(RecordSessionTest, RecordsForTheAskedTime) {
    options.seconds = 0.2;
    const RecordSessionResult r = RunSession([] {});
    EXPECT_EQ(r.end, RecordSessionEnd::Duration);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir.File("Cli.qxc")), ClosedHeader(0));
}

TEST_F(RecordSessionTest, NumberedSeriesHoldsTheWholeStream) {
    options.multiFile = true;
    options.maxFileSizeMB = 1;
    Bytes stream;
    for (uint32_t i = 0; i < 2200000 / 64; ++i)
        testblocks::Append(stream, testblocks::VbusBlock({{i * 10, 5000}}));
    const RecordSessionResult r = RunSession([&] {
        WaitRecording();
        link.Feed(stream);
        ASSERT_TRUE(link.WaitDrained());
        stop = true;
    });
    ASSERT_EQ(r.files.size(), 3u);
    Bytes joined;
    for (int n = 1; n <= 3; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "Cli_%04d.qxc", n);
        EXPECT_EQ(r.files[size_t(n - 1)], dir.File(name));
        const Bytes file = ReadFile(r.files[size_t(n - 1)]);
        EXPECT_EQ(Slice(file, 0, 64), ClosedHeader(file.size() - 64));
        joined.insert(joined.end(), file.begin() + 64, file.end());
    }
    EXPECT_EQ(joined, stream);
    EXPECT_EQ(r.bytes, stream.size());
}

TEST_F(RecordSessionTest, UnplugEndsTheSessionWithTheFileClosed) {
    const Traffic t = MakeTraffic(20);
    const RecordSessionResult r = RunSession([&] {
        WaitRecording();
        link.Feed(t.stream);
        ASSERT_TRUE(link.WaitDrained());
        link.Unplug();
    });
    EXPECT_EQ(r.end, RecordSessionEnd::AnalyzerLost);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadFile(dir.File("Cli.qxc")), Recorded(ClosedHeader(t.stream.size()), t.stream));
}

TEST_F(RecordSessionTest, NoUsableAnalyzer) {
    struct Case {
        const char* name;
        std::optional<std::u16string> firmware; // nullopt: nothing plugged in
        RecordSessionEnd end;
    };
    const Case cases[] = {
        {"none plugged in", std::nullopt, RecordSessionEnd::NoAnalyzer},
        {"old firmware", u"1.00", RecordSessionEnd::OldFirmware},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.firmware)
            link.Plug(*c.firmware);
        else
            link.Unplug();
        options.connectTicks = 3;
        const RecordSessionResult r = RunSession([] {});
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.files.empty());
        EXPECT_NE(errors.Text().find(RecordSessionEndText(c.end)), std::string::npos);
        EXPECT_NE(output.Text().find(kWaitingForAnalyzerText), std::string::npos);
        EXPECT_EQ(output.Text().find(kDisconnectedStatusText), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

} // namespace
