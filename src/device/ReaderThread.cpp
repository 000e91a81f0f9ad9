#include "ReaderThread.h"

#include "RecordEncoder.h"
#include "RecordStream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// After a failed read while `connected` is still set (the analyzer just went and the next poll will
// notice), a short pause keeps the thread from spinning on reads that fail at once.
constexpr uint32_t kFailedReadPauseMs = 10;
constexpr uint32_t kDisconnectedSleepMs = 1000;
// Reads that fail in a row before the stream endpoint's halt is cleared, and again after that before the
// analyzer is given up.
constexpr int kFailedReadsBeforeClear = 3;
constexpr int64_t kTimeWrap = int64_t(1) << 32;

class CPosixRecordFile : public IRecordFile {
public:
    explicit CPosixRecordFile(int fd) : fd(fd) {}
    ~CPosixRecordFile() override { Close(); }

    bool Append(const uint8_t* data, size_t size, size_t* written) override {
        size_t done = 0;
        while (done < size) {
            const ssize_t r = ::write(fd, data + done, size - done);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            done += size_t(r);
        }
        *written = done;
        return done == size;
    }

    bool WriteAt(int64_t offset, const uint8_t* data, size_t size) override {
        size_t done = 0;
        while (done < size) {
            const ssize_t r = ::pwrite(fd, data + done, size - done, off_t(offset + int64_t(done)));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            done += size_t(r);
        }
        return true;
    }

    bool Size(int64_t* size) override {
        struct stat st {};
        if (::fstat(fd, &st) != 0) return false;
        *size = int64_t(st.st_size);
        return true;
    }

    bool Truncate(int64_t size) override {
        // Appends go on from the new end.
        return ::ftruncate(fd, off_t(size)) == 0 && ::lseek(fd, off_t(size), SEEK_SET) == off_t(size);
    }

    bool Close() override {
        if (fd < 0) return true;
        const bool ok = ::close(fd) == 0;
        fd = -1;
        return ok;
    }

private:
    int fd;
};

} // namespace

std::unique_ptr<IRecordFile> CreatePosixRecordFile(const std::string& path) {
    // Not O_APPEND: the header block is rewritten in place with pwrite, which O_APPEND would redirect.
    // O_NOFOLLOW: a symbolic link put where the file goes must not make it truncate or create another
    // file; the open fails instead.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<CPosixRecordFile>(fd);
}

CReaderThread::CReaderThread(CDeviceConnection& c, RecordFileOpener o)
    : connection(c), opener(std::move(o)) {}

CReaderThread::~CReaderThread() {
    RequestExit();
    WaitForExit();
    CloseRecordFile();
}

void CReaderThread::Start() {
    if (readerRunning) return;
    WaitForExit(); // a thread that ended on its own is joined before the next starts
    readerExitRequest = false;
    readerRunning = true;
    thread = std::thread([this] { Body(); });
}

void CReaderThread::RequestExit() {
    if (!readerRunning) return;
    readerExitRequest = true;
    Wake();
}

void CReaderThread::WaitForExit() {
    if (thread.joinable()) thread.join();
}

void CReaderThread::SetRecordFiles(std::function<std::string(int32_t)> paths, uint32_t maxMB, bool multi) {
    pathForNumber = std::move(paths);
    maxFileSizeMB = maxMB;
    multiFile = multi;
}

void CReaderThread::RequestCaptureStop() {
    captureStopRequest = true;
    Wake();
}

void CReaderThread::Wake() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        wakeup = true;
    }
    wakeCv.notify_all();
}

void CReaderThread::Sleep(uint32_t ms) {
    std::unique_lock<std::mutex> lock(wakeMutex);
    wakeCv.wait_for(lock, std::chrono::milliseconds(ms),
                    [this] { return wakeup || readerExitRequest.load(); });
    wakeup = false;
}

