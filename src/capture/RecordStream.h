// The analyzer's record stream: 64-byte blocks of three kinds (marker, VBUS samples, CC edges).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CCaptureStore;

namespace rec {

constexpr int kBlockSize = 64;
constexpr uint16_t kMarkerWord = 0xFFF0;
constexpr int kSamplesPerBlock = 3;
constexpr int kSampleSize = 16;
constexpr int kEdgeBytesOffset = 8;
constexpr int kEdgeBytesPerBlock = 56;

enum class BlockKind { Marker, VbusSamples, CcEdges };

inline uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t ReadI16(const uint8_t* p) { return int16_t(ReadU16(p)); }
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t ReadU64(const uint8_t* p) { return uint64_t(ReadU32(p)) | (uint64_t(ReadU32(p + 4)) << 32); }
inline void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void WriteU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

inline BlockKind ClassifyBlock(const uint8_t* block) {
    const uint16_t w = ReadU16(block);
    if (w == kMarkerWord) return BlockKind::Marker;
    if (w & 0x2000) return BlockKind::VbusSamples;
    return BlockKind::CcEdges;
}

// CC edge block fields.
inline int CcSubCounter(const uint8_t* b) { return ReadU16(b) & 0x0F; }
inline int CcBlockCounter(const uint8_t* b) { return (ReadU16(b) >> 4) & 0xFF; }
inline int CcChannel(const uint8_t* b) { return (ReadU16(b) >> 14) & 1; }
inline uint32_t CcTimeStamp(const uint8_t* b) { return ReadU32(b + 2); }
inline uint16_t CcClockSetting(const uint8_t* b) { return ReadU16(b + 6); }

// Whether an edge block numbered (counter, sub) follows the one numbered (lastCounter, lastSub): the
// sub-counter runs 0..7 within one value of the block counter, which then advances modulo 256.
inline bool ContinuesSequence(int lastCounter, int lastSub, int counter, int sub) {
    if (lastCounter < 0 || lastSub < 0) return false;
    return (counter == lastCounter && sub == (lastSub + 1) % 8) ||
           (counter == (lastCounter + 1) % 256 && sub == 0 && (lastSub + 1) % 8 == 0);
}

// 0 selects the analyzer's default divisor of 20; otherwise the low byte plus one (1..256).
inline int ClockDivisor(uint16_t clockSetting) { return clockSetting == 0 ? 20 : (clockSetting & 0xFF) + 1; }

// Raw current to mA: values within ±2 are noise; integer division truncates toward zero.
inline int16_t ConvertCurrent(int16_t raw) {
    if (raw >= -2 && raw <= 2) return 0;
    return int16_t(int32_t(raw) * 1500 / 1598);
}

// Calibration by a ratio in millionths, in single precision; 1000000 leaves the value untouched.
inline int32_t Calibrate(int32_t value, int32_t ratio) {
    if (ratio == 1000000) return value;
    return int32_t(float(ratio) * float(value) / 1000000.0f);
}

struct RawSample {
    uint32_t timeStamp;
    uint16_t vbusVoltage;
    int16_t vbusCurrent; // converted, mA
    int16_t cc1Voltage;
    int16_t cc1Current;
    int16_t cc2Voltage;
    int16_t cc2Current;
};

// Number of samples a VBUS block declares. A count above three would reach past the block; it is cut
// to the three samples a block can hold.
inline int SampleCount(const uint8_t* block) {
    const int n = ReadU16(block) & 0x0F;
    return n > kSamplesPerBlock ? kSamplesPerBlock : n;
}

inline RawSample ExtractSample(const uint8_t* block, int k) {
    const uint8_t* s = block + 2 + kSampleSize * k;
    RawSample r;
    r.timeStamp = ReadU32(s);
    r.vbusVoltage = ReadU16(s + 4);
    r.vbusCurrent = ConvertCurrent(ReadI16(s + 6));
    r.cc1Voltage = ReadI16(s + 8);
    r.cc1Current = ConvertCurrent(ReadI16(s + 10));
    r.cc2Voltage = ReadI16(s + 12);
    r.cc2Current = ConvertCurrent(ReadI16(s + 14));
    return r;
}

// Extends a 32-bit microsecond stamp to 64 bits: the high part grows whenever the low part goes back.
inline int64_t ExtendTimeStamp(int64_t previous, uint32_t stamp) {
    int64_t high = previous & ~int64_t(0xFFFFFFFF);
    if (stamp < uint32_t(previous & 0xFFFFFFFF)) high += int64_t(1) << 32;
    return high | int64_t(stamp);
}

// Marker block entries, read by the fixed rules: an entry past offset 64 ends the list, nothing is
// read after an entry that ends beyond offset 62.
struct MarkerEntry {
    uint8_t type;
    uint8_t length;
    const uint8_t* value;
    int available; // bytes from value to the end of the block
    // Time values take the 8 bytes at the start of the value, whatever the length says; bytes that
    // would lie past the block read as zero.
    int64_t TimeValue() const {
        uint8_t b[8] = {};
        for (int i = 0; i < 8 && i < available; ++i) b[i] = value[i];
        return int64_t(ReadU64(b));
    }
};

// Calls fn(entry) for each entry; fn returns false to stop. Type 255 is passed to fn and ends the list.
template <class Fn> void ForEachMarkerEntry(const uint8_t* block, Fn&& fn) {
    int p = 2;
    for (;;) {
        const int length = block[p + 1];
        const int q = p + 2 + length;
        if (q > kBlockSize) return;
        MarkerEntry e{block[p], uint8_t(length), block + p + 2, kBlockSize - (p + 2)};
        if (!fn(e) || e.type == 255) return;
        if (q > 62) return;
        p = q;
    }
}

// Whether a buffer of whole blocks reads as a record stream: at least half of its blocks (up to the
// first 64) must be well-formed. Random bytes fail this at once; a damaged block here and there passes.
bool LooksLikeRecordStream(const uint8_t* data, size_t size);

} // namespace rec

// One decoded VBUS sample.
struct CVbusInfo {
    int64_t time = 0; // µs from the capture origin
    uint16_t vbusVoltage = 0;
    int16_t cc1Voltage = 0;
    int16_t cc2Voltage = 0;
    int16_t vbusCurrent = 0;
    int16_t cc1Current = 0;
    int16_t cc2Current = 0;
    const CCaptureStore* store = nullptr;
    int64_t fileOffset = 0;

    std::string VbusVoltageText() const;
    std::string VbusCurrentText(bool reverse) const;
    std::string VbusPowerText(bool reverse) const;
    std::string CcVoltageText(int channel) const;
};

// Power in mW, truncated toward zero.
inline int32_t PowerMilliwatts(int32_t mV, int32_t mA) { return int32_t(int64_t(mV) * mA / 1000); }
