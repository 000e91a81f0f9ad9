// A record file layer on a disk that fills up: appends stop after `room` bytes in all, while rewriting
// bytes that exist (the header block) still works, as it does on a real full disk.
#pragma once

#include "ReaderThread.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

class CFullDiskFile : public IRecordFile {
public:
    CFullDiskFile(std::unique_ptr<IRecordFile> inner, int64_t room) : inner(std::move(inner)), room(room) {}

    bool Append(const uint8_t* data, size_t size, size_t* written) override {
        const size_t n = std::min(size, size_t(std::max<int64_t>(0, room - length)));
        size_t w = 0;
        if (n > 0) inner->Append(data, n, &w);
        length += int64_t(w);
        *written = w;
        return w == size;
    }
    bool WriteAt(int64_t offset, const uint8_t* data, size_t size) override {
        return offset + int64_t(size) <= length && inner->WriteAt(offset, data, size);
    }
    bool Size(int64_t* size) override { return inner->Size(size); }
    bool Truncate(int64_t size) override {
        if (!inner->Truncate(size)) return false;
        length = size;
        return true;
    }
    bool Close() override { return inner->Close(); }

private:
    std::unique_ptr<IRecordFile> inner;
    int64_t room;
    int64_t length = 0;
};

// Files with room for `room` bytes each; a negative room opens plain files.
inline RecordFileOpener FullDiskOpener(int64_t room) {
    return [room](const std::string& path) -> std::unique_ptr<IRecordFile> {
        auto f = CreatePosixRecordFile(path);
        if (!f || room < 0) return f;
        return std::make_unique<CFullDiskFile>(std::move(f), room);
    };
}
