// The reader thread against a scripted stream: record files with their header blocks, file switching,
// write failures, live readings, calibration and the VBUS broadcast.
#include "ReaderThread.h"
#include "DeviceConnection.h"
#include "QXDoc.h"
#include "RecordEncoder.h"
#include "support/Blocks.h"
#include "support/FullDiskFile.h"
#include "support/RecordFiles.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using testrec::Bytes;
using testrec::WaitUntil;
using testrec::kFirmware;
using testrec::kSerial;
using testrec::ClosedHeader;
using testrec::Payload;
using testblocks::Sample;

// The stream side of an analyzer: hands out prepared chunks, then waits (a stalled analyzer) until
// more are fed or the link is released. The connection is driven by the test through `connected`.
class CStreamLink : public IAnalyzerLink {
public:
    LinkOpenResult Open(int) override { return LinkOpenResult::NoDevice; }
    bool IsOpen() const override { return true; }
    int GetDescriptor(uint8_t, uint8_t, uint16_t, uint8_t*, int) override { return -1; }
    bool WritePipe(const uint8_t*, int) override { return false; }

    int ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex);
        if (chunks.empty() && !failing && failNext == 0) {
            idle = true;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return !chunks.empty() || failing || kicked || failNext > 0; });
            idle = false;
        } else if (failNext > 0 && !failing) {
            // Only reads that start after FailReads fail; one that was waiting ends empty.
            --failNext;
            return -1;
        }
        kicked = false;
        if (failing) return -1;
        if (chunks.empty()) return 0;
        Bytes& c = chunks.front();
        const int n = std::min(size, int(c.size()));
        std::copy(c.begin(), c.begin() + n, buffer);
        c.erase(c.begin(), c.begin() + n);
        if (c.empty()) chunks.pop_front();
        handedOut += size_t(n);
        return n;
    }

    void Release() override { SetFailing(true); }

    bool ClearReadHalt() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++clears;
        return true;
    }
    int Clears() {
        std::lock_guard<std::mutex> lock(mutex);
        return clears;
    }

    // The next n reads fail at once, as on a halted endpoint; a read already waiting still ends as it
    // would have.
    void FailReads(int n) {
        std::lock_guard<std::mutex> lock(mutex);
        failNext = n;
        idle = false;
        cv.notify_all();
    }

    bool CaptureStarted() override {
        std::lock_guard<std::mutex> lock(mutex);
        captureStarts.push_back({std::this_thread::get_id(), handedOut});
        return restartsAtCapture;
    }

    void SetFailing(bool f) {
        std::lock_guard<std::mutex> lock(mutex);
        failing = f;
        cv.notify_all();
    }

    // A read waiting for data returns at once with nothing.
    void Kick() {
        std::lock_guard<std::mutex> lock(mutex);
        kicked = true;
        cv.notify_all();
    }

    // What the link says at a capture start: whether its stream starts over there.
    void SetRestartsAtCapture(bool r) {
        std::lock_guard<std::mutex> lock(mutex);
        restartsAtCapture = r;
    }

    struct CaptureStart {
        std::thread::id thread;
        size_t handedOutBefore; // stream bytes read before the call
    };
    std::vector<CaptureStart> CaptureStarts() {
        std::lock_guard<std::mutex> lock(mutex);
        return captureStarts;
    }

    void Feed(const Bytes& stream, size_t chunk = kStreamReadSize) {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t at = 0; at < stream.size(); at += chunk)
            chunks.emplace_back(stream.begin() + std::ptrdiff_t(at),
                                stream.begin() + std::ptrdiff_t(std::min(stream.size(), at + chunk)));
        cv.notify_all();
    }

    // Every chunk was read and handled: the thread is back, waiting for more.
    bool WaitDrained() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(30),
                           [&] { return chunks.empty() && failNext == 0 && idle; });
    }

private:
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Bytes> chunks;
    bool idle = false;
    bool failing = false;
    bool kicked = false;
    int failNext = 0;
    int clears = 0;
    bool restartsAtCapture = false;
    size_t handedOut = 0;
    std::vector<CaptureStart> captureStarts;
};

