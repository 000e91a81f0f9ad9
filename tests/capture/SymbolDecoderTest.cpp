#include "RecordEncoder.h"
#include "SymbolDecoder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace sym;

namespace {

// The bits of a symbol sequence after a 64-bit preamble, as DecodeSymbols expects them.
void SetSymbols(CCCPacket& p, const std::vector<uint8_t>& symbols, int extraBits = 0) {
    std::vector<uint8_t> bits = enc::SymbolsToBits(symbols);
    bits.insert(bits.end(), size_t(extraBits), 1);
    p.bits.reset(new uint8_t[bits.size()]);
    std::copy(bits.begin(), bits.end(), p.bits.get());
    p.bitCount = int32_t(bits.size());
    p.preambleFound = true;
    p.dataStart = 64;
}

std::vector<uint8_t> MessageSymbols(int32_t kind, const std::vector<uint8_t>& bytes, bool eop = true) {
    enc::FrameOptions options;
    options.appendEop = eop;
    return enc::FrameSymbols(kind, bytes.data(), bytes.size(), options);
}

} // namespace

TEST(SymbolDecoder, FourBFiveBTableIsABijection) {
    int valid = 0;
    for (unsigned code = 0; code < 32; ++code) {
        const uint8_t s = SymbolForCode(code);
        if (s == kInvalid) continue;
        ++valid;
        EXPECT_EQ(CodeForSymbol(s), code);
    }
    EXPECT_EQ(valid, 22);
    EXPECT_EQ(SymbolForCode(30), 0x0);  // 11110
    EXPECT_EQ(SymbolForCode(24), kSync1); // 11000
    EXPECT_EQ(SymbolForCode(13), kEop);   // 01101
    EXPECT_EQ(SymbolForCode(0), kInvalid);
}

TEST(SymbolDecoder, Crc32MatchesReceivedValues) {
    // Message bytes and the CRC received with them, from a real capture.
    const std::vector<uint8_t> goodCrc = {0x41, 0x00};
    EXPECT_EQ(Crc32(goodCrc.data(), goodCrc.size()), 0xA8BB6CBBu);
    const std::vector<uint8_t> request = {0x42, 0x10, 0x2c, 0xb1, 0x04, 0x10};
    EXPECT_EQ(Crc32(request.data(), request.size()), 0xC411CC87u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(SymbolDecoder, OrderedSetsMatchExactly) {
    struct Case {
        std::vector<uint8_t> symbols;
        int32_t kind;
    } cases[] = {
        {{kSync1, kSync1, kSync1, kSync2}, kKindSop},
        {{kSync1, kSync1, kSync3, kSync3}, kKindSopPrime},
        {{kSync1, kSync3, kSync1, kSync3}, kKindSopDoublePrime},
        {{kRst1, kRst1, kRst1, kRst2}, kKindHardReset},
        {{kRst1, kSync1, kRst1, kSync3}, kKindCableReset},
        {{kSync1, kRst2, kRst2, kSync3}, kKindSopPrimeDebug},
        {{kSync1, kRst2, kSync3, kSync2}, kKindSopDoublePrimeDebug},
        {{kSync2, kSync1, kSync1, kSync2}, kKindUnknown}, // one symbol off: no tolerant match
        {{kSync1, kSync1, kSync1, kSync1}, kKindUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(OrderedSetKind(c.symbols.data()), c.kind);
}

TEST(SymbolDecoder, MessageOutcomes) {
    const std::vector<uint8_t> header = {0x41, 0x00};
    auto withCrc = MessageSymbols(kKindSop, header);
    auto badCrc = withCrc;
    badCrc[8] ^= 1; // a CRC nibble
    auto kcodeInData = withCrc;
    kcodeInData[5] = kSync1;
    auto oddNibbles = MessageSymbols(kKindSop, header);
    oddNibbles.insert(oddNibbles.end() - 1, uint8_t(0x3));
    auto noEop = MessageSymbols(kKindSop, header, false);
    std::vector<uint8_t> eopFirst = {kSync1, kSync1, kSync1, kSync2, kEop, 0, 0, 0, 0, 0, 0};
    auto onlyCrc = MessageSymbols(kKindSop, {});
    auto hardReset = std::vector<uint8_t>{kRst1, kRst1, kRst1, kRst2};
    auto threeSymbols = std::vector<uint8_t>{kSync1, kSync1, kSync1};

    struct Case {
        const char* name;
        std::vector<uint8_t> symbols;
        bool ok;
        int32_t kind;
        bool hasCrc;
        bool crcGood;
        int32_t byteCount;
    } cases[] = {
        {"good", withCrc, true, kKindSop, true, true, 2},
        {"bad CRC", badCrc, false, kKindSop, true, false, 2},
        {"K-code among data", kcodeInData, false, kKindSop, false, false, 0},
        {"odd data symbols", oddNibbles, false, kKindSop, false, false, 0},
        {"no EOP", noEop, false, kKindSop, false, false, 0},
        {"EOP after the ordered set", eopFirst, false, kKindSop, false, false, 0},
        {"only the CRC", onlyCrc, true, kKindSop, true, true, 0},
        {"hard reset without EOP", hardReset, true, kKindHardReset, false, false, 0},
        {"three symbols", threeSymbols, false, kKindNotDecoded, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCCPacket p;
        SetSymbols(p, c.symbols, 4); // four stray bits at the end are ignored
        EXPECT_EQ(DecodeSymbols(p, nullptr), c.ok);
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.hasCrc, c.hasCrc);
        EXPECT_EQ(p.crcGood, c.crcGood);
        EXPECT_EQ(p.messageByteCount, c.byteCount);
        EXPECT_EQ(p.symbolCount, int32_t(c.symbols.size()));
    }
}

TEST(SymbolDecoder, EopPositionAndKCodes) {
    CCCPacket p;
    SetSymbols(p, MessageSymbols(kKindSopPrime, {0x4F, 0x11}));
    ASSERT_TRUE(DecodeSymbols(p, nullptr));
    EXPECT_TRUE(p.eopFound);
    EXPECT_EQ(p.eopPosition, 64 + 5 * (4 + 12));
    EXPECT_EQ(p.kCodes[2], kSync3);
    EXPECT_EQ(p.receivedCrc, Crc32(p.messageBytes, 2));
}

TEST(SymbolDecoder, OverlongFrameFailsWithoutOverrun) {
    // 300 data bytes: more than any message holds.
    std::vector<uint8_t> bytes(300, 0x5A);
    CCCPacket p;
    SetSymbols(p, MessageSymbols(kKindSop, bytes));
    EXPECT_FALSE(DecodeSymbols(p, nullptr));
    EXPECT_FALSE(p.hasCrc);
    EXPECT_EQ(p.messageByteCount, 0);
    // The largest message, 264 bytes and the CRC, still decodes.
    CCCPacket q;
    SetSymbols(q, MessageSymbols(kKindSop, std::vector<uint8_t>(264, 0xA5)));
    EXPECT_TRUE(DecodeSymbols(q, nullptr));
    EXPECT_EQ(q.messageByteCount, 264);
}
