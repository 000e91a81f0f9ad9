#include "BmcDecoder.h"

#include "Notify.h"
#include "SymbolDecoder.h"

#include <cstring>
#include <memory>
#include <new>

namespace bmc {

namespace {

bool IsHalf(uint8_t c) { return c == kClass1Bit || c == kClass1BitResolved; }
bool IsHalfOrAmbiguous(uint8_t c) { return IsHalf(c) || c == kClass1Or2Bits; }

// Marks a and a + 1 as the two halves of a one; an ambiguous second half is read as one half-UI.
inline void MakeOne(EdgeEntry* e, int32_t a) {
    e[a].SetKind(kBitOneFirst);
    if (e[a].Class() == kClass1Or2Bits) e[a].SetClass(kClass1BitResolved);
    e[a + 1].SetKind(kBitOneSecond);
    if (e[a + 1].Class() == kClass1Or2Bits) e[a + 1].SetClass(kClass1BitResolved);
}

bool Search(CCCPacket& p, uint8_t choice, IUserNotify* notify, int& budget) {
    if (--budget < 0) return false;
    const int32_t n = p.intervalCount;
    std::unique_ptr<EdgeEntry[]> saved(new (std::nothrow) EdgeEntry[n]);
    if (!saved) return false;
    std::memcpy(saved.get(), p.edges.get(), sizeof(EdgeEntry) * size_t(n));

    int32_t first = -1;
    for (int32_t i = 0; i < n; ++i)
        if (p.edges[i].Class() == kClass1Or2Bits) {
            first = i;
            break;
        }
    if (first < 0) return false;
    p.edges[first].SetClass(choice);

    if (Pair(p) == 0) {
        if (DecodeBits(p, notify)) return true;
    } else if (Search(p, kClass1BitResolved, notify, budget) ||
               Search(p, kClass2BitsResolved, notify, budget)) {
        return true;
    }
    std::memcpy(p.edges.get(), saved.get(), sizeof(EdgeEntry) * size_t(n));
    return false;
}

// Half-UI in ticks from the unit interval estimate, in single precision and in this order.
float HalfUi(const CCCPacket& p) {
    const EdgeEntry* e = p.edges.get();
    float u = 3.3f;
    if (p.intervalCount >= 151) {
        int32_t s = 0;
        for (int32_t i = 1; i <= 150; ++i) s += e[i].interval;
        // 150 intervals taken as 100 bits.
        u = float(p.divisor) * float(s) / 48.0f / 50.0f * 0.5f;
    }
    return u * 48.0f / float(p.divisor) * 0.5f;
}

// The class of an interval depends on its value alone: each of the 256 values is worked out once per
// packet, when it first turns up.
class ClassCache {
public:
    explicit ClassCache(float half) : half(half) { std::memset(table, kUnknown, sizeof table); }