// VBUS blocks of three samples each, stamps 10 µs apart from firstStamp: every block differs.
Bytes SampleStream(size_t blocks, uint32_t firstStamp = 0) {
    Bytes out;
    out.reserve(blocks * 64);
    uint32_t t = firstStamp;
    for (size_t i = 0; i < blocks; ++i, t += 30)
        testblocks::Append(out, testblocks::VbusBlock({{t, 5000}, {t + 10, 5001}, {t + 20, 5002}}));
    return out;
}

class CEdgeRecorder : public IConnStateListener {
public:
    struct Edge {
        int32_t vbus, cc1, cc2;
        bool operator==(const Edge&) const = default;
    };
    void ConnStateChanged(int32_t vbus, int32_t cc1, int32_t cc2) override {
        std::lock_guard<std::mutex> lock(mutex);
        edges.push_back({vbus, cc1, cc2});
    }
    std::vector<Edge> Edges() {
        std::lock_guard<std::mutex> lock(mutex);
        return edges;
    }

private:
    std::mutex mutex;
    std::vector<Edge> edges;
};

class ReaderThreadTest : public testing::Test {
protected:
    void SetUp() override {
        connection.connected = true;
        connection.fwVersionNumber = kFirmware;
        for (size_t i = 0; i < kSerial.size(); ++i) connection.serialBytes[i] = kSerial[i];
    }

    void StartReader(RecordFileOpener opener = CreatePosixRecordFile, const ReaderCalibration& cal = {},
                     IConnStateListener* listener = nullptr) {
        reader = std::make_unique<CReaderThread>(connection, std::move(opener));
        reader->SetCalibration(cal);
        reader->SetConnStateListener(listener);
        reader->SetReadTimeout(readTimeoutMs);
        reader->Start();
    }

    std::string PathFor(int32_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "Test_%04d.qxc", int(n));
        return dir.File(name);
    }

    // What Run does: nothing while a recording runs or a stop is under way; else number, names and
    // limits, the first file, then `capturing` last.
    bool StartRecording(int32_t firstNumber = 1, uint32_t maxMB = 100, bool multi = false) {
        if (reader->capturing || reader->captureStopRequest) return false;
        reader->fileNumber = firstNumber;
        reader->SetRecordFiles([this](int32_t n) { return PathFor(n); }, maxMB, multi);
        if (!reader->OpenRecordFile(PathFor(firstNumber))) return false;
        reader->finalDecodePending = false;
        reader->capturing = true;
        return true;
    }

    // Two reads with a switch to the next file asked for between them (*fed: their bytes), then the wait
    // for the end of the recording, which comes when the next file cannot be opened.
    void FeedAcrossAFailedSwitch(Bytes* fed) {
        *fed = SampleStream(8);
        const Bytes more = SampleStream(8, 5000);
        link.Feed(*fed);
        ASSERT_TRUE(link.WaitDrained());
        reader->rotationRequest = true;
        link.Feed(more);
        ASSERT_TRUE(link.WaitDrained());
        ASSERT_TRUE(WaitUntil([&] { return !reader->capturing; }));
        fed->insert(fed->end(), more.begin(), more.end());
    }

    bool StopAndWait() {
        reader->RequestCaptureStop();
        return WaitUntil([&] { return !reader->capturing && !reader->captureStopRequest; });
    }

    TempDir dir;
    CStreamLink link;
    CDeviceConnection connection{link};
    uint32_t readTimeoutMs = 20;
    std::unique_ptr<CReaderThread> reader;
};

TEST_F(ReaderThreadTest, RecordsTheStreamUnbufferedAndClosesWithTheHeaderBlock) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    const Bytes stream = SampleStream(100);
    link.Feed(stream, 4096);
    ASSERT_TRUE(link.WaitDrained());

    // While recording the decoder already sees every byte, behind the open form of the header block.
    Bytes open(64);
    enc::WriteOpenHeaderBlock(open.data());
    Bytes expected = open;
    expected.insert(expected.end(), stream.begin(), stream.end());
    EXPECT_EQ(ReadFile(PathFor(1)), expected);
    EXPECT_EQ(reader->bytesWritten, stream.size());

    ASSERT_TRUE(StopAndWait());
    expected = ClosedHeader(stream.size());
    expected.insert(expected.end(), stream.begin(), stream.end());
    EXPECT_EQ(ReadFile(PathFor(1)), expected);
    EXPECT_TRUE(reader->finalDecodePending);
    EXPECT_TRUE(reader->viewsDirty);

    // Reads after the stop are no longer appended.
    link.Feed(SampleStream(10, 99999));
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(ReadFile(PathFor(1)).size(), 64 + stream.size());
}

