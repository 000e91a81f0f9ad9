#include "MessageHeader.h"
#include "CCPacket.h"
#include "PDField.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// A decoded packet of the given kind whose message header is `header`, followed by `rest` (extended header
// or data object bytes).
CCCPacket MakePacket(int32_t kind, uint16_t header, std::vector<uint8_t> rest = {}) {
    CCCPacket packet;
    packet.kind = kind;
    packet.preambleFound = true;
    packet.crcGood = true;
    // Reset and undecoded kinds get header bytes too: stale bytes must not be taken for a message.
    packet.messageBytes[0] = uint8_t(header);
    packet.messageBytes[1] = uint8_t(header >> 8);
    for (size_t i = 0; i < rest.size(); ++i) packet.messageBytes[2 + i] = rest[i];
    packet.messageByteCount = IsMessageKind(kind) ? int32_t(2 + rest.size()) : 0;
    return packet;
}

uint32_t FieldValue(uint32_t word, const PDFieldDesc& field) {
    const uint32_t mask = field.bitLength >= 32 ? 0xFFFFFFFFu : (1u << field.bitLength) - 1;
    return (word >> field.bitOffset) & mask;
}

// First entry of the list at the offset, as the field table looks fields up.
const PDFieldDesc* FieldAt(const PDFieldDesc* list, uint32_t offset) {
    for (; list->bitLength != 0; ++list)
        if (list->bitOffset == offset) return list;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Classification, names and revision texts.

struct ClassCase {
    const char* what;
    int32_t kind;
    uint16_t header;
    int code; // -1: not checked (kinds without a message)
    const char* typeText;
    const char* revisionText;
    bool extended, control, data, reset;
};

const ClassCase kClassCases[] = {
    {"bit 15 ignored before 3.0", kKindSop, 0x8041, 1, "GoodCRC", "2.0", false, true, false, false},
    {"bit 15 ignored before 3.0, data", kKindSop, 0x9041, 1, "Source_Capabilities", "2.0", false, false, true,
     false},
    {"3.0 data message", kKindSop, 0x11A1, 1, "Source_Capabilities", "3.0", false, false, true, false},
    {"3.0 extended message", kKindSop, 0x91A1, 1, "Source_Capabilities_Extended", "3.0", true, false, false,
     false},
    {"extended without data objects", kKindSop, 0x8090, 16, "Extended_Control", "3.0", true, false, false,
     false},
    {"fifth type bit ignored before 3.0", kKindSop, 0x0051, 1, "GoodCRC", "2.0", false, true, false, false},
    {"fifth type bit at 3.0", kKindSop, 0x0091, 17, "Get_Source_Cap_Extended", "3.0", false, true, false,
     false},
    {"Ping at 1.0", kKindSop, 0x0005, 5, "Ping", "1.0", false, true, false, false},
    {"Ping at 2.0", kKindSop, 0x0045, 5, "Ping", "2.0", false, true, false, false},
    {"Ping at 3.0", kKindSop, 0x0085, 5, "Ping (Deprecated)", "3.0", false, true, false, false},
    {"GotoMin at 2.0", kKindSop, 0x0042, 2, "GotoMin", "2.0", false, true, false, false},
    {"GotoMin at 3.0", kKindSop, 0x0082, 2, "GotoMin (Deprecated)", "3.0", false, true, false, false},
    {"revision field 3 is read as 3.0", kKindSop, 0x00C5, 5, "Ping (Deprecated)", "Rsv(3)", false, true,
     false, false},
    {"revision field 3, extended, five type bits", kKindSop, 0x80D1, 17, "EPR_Source_Capabilities", "Rsv(3)",
     true, false, false, false},
    {"names are not limited by revision", kKindSop, 0x004E, 14, "Data_Reset", "2.0", false, true, false,
     false},
    {"Soft_Reset at 3.0", kKindSop, 0x008D, 13, "Soft_Reset", "3.0", false, true, false, true},
    {"Soft_Reset at 2.0", kKindSop, 0x004D, 13, "Soft_Reset", "2.0", false, true, false, true},
    {"data code 13 is no reset", kKindSop, 0x108D, 13, "Unknown(13)", "3.0", false, false, true, false},
    {"extended code 13 is no reset", kKindSop, 0x908D, 13, "Country_Info", "3.0", true, false, false, false},
    {"extended code 19 has no name", kKindSop, 0x8093, 19, "Unknown(19)", "3.0", true, false, false, false},
    {"extended code 30", kKindSop, 0x809E, 30, "Vendor_Defined_Extended", "3.0", true, false, false, false},
    {"control code 0 has no name", kKindSop, 0x0080, 0, "Unknown(0)", "3.0", false, true, false, false},
    {"control code 25 has no name", kKindSop, 0x0099, 25, "Unknown(25)", "3.0", false, true, false, false},
    {"seven data objects", kKindSop, 0x704F, 15, "Vendor_Defined", "2.0", false, false, true, false},
    {"SOP' message", kKindSopPrime, 0x0181, 1, "GoodCRC", "3.0", false, true, false, false},
    {"SOP'' message", kKindSopDoublePrime, 0x1042, 2, "Request", "2.0", false, false, true, false},
    {"SOP'_Debug named like SOP", kKindSopPrimeDebug, 0x11A1, 1, "Source_Capabilities", "3.0", false, false,
     true, false},
    {"SOP''_Debug extended", kKindSopDoublePrimeDebug, 0x91A1, 1, "Source_Capabilities_Extended", "3.0", true,
     false, false, false},
    {"SOP''_Debug Soft_Reset", kKindSopDoublePrimeDebug, 0x008D, 13, "Soft_Reset", "3.0", false, true, false,
     true},
    {"Hard Reset", kKindHardReset, 0x008D, -1, "Hard Reset", "", false, false, false, true},
    {"Cable Reset", kKindCableReset, 0x91A1, -1, "Cable Reset", "", false, false, false, true},
    {"fewer than four symbols", kKindNotDecoded, 0x11A1, -1, "(Unknown OS)", "", false, false, false, false},
    {"unrecognised ordered set", kKindUnknown, 0x008D, -1, "(Unknown OS)", "", false, false, false, false},
    {"kind 0", 0, 0x0041, -1, "(Unknown OS)", "", false, false, false, false},
    {"kind 8", 8, 0x0041, -1, "(Unknown OS)", "", false, false, false, false},
};

TEST(MessageClassification, HeaderAndKindGiveClassNameAndRevision) {
    for (const ClassCase& c : kClassCases) {
        SCOPED_TRACE(c.what);
        const CCCPacket packet = MakePacket(c.kind, c.header);
        if (c.code >= 0) {
            EXPECT_EQ(packet.GetMessageTypeCode(), c.code);
        }
        EXPECT_EQ(packet.GetMessageTypeText(), c.typeText);
        EXPECT_EQ(packet.GetRevisionText(), c.revisionText);
        EXPECT_EQ(packet.IsExtendedMessage(), c.extended);
        EXPECT_EQ(packet.IsControlMessage(), c.control);
        EXPECT_EQ(packet.IsDataMessage(), c.data);
        EXPECT_EQ(packet.IsResetMessage(), c.reset);
    }
}

// Which codes each name table knows; every other code falls back to "Unknown(%d)".
TEST(MessageClassification, NamedCodesPerTable) {
    std::set<int> controlCodes, dataCodes, extendedCodes;
    for (int code = 1; code <= 24; ++code) controlCodes.insert(code);
    for (int code = 1; code <= 12; ++code) dataCodes.insert(code);
    dataCodes.insert(15);
    for (int code = 1; code <= 18; ++code) extendedCodes.insert(code);
    extendedCodes.insert(30);

    struct TableCase {
        const char* what;
        uint16_t headerBits; // revision, object count and extended bits
        int codeCount;
        const std::set<int>& named;
    };
    const TableCase tables[] = {
        {"control 3.0", 0x0080, 32, controlCodes}, {"control 2.0", 0x0040, 16, controlCodes},
        {"data 3.0", 0x2080, 32, dataCodes},       {"data 1.0", 0x2000, 16, dataCodes},
        {"extended", 0x8080, 32, extendedCodes},
    };
    for (const TableCase& t : tables) {
        for (int code = 0; code < t.codeCount; ++code) {
            SCOPED_TRACE(std::string(t.what) + " code " + std::to_string(code));
            const CCCPacket packet = MakePacket(kKindSop, uint16_t(t.headerBits | code));
            const std::string text = packet.GetMessageTypeText();
            if (t.named.count(code)) {
                EXPECT_EQ(text.rfind("Unknown(", 0), std::string::npos) << text;
            } else {
                EXPECT_EQ(text, "Unknown(" + std::to_string(code) + ")");
            }
        }
    }
}

TEST(MessageClassification, DataObjectsAreLittleEndianWordsAfterTheHeader) {
    std::vector<uint8_t> rest(28);
    for (size_t i = 0; i < rest.size(); ++i) rest[i] = uint8_t(0x10 + i);
    CCCPacket packet = MakePacket(kKindSop, 0x71A1, rest);
    EXPECT_EQ(packet.DataObject(1), 0x13121110u);
    EXPECT_EQ(packet.DataObject(2), 0x17161514u);
    EXPECT_EQ(packet.DataObject(7), 0x2B2A2928u);

    // An announced object that was not received is read from the buffer all the same.
    packet.messageByteCount = 6;
    EXPECT_EQ(packet.DataObject(3), 0x1B1A1918u);
}

// ---------------------------------------------------------------------------------------------------------
// Field descriptions.

struct DescribeCase {
    const char* what;
    const PDValueText* rules;
    uint32_t v;
    const char* expected;
};

constexpr PDValueText kExactRules[] = {
    {0xFFFFFFFF, 0, "Zero", 1},
    {0xFFFFFFFF, 2, "Two", 1},
    {0xFFFFFFFF, -1, "All ones", 1},
    kValueTextEnd,
};

constexpr PDValueText kFlagRules[] = {
    {0x00000001, 0x00000001, "Flag A", 1},
    {0x00000004, 0x00000004, "Flag C", 1},
    {0x80000000, int32_t(0x80000000), "Flag 31", 1},
    kValueTextEnd,
};

constexpr PDValueText kScaledRules[] = {
    {0, 0, "%d [mV]", 50},
    kValueTextEnd,
};

// A battery capacity: the unknown marker and the catch-all both apply to 65535.
constexpr PDValueText kBatteryCapacityRules[] = {
    {0xFFFFFFFF, 65535, "Battery's SoC unknown", 1},
    {0, 0, "Battery's SoC %d [mWH] increments", 100},
    kValueTextEnd,
};

constexpr PDValueText kPercentRules[] = {
    {0, 0, "%d%% of rated", 1},
    {0xFFFFFFFF, 100, "100%%", 1},
    kValueTextEnd,
};

constexpr PDValueText kSignedRules[] = {
    {0, 0, "%d", 1},
    kValueTextEnd,
};

// Rules after the end rule are not part of the table.
constexpr PDValueText kEndedRules[] = {
    {0xFFFFFFFF, 1, "One", 1},
    kValueTextEnd,
    {0, 0, "after the end", 1},
};

constexpr PDValueText kLongRules[] = {
    {0, 0,
     "%d: a description that is much longer than any fixed buffer a formatter might use for a single rule, "
     "so that a truncating implementation shows up here rather than in a long vendor text in the field "
     "table; it goes on for a while longer still, and ends with the word END",
     1},
    kValueTextEnd,
};

const DescribeCase kDescribeCases[] = {
    {"exact value", kExactRules, 2, "Two"},
    {"exact zero", kExactRules, 0, "Zero"},
    {"exact all ones", kExactRules, 0xFFFFFFFF, "All ones"},
    {"exact, no match", kExactRules, 1, ""},
    {"one flag", kFlagRules, 0x4, "Flag C"},
    {"flags in table order", kFlagRules, 0x80000005, "Flag A, Flag C, Flag 31"},
    {"no flag set", kFlagRules, 0x2, ""},
    {"catch-all scales", kScaledRules, 100, "5000 [mV]"},
    {"catch-all at zero", kScaledRules, 0, "0 [mV]"},
    {"battery capacity unknown", kBatteryCapacityRules, 65535,
     "Battery's SoC unknown, Battery's SoC 6553500 [mWH] increments"},
    {"battery capacity known", kBatteryCapacityRules, 10, "Battery's SoC 1000 [mWH] increments"},
    {"percent sign", kPercentRules, 42, "42% of rated"},
    {"percent sign, two rules", kPercentRules, 100, "100% of rated, 100%"},
    {"argument is a signed int", kSignedRules, 0xFFFFFFFF, "-1"},
    {"end rule ends the table", kEndedRules, 1, "One"},
    {"end rule ends the table, no match", kEndedRules, 2, ""},
};

TEST(DescribeFieldValue, RuleShapes) {
    for (const DescribeCase& c : kDescribeCases) {
        SCOPED_TRACE(c.what);
        const PDFieldDesc field = {0, 32, c.rules, "Field"};
        EXPECT_EQ(DescribeFieldValue(field, c.v), c.expected);
    }
}

TEST(DescribeFieldValue, EmptyWithoutTable) {
    const PDFieldDesc field = {0, 32, nullptr, "Field"};
    EXPECT_EQ(DescribeFieldValue(field, 0), "");
    EXPECT_EQ(DescribeFieldValue(field, 7), "");
}

TEST(DescribeFieldValue, LongTextIsNotCut) {
    const PDFieldDesc field = {0, 32, kLongRules, "Field"};
    const std::string text = DescribeFieldValue(field, 12345);
    EXPECT_EQ(text.rfind("12345: a description", 0), 0u);
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 3), "END");
}