bool CReaderThread::OpenRecordFile(const std::string& path) {
    CloseRecordFile();
    std::unique_ptr<IRecordFile> f = opener ? opener(path) : nullptr;
    if (!f) return false;
    uint8_t block[kHeaderBlockSize];
    enc::WriteOpenHeaderBlock(block);
    size_t written = 0;
    if (!f->Append(block, sizeof block, &written)) {
        // Not even the header block fits: leave no file behind that looks like a record.
        f->Close();
        ::unlink(path.c_str());
        return false;
    }
    file = std::move(f);
    // The analyzer cannot change while a file is open (unplugging stops the recording), so the header
    // block takes the firmware and serial of now; by the time the file closes after an unplug, the
    // connection may already have forgotten them.
    headerFirmware = connection.fwVersionNumber;
    headerSerial = connection.SerialBytes();
    bytesWritten = 0;
    liveTimeRestart = true;
    if (rotationRequest) {
        rotatedForFull = true;
        rotationRequest = false;
    }
    return true;
}

void CReaderThread::CloseRecordFile() {
    if (!file) return;
    uint8_t block[kHeaderBlockSize];
    enc::WriteClosedHeaderBlock(block, headerFirmware, headerSerial.data(), bytesWritten);
    // When even this fails the open form of the header block stays: the file remains a readable record.
    file->WriteAt(0, block, sizeof block);
    file->Close();
    file.reset();
}

void CReaderThread::Body() {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStreamReadSize]);
    if (buffer) {
        vbusPresent = false;
        captureAnnounced = false;
        for (;;) {
            if (readerExitRequest) {
                if (!capturing) break;
                captureStopRequest = true;
            }
            if (captureStopRequest) StopCapture();
            // Given up, the analyzer waits for the poll to let it go.
            if (!connection.connected || connection.streamLost) {
                failedReads = 0;
                haltCleared = false;
                Sleep(kDisconnectedSleepMs);
                continue;
            }
            if (capturing && !captureAnnounced) {
                captureAnnounced = true;
                connection.Link().CaptureStarted();
            }
            const int n = connection.Link().ReadPipe(buffer.get(), kStreamReadSize, readTimeoutMs);
            if (n < 0) {
                ReadFailed();
                continue;
            }
            failedReads = 0;
            haltCleared = false;
            if (n == 0) continue;
            if (capturing) {
                // The recording began while this read was under way. A link that starts its stream
                // over now sent these bytes before that: they are neither kept nor shown.
                if (!captureAnnounced) {
                    captureAnnounced = true;
                    if (connection.Link().CaptureStarted()) continue;
                }
                Append(buffer.get(), n);
            }
            ScanSamples(buffer.get(), n);
        }
        readerExitRequest = false;
    }
    viewsDirty = true;
    readerRunning = false;
}

// A halted stream endpoint fails every read at once, while the connection poll, whose requests go to
// the default pipe, finds nothing wrong. A few failures in a row clear the halt, once; when reads still
// fail after that, the analyzer is given up: the poll lets it go as if it were unplugged, and a running
// recording stops on that tick. An analyzer that went away fails its reads too; for it this changes
// nothing, the poll finds it gone.
void CReaderThread::ReadFailed() {
    if (++failedReads >= kFailedReadsBeforeClear) {
        failedReads = 0;
        if (haltCleared || !connection.Link().ClearReadHalt()) {
            connection.streamLost = true;
            return;
        }
        haltCleared = true;
    }
    Sleep(kFailedReadPauseMs);
}

// The file is closed and `finalDecodePending` set before `capturing` goes, and `captureStopRequest`
// goes last. Run starts the next recording only once both are clear, so the request cleared here is
// never one meant for a later recording, and Run's own clearing of `finalDecodePending` always comes
// after this stop set it. A Stop that finds `capturing` already clear does nothing; one that set the
// request just as `capturing` went leaves it to the next pass, which clears it.
void CReaderThread::StopCapture() {
    if (capturing) {
        CloseRecordFile();
        if (bytesWritten != 0) finalDecodePending = true;
        viewsDirty = true;
        captureAnnounced = false;
        capturing = false;
        if (stopSeam) stopSeam();
    }
    captureStopRequest = false;
}

