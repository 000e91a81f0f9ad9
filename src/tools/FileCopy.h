// Piecewise copy through one 1 MiB buffer, shared by the record-range export and the stitch.
#pragma once

#include "ToolWorker.h"

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr size_t kCopyPiece = 1048576;

struct CopyProgress {
    int64_t copied = 0; // bytes copied so far, over all files
    int64_t total = 0;
};

// Copies up to count bytes from in to out, writing what each read returns. After each piece the
// progress becomes copied * 100 / total. Stops early at the end of in, a failed write or an abort
// request; returns whether all count bytes went over.
bool CopyPieces(std::FILE* in, std::FILE* out, int64_t count, std::vector<char>& buffer, CopyProgress& p,
                ToolFlags& flags);

// fopen without the stdio buffer: the copy's own buffer is the only one.
std::FILE* OpenUnbuffered(const char* path, const char* mode);
