// Arithmetic on 64-bit µs times that is held at the ends of the range instead of wrapping round. A time
// origin or a mark read from a record file may be any 64-bit value, so display times (time minus the
// origin) and the spans and window ends derived from them go through these. Results lie within
// -INT64_MAX .. INT64_MAX, so that any of them can be negated; the times of a real capture lie far
// inside, and for them every result is the plain one.
#pragma once

#include <cstdint>

constexpr int64_t kTimeLimit = INT64_MAX;

constexpr int64_t HoldTime(__int128 t) {
    return t > kTimeLimit ? kTimeLimit : t < -kTimeLimit ? -kTimeLimit : int64_t(t);
}

// a - b, held.
constexpr int64_t TimeDifference(int64_t a, int64_t b) { return HoldTime(__int128(a) - b); }
// a + b, held.
constexpr int64_t TimeSum(int64_t a, int64_t b) { return HoldTime(__int128(a) + b); }
// (a + b) / 2 as exact arithmetic gives it (truncated toward zero), held.
constexpr int64_t TimeMidpoint(int64_t a, int64_t b) { return HoldTime((__int128(a) + b) / 2); }
