// Timing and size constants of the analyzer and of USB PD that several layers rely on, each named once.
#pragma once

#include <cstdint>

// The analyzer times CC edges with a 48 MHz clock; one tick of a CC edge block is `divisor` clock periods,
// so n ticks last n × divisor / 48 µs.
constexpr int32_t kClockTicksPerMicro = 48;

// The unit interval a PD bit rate of 330 down to 270 kbit/s gives (tUnitInterval). A packet whose average
// unit interval lies outside is counted and shown as bad. Some checks compare in single precision: the
// float values of the limits are the nearest floats to these.
constexpr double kMinUnitIntervalUs = 3.03;
constexpr double kMaxUnitIntervalUs = 3.70;
static_assert(float(kMinUnitIntervalUs) == 3.03f && float(kMaxUnitIntervalUs) == 3.70f);

// Extended messages: the data bytes one chunk carries (MaxExtendedMsgChunkLen), and those of a whole
// message (MaxExtendedMsgLen).
constexpr int32_t kMaxExtendedChunkBytes = 26;
constexpr int32_t kMaxExtendedDataBytes = 260;
