#include "SymbolDecoder.h"

#include "Notify.h"

#include <array>
#include <new>

namespace sym {

namespace {

constexpr std::array<uint8_t, 32> kCodeToSymbol = [] {
    std::array<uint8_t, 32> t{};
    for (auto& v : t) v = kInvalid;
    t[30] = 0x0; t[9] = 0x1; t[20] = 0x2; t[21] = 0x3;
    t[10] = 0x4; t[11] = 0x5; t[14] = 0x6; t[15] = 0x7;
    t[18] = 0x8; t[19] = 0x9; t[22] = 0xA; t[23] = 0xB;
    t[26] = 0xC; t[27] = 0xD; t[28] = 0xE; t[29] = 0xF;
    t[24] = kSync1; t[17] = kSync2; t[6] = kSync3;
    t[7] = kRst1; t[25] = kRst2; t[13] = kEop;
    return t;
}();

constexpr std::array<uint8_t, 256> kSymbolToCode = [] {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (unsigned c = 0; c < 32; ++c)
        if (kCodeToSymbol[c] != kInvalid) t[kCodeToSymbol[c]] = uint8_t(c);
    return t;
}();

struct OrderedSetRow {
    int32_t kind;
    uint8_t symbols[4];
};

constexpr OrderedSetRow kOrderedSets[] = {
    {kKindSop, {kSync1, kSync1, kSync1, kSync2}},
    {kKindSopPrime, {kSync1, kSync1, kSync3, kSync3}},
    {kKindSopDoublePrime, {kSync1, kSync3, kSync1, kSync3}},
    {kKindHardReset, {kRst1, kRst1, kRst1, kRst2}},
    {kKindCableReset, {kRst1, kSync1, kRst1, kSync3}},
    {kKindSopPrimeDebug, {kSync1, kRst2, kRst2, kSync3}},
    {kKindSopDoublePrimeDebug, {kSync1, kRst2, kSync3, kSync2}},
};

constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}();

} // namespace

uint8_t SymbolForCode(unsigned code) { return kCodeToSymbol[code & 31]; }

uint8_t CodeForSymbol(uint8_t symbol) { return kSymbolToCode[symbol]; }

int32_t OrderedSetKind(const uint8_t s[4]) {
    for (const auto& row : kOrderedSets)
        if (row.symbols[0] == s[0] && row.symbols[1] == s[1] && row.symbols[2] == s[2] &&
            row.symbols[3] == s[3])
            return row.kind;
    return kKindUnknown;
}

bool OrderedSetSymbols(int32_t kind, uint8_t out[4]) {
    for (const auto& row : kOrderedSets)
        if (row.kind == kind) {
            for (int i = 0; i < 4; ++i) out[i] = row.symbols[i];
            return true;
        }
    return false;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

bool DecodeSymbols(CCCPacket& p, IUserNotify* notify) {
    p.symbolCount = 0;
    p.eopPosition = -1;
    p.eopFound = false;
    if (!p.preambleFound || p.dataStart == -1) return false;

    // Room for (bitCount + 4) / 5 symbols, of which only those from dataStart on can be filled: the
    // array holds just those.
    const int32_t capacity = p.bitCount - p.dataStart >= 5 ? (p.bitCount - p.dataStart) / 5 : 0;
    if (!p.symbols.Allocate(size_t(capacity > 0 ? capacity : 1))) {
        if (notify) notify->ShowMessage("No Memory");
        return false;
    }
    const uint8_t* bits = p.bits.get();
    // Counts in locals: stored through the packet, each would be read back after every symbol.
    uint8_t* symbols = p.symbols.get();
    int32_t count = 0, eop = -1;
    for (int32_t k = p.dataStart; k + 4 < p.bitCount && count < capacity; k += 5) {
        const unsigned code = bits[k] | (bits[k + 1] << 1) | (bits[k + 2] << 2) | (bits[k + 3] << 3) |
                              (bits[k + 4] << 4);
        const uint8_t s = SymbolForCode(code);
        symbols[count++] = s;
        if (s == kEop) eop = k; // a later EOP wins
    }
    p.symbolCount = count;
    if (eop >= 0) {
        p.eopPosition = eop;
        p.eopFound = true;
    }
    if (p.symbolCount == 0) return false;

    for (auto& k : p.kCodes) k = 0xFE;
    p.kind = kKindNotDecoded;
    if (p.symbolCount < 4) return false;
    for (int i = 0; i < 4; ++i) p.kCodes[i] = p.symbols[i];
    p.kind = OrderedSetKind(p.kCodes);
    if (p.kind == kKindUnknown) return false;
    if (p.kind == kKindHardReset || p.kind == kKindCableReset) return true;

    p.messageByteCount = 0;
    p.crcGood = false;
    p.hasCrc = false;
    p.receivedCrc = 0xFFFFFFFF;
    if (!p.eopFound || p.symbolCount < 11) return false;

    int32_t bytes = 0;
    for (int32_t s = 4; s < count; s += 2) {
        const uint8_t lo = symbols[s];
        if (lo == kEop) break;
        if (lo > 0x0F || s == count - 1) return false;
        const uint8_t hi = symbols[s + 1];
        if (hi > 0x0F) return false;
        // A longer run than the largest message can only be a damaged frame: it fails as malformed.
        if (bytes == kMessageBytesCapacity) return false;
        p.messageBytes[bytes++] = uint8_t(lo | (hi << 4));
    }
    if (bytes < 4) return false;

    p.hasCrc = true;
    p.messageByteCount = bytes - 4;
    const uint8_t* c = p.messageBytes + p.messageByteCount;
    p.receivedCrc = uint32_t(c[0]) | (uint32_t(c[1]) << 8) | (uint32_t(c[2]) << 16) | (uint32_t(c[3]) << 24);
    p.crcGood = Crc32(p.messageBytes, size_t(p.messageByteCount)) == p.receivedCrc;
    return p.crcGood;
}

} // namespace sym
