#include "RecordFile.h"

#include "RecordEncoder.h"
#include "RecordStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace rec {

bool CheckRecordFile(const std::string& path, RecordFileHead* file, std::string* reason) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *reason = "is a folder";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *reason = std::strerror(errno);
        return false;
    }
    file->head.assign(size_t(kBlockSize) * 64, 0);
    const size_t n = std::fread(file->head.data(), 1, file->head.size(), f);
    const bool readError = std::ferror(f);
    std::fseek(f, 0, SEEK_END);
    file->size = int64_t(ftello(f));
    std::fclose(f);
    file->head.resize(n);
    if (readError) {
        *reason = "cannot be read";
        return false;
    }
    if (n == 0) {
        *reason = "is empty";
        return false;
    }
    if (!LooksLikeRecordStream(file->head.data(), file->head.size())) {
        *reason = "not a record file";
        return false;
    }
    return true;
}

int BytesWrittenPlace(const uint8_t* block) {
    if (ClassifyBlock(block) != BlockKind::Marker) return -1;
    int place = -1;
    ForEachMarkerEntry(block, [&](const MarkerEntry& e) {
        if (e.type != 4 || e.length < 8) return true;
        place = int(e.value - block);
        return false;
    });
    return place;
}

int64_t HeaderBytesWritten(const RecordFileHead& file) {
    if (file.head.size() < size_t(kBlockSize)) return -1;
    const int place = BytesWrittenPlace(file.head.data());
    if (place < 0) return -1;
    const uint64_t v = ReadU64(file.head.data() + place);
    // A count no file could hold is damage, not a promise.
    return v > uint64_t(INT64_MAX) - kBlockSize ? -1 : int64_t(v);
}

void AddCaptureOriginEntry(uint8_t* headerBlock, int64_t origin) {
    constexpr int at = 34; // where a closed header block has its end mark
    headerBlock[at] = kCaptureOriginEntry;
    headerBlock[at + 1] = 8;
    WriteU64(headerBlock + at + 2, uint64_t(origin));
    headerBlock[at + 10] = 255;
}

void WriteTakenHeaderBlock(uint8_t* block, const uint8_t* source, uint64_t streamBytes, int64_t origin) {
    uint16_t firmware = 0;
    uint8_t serial[12] = {};
    if (BytesWrittenPlace(source) >= 0)
        ForEachMarkerEntry(source, [&](const MarkerEntry& e) {
            if (e.type == 2 && e.length >= 2) firmware = ReadU16(e.value);
            if (e.type == 3 && e.length >= 12) std::memcpy(serial, e.value, sizeof serial);
            return true;
        });
    enc::WriteClosedHeaderBlock(block, firmware, serial, streamBytes);
    AddCaptureOriginEntry(block, origin);
}

int64_t MissingBytes(const RecordFileHead& file) {
    const int64_t promised = HeaderBytesWritten(file);
    if (promised < 0) return 0;
    const int64_t expected = kBlockSize + promised;
    return file.size < expected ? expected - file.size : 0;
}

std::string MissingBytesText(int64_t missing, int64_t promised) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%lld bytes of the recording are missing at the end of the file (its header block says "
                  "%lld were recorded); the file was cut short.",
                  static_cast<long long>(missing), static_cast<long long>(promised));
    return text;
}

} // namespace rec
