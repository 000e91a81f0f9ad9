// The reader thread: reads the analyzer's record stream for the whole life of the main window, appends
// it to the record file while a recording runs, closes each record file with its header block, switches
// to the next file of a series, keeps the live readings of the newest VBUS sample and tells listeners
// when VBUS comes or goes. It never decodes CC traffic; the main window's timer decodes the record file.
//
// The thread and the user-interface thread share only the atomics below and the connection's
// `streamLost`. Each flag has one side that sets it and one that clears it (noted at each member), and
// both sides poll; no lock guards them. The record file object is touched by the user-interface thread
// only while `capturing` is false.
#pragma once

#include "DeviceConnection.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One record file open for writing. Appends go to the end of the file; the header block is rewritten in
// place when the file is closed. Other programs (the decoder) may read the file meanwhile.
class IRecordFile {
public:
    virtual ~IRecordFile() = default;
    // Appends size bytes. *written receives how many reached the file, all of them on success; on a
    // failure (full disk, medium removed) the bytes before the failure stay in the file.
    virtual bool Append(const uint8_t* data, size_t size, size_t* written) = 0;
    // Overwrites bytes that already exist (the header block).
    virtual bool WriteAt(int64_t offset, const uint8_t* data, size_t size) = 0;
    virtual bool Size(int64_t* size) = 0;
    virtual bool Truncate(int64_t size) = 0;
    virtual bool Close() = 0;
};

// Creates a record file (created fresh, or truncated), or returns null.
using RecordFileOpener = std::function<std::unique_ptr<IRecordFile>(const std::string& path)>;

// The file layer of the operating system: unbuffered writes, so that the decoder sees every byte as
// soon as the write returns.
std::unique_ptr<IRecordFile> CreatePosixRecordFile(const std::string& path);

// Calibration ratios × 10^6 of the six live readings; 1000000 leaves a reading unchanged.
struct ReaderCalibration {
    int32_t vbusVoltage = 1000000;
    int32_t vbusCurrent = 1000000;
    int32_t cc1Voltage = 1000000;
    int32_t cc1Current = 1000000;
    int32_t cc2Voltage = 1000000;
    int32_t cc2Current = 1000000;
};

// Told on the reader thread whenever the raw VBUS voltage crosses 1000 mV, either way, with the
// calibrated voltages of that sample. The main window forwards it as the connection-state broadcast.
class IConnStateListener {
public:
    virtual ~IConnStateListener() = default;
    virtual void ConnStateChanged(int32_t vbusMv, int32_t cc1Mv, int32_t cc2Mv) = 0;
};

// The newest VBUS sample, calibrated, and the elapsed time of the current record file. Written by the
// reader thread only; displays may read a set of values that is half updated.
struct LiveReadings {
    std::atomic<int32_t> vbusVoltage{0}; // mV
    std::atomic<int32_t> vbusCurrent{0}; // mA
    std::atomic<int32_t> cc1Voltage{0};
    std::atomic<int32_t> cc1Current{0};
    std::atomic<int32_t> cc2Voltage{0};
    std::atomic<int32_t> cc2Current{0};
    std::atomic<int64_t> firstLiveTime{-1}; // all ones until the first sample after a file opened
    std::atomic<int64_t> lastLiveTime{0};
    std::atomic<int64_t> liveTimeWrap{0};
    std::atomic<uint32_t> previousTimeStamp{0};
};

// The header block at the start of every record file.
inline constexpr int kHeaderBlockSize = 64;
// File numbers of a series run from 1 to this; the recording stops when the last file is full.
inline constexpr int32_t kMaxRecordFileNumber = 9999;

class CReaderThread {
public:
    explicit CReaderThread(CDeviceConnection& connection, RecordFileOpener opener = CreatePosixRecordFile);
    // Asks the thread to end and waits for it; a running recording gets its header block.
    ~CReaderThread();
    CReaderThread(const CReaderThread&) = delete;
    CReaderThread& operator=(const CReaderThread&) = delete;