// ---------------------------------------------------------------------------------------------------------
// Header lists.

struct ListChoiceCase {
    const char* what;
    int32_t kind;
    uint16_t header;
    const PDFieldDesc* expected;
};

const ListChoiceCase kListChoiceCases[] = {
    {"SOP 1.0", kKindSop, 0x0001, kSopRev20HeaderFields},
    {"SOP 2.0 with bit 15", kKindSop, 0x9041, kSopRev20HeaderFields},
    {"SOP 3.0", kKindSop, 0x11A1, kSopRev30HeaderFields},
    {"SOP 3.0 extended", kKindSop, 0x91A1, kSopRev30ExtendedHeaderFields},
    {"SOP revision field 3", kKindSop, 0x00C5, kSopRev30HeaderFields},
    {"SOP revision field 3 extended", kKindSop, 0x80D1, kSopRev30ExtendedHeaderFields},
    {"SOP' 2.0 with bit 15", kKindSopPrime, 0x8141, kCableRev20HeaderFields},
    {"SOP' 3.0", kKindSopPrime, 0x0181, kCableRev30HeaderFields},
    {"SOP'' 3.0", kKindSopDoublePrime, 0x1181, kCableRev30HeaderFields},
    {"SOP'' 3.0 extended", kKindSopDoublePrime, 0x9181, kCableRev30ExtendedHeaderFields},
    {"SOP'' 1.0", kKindSopDoublePrime, 0x0101, kCableRev20HeaderFields},
    {"SOP'_Debug", kKindSopPrimeDebug, 0x11A1, nullptr},
    {"SOP''_Debug", kKindSopDoublePrimeDebug, 0x91A1, nullptr},
    {"Hard Reset", kKindHardReset, 0x11A1, nullptr},
    {"Cable Reset", kKindCableReset, 0x11A1, nullptr},
    {"undecoded", kKindNotDecoded, 0x11A1, nullptr},
    {"unknown ordered set", kKindUnknown, 0x11A1, nullptr},
};