// The link hears of every capture start, on the reader thread, once per recording, before the first read
// the recording keeps. A read under way when the recording started is kept, unless the link's stream
// starts over at the capture start (the emulated analyzer): then those bytes came before the recording.
TEST_F(ReaderThreadTest, LinkIsToldOfEveryCaptureStart) {
    const Bytes a = SampleStream(4, 0), b = SampleStream(4, 1000), c = SampleStream(4, 2000);
    for (const bool restarts : {false, true}) {
        SCOPED_TRACE(restarts ? "the stream starts over" : "the stream goes on");
        link.SetRestartsAtCapture(restarts);
        // A read waits until data comes, so that the second recording starts while one is under way.
        readTimeoutMs = 60000;
        connection.connected = false;
        StartReader();
        const auto stop = [&] {
            reader->RequestCaptureStop();
            link.Kick();
            return WaitUntil([&] { return !reader->capturing && !reader->captureStopRequest; });
        };

        // Started while the thread reads nothing (no analyzer yet): told before the first read.
        ASSERT_TRUE(StartRecording(1));
        connection.connected = true;
        reader->Wake();
        link.Feed(a);
        ASSERT_TRUE(link.WaitDrained());
        ASSERT_TRUE(stop());

        // Started while a read waits: b arrives in that read.
        ASSERT_TRUE(link.WaitDrained());
        ASSERT_TRUE(StartRecording(2));
        link.Feed(b);
        ASSERT_TRUE(link.WaitDrained());
        link.Feed(c);
        ASSERT_TRUE(link.WaitDrained());
        ASSERT_TRUE(stop());

        EXPECT_EQ(ReadFile(PathFor(1)), [&] {
            Bytes expected = ClosedHeader(a.size());
            expected.insert(expected.end(), a.begin(), a.end());
            return expected;
        }());
        Bytes kept = restarts ? c : b;
        if (!restarts) kept.insert(kept.end(), c.begin(), c.end());
        Bytes expected = ClosedHeader(kept.size());
        expected.insert(expected.end(), kept.begin(), kept.end());
        EXPECT_EQ(ReadFile(PathFor(2)), expected);

        // Once per recording, on the thread that reads: before a was read, and after b was.
        const auto starts = link.CaptureStarts();
        const size_t round = restarts ? 1 : 0, earlier = round * (a.size() + b.size() + c.size());
        ASSERT_EQ(starts.size(), 2 * (round + 1));
        EXPECT_NE(starts[2 * round].thread, std::this_thread::get_id());
        EXPECT_EQ(starts[2 * round].thread, starts[2 * round + 1].thread);
        EXPECT_EQ(starts[2 * round].handedOutBefore, earlier);
        EXPECT_EQ(starts[2 * round + 1].handedOutBefore, earlier + a.size() + b.size());

        reader->RequestExit();
        link.Kick();
        reader->WaitForExit();
        reader.reset();
    }
}

TEST_F(ReaderThreadTest, StopWithoutDataLeavesNothingToDecode) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    ASSERT_TRUE(StopAndWait());
    EXPECT_FALSE(reader->finalDecodePending);
    EXPECT_EQ(ReadFile(PathFor(1)), ClosedHeader(0));
}

