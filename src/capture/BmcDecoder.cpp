#include "BmcDecoder.h"

#include "Notify.h"
#include "PdConstants.h"
#include "SymbolDecoder.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Sum of the intervals of entries from..to - 1. The interval is the first byte of each 4-byte entry:
// four entries at a time where the machine can.
int32_t SumIntervals(const EdgeEntry* e, int32_t from, int32_t to) {
    int32_t s = 0;
    int32_t i = from;
#if defined(__SSE2__)
    static_assert(offsetof(EdgeEntry, interval) == 0 && sizeof(EdgeEntry) == 4);
    const __m128i low = _mm_set1_epi32(0xFF);
    __m128i sums = _mm_setzero_si128();
    for (; i + 4 <= to; i += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + i));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(four, low), _mm_setzero_si128()));
    }
    s = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
#endif
    for (; i < to; ++i) s += e[i].interval;
    return s;
}

// Half-UI in ticks from the unit interval estimate, in single precision and in this order.
float HalfUi(const CCCPacket& p) {
    float u = 3.3f;
    if (p.intervalCount >= 151) {
        const int32_t s = SumIntervals(p.edges.get(), 1, 151);
        // 150 intervals taken as 100 bits.
        u = float(p.divisor) * float(s) / float(kClockTicksPerMicro) / 50.0f * 0.5f;
    }
    return u * float(kClockTicksPerMicro) / float(p.divisor) * 0.5f;
}

// The class of an interval depends on its value alone: each of the 256 values is worked out once per
// packet, when it first turns up.
class ClassCache {
public:
    explicit ClassCache(float half) : half(half) {
        std::memset(table, kUnknown, sizeof table);
        std::memset(halves, kUnknown, sizeof halves);
    }

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

    // For the regular reading: 1 for "1bit", 0 for "2bits", 2 for any other class.
    int Half(uint8_t interval) {
        uint8_t h = halves[interval];
        if (h == kUnknown) {
            const uint8_t c = Other(interval);
            h = c == kClass1Bit ? 1 : c == kClass2Bits ? 0 : 2;
            halves[interval] = h;
        }
        return h;
    }

private:
    static constexpr uint8_t kUnknown = 0xFF;
    int Tenths(uint8_t interval) const { return int(float(interval) * 10.0f / half); }
    float half;
    uint8_t table[256];
    uint8_t halves[256];
};

uint8_t ClassKind(uint8_t cls, uint8_t kind) { return uint8_t(cls | (kind << 3)); }

// Classify's allocation: a new bit array of one byte per interval, from the heap: a stored packet
// gets a fitted one from the pool in its place.
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
static_assert(kBitOneFirst == kBitZero + 1 && kBitOneSecond == kBitZero + 2 && kClass2Bits == kClass1Bit + 1);

// Four regular entries at a time, by the pending half before them and whether each is "1bit": how
// many bits they give, the bits, the entry (0..3) of each, the pending half after them, and whether
// a run of odd length ends among them (which the one-by-one loop handles).
struct QuadStep {
    uint8_t emitted;
    bool oddRunEnds;
    uint8_t pendingAfter;
    uint32_t bits;   // byte k: the k-th bit
    uint64_t entries; // 16-bit k: the entry of the k-th bit
};

constexpr std::array<QuadStep, 32> kQuadSteps = [] {
    std::array<QuadStep, 32> table{};
    for (int index = 0; index < 32; ++index) {
        QuadStep q{};
        int pending = index & 1;
        for (int j = 0; j < 4; ++j) {
            const int half = (index >> (1 + j)) & 1;
            if (pending > half) q.oddRunEnds = true;
            const int second = half & pending;
            if (!second) {
                q.bits |= uint32_t(half) << (8 * q.emitted);
                q.entries |= uint64_t(j) << (16 * q.emitted);
                ++q.emitted;
            }
            pending = half ^ second;
        }
        q.pendingAfter = uint8_t(pending);
        table[size_t(index)] = q;
    }
    return table;
}();

