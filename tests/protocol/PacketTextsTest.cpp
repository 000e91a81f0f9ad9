#include "CaptureStore.h"
#include "PacketTexts.h"
#include "support/Blocks.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testpackets::Message;

std::vector<std::string> Texts(const CCCPacket& p, bool invert = false) {
    std::vector<std::string> t;
    for (int c = 0; c < kColumnCount; ++c) t.push_back(p.GetColumnText(c, invert));
    return t;
}

} // namespace

TEST(PacketTexts, TimeText) {
    const std::pair<int64_t, const char*> cases[] = {
        {1234567, "  1s 234ms 567us"},
        {61000001, "  1min  1s 000ms 001us"},
        {-3601000000, "-1h  0min  1s 000ms 000us"},
        {5, "  0s   0ms   5us"},
        {0, "  0s   0ms   0us"},
        {-1, "- 0s   0ms   1us"},
        {36000000000, " 10h  0min  0s 000ms 000us"},
        // Times no capture holds (a time origin read from a damaged file) are still written as they are.
        {18446744073709552, " 5124095h 34min 33s 709ms 552us"},
        {-(int64_t(1) << 62), "-1281023894h  0min 27s 387ms 904us"},
        {INT64_MAX, " 2562047788h  0min 54s 775ms 807us"},
        {-INT64_MAX, "-2562047788h  0min 54s 775ms 807us"},
        {INT64_MIN, "-2562047788h  0min 54s 775ms 808us"},
    };
    for (auto [t, text] : cases) EXPECT_EQ(FormatTimeText(t), text) << t;
}

TEST(PacketTexts, PacketWithoutPreambleShowsOnlyLineColumns) {
    CCCPacket p;
    p.index = 7;
    p.intervalCount = 3;
    p.tickSum = 48; // 20 µs at divisor 20
    p.bits.reset(new uint8_t[3]{1, 0, 1});
    p.bitCount = 3;
    const auto t = Texts(p);
    for (int c = 0; c < kColumnCount; ++c) {
        const bool shown = c <= 3 || c == 6 || c == 27 || (c >= 32 && c <= 34);
        EXPECT_EQ(!t[size_t(c)].empty(), shown) << c << ": " << t[size_t(c)];
    }
    EXPECT_EQ(t[0], "7");
    EXPECT_EQ(t[3], "20");
    EXPECT_EQ(t[6], "CC1");
    EXPECT_EQ(t[32], "101 (3bits)");
    EXPECT_EQ(t[33], "0");
    EXPECT_EQ(t[34], "0.000(Bad)");
}

TEST(PacketTexts, MessageColumns) {
    // Source_Capabilities, revision 3.0, from a DFP source, one fixed object 5 V 3 A.
    const CCCPacket p = Message(kKindSop, {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26});
    const auto t = Texts(p);
    EXPECT_EQ(t[7], "SOP");
    EXPECT_EQ(t[8], "Source");
    EXPECT_EQ(t[9], "DFP");
    EXPECT_EQ(t[10], "");
    EXPECT_EQ(t[11], "Source_Capabilities");
    EXPECT_EQ(t[12], "0");
    EXPECT_EQ(t[13], "3.0");
    EXPECT_EQ(t[14], "1");
    EXPECT_EQ(t[15], "0");
    EXPECT_EQ(t[16], "");
    EXPECT_EQ(t[22], "6");
    EXPECT_EQ(t[23], "11A1h");
    EXPECT_EQ(t[24], "[1]:2601912Ch ");
    EXPECT_EQ(t[26], "1234ABCDh");
    EXPECT_EQ(t[35], "A1 11 2C 91 01 26");
    EXPECT_EQ(t[36], "..,..&");
}

TEST(PacketTexts, FailedCrcKeepsLineColumnsOnly) {
    const CCCPacket p = Message(kKindSop, {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26}, false);
    const auto t = Texts(p);
    EXPECT_EQ(t[7], "SOP");
    EXPECT_EQ(t[22], "6");
    EXPECT_EQ(t[26], "1234ABCDh(Bad)");
    EXPECT_EQ(t[35], "A1 11 2C 91 01 26");
    for (int c : {8, 9, 11, 12, 13, 14, 15, 21, 23, 24}) EXPECT_EQ(t[size_t(c)], "") << c;
    EXPECT_EQ(p.GetColumnSortKey(23), -1);
}