// A 1 MB limit: a file is switched (or the recording stopped) after the first read that takes it past
// 1,000,000 bytes, header block included: 64 + 62 reads of 16384 bytes.
TEST_F(ReaderThreadTest, SizeLimitSwitchesFilesOrStopsTheRecording) {
    const Bytes stream = SampleStream(2500000 / 64);
    const size_t perFile = 62 * size_t(kStreamReadSize);
    for (const bool multi : {false, true}) {
        SCOPED_TRACE(multi ? "multiple files" : "one file");
        StartReader();
        ASSERT_TRUE(StartRecording(1, 1, multi));
        link.Feed(stream);
        ASSERT_TRUE(link.WaitDrained());
        if (!multi) {
            ASSERT_TRUE(WaitUntil([&] { return !reader->capturing; }));
            const Bytes file = ReadFile(PathFor(1));
            EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), ClosedHeader(perFile));
            EXPECT_EQ(Payload(file), Bytes(stream.begin(), stream.begin() + std::ptrdiff_t(perFile)));
            EXPECT_FALSE(std::filesystem::exists(PathFor(2)));
        } else {
            ASSERT_TRUE(reader->capturing);
            EXPECT_EQ(reader->fileNumber, 3);
            ASSERT_TRUE(StopAndWait());
            Bytes joined;
            for (int32_t n = 1; n <= 3; ++n) {
                const Bytes file = ReadFile(PathFor(n));
                const Bytes payload = Payload(file);
                EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), ClosedHeader(payload.size())) << n;
                if (n < 3) {
                    EXPECT_EQ(payload.size(), perFile) << n;
                }
                joined.insert(joined.end(), payload.begin(), payload.end());
            }
            EXPECT_EQ(joined, stream);
            EXPECT_FALSE(reader->rotatedForFull);
        }
        reader.reset();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
    }
}

TEST_F(ReaderThreadTest, RotationRequestSwitchesAndTheFile9999IsTheLast) {
    StartReader();
    ASSERT_TRUE(StartRecording(9998, 100, true));
    const Bytes a = SampleStream(4, 0), b = SampleStream(4, 1000), c = SampleStream(4, 2000),
                d = SampleStream(4, 3000);
    link.Feed(a);
    ASSERT_TRUE(link.WaitDrained());
    // The switch follows the first read after the request; that read still goes to the old file.
    reader->rotationRequest = true;
    link.Feed(b);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(reader->fileNumber, 9999);
    EXPECT_FALSE(reader->rotationRequest);
    EXPECT_TRUE(reader->rotatedForFull);
    Bytes ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    Bytes expected = ClosedHeader(ab.size());
    expected.insert(expected.end(), ab.begin(), ab.end());
    EXPECT_EQ(ReadFile(PathFor(9998)), expected);

    link.Feed(c);
    ASSERT_TRUE(link.WaitDrained());
    reader->rotationRequest = true;
    link.Feed(d);
    ASSERT_TRUE(link.WaitDrained());
    ASSERT_TRUE(WaitUntil([&] { return !reader->capturing; }));
    EXPECT_EQ(reader->fileNumber, 9999);
    EXPECT_FALSE(std::filesystem::exists(PathFor(10000)));
    Bytes cd = c;
    cd.insert(cd.end(), d.begin(), d.end());
    expected = ClosedHeader(cd.size());
    expected.insert(expected.end(), cd.begin(), cd.end());
    EXPECT_EQ(ReadFile(PathFor(9999)), expected);
    EXPECT_TRUE(reader->finalDecodePending);
}

TEST_F(ReaderThreadTest, NextFileThatCannotBeCreatedEndsTheRecording) {
    StartReader();
    reader->fileNumber = 1;
    reader->SetRecordFiles([this](int32_t n) { return n == 1 ? PathFor(1) : dir.File("missing/x.qxc"); }, 100,
                           true);
    ASSERT_TRUE(reader->OpenRecordFile(PathFor(1)));
    reader->capturing = true;
    Bytes fed;
    ASSERT_NO_FATAL_FAILURE(FeedAcrossAFailedSwitch(&fed));
    // The number stays with the file that exists; its data is still to be decoded.
    EXPECT_EQ(reader->fileNumber, 1);
    EXPECT_TRUE(reader->finalDecodePending);
    const Bytes file = ReadFile(PathFor(1));
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), ClosedHeader(file.size() - 64));
    EXPECT_EQ(file.size(), 64 + fed.size());
}

