// Helpers of the recording tests (reader thread, recording control, emulated recordings): waiting for the
// reader thread, and the record files the test analyzer's recordings make.
#pragma once

#include "RecordEncoder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace testrec {

using Bytes = std::vector<uint8_t>;

// Waits for another thread; the limit only keeps a broken build from hanging.
template <class Pred> bool WaitUntil(Pred pred) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The test analyzer: firmware "1.10" and its serial number.
constexpr uint16_t kFirmware = 0x110;
inline constexpr std::array<uint8_t, 12> kSerial = {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD,
                                                    0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};

// The header block a recording of `bytes` stream bytes ends with.
inline Bytes ClosedHeader(uint64_t bytes, uint16_t firmware = kFirmware) {
    Bytes b(64);
    enc::WriteClosedHeaderBlock(b.data(), firmware, kSerial.data(), bytes);
    return b;
}

// A record file's header block, and the stream after it.
inline Bytes Head(const Bytes& file) {
    return Bytes(file.begin(), file.begin() + std::min<std::ptrdiff_t>(64, std::ptrdiff_t(file.size())));
}
inline Bytes Payload(const Bytes& file) {
    return file.size() < 64 ? Bytes() : Bytes(file.begin() + 64, file.end());
}

inline Bytes Slice(const Bytes& b, size_t from, size_t to) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}

} // namespace testrec