// Classify, Pair and the bits of DecodeBits in one pass, for the usual packet whose entries after the
// first are all "1bit" or "2bits". Pair then decides everything: a run of "1bit" entries pairs into
// ones from its front, and one left over at the end of an odd run is "Invalid". Counts, bits and
// bitCount end exactly as the three steps leave them, and with Entries::Keep the entries' classes,
// kinds and bit indexes too; the result says whether the bits were read without error. The bits go to
// the caller's array, not to the packet's, and entryOf[k] is the entry that produced bit k. Irregular:
// an entry of another class turned up, and the packet must take the steps one by one (Classify then
// rewrites every entry).
enum class Entries { Keep, Drop };

template <Entries kEntries>
Reading ReadRegular(CCCPacket& p, ClassCache& classes, uint8_t* bits, uint16_t* entryOf, bool* bitsOk) {
    constexpr bool keep = kEntries == Entries::Keep;
    EdgeEntry* e = p.edges.get();
    const int32_t n = p.intervalCount;

    const uint8_t first = classes.First(e[0].interval);
    int32_t count = 0;
    if (first == kClass2Bits) {
        if (keep) e[0] = EdgeEntry{e[0].interval, ClassKind(first, kBitZero), 0};
        entryOf[0] = 0;
        bits[count++] = 0;
    } else if (keep) {
        e[0] = EdgeEntry{e[0].interval, ClassKind(first, kBitUndecided), 0xFFFF};
    }

    int32_t errorAt = -1; // entry at which DecodeBits stops, and the bits it has by then
    int32_t bitsAtError = 0;
    // Whether the entry before is the first half of a one (unless its run ends there). The loop has no
    // branch on the bits themselves: ones and zeros come in no order a predictor could learn.
    int pending = 0;
    int32_t i = 1;
    if constexpr (!keep && std::endian::native == std::endian::little) {
        // Four entries a step while no run of odd length ends; the bits and entries are written four
        // at a time, so both arrays have room for three more past the last entry.
        for (; i + 4 <= n; i += 4) {
            const int h0 = classes.Half(e[i].interval), h1 = classes.Half(e[i + 1].interval);
            const int h2 = classes.Half(e[i + 2].interval), h3 = classes.Half(e[i + 3].interval);
            if ((h0 | h1 | h2 | h3) > 1) return Reading::Irregular;
            const QuadStep& q = kQuadSteps[size_t(pending | h0 << 1 | h1 << 2 | h2 << 3 | h3 << 4)];
            if (q.oddRunEnds) break;
            std::memcpy(bits + count, &q.bits, 4);
            const uint64_t at = q.entries + uint64_t(i) * 0x0001000100010001ull;
            std::memcpy(entryOf + count, &at, 8);
            count += q.emitted;
            pending = q.pendingAfter;
        }
    }
    for (; i < n; ++i) {
        const int half = classes.Half(e[i].interval); // 1 for "1bit", 0 for "2bits"
        if (half > 1) return Reading::Irregular;
        if (__builtin_expect(pending > half, 0)) {
            // A run of odd length: its last entry is invalid, and so is its bit.
            --count;
            if (keep) e[i - 1] = EdgeEntry{e[i - 1].interval, ClassKind(kClass1Bit, kBitInvalid), 0xFFFF};
            pending = 0;
            if (count > 0 && errorAt < 0) {
                errorAt = i - 1;
                bitsAtError = count;
            }
        }
        const int second = half & pending;
        // Zero, One(p) or One(s).
        if (keep)
            e[i] = EdgeEntry{e[i].interval, ClassKind(uint8_t(kClass2Bits - half), uint8_t(kBitZero + half + second)),
                             uint16_t(count | -second)};
        bits[count] = uint8_t(half);
        entryOf[count] = uint16_t(i);
        count += 1 - second;
        pending = half ^ second;
    }
    if (pending) { // the last entry ends an odd run; at the end it does no harm
        --count;
        if (keep) e[n - 1] = EdgeEntry{e[n - 1].interval, ClassKind(kClass1Bit, kBitInvalid), 0xFFFF};
    }
    p.tickSum = SumIntervals(e, 0, n);
    p.shortCount = first == kClassShort;
    p.longCount = 0;
    if (errorAt >= 0) {
        if (keep)
            for (int32_t i = errorAt; i < n; ++i) e[i].bitIndex = 0xFFFF;
        count = bitsAtError;
    }
    p.bitCount = count;
    *bitsOk = errorAt < 0;
    return Reading::Regular;
}