// Full disk after `room` bytes of stream: the recording ends, the whole blocks written so far stay,
// closed with their header block and decodable.
TEST_F(ReaderThreadTest, WriteFailureEndsTheRecordingWithTheDataWrittenSoFar) {
    struct Case {
        const char* name;
        int64_t room; // stream bytes the disk takes after the header block
    };
    const Case cases[] = {
        {"mid-block", 5000},
        {"at a read boundary", 4096},
        {"nothing after the header", 0},
    };
    const Bytes stream = SampleStream(160); // 10240 bytes, read 1024 at a time
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartReader(FullDiskOpener(64 + c.room));
        ASSERT_TRUE(StartRecording());
        link.Feed(stream, 1024);
        ASSERT_TRUE(WaitUntil([&] { return !reader->capturing; }));
        EXPECT_TRUE(reader->recordWriteFailed);
        const uint64_t kept = uint64_t(c.room) / 64 * 64;
        const Bytes file = ReadFile(PathFor(1));
        ASSERT_EQ(file.size(), 64 + kept);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 64), ClosedHeader(kept));
        EXPECT_EQ(Payload(file), Bytes(stream.begin(), stream.begin() + std::ptrdiff_t(kept)));
        EXPECT_EQ(reader->finalDecodePending, kept != 0);

        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(PathFor(1)));
        EXPECT_EQ(doc.store.SampleCount(), kept / 64 * 3);
        ASSERT_TRUE(link.WaitDrained());
        reader.reset();
    }
}

TEST_F(ReaderThreadTest, FileWithoutRoomForItsHeaderBlockIsNotCreated) {
    StartReader(FullDiskOpener(30));
    EXPECT_FALSE(StartRecording());
    EXPECT_FALSE(std::filesystem::exists(PathFor(1)));
}

TEST_F(ReaderThreadTest, WindowCloseDuringARecordingClosesTheFileFirst) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    const Bytes stream = SampleStream(50);
    link.Feed(stream);
    ASSERT_TRUE(link.WaitDrained());
    reader->RequestExit();
    reader->WaitForExit();
    EXPECT_FALSE(reader->readerRunning);
    EXPECT_FALSE(reader->readerExitRequest);
    EXPECT_FALSE(reader->capturing);
    Bytes expected = ClosedHeader(stream.size());
    expected.insert(expected.end(), stream.begin(), stream.end());
    EXPECT_EQ(ReadFile(PathFor(1)), expected);
}

// After an unplug the connection forgets the analyzer's texts on a later poll; a file closed after that
// still names the analyzer its data came from.
TEST_F(ReaderThreadTest, HeaderBlockNamesTheAnalyzerTheFileWasRecordedFrom) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    const Bytes stream = SampleStream(20);
    link.Feed(stream);
    ASSERT_TRUE(link.WaitDrained());
    connection.connected = false;
    connection.fwVersionNumber = 0;
    for (auto& b : connection.serialBytes) b = 0;
    ASSERT_TRUE(StopAndWait());
    EXPECT_EQ(ReadFile(PathFor(1)), [&] {
        Bytes expected = ClosedHeader(stream.size());
        expected.insert(expected.end(), stream.begin(), stream.end());
        return expected;
    }());
}

// Reads that fail while `connected` is still set, then the connection gone: the thread neither
// records nor hangs, and ends on request.
TEST_F(ReaderThreadTest, FailingReadsAndALostConnectionAreSurvived) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    link.SetFailing(true);
    connection.connected = false;
    reader->RequestCaptureStop();
    ASSERT_TRUE(WaitUntil([&] { return !reader->capturing; }));
    EXPECT_EQ(ReadFile(PathFor(1)), ClosedHeader(0));
    reader->RequestExit();
    reader->WaitForExit();
    EXPECT_FALSE(reader->readerRunning);
}

// Reads that fail in a row while the analyzer still answers (a halted stream endpoint): the third one
// clears the halt, once; when reads still fail after that, the thread gives the analyzer up for the
// connection poll to let go, and stops reading. A read that brings data, or times out with nothing, ends
// the row; the recording keeps everything read.
TEST_F(ReaderThreadTest, ReadsThatKeepFailingClearTheHaltOnceThenGiveTheAnalyzerUp) {
    StartReader();
    ASSERT_TRUE(StartRecording());
    link.FailReads(2);
    ASSERT_TRUE(link.WaitDrained()); // an empty read between
    link.FailReads(2);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(link.Clears(), 0);

    const Bytes a = SampleStream(10);
    link.Feed(a);
    link.FailReads(3);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(link.Clears(), 1);
    EXPECT_FALSE(connection.streamLost);

    const Bytes b = SampleStream(10, 1000);
    link.Feed(b);
    link.FailReads(5); // cleared again, then two failures before an empty read
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(link.Clears(), 2);
    EXPECT_FALSE(connection.streamLost);

    link.FailReads(6);
    ASSERT_TRUE(WaitUntil([&] { return connection.streamLost.load(); }));
    EXPECT_EQ(link.Clears(), 3);
    EXPECT_TRUE(connection.connected); // the poll's to clear
    EXPECT_TRUE(reader->capturing);    // the timer stops the recording once the poll has let go

    ASSERT_TRUE(StopAndWait());
    Bytes expected = ClosedHeader(a.size() + b.size());
    expected.insert(expected.end(), a.begin(), a.end());
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(ReadFile(PathFor(1)), expected);
}