TEST(MessageHeaderFields, ListChosenByKindRevisionAndExtended) {
    for (const ListChoiceCase& c : kListChoiceCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MessageHeaderFields(MakePacket(c.kind, c.header)), c.expected);
    }
}

struct ListShape {
    const char* what;
    const PDFieldDesc* list;
    bool cable;
    bool rev30;
    bool extended;
};

const ListShape kListShapes[] = {
    {"SOP 2.0", kSopRev20HeaderFields, false, false, false},
    {"SOP 3.0", kSopRev30HeaderFields, false, true, false},
    {"SOP 3.0 extended", kSopRev30ExtendedHeaderFields, false, true, true},
    {"Cable 2.0", kCableRev20HeaderFields, true, false, false},
    {"Cable 3.0", kCableRev30HeaderFields, true, true, false},
    {"Cable 3.0 extended", kCableRev30ExtendedHeaderFields, true, true, true},
};

// Every bit of the header and of the data objects (or of the extended header and data) belongs to exactly
// one field, and the end entry is all zero.
TEST(MessageHeaderFields, ListsCoverTheirBitsOnce) {
    for (const ListShape& s : kListShapes) {
        SCOPED_TRACE(s.what);
        const uint32_t totalBits = s.extended ? 32 + 2080 : 16 + 7 * 32;
        std::vector<int> cover(totalBits, 0);
        const PDFieldDesc* field = s.list;
        for (; field->bitLength != 0; ++field) {
            ASSERT_NE(field->name, nullptr);
            ASSERT_LE(field->bitOffset + field->bitLength, totalBits) << field->name;
            for (uint32_t bit = field->bitOffset; bit < field->bitOffset + field->bitLength; ++bit)
                ++cover[bit];
        }
        EXPECT_EQ(field->bitOffset, 0u);
        EXPECT_EQ(field->values, nullptr);
        EXPECT_EQ(field->name, nullptr);
        for (uint32_t bit = 0; bit < totalBits; ++bit) EXPECT_EQ(cover[bit], 1) << "bit " << bit;
    }
}