// The first alternating run of at least 61 bits (60 changes), compared eight bits at a time: its
// first bit, and the last of its changes that is a 1; false when there is none.
bool FindPreamble(const uint8_t* bits, int32_t count, int32_t* start, int32_t* lastOne) {
    // Length of the run of changes from bit k on: bits[j] != bits[j - 1] for j = k, k + 1, ...
    auto changesFrom = [&](int32_t k) {
        int32_t j = k;
        if constexpr (std::endian::native == std::endian::little) {
            for (; j + 8 <= count; j += 8) {
                uint64_t now, before;
                std::memcpy(&now, bits + j, 8);
                std::memcpy(&before, bits + j - 1, 8);
                // Bits are 0 or 1: a change leaves 1 in its byte, no change 0.
                if (const uint64_t same = (now ^ before) ^ 0x0101010101010101ull)
                    return j + std::countr_zero(same) / 8 - k;
            }
        }
        while (j < count && bits[j] != bits[j - 1]) ++j;
        return j - k;
    };
    for (int32_t k = 1; k < count;) {
        const int32_t run = changesFrom(k);
        if (run >= 60) {
            *start = k - 1;
            const int32_t last = k + run - 1; // the run's last change
            *lastOne = bits[last] == 1 ? last : last - 1;
            return true;
        }
        k += run + 1; // past the repeat that ended the run
    }
    return false;
}

