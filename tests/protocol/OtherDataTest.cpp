#include "OtherData.h"

#include "CCPacket.h"
#include "MessageHeader.h"
#include "MessageTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

enum : int {
    kBist = 3,
    kBatteryStatus = 5,
    kAlert = 6,
    kGetCountryInfo = 7,
    kEnterUsb = 8,
    kEprMode = 10,
    kSourceInfo = 11,
    kRevision = 12,
};

// A data message with the given objects; revision field 2 (3.0) unless told otherwise.
void MakeDataMessage(CCCPacket& p, int code, const std::vector<uint32_t>& objects, int32_t kind = kKindSop,
                     int revision = 2) {
    const uint16_t header = uint16_t(code | revision << 6 | int(objects.size()) << 12);
    p.kind = kind;
    p.messageBytes[0] = uint8_t(header);
    p.messageBytes[1] = uint8_t(header >> 8);
    int at = 2;
    for (uint32_t object : objects)
        for (int k = 0; k < 4; ++k) p.messageBytes[at++] = uint8_t(object >> (8 * k));
    p.messageByteCount = at;
}

const PDFieldDesc* FindField(const PDFieldDesc* list, const char* name) {
    for (const PDFieldDesc* f = list; f->bitLength != 0; ++f)
        if (std::strcmp(f->name, name) == 0) return f;
    return nullptr;
}

struct DescriptionCase {
    const char* label;
    int code;
    std::vector<uint32_t> objects;
    const char* expected;
    int32_t kind = kKindSop;
    int revision = 2;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.label;
}

class OtherDataDescription : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(OtherDataDescription, Text) {
    const DescriptionCase& c = GetParam();
    CCCPacket p;
    MakeDataMessage(p, c.code, c.objects, c.kind, c.revision);
    EXPECT_EQ(p.GetDescriptionText(), c.expected);
}

