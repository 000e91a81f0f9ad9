// Comparing decoded packets field by field, and the BMC intervals of a bit sequence, for the decoder
// tests that hold one way of decoding against another.
#pragma once

#include "CCPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace testdecoded {

// Every field the decoders fill must be the same; with `entries`, the edge entries' classes and bit
// indexes too.
inline void ExpectSameDecode(const CCCPacket& want, const CCCPacket& got, bool entries = false) {
    EXPECT_EQ(got.startTime, want.startTime);
    EXPECT_EQ(got.channel, want.channel);
    EXPECT_EQ(got.intervalCount, want.intervalCount);
    EXPECT_EQ(got.tickSum, want.tickSum);
    EXPECT_EQ(got.shortCount, want.shortCount);
    EXPECT_EQ(got.longCount, want.longCount);
    ASSERT_EQ(got.bitCount, want.bitCount);
    if (want.bitCount > 0) {
        ASSERT_TRUE(got.bits);
        EXPECT_EQ(std::memcmp(got.bits.get(), want.bits.get(), size_t(want.bitCount)), 0);
    }
    EXPECT_EQ(got.preambleFound, want.preambleFound);
    EXPECT_EQ(got.preambleStart, want.preambleStart);
    EXPECT_EQ(got.preambleLength, want.preambleLength);
    EXPECT_EQ(got.dataStart, want.dataStart);
    EXPECT_EQ(std::memcmp(&got.unitInterval, &want.unitInterval, sizeof(float)), 0)
        << got.unitInterval << " " << want.unitInterval;
    ASSERT_EQ(got.symbolCount, want.symbolCount);
    if (want.symbolCount > 0) {
        EXPECT_EQ(std::memcmp(got.symbols.get(), want.symbols.get(), size_t(want.symbolCount)), 0);
    }
    EXPECT_EQ(got.eopFound, want.eopFound);
    EXPECT_EQ(got.eopPosition, want.eopPosition);
    EXPECT_EQ(std::memcmp(got.kCodes, want.kCodes, 4), 0);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.hasCrc, want.hasCrc);
    EXPECT_EQ(got.receivedCrc, want.receivedCrc);
    EXPECT_EQ(got.crcGood, want.crcGood);
    ASSERT_EQ(got.messageByteCount, want.messageByteCount);
    EXPECT_EQ(std::memcmp(got.messageBytes, want.messageBytes, size_t(want.messageByteCount)), 0);
    EXPECT_EQ(got.port, want.port);
    if (!entries) return;
    for (int32_t i = 0; i < want.intervalCount; ++i) {
        EXPECT_EQ(got.edges[i].classKind, want.edges[i].classKind) << "entry " << i;
        EXPECT_EQ(got.edges[i].bitIndex, want.edges[i].bitIndex) << "entry " << i;
    }
}

// BMC intervals of a bit sequence: a zero is one full-UI interval, a one two half-UI intervals.
inline std::vector<int> BmcIntervals(const std::vector<uint8_t>& bits, int half) {
    std::vector<int> v;
    for (uint8_t b : bits) {
        if (b) {
            v.push_back(half);
            v.push_back(half);
        } else {
            v.push_back(2 * half);
        }
    }
    return v;
}

} // namespace testdecoded
