#include "FileCopy.h"

#include "WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CopyEnd CopyPieces(std::FILE* in, CWholeFile& out, int64_t count, std::vector<char>& buffer, CopyProgress& p,
                   ToolFlags& flags) {
    if (buffer.size() < kCopyPiece) buffer.resize(kCopyPiece);
    int64_t left = count;
    while (left > 0) {
        if (flags.abortRequest.load(std::memory_order_relaxed)) return CopyEnd::Aborted;
        const size_t want = size_t(std::min<int64_t>(left, int64_t(kCopyPiece)));
        const size_t got = std::fread(buffer.data(), 1, want, in);
        if (got == 0) return CopyEnd::InputEnded;
        if (!out.Write(buffer.data(), got)) return CopyEnd::WriteFailed;
        left -= int64_t(got);
        p.copied += int64_t(got);
        if (p.total > 0) flags.progress.store(int(p.copied * 100 / p.total), std::memory_order_relaxed);
    }
    return CopyEnd::Copied;
}

std::FILE* OpenUnbuffered(const char* path, const char* mode) {
    std::FILE* f = std::fopen(path, mode);
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::string CannotReadText(const std::string& path) {
    return path + ": cannot be read: " + std::strerror(errno != 0 ? errno : EIO);
}