    uint8_t First(uint8_t interval) const {
        const int q = Tenths(interval);
        return q < 6 ? kClassShort : q < 13 ? kClass1Bit : kClass2Bits;
    }
    uint8_t Other(uint8_t interval) {
        uint8_t c = table[interval];
        if (c == kUnknown) {
            const int q = Tenths(interval);
            c = q < 6    ? kClassShort
                : q < 13 ? kClass1Bit
                : q < 16 ? kClass1Or2Bits
                : q < 26 ? kClass2Bits
                         : kClassLong;
            table[interval] = c;
        }
        return c;
    }

private:
    static constexpr uint8_t kUnknown = 0xFF;
    int Tenths(uint8_t interval) const { return int(float(interval) * 10.0f / half); }
    float half;
    uint8_t table[256];
};

uint8_t ClassKind(uint8_t cls, uint8_t kind) { return uint8_t(cls | (kind << 3)); }

// Classify's allocation: a new bit array of one byte per interval.
bool NewBitArray(CCCPacket& p, IUserNotify* notify) {
    const int32_t n = p.intervalCount;
    p.bits.reset(new (std::nothrow) uint8_t[n > 0 ? n : 1]);
    if (!p.bits) {
        if (notify) notify->ShowMessage("No Momory");
        return false;
    }
    return true;
}

void ClassifyEntries(CCCPacket& p, ClassCache& classes) {
    EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;
    int32_t tickSum = 0, shortCount = 0, longCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t v = e[i].interval;
        tickSum += v;
        const uint8_t c = i == 0 ? classes.First(v) : classes.Other(v);
        shortCount += c == kClassShort;
        longCount += c == kClassLong;
        e[i].classKind = ClassKind(c, c == kClass2Bits ? kBitZero : kBitUndecided);
        e[i].bitIndex = 0xFFFF;
    }
    p.tickSum = tickSum;
    p.shortCount = shortCount;
    p.longCount = longCount;
}

enum class Reading { Regular, Irregular };

// Classify, Pair and the bits of DecodeBits in one pass, for the usual packet whose entries after the
// first are all "1bit" or "2bits". Pair then decides everything: a run of "1bit" entries pairs into
// ones from its front, and one left over at the end of an odd run is "Invalid". Entries, counts, bits
// and bitCount end exactly as the three steps leave them; the result says whether the bits were read
// without error. Irregular: an entry of another class turned up, and the packet must take the steps
// one by one (the entries seen so far are rewritten by Classify then).
Reading ReadRegular(CCCPacket& p, ClassCache& classes, bool* bitsOk) {
    EdgeEntry* e = p.edges.get();
    uint8_t* bits = p.bits.get();
    const int32_t n = p.intervalCount;

    const uint8_t first = classes.First(e[0].interval);
    int32_t tickSum = e[0].interval;
    int32_t count = 0;
    if (first == kClass2Bits) {
        e[0].classKind = ClassKind(first, kBitZero);
        e[0].bitIndex = 0;
        bits[count++] = 0;
    } else {
        e[0].classKind = ClassKind(first, kBitUndecided);
        e[0].bitIndex = 0xFFFF;
    }

    int32_t errorAt = -1; // entry at which DecodeBits stops, and the bits it has by then
    int32_t bitsAtError = 0;
    bool pending = false; // the entry before is the first half of a one, unless its run ends there
    for (int32_t i = 1; i < n; ++i) {
        const uint8_t v = e[i].interval;
        tickSum += v;
        const uint8_t c = classes.Other(v);
        if (c != kClass1Bit && c != kClass2Bits) return Reading::Irregular;
        const bool half = c == kClass1Bit;
        if (pending && !half) {
            // A run of odd length: its last entry is invalid, and so is its bit.
            --count;
            e[i - 1].classKind = ClassKind(kClass1Bit, kBitInvalid);
            e[i - 1].bitIndex = 0xFFFF;
            pending = false;
            if (count > 0 && errorAt < 0) {
                errorAt = i - 1;
                bitsAtError = count;
            }
        }
        const bool second = half && pending;
        e[i].classKind = ClassKind(c, !half ? kBitZero : second ? kBitOneSecond : kBitOneFirst);
        e[i].bitIndex = second ? uint16_t(0xFFFF) : uint16_t(count);
        bits[count] = half;
        count += !second;
        pending = half && !pending;
    }
    if (pending) { // the last entry ends an odd run; at the end it does no harm
        --count;
        e[n - 1].classKind = ClassKind(kClass1Bit, kBitInvalid);
        e[n - 1].bitIndex = 0xFFFF;
    }
    p.tickSum = tickSum;
    p.shortCount = first == kClassShort;
    p.longCount = 0;
    if (errorAt >= 0) {
        for (int32_t i = errorAt; i < n; ++i) e[i].bitIndex = 0xFFFF;
        count = bitsAtError;
    }
    p.bitCount = count;
    *bitsOk = errorAt < 0;
    return Reading::Regular;
}

// DecodeBits after the bits: preamble, unit interval, then the symbols.
bool DecodePreambleAndSymbols(CCCPacket& p, IUserNotify* notify) {
    const EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;
    const uint8_t* bits = p.bits.get();
    const int32_t count = p.bitCount;
    p.preambleFound = false;
    p.preambleStart = -1;
    p.preambleLength = 0;
    p.dataStart = -1;
    p.unitInterval = 0.0f;
    if (count == 0) return false;

    int32_t changes = 0, start = -1, lastOne = -1;
    bool found = false;
    for (int32_t k = 1; k < count; ++k) {
        if (bits[k] == bits[k - 1]) {
            if (found) break;
            start = -1;
            changes = 0;
        } else {
            ++changes;
            if (start == -1) start = k - 1;
            if (bits[k] == 1) lastOne = k;
            if (changes >= 60) found = true;
        }
    }
    if (!found) return false;
    p.preambleStart = start;
    p.dataStart = lastOne + 1;
    p.preambleLength = lastOne + 1 - start;
    p.preambleFound = true;

    if (e) {
        int32_t from = -1, to = -1;
        for (int32_t i = 0; i < n; ++i) {
            if (from < 0 && e[i].bitIndex == uint16_t(p.preambleStart + 1)) from = i;
            if (e[i].bitIndex == uint16_t(p.dataStart)) {
                to = i;
                break;
            }
        }
        if (from >= 0 && to >= 0) {
            int32_t sum = 0;
            for (int32_t i = from; i < to; ++i) sum += e[i].interval;
            p.unitInterval = float(p.divisor) * float(sum) / float(p.preambleLength - 1) / 48.0f;
        }
    }
    return sym::DecodeSymbols(p, notify);
}

} // namespace