TEST(MessageHeaderFields, RowsThatDifferBetweenLists) {
    for (const ListShape& s : kListShapes) {
        SCOPED_TRACE(s.what);
        const PDFieldDesc* type = FieldAt(s.list, 0);
        ASSERT_NE(type, nullptr);
        EXPECT_STREQ(type->name, "Message Type");
        EXPECT_EQ(type->bitLength, s.rev30 ? 5u : 4u);
        EXPECT_EQ(type->values, nullptr); // filled in per message
        EXPECT_EQ(FieldAt(s.list, 4) != nullptr, !s.rev30);

        const PDFieldDesc* bit5 = FieldAt(s.list, 5);
        ASSERT_NE(bit5, nullptr);
        EXPECT_STREQ(bit5->name, s.cable ? "Reserved" : "Port Data Role");
        EXPECT_EQ(bit5->values, s.cable ? nullptr : kPortDataRoleValues);

        const PDFieldDesc* bit8 = FieldAt(s.list, 8);
        ASSERT_NE(bit8, nullptr);
        EXPECT_STREQ(bit8->name, s.cable ? "Cable Plug" : "Port Power Role");

        const PDFieldDesc* bit15 = FieldAt(s.list, 15);
        ASSERT_NE(bit15, nullptr);
        EXPECT_STREQ(bit15->name, s.rev30 ? "Extended" : "Reserved");
        EXPECT_EQ(bit15->values, s.rev30 ? kExtendedValues : nullptr);

        const PDFieldDesc* bit16 = FieldAt(s.list, 16);
        ASSERT_NE(bit16, nullptr);
        EXPECT_STREQ(bit16->name, s.extended ? "Data Size" : "Data Object #1");
        if (!s.extended) {
            const PDFieldDesc* last = FieldAt(s.list, 208);
            ASSERT_NE(last, nullptr);
            EXPECT_STREQ(last->name, "Data Object #7");
        }
    }
}

