// An output file that is there whole or not at all: it is written under a hidden temporary name beside
// its final one and renamed into place only once everything is written and on the disk. A failure or
// an abandoned write removes the temporary file, so no partial output is left behind (a crash can
// leave only the hidden file), and a file already at the final name stays as it was until the rename
// replaces it. The record-file import, the export and the stitch write through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CWholeFile {
public:
    CWholeFile() = default;
    ~CWholeFile() { Discard(); }
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;

    // Creates the temporary file (mode 0644) in the folder of path. bufferSize 0 writes without a
    // stdio buffer, for callers that gather their own pieces.
    bool Open(const std::string& path, size_t bufferSize = 0);
    // Appends; after the first failure every write fails and Error() names that failure.
    bool Write(const void* data, size_t size);
    // Rewrites bytes already written (a header block completed at the end); appending goes on after.
    bool WriteAt(int64_t offset, const void* data, size_t size);
    // Flushes to the disk and renames the file into place; on failure nothing is left behind.
    bool Commit();
    // Removes the temporary file; the final name is not touched.
    void Discard();

    bool Failed() const { return error != 0; }
    // "<path>: cannot be written: <the system's text>".
    std::string Error() const;

private:
    void Fail();

    std::string target, temp;
    std::FILE* file = nullptr;
    int error = 0;
};

// Whether two paths name one file: the same file reached through a hard or symbolic link, or, where
// either does not exist (an output not written yet), the same path once made absolute and normal.
// An empty path names no file.
bool SameFile(const std::string& a, const std::string& b);

// "<output>: is an input file; choose another output", the refusal of an output that is an input.
std::string InputFileText(const std::string& output);