TEST(PacketTexts, ResetsDebugKindsAndRevisionTwo) {
    CCCPacket hard = Message(kKindHardReset, {}, false); // a reset has no CRC
    hard.hasCrc = false;
    auto t = Texts(hard);
    EXPECT_EQ(t[7], "Hard Reset");
    EXPECT_EQ(t[22], "0");
    EXPECT_EQ(t[26], "-");
    for (int c : {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 23, 24, 35, 36})
        EXPECT_EQ(t[size_t(c)], "") << c;

    const auto debug = Texts(Message(kKindSopPrimeDebug, {0x41, 0x01}));
    EXPECT_EQ(debug[7], "Invalid");
    EXPECT_EQ(debug[8], "");
    EXPECT_EQ(debug[10], "");
    EXPECT_EQ(debug[11], "GoodCRC");

    // Revision 2.0 with header bit 15 set: not extended, its objects shown.
    const auto rev20 = Texts(Message(kKindSop, {0x43, 0x90, 0x01, 0x02, 0x03, 0x04}));
    for (int c = 15; c <= 20; ++c) EXPECT_EQ(rev20[size_t(c)], "") << c;
    EXPECT_EQ(rev20[24], "[1]:04030201h ");
}

TEST(PacketTexts, ExtendedDataText) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
    } cases[] = {
        // Status (extended 2), unchunked, Data Size 3, enough bytes.
        {{0x82, 0x90, 0x03, 0x00, 0xAA, 0xBB, 0xCC, 0x00}, "AA-BB-CCh"},
        {{0x82, 0x90, 0x00, 0x00, 0xAA, 0xBB}, ""},
        // Chunked, one object: at most 2 data bytes although Data Size says 7.
        {{0x82, 0x90, 0x07, 0x80, 0x01, 0x02, 0x03, 0x04}, "01-02h"},
        // Data Size larger than what arrived.
        {{0x82, 0xA0, 0x30, 0x00, 0x11}, "11h"},
    };
    for (const Case& c : cases) EXPECT_EQ(Message(kKindSop, c.bytes).GetColumnText(24, false), c.text);
    const auto t = Texts(Message(kKindSop, {0x82, 0x90, 0x03, 0x00, 0xAA, 0xBB, 0xCC, 0x00}));
    EXPECT_EQ(t[15], "1");
    EXPECT_EQ(t[16], "0003h");
    EXPECT_EQ(t[17], "0");
    EXPECT_EQ(t[20], "3");
}

TEST(PacketTexts, AnalogColumnsFromTheSampleInForce) {
    CCaptureStore store;
    testblocks::Block b = testblocks::VbusBlock({{1000, 20000, -2131, 1700, 0, 120, 5}});
    store.AddSamples(b.data(), 0);
    CCCPacket p = Message(kKindSop, {0x41, 0x00});
    p.store = &store;
    p.startTime = 10;
    auto t = Texts(p);
    EXPECT_EQ(t[4], "20.00");
    EXPECT_EQ(t[5], "-2.000");
    EXPECT_EQ(t[28], "1.70");
    EXPECT_EQ(t[30], "0.12");
    EXPECT_EQ(t[31], "0.004");
    EXPECT_EQ(t[37], "-40.000");
    t = Texts(p, true);
    EXPECT_EQ(t[5], "2.000");
    EXPECT_EQ(t[37], "40.000");
    EXPECT_EQ(p.GetColumnSortKey(37), -40000000);

    CCCPacket early = Message(kKindSop, {0x41, 0x00});
    early.store = &store;
    early.startTime = -5; // before the first sample
    t = Texts(early);
    for (int c : {4, 5, 28, 29, 30, 31, 37}) EXPECT_EQ(t[size_t(c)], "") << c;
    EXPECT_EQ(early.GetColumnSortKey(4), -1);
}

TEST(PacketTexts, FindAndCsv) {
    CCCPacket p = Message(kKindSop, {0x41, 0x00});
    p.index = 3;
    EXPECT_EQ(p.FindColumnText("", false), 0);
    EXPECT_EQ(p.FindColumnText("goodcrc", false), 11);
    EXPECT_EQ(p.FindColumnText("cc1", false), 6);
    EXPECT_EQ(p.FindColumnText("no such text", false), -1);

    ColumnLayout layout = ColumnLayout::Defaults();
    EXPECT_EQ(GetCsvCells(p, layout, true, false),
              ",\"3\",\"  0s   0ms   0us\",\"CC1\",\"SOP\",\"Sink\",\"UFP\",\"\",\"GoodCRC\",\"0\",\"\"");
    // All columns in display order, without the seven analog ones.
    const std::string all = GetCsvCells(p, layout, false, false);
    EXPECT_EQ(std::count(all.begin(), all.end(), ','), 31);
}

TEST(PacketTexts, ColumnNames) {
    EXPECT_EQ(ColumnIdFromName("Type"), 11);
    EXPECT_EQ(ColumnIdFromName("11"), 11);
    EXPECT_EQ(ColumnIdFromName("#"), 0);
    EXPECT_EQ(ColumnIdFromName("38"), -1);
    EXPECT_EQ(ColumnIdFromName("Nope"), -1);
}
