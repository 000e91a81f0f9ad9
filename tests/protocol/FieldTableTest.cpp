#include "CCPacket.h"
#include "FieldTable.h"
#include "support/Packets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testpackets::Message;

std::vector<std::string> Column(const std::vector<PDFieldRow>& rows, size_t c) {
    std::vector<std::string> v;
    for (const auto& r : rows) v.push_back(r[c]);
    return v;
}

// Source_Capabilities, revision 3.0, two fixed objects: 5 V 3 A and 9 V 3 A (FFFFFFFFh is not a
// valid object but shows the signed decimal).
const std::vector<uint8_t> kSourceCaps = {0xA1, 0x21, 0x2C, 0x91, 0x01, 0x26, 0xFF, 0xFF, 0xFF, 0xFF};

} // namespace

TEST(FieldTable, WholeMessageShowsHeaderThenObjects) {
    const CCCPacket p = Message(kKindSop, kSourceCaps);
    const auto rows = BuildFieldRows(p, false, 0, 80);
    EXPECT_EQ(Column(rows, 2),
              (std::vector<std::string>{"Message Type", "Port Data Role", "Specification Revision", "Port Power Role",
                                        "MessageID", "Number of Data Objects", "Extended", "Data Object #1",
                                        "Data Object #2"}));
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"0..4", "5", "6..7", "8", "9..11", "12..14", "15",
                                                         "16..47", "48..79"}));
    EXPECT_EQ(rows[0][3], "01h (1)");
    EXPECT_EQ(rows[0][4], "Source_Capabilities");
    EXPECT_EQ(rows[1][4], "DFP");
    EXPECT_EQ(rows[2][3], "2h (2)");
    EXPECT_EQ(rows[2][4], "Revision 3.0");
    EXPECT_EQ(rows[5][3], "2h (2)");
    EXPECT_EQ(rows[7][3], "2601912Ch (637636908)");
    EXPECT_EQ(rows[7][5], "2C 91 01 26 ");
    EXPECT_EQ(rows[7][6], ",..&");
    EXPECT_EQ(rows[8][3], "FFFFFFFFh (-1)");
    EXPECT_EQ(rows[8][1], "32");
}

TEST(FieldTable, RangeOfOneObjectShowsItsOwnFields) {
    const CCCPacket p = Message(kKindSop, kSourceCaps);
    const auto rows = BuildFieldRows(p, false, 16, 32);
    ASSERT_GT(rows.size(), 3u);
    EXPECT_EQ(rows.front()[0], "0..9"); // offsets count from the object's first bit
    EXPECT_EQ(rows.front()[3], "12Ch (300)");
    EXPECT_EQ(rows.back()[0], "30..31");
    EXPECT_EQ(rows.back()[3], "0h (0)"); // kind: fixed
    for (const auto& r : rows) EXPECT_NE(r[2], "Data Object #1");
}