// Describes every header row of the packet's list as "name=description".
std::vector<std::string> DescribeHeader(const CCCPacket& packet) {
    std::vector<std::string> rows;
    const PDFieldDesc* list = MessageHeaderFields(packet);
    if (!list) return rows;
    for (const PDFieldDesc* field = list; field->bitLength != 0 && field->bitOffset < 16; ++field) {
        const PDFieldDesc described = {field->bitOffset, field->bitLength, FieldValueTable(packet, *field),
                                       field->name};
        rows.push_back(std::string(field->name) + "=" +
                       DescribeFieldValue(described, FieldValue(packet.Header(), *field)));
    }
    return rows;
}

struct HeaderRowsCase {
    const char* what;
    int32_t kind;
    uint16_t header;
    std::vector<std::string> rows;
};

TEST(MessageHeaderFields, HeaderRowsDescribeThePacket) {
    const HeaderRowsCase cases[] = {
        {"SOP 3.0 source capabilities",
         kKindSop,
         0x11A1,
         {"Message Type=Source_Capabilities", "Port Data Role=DFP", "Specification Revision=Revision 3.0",
          "Port Power Role=Source",
          "MessageID=", "Number of Data Objects=", "Extended=Control or Data Message"}},
        {"SOP 2.0 ping from a sink UFP",
         kKindSop,
         0x0045,
         {"Message Type=Ping", "Reserved=", "Port Data Role=UFP", "Specification Revision=Revision 2.0",
          "Port Power Role=Sink", "MessageID=", "Number of Data Objects=", "Reserved="}},
        {"SOP revision field 3 ping",
         kKindSop,
         0x00C5,
         {"Message Type=Ping (Depricated)", "Port Data Role=UFP", "Specification Revision=Reserved",
          "Port Power Role=Sink",
          "MessageID=", "Number of Data Objects=", "Extended=Control or Data Message"}},
        {"SOP' 3.0 extended from the cable plug",
         kKindSopPrime,
         0x9591,
         {"Message Type=EPR_Source_Capabilities", "Reserved=", "Specification Revision=Revision 3.0",
          "Cable Plug=Message originated from a Cable Plug",
          "MessageID=", "Number of Data Objects=", "Extended=Extended Message"}},
        {"SOP'' 1.0 from a port",
         kKindSopDoublePrime,
         0x0003,
         {"Message Type=Accept", "Reserved=", "Reserved=", "Specification Revision=Revision 1.0",
          "Cable Plug=Message originated from a DFP or UFP",
          "MessageID=", "Number of Data Objects=", "Reserved="}},
        {"SOP'_Debug has no rows", kKindSopPrimeDebug, 0x11A1, {}},
    };
    for (const HeaderRowsCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DescribeHeader(MakePacket(c.kind, c.header)), c.rows);
    }
}

