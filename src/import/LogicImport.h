// Import of logic-analyzer captures of the CC lines as record files, read through libsigrok: its
// session files and whatever its input modules read (VCD, CSV, raw binary with a given sample rate,
// ...). The record file gets CC edge blocks only; the captures hold no VBUS readings.
#pragma once

#include "LogicToRecord.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace imp {

struct ImportRequest {
    std::string input, output;
    std::string cc1, cc2; // channel names in the capture; cc2 empty: CC2 stays idle
    uint16_t clockSetting = 0;
    // Empty: a session file, or the input module that recognises the file. Otherwise an input module
    // id with options, as "binary:samplerate=6M:numchannels=8".
    std::string format;
    bool overwrite = false;
    // Set from elsewhere (a signal handler, a dialog's Cancel) to stop the import; nothing is left.
    const std::atomic<bool>* cancel = nullptr;
    // Read the capture in a child process, which a stop ends at once whatever the library is doing;
    // otherwise the stop waits for the library's next packet or chunk. Only for a caller without other
    // threads (the child is a copy of the calling thread alone, and any lock another thread held stays
    // held in it).
    bool separateProcess = false;
};

struct ImportReport {
    bool ok = false;
    std::string error; // one line naming the file and the cause, when !ok
    std::string format; // session file, or the input module's id
    uint64_t sampleRate = 0;
    uint64_t samples = 0;
    std::string channelName[2];
    ChannelTally tally[2];
    uint64_t moved = 0; // transitions placed one tick off (a distance of a whole number of 256 ticks)
    uint64_t bytes = 0; // record file size
};

// Reads the capture and writes the record file, through a temporary file beside it that replaces
// the output only when everything went well.
ImportReport ImportLogicCapture(const ImportRequest& request);

// A kind of file the import reads: the input module's id ("session" for session files), its description
// as the library gives it, and the file name extensions it is known by (without dots).
struct CaptureFormat {
    std::string id, description;
    std::vector<std::string> extensions;
};

// What libsigrok reads, asked from the library: its session files first, then every input module that
// names the extensions of its files, in the library's order. Modules that recognise their files by
// content alone (raw binary) have none and are not listed.
std::vector<CaptureFormat> ReadableCaptureFormats();

// The names of the capture's logic channels in its order, read the way the import reads the file
// (format as in ImportRequest). false with *error one line naming the file and the cause.
bool ListLogicChannels(const std::string& path, const std::string& format, std::vector<std::string>* names,
                       std::string* error);

} // namespace imp
