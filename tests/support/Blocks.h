// Hand-made record blocks for tests that need exact control over every byte.
#pragma once

#include "RecordStream.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testblocks {

using Block = std::array<uint8_t, rec::kBlockSize>;

inline Block CcBlock(int counter, int sub, int channel, uint32_t stamp, const std::vector<uint8_t>& edges,
                     uint16_t clockSetting = 0) {
    Block b{};
    rec::WriteU16(b.data(), uint16_t((sub & 0x0F) | ((counter & 0xFF) << 4) | (channel << 14)));
    rec::WriteU32(b.data() + 2, stamp);
    rec::WriteU16(b.data() + 6, clockSetting);
    // Unfilled edge bytes repeat the last given byte: fillers.
    uint8_t last = edges.empty() ? 0 : edges.back();
    for (int i = 0; i < rec::kEdgeBytesPerBlock; ++i)
        b[8 + i] = i < int(edges.size()) ? edges[size_t(i)] : last;
    return b;
}

struct Sample {
    uint32_t stamp;
    uint16_t vbus = 5000;
    int16_t vbusRaw = 0;
    int16_t cc1 = 0;
    int16_t cc1Raw = 0;
    int16_t cc2 = 0;
    int16_t cc2Raw = 0;
};

inline Block VbusBlock(std::initializer_list<Sample> samples, int declaredCount = -1) {
    Block b{};
    const int n = declaredCount >= 0 ? declaredCount : int(samples.size());
    rec::WriteU16(b.data(), uint16_t(0x2000 | (n & 0x0F)));
    int k = 0;
    for (const Sample& s : samples) {
        uint8_t* p = b.data() + 2 + 16 * k++;
        rec::WriteU32(p, s.stamp);
        rec::WriteU16(p + 4, s.vbus);
        rec::WriteU16(p + 6, uint16_t(s.vbusRaw));
        rec::WriteU16(p + 8, uint16_t(s.cc1));
        rec::WriteU16(p + 10, uint16_t(s.cc1Raw));
        rec::WriteU16(p + 12, uint16_t(s.cc2));
        rec::WriteU16(p + 14, uint16_t(s.cc2Raw));
    }
    return b;
}

inline void Append(std::vector<uint8_t>& out, const Block& b) { out.insert(out.end(), b.begin(), b.end()); }

// A stream that starts with one VBUS sample at time 0, so that the capture origin is 0, followed by
// CC edge blocks numbered in one continuous sequence.
struct Stream {
    std::vector<uint8_t> bytes;
    int counter = 0, sub = 0;
    Stream() { Append(bytes, VbusBlock({{0}})); }
    void Cc(int channel, uint32_t stamp, const std::vector<uint8_t>& edges, uint16_t clock = 0) {
        Append(bytes, CcBlock(counter, sub, channel, stamp, edges, clock));
        if (++sub == 8) sub = 0, counter = (counter + 1) & 0xFF;
    }
    template <class Store> void Decode(Store& store) const { store.DecodeChunk(bytes.data(), bytes.size(), 0); }
};

// Transitions starting at byte `first`, each `step` ticks after the previous one.
inline std::vector<uint8_t> Ramp(int first, int step, int count) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(uint8_t(first + i * step));
    return v;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

} // namespace testblocks