// The field-table texts of "Message Type" follow the message names, apart from the deliberate differences:
// the older tables stop early, and the 3.0 control table spells the deprecated Ping its own way.
TEST(MessageHeaderFields, MessageTypeTextsFollowTheNames) {
    struct TableCase {
        const char* what;
        uint16_t headerBits;
        int codeCount;
        const PDValueText* table;
    };
    const TableCase tables[] = {
        {"control 3.0", 0x0080, 32, kControlMessageTypeValuesRev30},
        {"control 2.0", 0x0040, 16, kControlMessageTypeValuesRev20},
        {"data 3.0", 0x1080, 32, kDataMessageTypeValuesRev30},
        {"data 2.0", 0x1040, 16, kDataMessageTypeValuesRev20},
        {"extended", 0x8080, 32, kExtendedMessageTypeValues},
        {"extended, revision field 3", 0x80C0, 32, kExtendedMessageTypeValues},
    };
    for (const TableCase& t : tables) {
        for (int code = 0; code < t.codeCount; ++code) {
            SCOPED_TRACE(std::string(t.what) + " code " + std::to_string(code));
            const CCCPacket packet = MakePacket(kKindSop, uint16_t(t.headerBits | code));
            const PDValueText* table = MessageTypeValueTable(packet);
            EXPECT_EQ(table, t.table);

            std::string expected = packet.GetMessageTypeText();
            if (expected.rfind("Unknown(", 0) == 0) expected.clear();
            if (t.table == kControlMessageTypeValuesRev30 && code == 5) expected = "Ping (Depricated)";
            if (t.table == kControlMessageTypeValuesRev20 && code >= 14) expected.clear();
            if (t.table == kDataMessageTypeValuesRev20 && code >= 5 && code <= 12) expected.clear();
            const PDFieldDesc field = {0, 5, table, "Message Type"};
            EXPECT_EQ(DescribeFieldValue(field, uint32_t(code)), expected);
        }
    }
}