void CReaderThread::Append(const uint8_t* data, int size) {
    if (file) {
        size_t written = 0;
        const bool ok = file->Append(data, size_t(size), &written);
        bytesWritten += written;
        if (!ok) {
            // Full disk or medium gone: the recording ends with everything written so far. A block cut
            // in half is dropped so that the file stays whole blocks; the header block follows at the
            // stop, rewritten in place, which needs no new space.
            const uint64_t kept = bytesWritten / rec::kBlockSize * rec::kBlockSize;
            if (kept != bytesWritten && file->Truncate(int64_t(kHeaderBlockSize + kept))) bytesWritten = kept;
            recordWriteFailed = true;
            captureStopRequest = true;
            return;
        }
    }
    // A limit below the setting's range of 1 to 9999 counts as 1, so that a stored 0 does not start a
    // new file after every read.
    const uint64_t limit = uint64_t(std::max<uint32_t>(maxFileSizeMB, 1)) * 1000000;
    int64_t fileSize = 0;
    if ((file && file->Size(&fileSize) && uint64_t(fileSize) > limit) || rotationRequest) SwitchFile();
}

void CReaderThread::SwitchFile() {
    const int32_t n = fileNumber;
    if (!multiFile || n >= kMaxRecordFileNumber || !pathForNumber) {
        captureStopRequest = true;
        return;
    }
    // The number goes up only once the file exists, so that the timer never points the document at a
    // file that failed to open.
    if (!OpenRecordFile(pathForNumber(n + 1))) {
        captureStopRequest = true;
        return;
    }
    fileNumber = n + 1;
}

void CReaderThread::ScanSamples(const uint8_t* data, int size) {
    // A file opened since the last read (by Run, or by the switch just made): its elapsed time starts
    // with the samples of this read.
    if (liveTimeRestart.exchange(false)) {
        live.firstLiveTime = -1;
        live.lastLiveTime = 0;
        live.liveTimeWrap = 0;
        live.previousTimeStamp = 0;
    }
    for (int offset = 0; offset + rec::kBlockSize <= size; offset += rec::kBlockSize) {
        const uint8_t* block = data + offset;
        const uint16_t word = rec::ReadU16(block);
        if (!(word & 0x2000)) continue;
        const int count = std::min(word & 0x0F, rec::kSamplesPerBlock);
        for (int k = 0; k < count; ++k) {
            const uint8_t* s = block + 2 + rec::kSampleSize * k;
            const uint32_t stamp = rec::ReadU32(s);
            const uint16_t vbusRaw = rec::ReadU16(s + 4);
            const int32_t vbus = rec::Calibrate(vbusRaw, calibration.vbusVoltage);
            const int32_t cc1 = rec::Calibrate(rec::ReadU16(s + 8), calibration.cc1Voltage);
            const int32_t cc2 = rec::Calibrate(rec::ReadU16(s + 12), calibration.cc2Voltage);
            live.vbusVoltage = vbus;
            live.vbusCurrent =
                rec::Calibrate(rec::ConvertCurrent(rec::ReadI16(s + 6)), calibration.vbusCurrent);
            live.cc1Voltage = cc1;
            live.cc1Current =
                rec::Calibrate(rec::ConvertCurrent(rec::ReadI16(s + 10)), calibration.cc1Current);
            live.cc2Voltage = cc2;
            live.cc2Current =
                rec::Calibrate(rec::ConvertCurrent(rec::ReadI16(s + 14)), calibration.cc2Current);

            if (live.previousTimeStamp > stamp) live.liveTimeWrap += kTimeWrap;
            live.previousTimeStamp = stamp;
            const int64_t t = live.liveTimeWrap + int64_t(stamp);
            live.lastLiveTime = t;
            if (live.firstLiveTime == -1) live.firstLiveTime = t;

            const bool present = vbusRaw >= 1000;
            if (present != vbusPresent && listener) listener->ConnStateChanged(vbus, cc1, cc2);
            vbusPresent = present;
        }
    }
}