TEST(FieldTable, ExtendedDataInPiecesOf128Bits) {
    // Status-like extended message of 30 bytes: header, extended header (Data Size 26), 26 data bytes.
    std::vector<uint8_t> bytes = {0x82, 0xF0, 0x1A, 0x00};
    for (int i = 0; i < 26; ++i) bytes.push_back(uint8_t(0x41 + i));
    CCCPacket p = Message(kKindSop, bytes);
    p.kind = kKindSopPrimeDebug; // no header list and no data segment: only what the header lists give
    EXPECT_TRUE(BuildFieldRows(p, false, 0, 240).empty());

    p.kind = kKindSop;
    p.extData = p.messageBytes + 4; // a message in one packet: its own bytes are its data block
    p.extDataSize = p.extChunkLength = 26;
    const auto rows = BuildFieldRows(p, false, 0, 240);
    ASSERT_GE(rows.size(), 2u);
    const PDFieldRow& a = rows[rows.size() - 2];
    const PDFieldRow& b = rows.back();
    EXPECT_EQ(a[0], "32..159");
    EXPECT_EQ(a[1], "128");
    EXPECT_EQ(a[2], "Extended Data[0..15]");
    EXPECT_EQ(a[3], "44434241h - 48474645h - 4C4B4A49h - 504F4E4Dh");
    EXPECT_EQ(a[6], "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(b[0], "160..239");
    EXPECT_EQ(b[1], "80");
    EXPECT_EQ(b[2], "Extended Data[16..25]");
    EXPECT_EQ(b[3], "54535251h - 58575655h - 5A59h (23129)");
}

TEST(FieldTable, ExtendedHeaderRange) {
    std::vector<uint8_t> bytes = {0x82, 0x90, 0x03, 0xAC, 1, 2, 3, 0};
    const CCCPacket p = Message(kKindSop, bytes);
    const auto rows = BuildFieldRows(p, false, 16, 16);
    EXPECT_EQ(Column(rows, 2),
              (std::vector<std::string>{"Data Size", "Request Chunk", "Chunk Number", "Chunked"}));
    EXPECT_EQ(Column(rows, 0), (std::vector<std::string>{"0..8", "10", "11..14", "15"}));
    EXPECT_EQ(rows[2][3], "5h (5)");
}

TEST(FieldTable, KindsWithoutHeaderListGiveNoRows) {
    for (int32_t kind : {kKindHardReset, kKindCableReset, kKindSopPrimeDebug, kKindSopDoublePrimeDebug}) {
        const CCCPacket p = Message(kind, {0x41, 0x00});
        EXPECT_TRUE(BuildFieldRows(p, false, 0, 16).empty()) << kind;
    }
    EXPECT_TRUE(BuildFieldRows(Message(kKindSop, {0x41, 0x00}), false, 0, 0).empty());
}

TEST(FieldTable, RequestWithoutItsCapabilitiesIsOneObjectRow) {
    const CCCPacket p = Message(kKindSop, {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x13});
    const auto rows = BuildFieldRows(p, false, 16, 32);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "Data Object #1");
    EXPECT_EQ(rows[0][0], "0..31");
}

TEST(FieldTable, RowBytesComeFromTheFieldsOwnBits) {
    // Specification Revision (2 bits) of value 2, and the 3-bit MessageID of value 5.
    const CCCPacket p = Message(kKindSop, {0x81, 0x0A});
    const auto rows = BuildFieldRows(p, false, 0, 16);
    const auto names = Column(rows, 2);
    const size_t id = size_t(std::find(names.begin(), names.end(), "MessageID") - names.begin());
    ASSERT_LT(id, rows.size());
    EXPECT_EQ(rows[id][3], "5h (5)");
    EXPECT_EQ(rows[id][5], "05 ");
    EXPECT_EQ(rows[id][6], ".");
}

TEST(FieldTable, BlockViewWithoutDataReadsOnes) {
    std::vector<uint8_t> bytes = {0x82, 0x90, 0x03, 0x00, 1, 2, 3, 0};
    const CCCPacket p = Message(kKindSop, bytes);
    const auto rows = BuildFieldRows(p, true, 0, 16);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0][3], "FFh (255)") << rows[0][2];
    EXPECT_EQ(rows[1][3], "1h (1)") << rows[1][2];
}

// Only the first byte of the header came: its fields read, the rest say they were not received instead
// of showing ones.
TEST(FieldTable, BitsNotReceivedSaySo) {
    const CCCPacket p = Message(kKindSop, {0xA1}, false);
    const auto rows = BuildFieldRows(p, false, 0, 16);
    EXPECT_EQ(Column(rows, 2), (std::vector<std::string>{"Message Type", "Port Data Role",
                                                         "Specification Revision", "Port Power Role",
                                                         "MessageID", "Number of Data Objects", "Extended"}));
    EXPECT_EQ(Column(rows, 3),
              (std::vector<std::string>{"01h (1)", "1h (1)", "2h (2)", "(Not Received)", "(Not Received)",
                                        "(Not Received)", "(Not Received)"}));
    const std::vector<std::string> descriptions = Column(rows, 4);
    EXPECT_EQ(std::vector<std::string>(descriptions.begin() + 1, descriptions.end()),
              (std::vector<std::string>{"DFP", "Revision 3.0", "", "", "", ""}));
    EXPECT_EQ(Column(rows, 5), (std::vector<std::string>{"01 ", "01 ", "02 ", "", "", "", ""}));
}