// DecodeBits after the bits: preamble, unit interval, then the symbols. entryOf, when given, maps each
// bit to the entry that produced it; otherwise the entries' bit indexes are searched.
bool DecodePreambleAndSymbols(CCCPacket& p, IUserNotify* notify, const uint16_t* entryOf = nullptr) {
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

    int32_t start = -1, lastOne = -1;
    if (!FindPreamble(bits, count, &start, &lastOne)) return false;
    p.preambleStart = start;
    p.dataStart = lastOne + 1;
    p.preambleLength = lastOne + 1 - start;
    p.preambleFound = true;

    if (e) {
        int32_t from = -1, to = -1;
        if (entryOf) {
            // Every bit has its entry; the bit after the preamble may not exist.
            from = entryOf[p.preambleStart + 1];
            if (p.dataStart < count) to = entryOf[p.dataStart];
        } else {
            for (int32_t i = 0; i < n; ++i) {
                if (from < 0 && e[i].bitIndex == uint16_t(p.preambleStart + 1)) from = i;
                if (e[i].bitIndex == uint16_t(p.dataStart)) {
                    to = i;
                    break;
                }
            }
        }
        if (from >= 0 && to >= 0) {
            const int32_t sum = SumIntervals(e, from, to);
            p.unitInterval =
                float(p.divisor) * float(sum) / float(p.preambleLength - 1) / float(kClockTicksPerMicro);
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

namespace {

// Tolerant reading. Interval roles, as the entries' classes and kinds take them on success.
enum : uint8_t { kTolShort, kTolHalf, kTolFull, kTolLong };

// Half-UI (ticks) and the stretch of the even entries over the odd ones (ticks, either sign: which
// level an entry is remains unknown), fitted by least squares to the intervals read as halves and full
// UIs, a few rounds from the nominal 300 kbit/s.
struct TolerantFit {
    TolerantFit(double half, double skew) : half(half), skew(skew) {
        // The borders 0.4, 1.5 and 2.6 half-UIs, in ticks for each level: no division per interval.
        for (int level = 0; level < 2; ++level)
            for (int k = 0; k < 3; ++k)
                borders[level][k] = half * (k == 0 ? 0.4 : k == 1 ? 1.5 : 2.6) + (level ? -skew : skew);
    }
    double half;
    double skew;
    double borders[2][3];

    uint8_t Role(int32_t i, uint8_t interval) const {
        const double* b = borders[i & 1];
        const double v = interval;
        return v < b[0] ? kTolShort : v < b[1] ? kTolHalf : v < b[2] ? kTolFull : kTolLong;
    }
};

TolerantFit FitHalfAndSkew(const EdgeEntry* e, int32_t n, int32_t divisor) {
    const double nominal = 3.3 * kClockTicksPerMicro / divisor * 0.5;
    // The stretch first from the two levels' mean intervals: halves and full UIs fall on both alike, and
    // a stretched half must not start out read as a full UI of the other level.
    const int32_t limit = int32_t(3 * nominal);
    int32_t sums[2] = {0, 0}, counts[2] = {0, 0};
    for (int32_t i = 0; i + 1 < n; i += 2)
        for (int level = 0; level < 2; ++level) {
            const int32_t v = e[i + level].interval;
            const bool used = v <= limit;
            sums[level] += used ? v : 0;
            counts[level] += used;
        }
    const double skew =
        counts[0] && counts[1] ? (double(sums[0]) / counts[0] - double(sums[1]) / counts[1]) / 2 : 0;
    TolerantFit f{nominal, std::abs(skew) < 0.5 * nominal ? skew : 0};
    for (int round = 0; round < 4; ++round) {
        double mm = 0, ms = 0, ss = 0, mv = 0, sv = 0;
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t role = f.Role(i, e[i].interval);
            if (role != kTolHalf && role != kTolFull) continue;
            const double m = role == kTolHalf ? 1 : 2, s = (i & 1) ? -1 : 1, v = e[i].interval;
            mm += m * m;
            ms += m * s;
            ss += 1;
            mv += m * v;
            sv += s * v;
        }
        const double det = mm * ss - ms * ms;
        if (det <= 0) break;
        const double half = (mv * ss - ms * sv) / det, skew = (mm * sv - ms * mv) / det;
        // A fit far from any PD bit rate is no fit: the junk it came from will not check anyway.
        if (!(half > 0.75 * nominal && half < 1.3 * nominal) || std::abs(skew) > 0.5 * half) break;
        const bool settled = std::abs(half - f.half) < 0.01 && std::abs(skew - f.skew) < 0.01;
        f = {half, skew};
        if (settled) break;
    }
    return f;
}

// The message from bit k on, as DecodeSymbols would read it: a message ordered set, data symbols in
// pairs up to an EOP, and a CRC that checks.
bool MessageChecksAt(const uint8_t* bits, int32_t count, int32_t k) {
    auto symbolAt = [&](int32_t at) {
        return sym::SymbolForCode(bits[at] | (bits[at + 1] << 1) | (bits[at + 2] << 2) | (bits[at + 3] << 3) |
                                  (bits[at + 4] << 4));
    };
    if (k + 20 > count) return false;
    uint8_t os[4];
    for (int i = 0; i < 4; ++i) os[i] = symbolAt(k + 5 * i);
    if (!IsMessageKind(sym::OrderedSetKind(os))) return false;
    uint8_t bytes[kMessageBytesCapacity];
    int32_t n = 0;
    for (int32_t at = k + 20; at + 4 < count; at += 10) {
        const uint8_t lo = symbolAt(at);
        if (lo == sym::kEop) {
            if (n < 4) return false;
            const uint32_t crc = uint32_t(bytes[n - 4]) | (uint32_t(bytes[n - 3]) << 8) |
                                 (uint32_t(bytes[n - 2]) << 16) | (uint32_t(bytes[n - 1]) << 24);
            return sym::Crc32(bytes, size_t(n - 4)) == crc;
        }
        if (lo > 0x0F || at + 9 >= count || n == kMessageBytesCapacity) return false;
        const uint8_t hi = symbolAt(at + 5);
        if (hi > 0x0F) return false;
        bytes[n++] = uint8_t(lo | (hi << 4));
    }
    return false;
}

// Sync-1, with which every message ordered set begins: bits 0 0 0 1 1 on the line.
bool Sync1At(const uint8_t* bits, int32_t k) {
    return !bits[k] && !bits[k + 1] && !bits[k + 2] && bits[k + 3] && bits[k + 4];
}

} // namespace

bool ReadCompletely(const CCCPacket& p) {
    return p.kind == kKindHardReset || p.kind == kKindCableReset || (IsMessageKind(p.kind) && p.crcGood);
}

bool RecoverTolerant(CCCPacket& p, IUserNotify* notify, bool keepEntries) {
    const int32_t n = p.intervalCount;
    if (n == 0 || !p.edges) return false;
    EdgeEntry* e = p.edges.get();
    const TolerantFit fit = FitHalfAndSkew(e, n, p.divisor);

    // Bits: a full UI is a zero, two halves in a row a one; a half left alone and anything shorter or
    // longer give no bit.
    uint8_t bits[kMaxIntervals];
    uint16_t entryOf[kMaxIntervals];
    uint8_t roles[kMaxIntervals];
    int32_t count = 0, pending = -1;
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t role = fit.Role(i, e[i].interval);
        roles[i] = role;
        if (role == kTolHalf && pending >= 0) {
            entryOf[count] = uint16_t(pending);
            bits[count++] = 1;
            pending = -1;
        } else if (role == kTolHalf) {
            pending = i;
        } else {
            pending = -1;
            if (role == kTolFull) {
                entryOf[count] = uint16_t(i);
                bits[count++] = 0;
            }
        }
    }

    // A message wherever its ordered set lies; failing that, a reset after a preamble of the usual length.
    int32_t dataStart = -1, preambleStart = -1;
    for (int32_t k = 0; k + 20 <= count; ++k)
        if (Sync1At(bits, k) && MessageChecksAt(bits, count, k)) {
            dataStart = k;
            preambleStart = k;
            while (preambleStart > 0 && (preambleStart == k || bits[preambleStart - 1] != bits[preambleStart]))
                --preambleStart;
            break;
        }
    if (dataStart < 0) {
        int32_t start = -1, lastOne = -1;
        if (!FindPreamble(bits, count, &start, &lastOne) || lastOne + 21 > count) return false;
        uint8_t os[4];
        for (int i = 0; i < 4; ++i) {
            const int32_t at = lastOne + 1 + 5 * i;
            os[i] = sym::SymbolForCode(bits[at] | (bits[at + 1] << 1) | (bits[at + 2] << 2) | (bits[at + 3] << 3) |
                                       (bits[at + 4] << 4));
        }
        const int32_t kind = sym::OrderedSetKind(os);
        if (kind != kKindHardReset && kind != kKindCableReset) return false;
        dataStart = lastOne + 1;
        preambleStart = start;
    }

    PacketBytes newBits;
    if (!newBits.Allocate(size_t(count))) {
        if (notify) notify->ShowMessage("No Momory");
        return false;
    }
    std::memcpy(newBits.get(), bits, size_t(count));
    p.bits = std::move(newBits);
    p.bitCount = count;
    int32_t shortCount = 0, longCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        shortCount += roles[i] == kTolShort;
        longCount += roles[i] == kTolLong;
    }
    p.shortCount = shortCount;
    p.longCount = longCount;
    if (keepEntries) {
        for (int32_t i = 0; i < n; ++i) {
            const uint8_t cls = roles[i] == kTolShort  ? kClassShort
                                : roles[i] == kTolHalf ? kClass1Bit
                                : roles[i] == kTolFull ? kClass2Bits
                                                       : kClassLong;
            e[i].classKind = ClassKind(cls, kBitInvalid);
            e[i].bitIndex = 0xFFFF;
        }
        for (int32_t b = 0; b < count; ++b) {
            EdgeEntry& x = e[entryOf[b]];
            x.bitIndex = uint16_t(b);
            x.SetKind(bits[b] ? kBitOneFirst : kBitZero);
            if (bits[b]) e[entryOf[b] + 1].SetKind(kBitOneSecond);
        }
    }

    p.preambleFound = true;
    p.preambleStart = preambleStart;
    p.preambleLength = dataStart - preambleStart;
    p.dataStart = dataStart;
    p.unitInterval = 0.0f;
    if (p.preambleLength >= 2) {
        const int32_t sum = SumIntervals(e, entryOf[preambleStart + 1], entryOf[dataStart]);
        p.unitInterval = float(p.divisor) * float(sum) / float(p.preambleLength - 1) / float(kClockTicksPerMicro);
    }
    p.messageByteCount = 0;
    p.hasCrc = false;
    p.crcGood = false;
    p.receivedCrc = 0xFFFFFFFF;
    return sym::DecodeSymbols(p, notify);
}