    // Set before Start.
    void SetCalibration(const ReaderCalibration& c) { calibration = c; }
    void SetConnStateListener(IConnStateListener* l) { listener = l; }
    // How long one read of the stream may wait for data, so that requests are seen while the analyzer
    // sends nothing.
    void SetReadTimeout(uint32_t ms) { readTimeoutMs = ms; }
    // Test seam, set before Start: called on the thread while it ends a recording, after `capturing`
    // went and before `captureStopRequest` goes, so that a test can act there as the user-interface
    // thread would.
    void SetStopSeam(std::function<void()> seam) { stopSeam = std::move(seam); }

    // Sets `readerRunning` and starts the thread (window creation).
    void Start();
    // Sets `readerExitRequest` when the thread runs (window close).
    void RequestExit();
    // Waits until the thread has ended (window destruction).
    void WaitForExit();

    // Names the files of the recording about to start and the limits the thread switches by. Called
    // by Run on the user-interface thread while `capturing` is false.
    void SetRecordFiles(std::function<std::string(int32_t fileNumber)> pathForNumber, uint32_t maxFileSizeMB,
                        bool multiFile);

    // Closes the current file with its header block, then creates the file at path with an empty
    // marker block where the header block goes. Used by Run (while `capturing` is false) and by the
    // thread when it switches files.
    bool OpenRecordFile(const std::string& path);

    // Sets `captureStopRequest` and wakes the thread (Stop, Clear and the timer).
    void RequestCaptureStop();
    // Ends a wait of the thread at once, e.g. after the connection poll found an analyzer.
    void Wake();

    // Shared flags and values; "set"/"cleared" say which side writes them.
    std::atomic<bool> readerRunning{false};      // set by Start; cleared by the thread as its last act
    std::atomic<bool> readerExitRequest{false};  // set by the window's close; cleared by the thread on exit
    std::atomic<bool> capturing{false};          // set by Run; cleared by the thread
    std::atomic<bool> captureStopRequest{false}; // set by Stop, Clear, the timer and the thread; cleared
                                                 // by the thread only (Run waits until it is clear)
    std::atomic<bool> finalDecodePending{false}; // set by the thread; cleared by the timer
    std::atomic<bool> viewsDirty{false};         // set by the thread; cleared by the timer
    std::atomic<bool> rotationRequest{false}; // set by the timer; cleared when the next file opens and by Run
    std::atomic<bool> rotatedForFull{false};  // set when a file opens on a rotation request; cleared by
                                              // Run and every document reset
    std::atomic<int32_t> fileNumber{0};       // set to 1 by Run; incremented by the thread
    std::atomic<uint64_t> bytesWritten{0};    // stream bytes after the header block of the current file
    // Appending to the record file failed and the recording was ended. Set by the thread; cleared by
    // the timer when it has told the user.
    std::atomic<bool> recordWriteFailed{false};

    LiveReadings live;

private:
    void Body();
    void StopCapture();
    void CloseRecordFile();
    void Append(const uint8_t* data, int size);
    void SwitchFile();
    void ScanSamples(const uint8_t* data, int size);
    void Sleep(uint32_t ms);
    void ReadFailed();

    CDeviceConnection& connection;
    RecordFileOpener opener;
    ReaderCalibration calibration;
    IConnStateListener* listener = nullptr;
    uint32_t readTimeoutMs = 200;
    std::function<void()> stopSeam;

    // The record file and what its header block will carry. Owned by whichever side may touch the file
    // (see `capturing`).
    std::unique_ptr<IRecordFile> file;
    uint16_t headerFirmware = 0;
    std::array<uint8_t, 12> headerSerial{};
    std::function<std::string(int32_t)> pathForNumber;
    std::atomic<uint32_t> maxFileSizeMB{100};
    std::atomic<bool> multiFile{false};

    // Set when a file opens; the thread restarts the live time of the new file at its next sample.
    std::atomic<bool> liveTimeRestart{false};
    bool vbusPresent = false;      // thread only
    bool captureAnnounced = false; // thread only: the link was told of the running recording
    int failedReads = 0;           // thread only: reads that failed in a row
    bool haltCleared = false;      // thread only: the halt was cleared during this row of failures

    std::thread thread;
    std::mutex wakeMutex; // guards only `wakeup`, for the waits
    std::condition_variable wakeCv;
    bool wakeup = false;
};