// A symbolic link where a record file goes is not followed, whether it points at a file or at a place
// where none is yet: the record file is not created, and the linked file stays as it was (or absent).
// For the first file Run reports the failed open; for the next file of a series the recording ends.
TEST_F(ReaderThreadTest, RecordFileIsNeverWrittenThroughASymbolicLink) {
    struct Case {
        const char* name;
        bool victimExists;
        int32_t linkedNumber; // 1: the first file; 2: the next file of a series
    };
    const Case cases[] = {
        {"first file, link to a file", true, 1},
        {"first file, link to no file", false, 1},
        {"next file of a series", true, 2},
    };
    const Bytes before = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir elsewhere;
        const std::string victim = elsewhere.File("victim");
        if (c.victimExists) WriteFile(victim, before);
        std::filesystem::create_symlink(victim, PathFor(c.linkedNumber));
        StartReader();
        if (c.linkedNumber == 1) {
            EXPECT_FALSE(StartRecording(1, 100, true));
        } else {
            ASSERT_TRUE(StartRecording(1, 100, true));
            Bytes fed;
            ASSERT_NO_FATAL_FAILURE(FeedAcrossAFailedSwitch(&fed));
            EXPECT_EQ(reader->fileNumber, 1);
            EXPECT_EQ(ReadFile(PathFor(1)), [&] {
                Bytes expected = ClosedHeader(fed.size());
                expected.insert(expected.end(), fed.begin(), fed.end());
                return expected;
            }());
        }
        EXPECT_TRUE(std::filesystem::is_symlink(PathFor(c.linkedNumber)));
        EXPECT_EQ(std::filesystem::exists(victim), c.victimExists);
        if (c.victimExists) {
            EXPECT_EQ(ReadFile(victim), before);
        }
        reader.reset();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
    }
}

struct LiveCase {
    const char* name;
    ReaderCalibration calibration;
    Sample sample;
    int32_t vbusVoltage, vbusCurrent, cc1Voltage, cc1Current, cc2Voltage, cc2Current;
};

TEST_F(ReaderThreadTest, LiveReadingsAreConvertedAndCalibrated) {
    ReaderCalibration vbusPlusOnePercent;
    vbusPlusOnePercent.vbusVoltage = 1010000;
    ReaderCalibration allChanged{990000, 2000000, 1500000, 500000, 1000001, 999999};
    const LiveCase cases[] = {
        {"raw -2 is no current", {}, {0, 5000, -2, 100, 2, 200, 0}, 5000, 0, 100, 0, 200, 0},
        {"raw 1598 is 1500 mA", {}, {0, 5000, 1598, 0, -1598, 0, 3}, 5000, 1500, 0, -1500, 0, 2},
        {"raw 100 truncates toward zero", {}, {0, 0, 100, 0, -100, 0, 0}, 0, 93, 0, -93, 0, 0},
        {"ratio 1.01 on VBUS voltage", vbusPlusOnePercent, {0, 5000, 0, 0, 0, 0, 0}, 5050, 0, 0, 0, 0, 0},
        {"unsigned", {}, {0, 65535, 0, int16_t(40000), 0, int16_t(50000), 0}, 65535, 0, 40000, 0, 50000, 0},
        // Single precision, truncated: 990000 × 20000 / 10^6 = 19800, 1000001 × 3000 / 10^6 = 3000.003,
        // 999999 × -1000 / 10^6 = -999.999.
        {"all six ratios",
         allChanged,
         {0, 20000, 1598, 1000, 1598, 3000, -1066},
         19800,
         3000,
         1500,
         750,
         3000,
         -999},
    };
    for (const LiveCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartReader(CreatePosixRecordFile, c.calibration);
        Bytes block;
        testblocks::Append(block, testblocks::VbusBlock({c.sample}));
        link.Feed(block);
        ASSERT_TRUE(link.WaitDrained());
        const LiveReadings& live = reader->live;
        EXPECT_EQ(live.vbusVoltage, c.vbusVoltage);
        EXPECT_EQ(live.vbusCurrent, c.vbusCurrent);
        EXPECT_EQ(live.cc1Voltage, c.cc1Voltage);
        EXPECT_EQ(live.cc1Current, c.cc1Current);
        EXPECT_EQ(live.cc2Voltage, c.cc2Voltage);
        EXPECT_EQ(live.cc2Current, c.cc2Current);
        reader.reset();
    }
}

