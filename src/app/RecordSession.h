// A recording without a window, for `qxtool record`: the reader thread, the timer tick and the recording
// control of the main window, driven by a plain loop that prints the status text once per tick.
#pragma once

#include "AnalyzerLink.h"
#include "CaptureStore.h"

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The status lines of a session before it records: the window's texts point at its Run button and the
// USB port, which a terminal does not have.
inline constexpr char kWaitingForAnalyzerText[] = "Waiting for an analyzer...";
inline constexpr char kStartingRecordingText[] = "Analyzer connected; starting the recording.";

struct RecordSessionOptions {
    // Length of the recording in seconds of real time (the steady clock), counted from its start,
    // however long the ticks take; 0 records until stop is set or the recording ends by itself.
    double seconds = 0;
    std::string folder; // empty: the current folder
    std::string caption = "DUDevezud";
    bool appendTimestamp = false;
    bool multiFile = false;
    uint32_t maxFileSizeMB = 100;
    uint32_t samplingIntervalMs = 10; // sent to the analyzer when it connects; 0 sends nothing
    // Record files of an earlier recording under the same names are replaced; otherwise the session
    // ends before it writes anything.
    bool overwrite = false;
    // Timer period. 1000 ms normally; tests run the same loop faster.
    uint32_t tickMs = 1000;
    // Ticks to wait for a usable analyzer before giving up.
    uint32_t connectTicks = 10;
    // Capture store limits. The store drops its oldest packets and samples beyond them (the file keeps
    // everything), so they bound memory, never the recording. Tests make them small.
    uint32_t packetLimit = StoreLimits{}.packetLimit;
    uint32_t sampleLimit = StoreLimits{}.sampleLimit;
};

enum class RecordSessionEnd {
    Duration,       // the asked number of ticks passed
    Stopped,        // stop was set during the recording
    FileSizeLimit,  // the single record file reached its size limit
    LastFileFull,   // the last file of a numbered series (9999) reached its size limit
    NextFileFailed, // the next file of a series could not be created
    AnalyzerLost,   // unplugged during the recording, or its stream could not be read any more
    WriteFailed,    // appending to the record file failed; what was written is kept
    NoAnalyzer,     // none came within connectTicks, or stop was set before one did
    OldFirmware,    // only an analyzer with firmware below 1.01 was found
    FolderUnusable, // the record folder is missing or not a folder
    FileExists,     // a record file exists already and overwrite is off; nothing was written
    CreateFailed,   // the first record file could not be created
};

struct RecordSessionResult {
    RecordSessionEnd end = RecordSessionEnd::NoAnalyzer;
    int exitCode = 1;               // 0 for Duration and Stopped only
    std::string message;            // the line written to err about an unsuccessful end, naming files
    std::vector<std::string> files; // the recording's files in order
    uint64_t bytes = 0;             // stream bytes in those files, header blocks not counted
};

// Runs one recording from the analyzer behind link. stop may be set from another thread or a signal
// handler at any time; the recording then stops cleanly, so that every file gets its header block.
// Status lines go to out, one per tick (what the recording does: waiting, starting, the window's
// capturing text, where it went); messages and the reason for an unsuccessful end go to err,
// one line each.
RecordSessionResult RunRecordSession(IAnalyzerLink& link, const RecordSessionOptions& options,
                                     const std::atomic<bool>& stop, std::ostream& out, std::ostream& err);

// What an end means, in general terms (the session's own message names the files).
const char* RecordSessionEndText(RecordSessionEnd end);
