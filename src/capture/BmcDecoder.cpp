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
void MakeOne(EdgeEntry* e, int32_t a) {
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

} // namespace

bool Classify(CCCPacket& p, IUserNotify* notify) {
    p.tickSum = 0;
    p.shortCount = 0;
    p.longCount = 0;
    const int32_t n = p.intervalCount;
    if (n > 0 && !p.edges) return false;

    p.bits.reset(new (std::nothrow) uint8_t[n > 0 ? n : 1]);
    if (!p.bits) {
        if (notify) notify->ShowMessage("No Momory");
        return false;
    }

    EdgeEntry* e = p.edges.get();
    float u = 3.3f;
    if (n >= 151) {
        int32_t s = 0;
        for (int32_t i = 1; i <= 150; ++i) s += e[i].interval;
        // 150 intervals taken as 100 bits.
        u = float(p.divisor) * float(s) / 48.0f / 50.0f * 0.5f;
    }
    const float half = u * 48.0f / float(p.divisor) * 0.5f;

    for (int32_t i = 0; i < n; ++i) {
        p.tickSum += e[i].interval;
        const int q = int(float(e[i].interval) * 10.0f / half);
        uint8_t c;
        if (q < 6)
            c = kClassShort;
        else if (q < 13)
            c = kClass1Bit;
        else if (i == 0)
            c = kClass2Bits;
        else if (q < 16)
            c = kClass1Or2Bits;
        else if (q < 26)
            c = kClass2Bits;
        else
            c = kClassLong;
        if (c == kClassShort) ++p.shortCount;
        if (c == kClassLong) ++p.longCount;
        e[i].classKind = c;
        e[i].SetKind(c == kClass2Bits ? kBitZero : kBitUndecided);
        e[i].bitIndex = 0xFFFF;
    }
    return true;
}

int Pair(CCCPacket& p) {
    EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;
    int undecided = 0;
    int32_t a = 1;
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
        int32_t run = 0;
        while (a + run < n && e[a + run].Kind() == kBitUndecided) ++run;
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
        const int32_t end = a + run;
        if (IsHalf(e[end - 1].Class()) && IsHalfOrAmbiguous(e[end - 2].Class())) {
            MakeOne(e, end - 2);
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
        e[i].bitIndex = 0xFFFF;
        if (error) continue;
        switch (e[i].Kind()) {
        case kBitZero:
            e[i].bitIndex = uint16_t(count);
            bits[count++] = 0;
            break;
        case kBitOneFirst:
            e[i].bitIndex = uint16_t(count);
            bits[count++] = 1;
            break;
        case kBitOneSecond:
            break;
        default: // undecided or invalid
            if (i != 0 && i != n - 1 && count > 0) error = true;
            break;
        }
    }
    p.bitCount = count;
    if (error) return false;

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

void DecodePacketBits(CCCPacket& p, IUserNotify* notify) {
    if (p.intervalCount == 0 || !Classify(p, notify)) return;
    if (p.shortCount > 10 || p.longCount > 10) return;
    if (Pair(p) == 0) {
        DecodeBits(p, notify);
        return;
    }
    if (!TryAlternative(p, kClass1BitResolved, notify)) TryAlternative(p, kClass2BitsResolved, notify);
}

} // namespace bmc