TEST_F(ReaderThreadTest, NewestSampleWinsAndOnlyVbusBlocksAreRead) {
    StartReader();
    Bytes stream;
    testblocks::Append(stream, testblocks::VbusBlock({{10, 5000}, {20, 9000}, {30, 12000, 1598}}));
    // Declares 15 samples; only the three inside the block count.
    testblocks::Append(stream, testblocks::VbusBlock({{40, 15000}, {50, 20000}, {60, 19000}}, 15));
    // A CC edge block and a marker block carry no samples.
    testblocks::Append(stream, testblocks::CcBlock(0, 0, 0, 70, {1, 2, 3}));
    Bytes marker(64);
    enc::WriteOpenHeaderBlock(marker.data());
    stream.insert(stream.end(), marker.begin(), marker.end());
    link.Feed(stream);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(reader->live.vbusVoltage, 19000);
    EXPECT_EQ(reader->live.vbusCurrent, 0);
    EXPECT_EQ(reader->live.firstLiveTime, 10);
    EXPECT_EQ(reader->live.lastLiveTime, 60);
}

TEST_F(ReaderThreadTest, LiveTimeExtendsOverTheWrapAndRestartsWithEachFile) {
    StartReader();
    Bytes stream;
    testblocks::Append(stream, testblocks::VbusBlock({{4294967295u - 15, 5000}}));
    testblocks::Append(stream, testblocks::VbusBlock({{16, 5000}}));
    link.Feed(stream);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(reader->live.firstLiveTime, int64_t(4294967296) - 16);
    EXPECT_EQ(reader->live.lastLiveTime, int64_t(4294967296) + 16);
    EXPECT_EQ(reader->live.liveTimeWrap, int64_t(4294967296));

    // A new record file counts from its own first sample, without the old wrap.
    ASSERT_TRUE(StartRecording());
    Bytes next;
    testblocks::Append(next, testblocks::VbusBlock({{100, 5000}, {350, 5000}}));
    link.Feed(next);
    ASSERT_TRUE(link.WaitDrained());
    EXPECT_EQ(reader->live.firstLiveTime, 100);
    EXPECT_EQ(reader->live.lastLiveTime, 350);
    EXPECT_EQ(reader->live.liveTimeWrap, 0);
}

// The broadcast follows the raw VBUS voltage across 1000 mV and carries the calibrated voltages.
TEST_F(ReaderThreadTest, VbusBroadcastOnEveryEdgeOnly) {
    CEdgeRecorder edges;
    ReaderCalibration cal;
    cal.vbusVoltage = 1010000;
    cal.cc1Voltage = 2000000;
    StartReader(CreatePosixRecordFile, cal, &edges);
    Bytes stream;
    const uint16_t vbus[] = {900, 990, 1000, 5000, 5000, 999, 0, 1000};
    uint32_t t = 0;
    for (uint16_t v : vbus) {
        Sample s{t += 10, v};
        s.cc1 = 400;
        s.cc2 = int16_t(v / 10);
        testblocks::Append(stream, testblocks::VbusBlock({s}));
    }
    link.Feed(stream, 128); // edges found across reads as well
    ASSERT_TRUE(link.WaitDrained());
    // Raw 990 is still absent although calibrated it reads 999.
    const std::vector<CEdgeRecorder::Edge> expected = {{1010, 800, 100}, {1008, 800, 99}, {1010, 800, 100}};
    EXPECT_EQ(edges.Edges(), expected);
}

} // namespace
