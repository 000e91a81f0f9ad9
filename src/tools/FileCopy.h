// Piecewise copy through one 1 MiB buffer, shared by the record-range export and the stitch.
#pragma once

#include "ToolWorker.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CWholeFile;

constexpr size_t kCopyPiece = 1048576;

struct CopyProgress {
    int64_t copied = 0; // bytes copied so far, over all files
    int64_t total = 0;
};

enum class CopyEnd { Copied, Aborted, WriteFailed, InputEnded };

// Copies up to count bytes from in to out, writing what each read returns. After each piece the
// progress becomes copied * 100 / total. Stops early at the end of in (or a failed read), a failed
// write or an abort request, and says which.
CopyEnd CopyPieces(std::FILE* in, CWholeFile& out, int64_t count, std::vector<char>& buffer, CopyProgress& p,
                   ToolFlags& flags);

// fopen without the stdio buffer: the copy's own buffer is the only one.
std::FILE* OpenUnbuffered(const char* path, const char* mode);

// "<path>: cannot be read: <the system's text>", with the errno of the failed open or read.
std::string CannotReadText(const std::string& path);