namespace {

template <Entries kEntries> void DecodeWhole(CCCPacket& p, IUserNotify* notify) {
    if (p.intervalCount == 0) return;
    // Classify, as far as its allocation.
    p.tickSum = 0;
    p.shortCount = 0;
    p.longCount = 0;
    if (!p.edges) return;
    ClassCache classes(HalfUi(p));

    // The bits are read into a local array first, so that the packet's array holds only the bits it
    // has: a stored packet keeps it for good.
    uint8_t bits[kMaxIntervals + 4];
    uint16_t entryOf[kMaxIntervals + 4];
    bool bitsOk = false;
    if (ReadRegular<kEntries>(p, classes, bits, entryOf, &bitsOk) == Reading::Regular) {
        if (!p.bits.Allocate(size_t(p.bitCount > 0 ? p.bitCount : 1))) {
            // As when Classify cannot allocate: nothing classified, nothing counted.
            if (notify) notify->ShowMessage("No Momory");
            for (int32_t i = 0; i < p.intervalCount; ++i) {
                p.edges[i].classKind = 0;
                p.edges[i].bitIndex = 0xFFFF;
            }
            p.tickSum = p.shortCount = p.longCount = p.bitCount = 0;
            return;
        }
        std::memcpy(p.bits.get(), bits, size_t(p.bitCount));
        // Nothing short or long after the first entry, so the gate passes, and Pair decided all.
        if (bitsOk) DecodePreambleAndSymbols(p, notify, entryOf);
        return;
    }
    if (!NewBitArray(p, notify)) return;
    ClassifyEntries(p, classes);
    if (p.shortCount > 10 || p.longCount > 10) return;
    if (Pair(p) == 0)
        DecodeBits(p, notify);
    else if (!TryAlternative(p, kClass1BitResolved, notify))
        TryAlternative(p, kClass2BitsResolved, notify);
    // Down to the bits there are.
    if (p.bitCount < p.intervalCount) {
        PacketBytes fitted;
        if (fitted.Allocate(size_t(p.bitCount > 0 ? p.bitCount : 1))) {
            std::memcpy(fitted.get(), p.bits.get(), size_t(p.bitCount));
            p.bits = std::move(fitted);
        }
    }
}

} // namespace

void DecodePacketBits(CCCPacket& p, IUserNotify* notify, BitRecovery mode) {
    DecodeWhole<Entries::Keep>(p, notify);
    if (mode == BitRecovery::Tolerant && !ReadCompletely(p)) RecoverTolerant(p, notify, true);
}

void DecodePacketBitsDroppingEdges(CCCPacket& p, IUserNotify* notify, BitRecovery mode) {
    DecodeWhole<Entries::Drop>(p, notify);
    if (mode == BitRecovery::Tolerant && !ReadCompletely(p)) RecoverTolerant(p, notify, false);
}

} // namespace bmc