// clang-format off
const DescriptionCase kDescriptionCases[] = {
    {"BistCarrier2", kBist, {0x50000000}, "BIST Carrier Mode 2 (16-bit unsigned integer = 0000h)"},
    {"BistUnknown11", kBist, {0xB0000000}, "(Unknown BIST code 11) (16-bit unsigned integer = 0000h)"},
    {"BistUnknown15", kBist, {0xF000ABCD}, "(Unknown BIST code 15) (16-bit unsigned integer = ABCDh)"},
    {"BistReceiver", kBist, {0x00000000}, "BIST Receiver Mode (16-bit unsigned integer = 0000h)"},
    {"BistCounters", kBist, {0x20000000}, "Returend BIST Counters (16-bit unsigned integer = 0000h)"},
    // Bits 16..27 are not part of the number.
    {"BistTestDataLow16", kBist, {0x8FFF1234}, "BIST Test Data (16-bit unsigned integer = 1234h)"},
    {"BistSharedExit", kBist, {0xA0000000}, "BIST Shared Test Mode Exit (16-bit unsigned integer = 0000h)"},
    {"BistRevision20", kBist, {0x70000000}, "BIST Eye Pattern (16-bit unsigned integer = 0000h)", kKindSop, 1},
    {"BistDebugKind", kBist, {0x10000001}, "BIST Transmit Mode (16-bit unsigned integer = 0001h)", kKindSopPrimeDebug},
    {"CountryInfo", kGetCountryInfo, {0x55530000}, "CCDO=55530000h)"},
    {"EnterUsbTwoObjects", kEnterUsb, {0x20000000, 0}, "Invalid Data Objects Count."},
    {"EnterUsb4Bare", kEnterUsb, {0x20000000}, "USB Mode=USB4 (CableSpeed=USB2.0 only)(CableType=Passive)"},
    {"EnterUsbAllFlags", kEnterUsb, {0x167FE000},
     "USB Mode=USB3.2 (USB4 DRD)(USB3 DRD)(CableSpeed=USB4 Gen3)(CableType=Optically isolated)"
     "(CableCurrent=5A)(PCIe Support)(DP Support)(TBT Support)(Host Present)"},
    {"EnterUsb2Gen4", kEnterUsb, {0x008C0000},
     "USB Mode=USB2.0 (CableSpeed=USB4 Gen4)(CableType=Active Re-timer)(CableCurrent=3A)"},
    {"EnterUsbGen2Redriver", kEnterUsb, {0x20500000},
     "USB Mode=USB4 (CableSpeed=USB3.2/USB4 Gen2)(CableType=Active Re-driver)"},
    {"EnterUsbGen1", kEnterUsb, {0x10200000}, "USB Mode=USB3.2 (CableSpeed=USB3.2 Gen1)(CableType=Passive)"},
    // Mode 7, speed 5 and current 1 have no text of their own.
    {"EnterUsbUnknowns", kEnterUsb, {0x70A20000}, "USB Mode=Unknown (CableType=Passive)"},
    {"EprEnter", kEprMode, {0x018C0000}, "Enter (EPR Sink Operational PDP=140[W])"},
    {"EprAcknowledged", kEprMode, {0x02000000}, "Enter Acknowledged"},
    {"EprSucceeded", kEprMode, {0x03000000}, "Enter Succeeded"},
    {"EprFailedUnknownCause", kEprMode, {0x04000000}, "Enter Failed (Unknown cause)"},
    {"EprFailedVconn", kEprMode, {0x04020000}, "Enter Failed (Source failed to become VCONN source)"},
    {"EprFailedPdo", kEprMode, {0x04050000}, "Enter Failed (EPR Mode Capable bit not set in PDO)"},
    {"EprFailedCause7", kEprMode, {0x04070000}, "Enter Failed "},
    {"EprExit", kEprMode, {0x05000000}, "Exit"},
    {"EprAction0", kEprMode, {0x00000000}, "(Unknown Action)"},
    {"EprAction6", kEprMode, {0x06000000}, "(Unknown Action)"},
    {"SourceInfoGuaranteed", kSourceInfo, {0x80643C2D},
     "Port Type=Guaranteed(Max PDP=100[W])(Present PDP=60[W])(Reported PDP=45[W])"},
    {"SourceInfoManaged", kSourceInfo, {0x7F0F0A05},
     "Port Type=Managed(Max PDP=15[W])(Present PDP=10[W])(Reported PDP=5[W])"},
    {"Revision31", kRevision, {0x31100000}, "Revision 3.1, Version 1.0"},
    {"RevisionHigh", kRevision, {0xFEDCFFFF}, "Revision 15.14, Version 13.12"},
    {"BatteryStatusEmpty", kBatteryStatus, {0xFFFF0000}, ""},
    {"AlertEmpty", kAlert, {0x80000001}, ""},
    {"DataCode13", 13, {0x12345678}, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, OtherDataDescription, ::testing::ValuesIn(kDescriptionCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(OtherDataDescription, OnlyDataMessages) {
    CCCPacket control; // Accept: type 3 like BIST, but no data objects
    MakeDataMessage(control, kBist, {});
    EXPECT_EQ(control.GetDescriptionText(), "");

    CCCPacket extended; // Get_Battery_Cap: extended code 3
    MakeDataMessage(extended, kBist, {0x50000000});
    extended.messageBytes[1] |= 0x80;
    EXPECT_EQ(extended.GetDescriptionText(), "");

    CCCPacket hardReset;
    MakeDataMessage(hardReset, kBist, {0x50000000}, kKindHardReset);
    EXPECT_EQ(hardReset.GetDescriptionText(), "");
}

struct SegmentCase {
    const char* label;
    int code;
    const PDFieldDesc* list; // null: no segment
};

void PrintTo(const SegmentCase& c, std::ostream* os) {
    *os << c.label;
}

class OtherDataSegments : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(OtherDataSegments, OneSegmentAtFirstObject) {
    const SegmentCase& c = GetParam();
    CCCPacket p;
    MakeDataMessage(p, c.code, {0x12345678, 0x9ABCDEF0});
    PDFieldSegment table[kFieldSegmentCapacity];
    CSegmentList out(table);
    AddMessageSegments(out, p, CFieldView(p.messageBytes, p.messageByteCount), 16);
    out.Finish();
    if (!c.list) {
        EXPECT_EQ(out.Count(), 0);
        return;
    }
    ASSERT_EQ(out.Count(), 1);
    EXPECT_EQ(table[0].base, 16);
    EXPECT_EQ(table[0].list, c.list);
    EXPECT_EQ(table[0].total, 32);
    EXPECT_EQ(table[1].base, -1);
}

// clang-format off
const SegmentCase kSegmentCases[] = {
    {"Bist", kBist, kBistFields},
    {"BatteryStatus", kBatteryStatus, kBatteryStatusFields},
    {"Alert", kAlert, kAlertFields},
    {"GetCountryInfo", kGetCountryInfo, kGetCountryInfoFields},
    {"EnterUsb", kEnterUsb, kEnterUsbFields},
    {"EprMode", kEprMode, kEprModeFields},
    {"SourceInfo", kSourceInfo, kSourceInfoFields},
    {"Revision", kRevision, kRevisionFields},
    {"Code13", 13, nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, OtherDataSegments, ::testing::ValuesIn(kSegmentCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The lists belong to data messages: the control and extended messages of the same code get none of them.
TEST(OtherDataSegments, NotForControlOrExtendedMessages) {
    PDFieldSegment table[kFieldSegmentCapacity];
    CCCPacket control; // Accept
    MakeDataMessage(control, kBist, {});
    CCCPacket extended; // Get_Battery_Cap
    MakeDataMessage(extended, kBist, {0x50000000});
    extended.messageBytes[1] |= 0x80;
    for (const CCCPacket* p : {&control, &extended}) {
        CSegmentList out(table);
        AddMessageSegments(out, *p, CFieldView(p->messageBytes, p->messageByteCount), 16);
        out.Finish();
        for (int i = 0; i < out.Count(); ++i) EXPECT_NE(table[i].list, kBistFields);
    }
    CSegmentList out(table);
    AddMessageSegments(out, control, CFieldView(control.messageBytes, control.messageByteCount), 16);
    EXPECT_EQ(out.Count(), 0);
}

// Every list describes one whole 32-bit object: each bit belongs to exactly one field.
TEST(OtherDataFields, ListsCoverTheObjectOnce) {
    const std::pair<const char*, const PDFieldDesc*> lists[] = {
        {"BIST", kBistFields},
        {"Battery_Status", kBatteryStatusFields},
        {"Alert", kAlertFields},
        {"Get_Country_Info", kGetCountryInfoFields},
        {"Enter_USB", kEnterUsbFields},
        {"EPR_Mode", kEprModeFields},
        {"Source_Info", kSourceInfoFields},
        {"Revision", kRevisionFields},
    };
    for (const auto& [name, list] : lists) {
        int covered[32] = {};
        for (const PDFieldDesc* f = list; f->bitLength != 0; ++f) {
            ASSERT_LE(f->bitOffset + f->bitLength, 32u) << name << ": " << f->name;
            for (uint32_t b = f->bitOffset; b < f->bitOffset + f->bitLength; ++b) ++covered[b];
        }
        for (int b = 0; b < 32; ++b) EXPECT_EQ(covered[b], 1) << name << " bit " << b;
    }
}

struct FieldCase {
    const char* label;
    const PDFieldDesc* list;
    const char* field;
    uint32_t object; // the whole data object; the field's bits are taken from it
    const char* expected;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.label;
}

class OtherDataFieldText : public ::testing::TestWithParam<FieldCase> {};

TEST_P(OtherDataFieldText, Describe) {
    const FieldCase& c = GetParam();
    const PDFieldDesc* f = FindField(c.list, c.field);
    ASSERT_NE(f, nullptr) << c.field;
    const uint32_t mask = f->bitLength >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << f->bitLength) - 1;
    EXPECT_EQ(DescribeFieldValue(*f, (c.object >> f->bitOffset) & mask), c.expected);
}

// clang-format off
const FieldCase kFieldCases[] = {
    // The field table names the mode without the carrier number the description gives.
    {"BistCarrier", kBistFields, "Mode", 0x50000000, "BIST Carrier Mode"},
    {"BistReceiverNoText", kBistFields, "Mode", 0x00000000, ""},
    {"BistSharedEntry", kBistFields, "Mode", 0x90000000, "BIST Shared Test Mode Entry"},
    {"BatteryUnknownBoth", kBatteryStatusFields, "Battery Present Capacity", 0xFFFF0000,
     "Battery's SoC unknown, Battery's SoC 6553500 [mWH] increments"},
    {"BatteryCapacity", kBatteryStatusFields, "Battery Present Capacity", 0x000A0000,
     "Battery's SoC 1000 [mWH] increments"},
    {"BatteryIdle", kBatteryStatusFields, "Battert Info (Battery charging status)", 0x00000800, "Battery is Idle"},
    {"BatteryStatus3", kBatteryStatusFields, "Battert Info (Battery charging status)", 0x00000C00, ""},
    {"AlertWake", kAlertFields, "Extended Alert Event Type", 0x80000004, "Controller initiated wake (UFP only)"},
    {"EnterUsbMode", kEnterUsbFields, "USB Mode", 0x20000000, "USB4"},
    {"EnterUsbSpeed", kEnterUsbFields, "Cable Speed", 0x00400000, "USB 3.2 Gen2 and USB4 Gen2"},
    {"EnterUsbOptical", kEnterUsbFields, "Cable Type", 0x00180000, "Optically Isolated"},
    {"EnterUsbCurrent1", kEnterUsbFields, "Cable Current", 0x00020000, ""},
    {"EnterUsbNoVbus", kEnterUsbFields, "Cable Current", 0x00000000, "VBUS is not supported"},
    {"EnterUsbTbt", kEnterUsbFields, "TBT Support", 0x00004000,
     "TBT3 is supported by the host's USB4 Connection Manager"},
    {"EnterUsbNoTbt", kEnterUsbFields, "TBT Support", 0x00000000, ""},
    {"EprFailed", kEprModeFields, "Action", 0x04070000, "Enter Failed"},
    {"SourceInfoPortType", kSourceInfoFields, "Port Type", 0x80000000, "Guranteed Capability Port"},
    {"SourceInfoMaxPdp", kSourceInfoFields, "Port Maximum PDP", 0x00F00000, "240 [W]"},
    {"SourceInfoReportedPdp", kSourceInfoFields, "Port Reported PDP", 0x0000002D, "45 [W]"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, OtherDataFieldText, ::testing::ValuesIn(kFieldCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The names keep their own spellings.
TEST(OtherDataFields, NamesAsWritten) {
    ASSERT_NE(FindField(kBatteryStatusFields, "Battert Info (Invalid Battery reference)"), nullptr);
    EXPECT_EQ(FindField(kBatteryStatusFields, "Battert Info (Invalid Battery reference)")->bitOffset, 8u);
    const PDFieldDesc* first =
        FindField(kGetCountryInfoFields, "First Caracter of the Alpha-2 Country Code defined by [ISO 3166]");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->bitOffset, 24u);
    const PDFieldDesc* alert = FindField(kAlertFields, "Type of Alert (Battery Status Change Event)");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->bitOffset, 25u);
}

} // namespace