TEST(MessageHeaderFields, NoMessageTypeTableWithoutAMessage) {
    for (int32_t kind : {int32_t(kKindHardReset), int32_t(kKindCableReset), int32_t(kKindNotDecoded),
                         int32_t(kKindUnknown)}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(MessageTypeValueTable(MakePacket(kind, 0x11A1)), nullptr);
    }
}

TEST(MessageHeaderFields, FieldValueTableSubstitutesOnlyTheMessageTypeEntry) {
    const CCCPacket packet = MakePacket(kKindSop, 0x11A1);
    EXPECT_EQ(FieldValueTable(packet, kSopRev30HeaderFields[0]), kDataMessageTypeValuesRev30);
    EXPECT_EQ(FieldValueTable(packet, *FieldAt(kSopRev30HeaderFields, 6)), kSpecificationRevisionValues);
    EXPECT_EQ(FieldValueTable(packet, *FieldAt(kSopRev30HeaderFields, 9)), nullptr);
    // A field of another list at offset 0 keeps its own (absent) table.
    EXPECT_EQ(FieldValueTable(packet, *FieldAt(kExtendedMessageHeaderFields, 0)), nullptr);
}

// The separate extended header list reads the same values as the extended header rows of the header lists.
TEST(MessageHeaderFields, ExtendedHeaderListMatchesHeaderRows) {
    const uint16_t header = 0x91A1;
    const uint16_t extendedHeader = 0x9C1E; // chunked, chunk 3, request chunk, 30 bytes
    const uint32_t word = header | uint32_t(extendedHeader) << 16;

    struct Expected {
        const char* name;
        uint32_t offset;
        uint32_t value;
    };
    const Expected expected[] = {
        {"Data Size", 0, 30}, {"Request Chunk", 10, 1}, {"Chunk Number", 11, 3}, {"Chunked", 15, 1}};
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const PDFieldDesc* own = FieldAt(kExtendedMessageHeaderFields, e.offset);
        ASSERT_NE(own, nullptr);
        EXPECT_STREQ(own->name, e.name);
        EXPECT_EQ(own->values, nullptr);
        EXPECT_EQ(FieldValue(extendedHeader, *own), e.value);
        for (const PDFieldDesc* list : {kSopRev30ExtendedHeaderFields, kCableRev30ExtendedHeaderFields}) {
            const PDFieldDesc* inHeader = FieldAt(list, 16 + e.offset);
            ASSERT_NE(inHeader, nullptr);
            EXPECT_STREQ(inHeader->name, e.name);
            EXPECT_EQ(inHeader->bitLength, own->bitLength);
            EXPECT_EQ(FieldValue(word, *inHeader), e.value);
        }
    }
    // Bit 9 of the extended header is reserved and has no row of its own there.
    EXPECT_EQ(FieldAt(kExtendedMessageHeaderFields, 9), nullptr);
    int count = 0;
    for (const PDFieldDesc* f = kExtendedMessageHeaderFields; f->bitLength != 0; ++f) ++count;
    EXPECT_EQ(count, 4);

    const CCCPacket packet =
        MakePacket(kKindSop, header, {uint8_t(extendedHeader), uint8_t(extendedHeader >> 8)});
    EXPECT_EQ(packet.ExtendedHeader(), extendedHeader);
}

} // namespace