bool Classify(CCCPacket& p, IUserNotify* notify) {
    p.tickSum = 0;
    p.shortCount = 0;
    p.longCount = 0;
    const int32_t n = p.intervalCount;
    if (n > 0 && !p.edges) return false;
    if (!NewBitArray(p, notify)) return false;
    ClassCache classes(HalfUi(p));
    ClassifyEntries(p, classes);
    return true;
}

int Pair(CCCPacket& p) {
    EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;
    int undecided = 0;
    int32_t a = 1;
    // End of the run of undecided entries that a lies in, once counted: entries only ever become
    // decided here, so it holds until a passes it or the run's last two are paired.
    int32_t runEnd = 0;
    while (a < n) {
        if (e[a].Kind() != kBitUndecided) {
            ++a;
            continue;
        }
        const uint8_t ca = e[a].Class();
        if (ca == kClass2Bits || ca == kClass2BitsResolved) {
            e[a].SetKind(kBitZero);
            ++a;
            continue;
        }
        if (runEnd <= a) {
            runEnd = a + 1;
            while (runEnd < n && e[runEnd].Kind() == kBitUndecided) ++runEnd;
        }
        const int32_t run = runEnd - a;
        if (run == 1) {
            if (ca == kClass1Or2Bits) {
                e[a].SetClass(kClass2BitsResolved);
                e[a].SetKind(kBitZero);
            } else {
                e[a].SetKind(kBitInvalid);
            }
            ++a;
            continue;
        }
        if (IsHalf(ca) && IsHalfOrAmbiguous(e[a + 1].Class())) {
            MakeOne(e, a);
            a += 2;
            continue;
        }
        const int32_t end = runEnd;
        if (IsHalf(e[end - 1].Class()) && IsHalfOrAmbiguous(e[end - 2].Class())) {
            MakeOne(e, end - 2);
            runEnd = end - 2;
            continue;
        }
        undecided += run;
        a = end;
    }
    return undecided;
}

bool TryAlternative(CCCPacket& p, uint8_t choice, IUserNotify* notify) {
    int budget = kMaxSearchNodes;
    return Search(p, choice, notify, budget);
}

bool DecodeBits(CCCPacket& p, IUserNotify* notify) {
    EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;
    uint8_t* bits = p.bits.get();
    int32_t count = 0;
    bool error = false;
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t kind = e[i].Kind();
        if (kind == kBitZero || kind == kBitOneFirst) {
            e[i].bitIndex = uint16_t(count);
            bits[count++] = kind == kBitOneFirst;
            continue;
        }
        e[i].bitIndex = 0xFFFF;
        // An undecided or invalid entry is harmless at either end or before the first bit.
        if (kind != kBitOneSecond && i != 0 && i != n - 1 && count > 0) {
            error = true;
            for (int32_t k = i + 1; k < n; ++k) e[k].bitIndex = 0xFFFF;
            break;
        }
    }
    p.bitCount = count;
    if (error) return false;
    return DecodePreambleAndSymbols(p, notify);
}

void DecodePacketBits(CCCPacket& p, IUserNotify* notify) {
    if (p.intervalCount == 0) return;
    // Classify, as far as its allocation.
    p.tickSum = 0;
    p.shortCount = 0;
    p.longCount = 0;
    if (!p.edges || !NewBitArray(p, notify)) return;
    ClassCache classes(HalfUi(p));

    bool bitsOk = false;
    if (ReadRegular(p, classes, &bitsOk) == Reading::Regular) {
        // Nothing short or long after the first entry, so the gate passes, and Pair decided all.
        if (bitsOk) DecodePreambleAndSymbols(p, notify);
        return;
    }
    ClassifyEntries(p, classes);
    if (p.shortCount > 10 || p.longCount > 10) return;
    if (Pair(p) == 0) {
        DecodeBits(p, notify);
        return;
    }
    if (!TryAlternative(p, kClass1BitResolved, notify)) TryAlternative(p, kClass2BitsResolved, notify);
}

} // namespace bmc
