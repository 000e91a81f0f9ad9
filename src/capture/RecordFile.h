// What a record file is before it is decoded: the check that it is one at all, and what its closed
// header block promises. The window and qxtool apply the same check and give the same reasons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rec {

// Header block entry of a file without VBUS samples (an imported logic capture): the analyzer-clock
// time in µs of time 0, which otherwise comes from the first sample. Readers that do not know the
// type skip it.
constexpr uint8_t kCaptureOriginEntry = 6;

// Adds that entry to a closed header block (entries 1 to 4), in place of its end mark, which follows it.
void AddCaptureOriginEntry(uint8_t* headerBlock, int64_t origin);

// The closed header block of a file that holds streamBytes taken from the stream of another record
// file, whose first block is source: that file's firmware version and serial number (zeros when it
// has no closed header block), and the capture origin entry with origin.
void WriteTakenHeaderBlock(uint8_t* block, const uint8_t* source, uint64_t streamBytes, int64_t origin);

struct RecordFileHead {
    int64_t size = 0;          // length of the file in bytes
    std::vector<uint8_t> head; // its first blocks (up to 64)
};

// Reads the head of path and checks that it holds a record stream. On failure *reason says why, in a
// few words to follow the file name ("not a record file", "is a folder", the system's error text).
bool CheckRecordFile(const std::string& path, RecordFileHead* file, std::string* reason);

// Stream bytes the closed header block says were written after it; -1 when the first block is not a
// closed header block (a recording that never closed, or a file without one).
int64_t HeaderBytesWritten(const RecordFileHead& file);
// Where in a 64-byte block that count lies (the value of its first entry 4); -1 when it has none.
int BytesWrittenPlace(const uint8_t* block);

// Bytes the header block promises that the file lacks (a copy cut short); 0 when none are missing or
// the header block promises nothing.
int64_t MissingBytes(const RecordFileHead& file);

// "N bytes of the recording are missing at the end of the file (...)", for the window and qxtool.
std::string MissingBytesText(int64_t missing, int64_t promised);

} // namespace rec
