#include "VendorDefined.h"
#include "CCPacket.h"
#include "FieldSegments.h"
#include "PDField.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

// Header bits of a Vendor_Defined data message.
constexpr uint16_t kVendorDefinedType = 15;
constexpr uint16_t kDfpRole = 0x0020;

// A Vendor_Defined message of the given kind and revision field holding `objects`, the VDM header first.
// `received` objects are in the message bytes (all of them unless given).
CCCPacket MakeVdm(int32_t kind, int revision, const std::vector<uint32_t>& objects, uint16_t extraHeader = 0,
                  int received = -1) {
    CCCPacket packet;
    packet.kind = kind;
    packet.preambleFound = true;
    packet.crcGood = true;
    const uint16_t header =
        uint16_t(kVendorDefinedType | extraHeader | (revision << 6) | ((objects.size() & 7) << 12));
    packet.messageBytes[0] = uint8_t(header);
    packet.messageBytes[1] = uint8_t(header >> 8);
    for (size_t n = 0; n < objects.size(); ++n)
        for (int b = 0; b < 4; ++b) packet.messageBytes[2 + 4 * n + b] = uint8_t(objects[n] >> (8 * b));
    packet.messageByteCount = 2 + 4 * (received < 0 ? int32_t(objects.size()) : received);
    return packet;
}

// Structured VDM header.
constexpr uint32_t Vdm(uint32_t svid, uint32_t command, uint32_t commandType = 0, uint32_t position = 0,
                       uint32_t major = 1, uint32_t minor = 0) {
    return svid << 16 | 1u << 15 | major << 13 | minor << 11 | position << 8 | commandType << 6 | command;
}

enum : uint32_t { kReq = 0, kAck = 1, kNak = 2, kBusy = 3 };

// ID header: product type (UFP or cable plug) in 27..29, DFP product type in 23..25, vendor in 0..15.
constexpr uint32_t IdHeader(uint32_t type, uint32_t dfpType = 0, uint32_t vid = 0x1234, uint32_t flags = 0) {
    return type << 27 | dfpType << 23 | vid | flags;
}
constexpr uint32_t kIdHost = 1u << 31, kIdDevice = 1u << 30, kIdModal = 1u << 26;

// Cable VDO fields; `dir` is bits 10..7 (SSTX1 first) of revision 1.0 and 2.0 VDOs, where revision 3.0
// VDOs hold the maximum VBUS field, so set only one of the two.
struct CableVdo {
    uint32_t hw = 0, fw = 0, plug = 2, bit17 = 0, latency = 1, term = 0, dir = 0, maxVbus = 0, current = 1,
             bit4 = 0, bit3 = 0, speed = 0;
    constexpr uint32_t Word() const {
        return hw << 28 | fw << 24 | plug << 18 | bit17 << 17 | latency << 13 | term << 11 | maxVbus << 9 |
               dir << 7 | current << 5 | bit4 << 4 | bit3 << 3 | speed;
    }
};

std::vector<std::pair<int32_t, const PDFieldDesc*>> Segments(const CCCPacket& packet) {
    PDFieldSegment table[kFieldSegmentCapacity];
    CSegmentList list(table);
    AddVendorDefinedSegments(list, packet);
    list.Finish();
    std::vector<std::pair<int32_t, const PDFieldDesc*>> result;
    for (int i = 0; i < list.Count(); ++i) result.emplace_back(table[i].base, table[i].list);
    EXPECT_EQ(table[list.Count()].base, -1);
    return result;
}

const PDFieldDesc* FieldAt(const PDFieldDesc* list, uint32_t offset) {
    for (; list->bitLength != 0; ++list)
        if (list->bitOffset == offset) return list;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Description: the command line of structured VDMs and the unstructured text.

struct DescriptionCase {
    const char* what;
    int32_t kind;
    int revision;
    std::vector<uint32_t> objects;
    const char* expected;
};

const DescriptionCase kHeaderCases[] = {
    {"unstructured",
     kKindSop,
     2,
     {0x12AB7FFF, 0x11111111},
     "<Unstructured VDM> VID=12ABh VendorData=7FFFh(32767)"},
    {"unstructured, small vendor data",
     kKindSopPrime,
     1,
     {0x00010005},
     "<Unstructured VDM> VID=0001h VendorData=0005h(5)"},
    {"exit all modes, version 2.1",
     kKindSop,
     2,
     {Vdm(0xFF01, 5, kReq, 7, 1, 1)},
     " Exit Mode (Request) (SVID=DisplayPort)(Exit all Active Modes)(Ver.2.1)"},
    {"attention begins with a blank",
     kKindSop,
     2,
     {Vdm(0x1234, 6, kReq, 1)},
     " Attention (Request) (SVID=1234h)(Object Position=1)(Ver.2.0)"},
    {"invalid command",
     kKindSop,
     2,
     {Vdm(0xFF00, 9, kNak, 0)},
     "(Invalid Command 9) (NAK) (SVID=StdID)(Object Position=0)(Ver.2.0)"},
    {"invalid command 15",
     kKindSop,
     2,
     {Vdm(0xFF00, 15, kAck, 0)},
     "(Invalid Command 15) (ACK) (SVID=StdID)(Object Position=0)(Ver.2.0)"},
    {"SVID specific command",
     kKindSop,
     2,
     {Vdm(0x8087, 20, kBusy, 1)},
     "SVID Specific Command 20 (BUSY) (SVID=TBT3)(Object Position=1)(Ver.2.0)"},
    {"command 16 is SVID specific outside DisplayPort",
     kKindSop,
     2,
     {Vdm(0x8087, 16, kReq, 1)},
     "SVID Specific Command 16 (Request) (SVID=TBT3)(Object Position=1)(Ver.2.0)"},
    {"DisplayPort status update",
     kKindSop,
     2,
     {Vdm(0xFF01, 16, kAck, 1), 0x9A},
     "DisplayPort Status Update (ACK) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)"},
    {"DisplayPort configure",
     kKindSop,
     2,
     {Vdm(0xFF01, 17, kReq, 1), 0x406},
     "DisplayPort Configure (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)"},
    {"DisplayPort command 18",
     kKindSop,
     2,
     {Vdm(0xFF01, 18, kReq, 1)},
     "SVID Specific Command 18 (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)"},
    {"command 0 has no name",
     kKindSop,
     2,
     {Vdm(0xFF00, 0, kReq, 0)},
     " (Request) (SVID=StdID)(Object Position=0)(Ver.2.0)"},
    {"version 1.0 whatever the minor bits",
     kKindSop,
     1,
     {Vdm(0xFF00, 1, kReq, 0, 0, 3)},
     "Discover Identity (Request) (SVID=StdID)(Object Position=0)(Ver.1.0)"},
    {"version 2.x, minor 2",
     kKindSop,
     2,
     {Vdm(0xFF00, 2, kReq, 0, 1, 2)},
     "Discover SVIDs (Request) (SVID=StdID)(Object Position=0)(Ver.2.x)"},
    {"version 2.x, minor 3",
     kKindSop,
     2,
     {Vdm(0xFF00, 2, kReq, 0, 1, 3)},
     "Discover SVIDs (Request) (SVID=StdID)(Object Position=0)(Ver.2.x)"},
    {"major 2",
     kKindSop,
     2,
     {Vdm(0xFF00, 3, kReq, 0, 2, 0)},
     "Discover Modes (Request) (SVID=StdID)(Object Position=0)(Unknown Ver.)"},
    {"major 3",
     kKindSop,
     2,
     {Vdm(0xFF00, 3, kReq, 0, 3, 1)},
     "Discover Modes (Request) (SVID=StdID)(Object Position=0)(Unknown Ver.)"},
    {"enter mode adds nothing",
     kKindSop,
     2,
     {Vdm(0x8087, 4, kReq, 1), 0x00010001},
     "Enter Mode (Request) (SVID=TBT3)(Object Position=1)(Ver.2.0)"},
    {"exit mode adds nothing",
     kKindSop,
     2,
     {Vdm(0xFF01, 5, kAck, 1), 0x1},
     " Exit Mode (ACK) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)"},
};

const DescriptionCase kCommandCases[] = {
    {"discover SVIDs",
     kKindSop,
     2,
     {Vdm(0xFF00, 2, kAck), 0xFF018087, 0x00000000},
     "Discover SVIDs (ACK) (SVID=StdID)(Object Position=0)(Ver.2.0)(SVID0=DisplayPort)(SVID1=TBT3)"},
    {"discover SVIDs: zero upper half hides the lower, count runs on",
     kKindSop,
     2,
     {Vdm(0xFF00, 2, kAck), 0x0000FF00, 0x04E80000, 0xFF001234},
     "Discover SVIDs (ACK) (SVID=StdID)(Object Position=0)(Ver.2.0)(SVID0=04E8h)(SVID1=StdID)(SVID2=1234h)"},
    {"discover SVIDs request",
     kKindSop,
     2,
     {Vdm(0xFF00, 2, kReq)},
     "Discover SVIDs (Request) (SVID=StdID)(Object Position=0)(Ver.2.0)"},
    {"discover modes",
     kKindSop,
     2,
     {Vdm(0xFF01, 3, kAck), 0x00000C45, 0x80000001},
     "Discover Modes (ACK) (SVID=DisplayPort)(Object Position=0)(Ver.2.0)(Mode1=00000C45h)(Mode2=80000001h)"},
    {"attention, DisplayPort HPD high with IRQ",
     kKindSop,
     2,
     {Vdm(0xFF01, 6, kReq, 1), 0x0000019A},
     " Attention (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)(HPD_High)(IRQ_HPD)"},
    {"attention, DisplayPort HPD low",
     kKindSop,
     2,
     {Vdm(0xFF01, 6, kReq, 1), 0x0000001A},
     " Attention (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)(HPD_Low)"},
    {"attention, DisplayPort IRQ with HPD low",
     kKindSop,
     2,
     {Vdm(0xFF01, 6, kReq, 1), 0x00000100},
     " Attention (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)(HPD_Low)(IRQ_HPD)"},
    {"attention without status object",
     kKindSop,
     2,
     {Vdm(0xFF01, 6, kReq, 1)},
     " Attention (Request) (SVID=DisplayPort)(Object Position=1)(Ver.2.0)"},
    {"attention of another SVID",
     kKindSop,
     2,
     {Vdm(0x8087, 6, kReq, 1), 0x00000180},
     " Attention (Request) (SVID=TBT3)(Object Position=1)(Ver.2.0)"},
};

// Discover Identity: the texts after "(Ver.x.y)".
struct IdentityCase {
    const char* what;
    int32_t kind;
    int revision;
    std::vector<uint32_t> objects; // from the ID header on
    const char* expected;
};

const IdentityCase kIdentityCases[] = {
    // Product types, SOP.
    {"SOP type 0", kKindSop, 1, {IdHeader(0)}, "(UFP Type Undefined)(USB VID=1234h)"},
    {"SOP hub", kKindSop, 1, {IdHeader(1)}, "(UFP Hub)(USB VID=1234h)"},
    {"SOP peripheral", kKindSop, 1, {IdHeader(2)}, "(UFP Peripheral)(USB VID=1234h)"},
    {"SOP PSD before 3.0", kKindSop, 1, {IdHeader(3)}, "(USB VID=1234h)"},
    {"SOP PSD at 1.0", kKindSop, 0, {IdHeader(3)}, "(USB VID=1234h)"},
    {"SOP PSD at 3.0", kKindSop, 2, {IdHeader(3)}, "(UFP PSD)(DFP Type Undefined)(USB VID=1234h)"},
    {"SOP type 4", kKindSop, 1, {IdHeader(4)}, "(invalid type)(USB VID=1234h)"},
    {"SOP AMA", kKindSop, 1, {IdHeader(5)}, "(UFP Alternate Mode Adapter)(USB VID=1234h)"},
    {"SOP VPD before 3.0", kKindSop, 1, {IdHeader(6)}, "(USB VID=1234h)"},
    {"SOP VPD at 3.0", kKindSop, 3, {IdHeader(6)}, "(UFP VPD)(DFP Type Undefined)(USB VID=1234h)"},
    {"SOP type 7", kKindSop, 2, {IdHeader(7)}, "(invalid type)(DFP Type Undefined)(USB VID=1234h)"},
    // Product types, cable plugs.
    {"cable type 0", kKindSopPrime, 1, {IdHeader(0)}, "(Type Undefined)(USB VID=1234h)"},
    {"cable passive", kKindSopDoublePrime, 1, {IdHeader(3)}, "(Passive Cable)(USB VID=1234h)"},
    {"cable active", kKindSopPrime, 1, {IdHeader(4)}, "(Active Cable)(USB VID=1234h)"},
    {"cable type 1", kKindSopPrime, 1, {IdHeader(1)}, "(invalid type)(USB VID=1234h)"},
    {"cable type 6", kKindSopPrime, 2, {IdHeader(6)}, "(invalid type)(DFP Type Undefined)(USB VID=1234h)"},
    // DFP product types, any kind, revision 3.0 only.
    {"DFP hub", kKindSop, 2, {IdHeader(1, 1)}, "(UFP Hub)(DFP Hub)(USB VID=1234h)"},
    {"DFP host", kKindSop, 2, {IdHeader(0, 2)}, "(UFP Type Undefined)(DFP Host)(USB VID=1234h)"},
    {"DFP power brick",
     kKindSopPrime,
     2,
     {IdHeader(3, 3)},
     "(Passive Cable)(DFP Power Brick)(USB VID=1234h)"},
    {"DFP AMC",
     kKindSop,
     2,
     {IdHeader(2, 4)},
     "(UFP Peripheral)(DFP Alternate Mode Controller)(USB VID=1234h)"},
    {"DFP type 5", kKindSop, 2, {IdHeader(2, 5)}, "(UFP Peripheral)(invalid type)(USB VID=1234h)"},
    {"DFP type 7", kKindSop, 2, {IdHeader(2, 7)}, "(UFP Peripheral)(invalid type)(USB VID=1234h)"},
    {"DFP type ignored before 3.0", kKindSop, 1, {IdHeader(2, 2)}, "(UFP Peripheral)(USB VID=1234h)"},
    // Flags, XID and product.
    {"host, device, modal",
     kKindSop,
     1,
     {IdHeader(2, 0, 0xABCD, kIdHost | kIdDevice | kIdModal)},
     "(UFP Peripheral)(USB VID=ABCDh)(USB Host)(USB Device)(Modal Supported)"},
    {"XID unpadded", kKindSop, 1, {IdHeader(2), 0x5}, "(UFP Peripheral)(USB VID=1234h)(XID=5h)"},
    {"XID and product",
     kKindSop,
     1,
     {IdHeader(2), 0xFEDCBA98, 0x56780100},
     "(UFP Peripheral)(USB VID=1234h)(XID=FEDCBA98h)(USB PID=5678h)(USB bcdDevice=0100h)"},
    {"hub VDO adds nothing",
     kKindSop,
     2,
     {IdHeader(1, 1), 0, 0x00010002, 0xFFFFFFFF},
     "(UFP Hub)(DFP Hub)(USB VID=1234h)(XID=0h)(USB PID=0001h)(USB bcdDevice=0002h)"},

    // Alternate mode adapter.
    {"AMA VDO",
     kKindSop,
     1,
     {IdHeader(5), 1, 2, (0xAu << 28) | (0x3u << 24) | (1u << 5) | (1u << 4) | (1u << 3) | 3},
     "(UFP Alternate Mode Adapter)(USB VID=1234h)(XID=1h)(USB PID=0000h)(USB bcdDevice=0002h)"
     "(HWVer=000Ah)(FWVer=0003h)(Vbus required)(Vconn required)(Vconn 1.5W)(USB2.0 billboard onyl)"},
    {"AMA VDO, no flags, Vconn 7, speed 4",
     kKindSop,
     1,
     {IdHeader(5), 1, 2, (7u << 5) | 4},
     "(UFP Alternate Mode Adapter)(USB VID=1234h)(XID=1h)(USB PID=0000h)(USB bcdDevice=0002h)"
     "(HWVer=0000h)(FWVer=0000h)"},
    {"AMA VDO, Vconn 6W, USB 3.1 Gen1 and Gen2",
     kKindSop,
     1,
     {IdHeader(5), 1, 2, (6u << 5) | 2},
     "(UFP Alternate Mode Adapter)(USB VID=1234h)(XID=1h)(USB PID=0000h)(USB bcdDevice=0002h)"
     "(HWVer=0000h)(FWVer=0000h)(Vconn 6W)(USB3.1 Gen1 and Gen2)"},
    // The VDO follows the three type bits whatever the kind.
    {"AMA bits on a cable plug",
     kKindSopPrime,
     1,
     {IdHeader(5), 1, 2, (0u << 5) | 0},
     "(invalid type)(USB VID=1234h)(XID=1h)(USB PID=0000h)(USB bcdDevice=0002h)"
     "(HWVer=0000h)(FWVer=0000h)(Vconn 1W)(USB2.0 only)"},
    {"PSD bits read a passive cable VDO",
     kKindSop,
     2,
     {IdHeader(3), 1, 2, CableVdo{}.Word()},
     "(UFP PSD)(DFP Type Undefined)(USB VID=1234h)(XID=1h)(USB PID=0000h)(USB bcdDevice=0002h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C to Type-C)(Cable Latency <10ns(<1m))(VCONN not required.)"
     "(Max Vbus 20V)(Vbus 3A)(USB2.0 only)"},

    // Passive cable, revision 1.0 and 2.0 texts.
    {"passive cable, revision 2.0",
     kKindSopPrime,
     1,
     {IdHeader(3, 0, 0x1234, kIdModal), 0xABCDEF, 0x56780100,
      CableVdo{0xA, 0x3, 2, 1, 2, 1, 0b1010, 0, 1, 1, 1, 2}.Word()},
     "(Passive Cable)(USB VID=1234h)(Modal Supported)(XID=ABCDEFh)(USB PID=5678h)(USB bcdDevice=0100h)"
     "(HWVer=000Ah)(FWVer=0003h)(Type-C to Type-C)(Type-C Plug to Receptacle)(Cable Latency 10 to 20ns(<2m))"
     "(Both ends Passive, VCONN required.)(SSTX1/SSTX2/SSRX1/SSRX2=Config/Fixed/Config/Fixed)"
     "(VBUS Curr 3A)(VBUS through cable)(SOP'' controller present)(USB3.1 Gen1 and Gen2)"},
    {"passive cable, revision 1.0, Type-A",
     kKindSopPrime,
     0,
     {IdHeader(3), 0, 0, CableVdo{0xF, 0xF, 0, 1, 0, 0, 0b0101, 0, 0, 0, 0, 3}.Word()},
     "(Passive Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=000Fh)(FWVer=000Fh)(Type-C to Type-A)(Both ends Passive, VCONN not required.)"
     "(SSTX1/SSTX2/SSRX1/SSRX2=Fixed/Config/Fixed/Config)(VBUS not through cable.)"},
    {"passive cable, revision 2.0, Type-B, latency 8, current 3",
     kKindSopPrime,
     1,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 1, 0, 8, 2, 0b1111, 0, 3, 0, 0, 1}.Word()},
     "(Passive Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C to Type-B)(Cable Latency 1000ns(<100m))"
     "(Active and Passive, VCONN required.)(SSTX1/SSTX2/SSRX1/SSRX2=Config/Config/Config/Config)"
     "(USB3.1 Gen1)"},
    {"passive cable, revision 2.0, captive plug to plug, latency 11",
     kKindSopDoublePrime,
     1,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 3, 0, 11, 3, 0, 0, 2, 0, 0, 7}.Word()},
     "(Passive Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C Cabtive)(Type-C Plug to Plug)(Both ends Active, VCONN required.)"
     "(SSTX1/SSTX2/SSRX1/SSRX2=Fixed/Fixed/Fixed/Fixed)(VBUS Curr 5A)"},
    // Active cable, revision 1.0 and 2.0: the flag texts lack their opening parenthesis.
    {"active cable, revision 2.0",
     kKindSopPrime,
     1,
     {IdHeader(4), 0, 0, CableVdo{0x1, 0x2, 2, 0, 9, 3, 0b0001, 0, 2, 1, 1, 0}.Word()},
     "(Active Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0001h)(FWVer=0002h)(Type-C to Type-C)(Type-C Plug to Plug)(Cable Latency 2000ns(<200m))"
     "(Both ends Active, VCONN required.)(SSTX1/SSTX2/SSRX1/SSRX2=Fixed/Fixed/Fixed/Config)"
     "(VBUS Curr 5A)VBUS through cable)SOP'' controller present)(USB2.0 only)"},
    {"active cable, revision 2.0, latency 10",
     kKindSopPrime,
     1,
     {IdHeader(4), 0, 0, CableVdo{0, 0, 2, 1, 10, 2, 0, 0, 0, 0, 1, 5}.Word()},
     "(Active Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C to Type-C)(Type-C Plug to Receptacle)(Cable Latency 3000ns(<300m))"
     "(Active and Passive, VCONN required.)(SSTX1/SSTX2/SSRX1/SSRX2=Fixed/Fixed/Fixed/Fixed)"
     "(VBUS not through cable.)SOP'' controller present)"},
    {"active cable, revision 2.0, latency 7",
     kKindSopPrime,
     1,
     {IdHeader(4), 0, 0, CableVdo{0, 0, 2, 0, 7, 0, 0, 0, 1, 0, 0, 0}.Word()},
     "(Active Cable)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C to Type-C)(Type-C Plug to Plug)(Cable Latency 60 to 70ns(<7m))"
     "(Both ends Passive, VCONN not required.)(SSTX1/SSTX2/SSRX1/SSRX2=Fixed/Fixed/Fixed/Fixed)"
     "(VBUS Curr 3A)(USB2.0 only)"},

    // Passive cable, revision 3.0 texts.
    {"passive cable, revision 3.0",
     kKindSopPrime,
     2,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 1, 1, 8, 2, 0, 3, 2, 1, 1, 4}.Word()},
     "(Passive Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Invalid Type-C Type)(EPR)(Cable Latency > 70ns(>7m))"
     "(Invalid Cable Term Type)(Max Vbus 50V)(Vbus 5A)(USB4 Gen4)"},
    {"passive cable, revision 3.0, invalid values",
     kKindSopPrime,
     2,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 3, 0, 9, 0, 0, 0, 0, 0, 0, 3}.Word()},
     "(Passive Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C Cabtive)(Invalid Cable Latency)(VCONN not required.)"
     "(Max Vbus 20V)(Invalid Vbus Current)(USB4 Gen3)"},
    {"passive cable, revision 3.0, latency 0",
     kKindSopPrime,
     2,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 0, 0, 0, 1, 0, 1, 3, 0, 0, 5}.Word()},
     "(Passive Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Invalid Type-C Type)(Invalid Cable Latency)(VCONN required.)"
     "(Max Vbus 30V)(Invalid Vbus Current)"},
    {"passive cable, revision 3.0, 40 V",
     kKindSopPrime,
     2,
     {IdHeader(3), 0, 0, CableVdo{0, 0, 2, 0, 3, 0, 0, 2, 1, 0, 0, 2}.Word()},
     "(Passive Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C to Type-C)(Cable Latency 20 to 30ns(<3m))(VCONN not required.)"
     "(Max Vbus 40V)(Vbus 3A)(USB3.2 / USB4 Gen2)"},
    // Active cable, revision 3.0 texts: no maximum VBUS text.
    {"active cable, revision 3.0",
     kKindSopDoublePrime,
     2,
     {IdHeader(4, 0, 0x1234), 0, 0, CableVdo{0x2, 0x1, 2, 1, 10, 2, 0, 3, 1, 1, 1, 1}.Word()},
     "(Active Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0002h)(FWVer=0001h)(Type-C to Type-C)(EPR)(Cable Latency 3000ns(<300m))"
     "(Active and Passive, VCONN required.)(VBUS Curr 3A)VBUS through cable)SOP'' controller present)"
     "(USB3.2 Gen1)"},
    {"active cable, revision 3.0, latency 8, term 1, 5 A",
     kKindSopPrime,
     3,
     {IdHeader(4), 0, 0, CableVdo{0, 0, 3, 0, 8, 1, 0, 0, 2, 0, 0, 6}.Word()},
     "(Active Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Type-C Cabtive)(Cable Latency 1000ns(<100m))(Invalid Cable Term Type)"
     "(Vbus Curr 5A)"},
    {"active cable, revision 3.0, invalid values",
     kKindSopPrime,
     2,
     {IdHeader(4), 0, 0, CableVdo{0, 0, 0, 0, 11, 3, 0, 0, 3, 0, 0, 0}.Word()},
     "(Active Cable)(DFP Type Undefined)(USB VID=1234h)(XID=0h)(USB PID=0000h)(USB bcdDevice=0000h)"
     "(HWVer=0000h)(FWVer=0000h)(Invalid Type-C Type)(Invalid Cable Latency)"
     "(Both ends Active, VCONN required.)(Invalid Vbus Current)(USB2.0 only)"},
};

void CheckDescriptions(std::span<const DescriptionCase> cases) {
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DescribeVendorDefined(MakeVdm(c.kind, c.revision, c.objects)), c.expected);
    }
}

TEST(VendorDefinedDescription, CommandLine) {
    CheckDescriptions(kHeaderCases);
}

TEST(VendorDefinedDescription, CommandTexts) {
    CheckDescriptions(kCommandCases);
}

TEST(VendorDefinedDescription, DiscoverIdentity) {
    for (const IdentityCase& c : kIdentityCases) {
        SCOPED_TRACE(c.what);
        // A version 2.0 ACK from StdID; the identity texts follow the revision field, not the VDM version.
        std::vector<uint32_t> objects{Vdm(0xFF00, 1, kAck, 0, 1, 0)};
        objects.insert(objects.end(), c.objects.begin(), c.objects.end());
        const std::string prefix = "Discover Identity (ACK) (SVID=StdID)(Object Position=0)(Ver.2.0)";
        EXPECT_EQ(DescribeVendorDefined(MakeVdm(c.kind, c.revision, objects)), prefix + c.expected);
    }
}

TEST(VendorDefinedDescription, IdentityNeedsTwoObjects) {
    // The ID header's bits left in the buffer from an earlier decode are not read.
    CCCPacket packet = MakeVdm(kKindSop, 2, {Vdm(0xFF00, 1, kReq, 0, 1, 1), IdHeader(2)});
    packet.messageBytes[1] = uint8_t((packet.messageBytes[1] & 0x8F) | 0x10); // one data object
    EXPECT_EQ(DescribeVendorDefined(packet),
              "Discover Identity (Request) (SVID=StdID)(Object Position=0)(Ver.2.1)");
}

// ---------------------------------------------------------------------------------------------------------
// Segments.

using SegmentVector = std::vector<std::pair<int32_t, const PDFieldDesc*>>;

struct SegmentCase {
    const char* what;
    int32_t kind;
    int revision;
    uint16_t extraHeader;
    std::vector<uint32_t> objects;
    SegmentVector expected;
    int received = -1;
};

// UFP and DFP VDOs with bits 28..31 set to `version`.
constexpr uint32_t Vdo(uint32_t version) {
    return version << 28;
}

const SegmentCase kHeaderSegmentCases[] = {
    {"unstructured", kKindSop, 2, 0, {0x12340001, 0}, {{16, kUnstructuredVdmHeaderFields}}},
    {"version 1.0", kKindSop, 1, 0, {Vdm(0x1234, 4, kReq, 1, 0)}, {{16, kStructuredVdmHeaderV10Fields}}},
    {"version 1.0, DisplayPort",
     kKindSop,
     1,
     0,
     {Vdm(0xFF01, 6, kReq, 1, 0)},
     {{16, kStructuredVdmHeaderV10DisplayPortFields}}},
    {"version 2.x", kKindSop, 2, 0, {Vdm(0x1234, 16, kReq, 1)}, {{16, kStructuredVdmHeaderV2Fields}}},
    {"version 2.x, DisplayPort",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 16, kReq, 1)},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}}},
    {"major 3 counts as 2.x",
     kKindSop,
     2,
     0,
     {Vdm(0x1234, 0, kReq, 0, 3)},
     {{16, kStructuredVdmHeaderV2Fields}}},
    {"exit mode", kKindSop, 2, 0, {Vdm(0x8087, 5, kReq, 7), 0}, {{16, kStructuredVdmHeaderV2ModeFields}}},
    {"exit mode, DisplayPort",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 5, kReq, 7), 0},
     {{16, kStructuredVdmHeaderV2ModeDisplayPortFields}}},
    {"invalid command",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 9, kReq, 0), 0},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}}},
};

const SegmentCase kCommandSegmentCases[] = {
    {"discover SVIDs",
     kKindSop,
     2,
     0,
     {Vdm(0xFF00, 2, kAck), 0xFF018087},
     {{16, kStructuredVdmHeaderV2Fields}, {48, kSvidListFields}}},
    {"discover SVIDs request",
     kKindSop,
     1,
     0,
     {Vdm(0xFF00, 2, kReq, 0, 0)},
     {{16, kStructuredVdmHeaderV10Fields}, {48, kSvidListFields}}},
    {"discover modes, DisplayPort: six objects whatever the count",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 3, kAck), 0x45},
     {{16, kStructuredVdmHeaderV2DisplayPortFields},
      {48, kDisplayPortCapabilitiesFields},
      {80, kDisplayPortCapabilitiesFields},
      {112, kDisplayPortCapabilitiesFields},
      {144, kDisplayPortCapabilitiesFields},
      {176, kDisplayPortCapabilitiesFields},
      {208, kDisplayPortCapabilitiesFields}}},
    {"discover modes, TBT3, SOP",
     kKindSop,
     2,
     0,
     {Vdm(0x8087, 3, kAck), 0x1},
     {{16, kStructuredVdmHeaderV2Fields}, {48, kTbt3DiscoverModeSopFields}}},
    {"discover modes, TBT3, SOP'",
     kKindSopPrime,
     2,
     0,
     {Vdm(0x8087, 3, kAck), 0x1},
     {{16, kStructuredVdmHeaderV2Fields}, {48, kTbt3DiscoverModeCableFields}}},
    {"discover modes, TBT3, SOP''",
     kKindSopDoublePrime,
     2,
     0,
     {Vdm(0x8087, 3, kAck), 0x1},
     {{16, kStructuredVdmHeaderV2Fields}, {48, kTbt3DiscoverModeCableFields}}},
    {"discover modes, other SVID",
     kKindSop,
     2,
     0,
     {Vdm(0x04E8, 3, kAck), 0x1, 0x2},
     {{16, kStructuredVdmHeaderV2Fields}, {48, kModesFields}}},
    {"enter mode, TBT3",
     kKindSop,
     2,
     0,
     {Vdm(0x8087, 4, kReq, 1), 0x00010001},
     {{16, kStructuredVdmHeaderV2ModeFields}, {48, kTbt3EnterModeFields}}},
    {"enter mode, DisplayPort",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 4, kReq, 1), 0},
     {{16, kStructuredVdmHeaderV2ModeDisplayPortFields}, {48, kModeSpecificFields}}},
    {"enter mode request without object",
     kKindSop,
     2,
     0,
     {Vdm(0x8087, 4, kReq, 1)},
     {{16, kStructuredVdmHeaderV2ModeFields}}},
    {"enter mode, version 1.0",
     kKindSop,
     1,
     0,
     {Vdm(0x8087, 4, kReq, 1, 0), 0x1},
     {{16, kStructuredVdmHeaderV10Fields}, {48, kTbt3EnterModeFields}}},
    {"attention, DisplayPort",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 6, kReq, 1), 0x9A},
     {{16, kStructuredVdmHeaderV2ModeDisplayPortFields}, {48, kDisplayPortStatusFields}}},
    {"attention, other SVID",
     kKindSop,
     2,
     0,
     {Vdm(0x8087, 6, kReq, 1), 0x9A},
     {{16, kStructuredVdmHeaderV2ModeFields}, {48, kModeSpecificFields}}},
    {"attention without object",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 6, kReq, 1)},
     {{16, kStructuredVdmHeaderV2ModeDisplayPortFields}}},
    {"DisplayPort status update",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 16, kReq, 1), 0x9A},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}, {48, kDisplayPortStatusFields}}},
    {"DisplayPort configure",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 17, kReq, 1), 0x406},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}, {48, kDisplayPortConfigureFields}}},
    {"DisplayPort configure without object",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 17, kReq, 1)},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}}},
    {"command 16 of another SVID",
     kKindSop,
     2,
     0,
     {Vdm(0x8087, 16, kReq, 1), 0x9A},
     {{16, kStructuredVdmHeaderV2Fields}}},
    {"command 18, DisplayPort",
     kKindSop,
     2,
     0,
     {Vdm(0xFF01, 18, kReq, 1), 0x9A},
     {{16, kStructuredVdmHeaderV2DisplayPortFields}}},
};

// The ID header, cert stat and product lists that every Discover Identity starts with.
SegmentVector Identity(const PDFieldDesc* idHeader,
                       const PDFieldDesc* vdmHeader = kStructuredVdmHeaderV2Fields) {
    return {{16, vdmHeader}, {48, idHeader}, {80, kCertStatFields}, {112, kProductFields}};
}
SegmentVector operator+(SegmentVector a, const SegmentVector& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr uint32_t kIdV2 = Vdm(0xFF00, 1, kAck, 0, 1, 0);
constexpr uint32_t kIdV10 = Vdm(0xFF00, 1, kAck, 0, 0, 0);

const SegmentCase kIdentitySegmentCases[] = {
    // Seven objects of a dual-role product: UFP VDOs and a DFP VDO.
    {"7 objects, UFP VDO A, DFP VDO B",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(2, 2), 0, 0, Vdo(0), 0, Vdo(1)},
     Identity(kIdHeaderSopV2Fields) +
         SegmentVector{{144, kUfpVdoAFields}, {176, kUfpVdo2Fields}, {208, kDfpVdoBFields}}},
    {"7 objects, UFP VDO B (1), DFP VDO A",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(1, 1), 0, 0, Vdo(1), 0, Vdo(0)},
     Identity(kIdHeaderSopV2Fields) +
         SegmentVector{{144, kUfpVdoBFields}, {176, kUfpVdo2Fields}, {208, kDfpVdoAFields}}},
    {"7 objects, UFP VDO B (2), DFP VDO C",
     kKindSop,
     2,
     kDfpRole,
     {kIdV2, IdHeader(2, 3), 0, 0, Vdo(2), 0, Vdo(2)},
     Identity(kIdHeaderSopV2Fields) +
         SegmentVector{{144, kUfpVdoBFields}, {176, kUfpVdo2Fields}, {208, kDfpVdoCFields}}},
    {"7 objects, UFP VDO C has no VDO 2",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(2, 2), 0, 0, Vdo(3), 0, Vdo(15)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kUfpVdoCFields}, {208, kDfpVdoCFields}}},
    {"7 objects, DFP type 0: UFP VDOs only",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(2, 0), 0, 0, Vdo(0), 0, Vdo(1)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kUfpVdoAFields}, {176, kUfpVdo2Fields}}},
    {"7 objects, version 1.0",
     kKindSop,
     2,
     0,
     {kIdV10, IdHeader(2, 2), 0, 0, Vdo(0), 0, Vdo(1)},
     Identity(kIdHeaderSopV10Fields, kStructuredVdmHeaderV10Fields)},
    // DFP role.
    {"DFP role, DFP VDO A",
     kKindSop,
     2,
     kDfpRole,
     {kIdV2, IdHeader(0, 2), 0, 0, Vdo(0)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kDfpVdoAFields}}},
    {"DFP role, DFP VDO C",
     kKindSop,
     2,
     kDfpRole,
     {kIdV2, IdHeader(0, 3), 0, 0, Vdo(2)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kDfpVdoCFields}}},
    {"DFP role, DFP type 4: none, even for a UFP type",
     kKindSop,
     2,
     kDfpRole,
     {kIdV2, IdHeader(2, 4), 0, 0, Vdo(0)},
     Identity(kIdHeaderSopV2Fields)},
    {"DFP role, version 1.0",
     kKindSop,
     1,
     kDfpRole,
     {kIdV10, IdHeader(2, 1), 0, 0, Vdo(0)},
     Identity(kIdHeaderSopV10Fields, kStructuredVdmHeaderV10Fields)},
    // UFP role.
    {"UFP hub",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(1, 0), 0, 0, Vdo(1)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kUfpVdoBFields}, {176, kUfpVdo2Fields}}},
    {"UFP peripheral, VDO C",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(2, 0), 0, 0, Vdo(4)},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kUfpVdoCFields}}},
    {"UFP peripheral, version 1.0",
     kKindSop,
     1,
     0,
     {kIdV10, IdHeader(2, 0), 0, 0, Vdo(0)},
     Identity(kIdHeaderSopV10Fields, kStructuredVdmHeaderV10Fields)},
    {"AMA, version 2.x",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(5), 0, 0, 0},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kAmaVdoV2Fields}}},
    {"AMA, version 1.0",
     kKindSop,
     1,
     0,
     {kIdV10, IdHeader(5), 0, 0, 0},
     Identity(kIdHeaderSopV10Fields, kStructuredVdmHeaderV10Fields) + SegmentVector{{144, kAmaVdoV10Fields}}},
    {"VPD on SOP, version 2.x",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(6), 0, 0, 0},
     Identity(kIdHeaderSopV2Fields) + SegmentVector{{144, kVpdVdoFields}}},
    {"VPD on SOP, version 1.0",
     kKindSop,
     1,
     0,
     {kIdV10, IdHeader(6), 0, 0, 0},
     Identity(kIdHeaderSopV10Fields, kStructuredVdmHeaderV10Fields)},
    {"PSD", kKindSop, 2, 0, {kIdV2, IdHeader(3), 0, 0, 0}, Identity(kIdHeaderSopV2Fields)},
    // Cable plugs.
    {"passive cable, version 2.x",
     kKindSopPrime,
     2,
     0,
     {kIdV2, IdHeader(3), 0, 0, 0},
     Identity(kIdHeaderCableV2Fields) + SegmentVector{{144, kPassiveCableVdoV2Fields}}},
    {"passive cable, version 1.0",
     kKindSopPrime,
     1,
     0,
     {kIdV10, IdHeader(3), 0, 0, 0},
     Identity(kIdHeaderCableV10Fields, kStructuredVdmHeaderV10Fields) +
         SegmentVector{{144, kPassiveCableVdoV10Fields}}},
    {"active cable, version 2.x",
     kKindSopDoublePrime,
     2,
     0,
     {kIdV2, IdHeader(4), 0, 0, 0, 0},
     Identity(kIdHeaderCableV2Fields) +
         SegmentVector{{144, kActiveCableVdo1V2Fields}, {176, kActiveCableVdo2Fields}}},
    {"active cable, version 1.0",
     kKindSopPrime,
     1,
     0,
     {kIdV10, IdHeader(4), 0, 0, 0},
     Identity(kIdHeaderCableV10Fields, kStructuredVdmHeaderV10Fields) +
         SegmentVector{{144, kActiveCableVdoV10Fields}}},
    {"VPD on a cable plug: none",
     kKindSopPrime,
     2,
     0,
     {kIdV2, IdHeader(6), 0, 0, 0},
     Identity(kIdHeaderCableV2Fields)},
    {"AMA on a cable plug: none",
     kKindSopPrime,
     2,
     0,
     {kIdV2, IdHeader(5), 0, 0, 0},
     Identity(kIdHeaderCableV2Fields)},
    // Choices never read past the received bytes: unreceived bits read as ones.
    {"request: the ID header bits read as ones",
     kKindSop,
     2,
     0,
     {Vdm(0xFF00, 1, kReq)},
     Identity(kIdHeaderSopV2Fields)},
    {"unreceived DFP VDO reads as version 15",
     kKindSop,
     2,
     0,
     {kIdV2, IdHeader(2, 2), 0, 0, Vdo(0), 0, Vdo(0)},
     Identity(kIdHeaderSopV2Fields) +
         SegmentVector{{144, kUfpVdoAFields}, {176, kUfpVdo2Fields}, {208, kDfpVdoCFields}},
     6},
};

void CheckSegments(std::span<const SegmentCase> cases) {
    for (const SegmentCase& c : cases) {
        SCOPED_TRACE(c.what);
        const CCCPacket packet = MakeVdm(c.kind, c.revision, c.objects, c.extraHeader, c.received);
        EXPECT_EQ(Segments(packet), c.expected);
    }
}

TEST(VendorDefinedSegments, HeaderList) {
    CheckSegments(kHeaderSegmentCases);
}

TEST(VendorDefinedSegments, CommandLists) {
    CheckSegments(kCommandSegmentCases);
}

TEST(VendorDefinedSegments, DiscoverIdentityLists) {
    CheckSegments(kIdentitySegmentCases);
}

TEST(VendorDefinedSegments, SegmentTotals) {
    PDFieldSegment table[kFieldSegmentCapacity];
    CSegmentList list(table);
    AddVendorDefinedSegments(list, MakeVdm(kKindSop, 2, {Vdm(0x04E8, 2, kAck), 0xFF018087, 0}));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(table[0].total, 32);
    EXPECT_EQ(table[1].total, 192);
}

// The "Command" row follows the message's SVID only; a DisplayPort message leaves nothing behind.
TEST(VendorDefinedSegments, CommandRowFollowsSvid) {
    auto describeCommand = [](uint32_t vdm) {
        const SegmentVector segments = Segments(MakeVdm(kKindSop, 2, {vdm, 0x9A}));
        const PDFieldDesc* command = FieldAt(segments.at(0).second, 0);
        EXPECT_NE(command, nullptr);
        EXPECT_STREQ(command->name, "Command");
        return DescribeFieldValue(*command, vdm & 0x1F);
    };
    EXPECT_EQ(describeCommand(Vdm(0x8087, 16, kReq, 1)), "");
    EXPECT_EQ(describeCommand(Vdm(0xFF01, 16, kReq, 1)), "DisplayPort Status Update");
    EXPECT_EQ(describeCommand(Vdm(0xFF01, 17, kReq, 1, 0)), "DisplayPort Configure");
    EXPECT_EQ(describeCommand(Vdm(0x8087, 16, kReq, 1)), "");
    EXPECT_EQ(describeCommand(Vdm(0x1234, 17, kReq, 1, 0)), "");
    EXPECT_EQ(describeCommand(Vdm(0x8087, 6, kReq, 1)), "Attention");
    EXPECT_EQ(describeCommand(Vdm(0xFF01, 6, kReq, 1)), "Attention");
}

// ---------------------------------------------------------------------------------------------------------
// Field lists.

struct CoverageCase {
    const char* name;
    const PDFieldDesc* list;
    uint32_t bits; // the list covers bits 0 .. bits-1 exactly once
};

const CoverageCase kCoverageCases[] = {
    {"unstructured header", kUnstructuredVdmHeaderFields, 32},
    {"structured header 1.0", kStructuredVdmHeaderV10Fields, 32},
    {"structured header 1.0 DP", kStructuredVdmHeaderV10DisplayPortFields, 32},
    {"structured header 2.x", kStructuredVdmHeaderV2Fields, 32},
    {"structured header 2.x DP", kStructuredVdmHeaderV2DisplayPortFields, 32},
    {"structured header 2.x mode", kStructuredVdmHeaderV2ModeFields, 32},
    {"structured header 2.x mode DP", kStructuredVdmHeaderV2ModeDisplayPortFields, 32},
    {"ID header SOP 2.x", kIdHeaderSopV2Fields, 32},
    {"ID header SOP 1.0", kIdHeaderSopV10Fields, 32},
    {"ID header cable 2.x", kIdHeaderCableV2Fields, 32},
    {"ID header cable 1.0", kIdHeaderCableV10Fields, 32},
    {"cert stat", kCertStatFields, 32},
    {"product", kProductFields, 32},
    {"UFP VDO A", kUfpVdoAFields, 32},
    {"UFP VDO B", kUfpVdoBFields, 32},
    {"UFP VDO C", kUfpVdoCFields, 32},
    {"UFP VDO 2", kUfpVdo2Fields, 32},
    {"DFP VDO A", kDfpVdoAFields, 32},
    {"DFP VDO B", kDfpVdoBFields, 32},
    {"DFP VDO C", kDfpVdoCFields, 32},
    {"AMA VDO 2.x", kAmaVdoV2Fields, 32},
    {"AMA VDO 1.0", kAmaVdoV10Fields, 32},
    {"VPD VDO", kVpdVdoFields, 32},
    {"passive cable VDO 2.x", kPassiveCableVdoV2Fields, 32},
    {"passive cable VDO 1.0", kPassiveCableVdoV10Fields, 32},
    {"active cable VDO 1 2.x", kActiveCableVdo1V2Fields, 32},
    {"active cable VDO 2", kActiveCableVdo2Fields, 32},
    {"active cable VDO 1.0", kActiveCableVdoV10Fields, 32},
    {"SVID list", kSvidListFields, 192},
    {"modes", kModesFields, 192},
    {"DisplayPort capabilities", kDisplayPortCapabilitiesFields, 32},
    {"TBT3 discover mode SOP", kTbt3DiscoverModeSopFields, 32},
    {"TBT3 discover mode cable", kTbt3DiscoverModeCableFields, 32},
    {"TBT3 enter mode", kTbt3EnterModeFields, 32},
    {"mode specific", kModeSpecificFields, 192},
    {"DisplayPort status (no rows for 25..31)", kDisplayPortStatusFields, 25},
    {"DisplayPort configure", kDisplayPortConfigureFields, 32},
};

TEST(VendorDefinedFieldLists, EachBitOnce) {
    for (const CoverageCase& c : kCoverageCases) {
        SCOPED_TRACE(c.name);
        std::vector<int> uses(256, 0);
        for (const PDFieldDesc* f = c.list; f->bitLength != 0; ++f) {
            ASSERT_NE(f->name, nullptr);
            ASSERT_LE(f->bitOffset + f->bitLength, uses.size());
            for (uint32_t b = f->bitOffset; b < f->bitOffset + f->bitLength; ++b) ++uses[b];
        }
        for (uint32_t b = 0; b < uses.size(); ++b) EXPECT_EQ(uses[b], b < c.bits ? 1 : 0) << "bit " << b;
    }
}

struct NameCase {
    const PDFieldDesc* list;
    uint32_t offset, length;
    const char* name;
};

// Names that differ between lists in small ways.
const NameCase kNameCases[] = {
    {kStructuredVdmHeaderV10Fields, 13, 2, "Structured VDM Version"},
    {kStructuredVdmHeaderV10Fields, 11, 2, "Reserved"},
    {kStructuredVdmHeaderV2Fields, 13, 2, "Structured VDM Version (Major)"},
    {kStructuredVdmHeaderV2Fields, 11, 2, "Structured VDM Version (Minor)"},
    {kUnstructuredVdmHeaderFields, 0, 15, "Available for Vendor Use"},
    {kIdHeaderSopV2Fields, 31, 1, "USB Communications Capable as USB Host"},
    {kIdHeaderSopV2Fields, 30, 1, "USB Communications Capable as a USB Device"},
    {kIdHeaderCableV10Fields, 27, 3, "Product Type (Cable Plug)"},
    {kIdHeaderCableV10Fields, 16, 10, "Reserved"},
    {kUfpVdoCFields, 22, 2, "Connector Type (Legacy)"},
    {kDfpVdoCFields, 22, 2, "Connector Type (Legacy)"},
    {kAmaVdoV2Fields, 5, 3, "VCONN power"},
    {kAmaVdoV10Fields, 0, 3, "USB SuperSpeed Signaling Support"},
    {kPassiveCableVdoV2Fields, 18, 2, "USB Type-C plug to USB Type-C/Captive"},
    {kPassiveCableVdoV10Fields, 18, 2, "USB Type-C plug to USB Type-A/B/C/Captive"},
    {kPassiveCableVdoV10Fields, 4, 1, "VBUS through cable"},
    {kPassiveCableVdoV10Fields, 3, 1, "Reserved"},
    {kActiveCableVdo1V2Fields, 3, 1, "SOP\" Controller Present"},
    {kActiveCableVdo1V2Fields, 0, 3, "USB Highest Speed (or Reserved)"},
    {kActiveCableVdoV10Fields, 4, 1, "VBUS Through Cable"},
    {kActiveCableVdoV10Fields, 3, 1, "SOP\xE2\x80\x9D Controller Present"},
    {kSvidListFields, 160, 16, "SVID11"},
    {kSvidListFields, 176, 16, "SVID10"},
    {kTbt3DiscoverModeSopFields, 26, 1, "Intel defined"},
    {kTbt3EnterModeFields, 26, 1, "Intel Defined"},
    {kModeSpecificFields, 160, 32, "Mode Specific"},
    {kModesFields, 96, 32, "Mode4"},
};

TEST(VendorDefinedFieldLists, Names) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.name);
        const PDFieldDesc* field = FieldAt(c.list, c.offset);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->bitLength, c.length);
        EXPECT_STREQ(field->name, c.name);
    }
}

struct ValueCase {
    const PDFieldDesc* list;
    uint32_t offset;
    uint32_t value;
    const char* expected;
};

// Descriptions with their own spellings, flag tables and the choices that hang on a list.
const ValueCase kValueCases[] = {
    {kStructuredVdmHeaderV2Fields, 16, 0xFF01, "VESA/DisplayPort"},
    {kStructuredVdmHeaderV2Fields, 16, 0x04E8, ""},
    {kStructuredVdmHeaderV2Fields, 6, 2, "NAK (Negative Acknowledge Response from Responder Port)"},
    {kStructuredVdmHeaderV2Fields, 8, 7, ""},
    {kStructuredVdmHeaderV2ModeFields, 8, 7, "Exit all Active Modes"},
    {kStructuredVdmHeaderV2ModeFields, 8, 1, ""},
    {kStructuredVdmHeaderV10Fields, 13, 1, "Version 2.0"},
    {kStructuredVdmHeaderV2Fields, 13, 1, "Version 2.x"},
    {kStructuredVdmHeaderV2Fields, 11, 1, "Version 2.1"},
    {kUnstructuredVdmHeaderFields, 15, 0, "Unstructured VDM"},
    {kSvidListFields, 0, 0x8087, "Intel/TBT3"},
    {kIdHeaderSopV2Fields, 27, 3, "PSD"},
    {kIdHeaderSopV10Fields, 27, 3, ""},
    {kIdHeaderSopV10Fields, 27, 5, "Alternate Mode Adapter (AMA)"},
    {kIdHeaderSopV2Fields, 21, 0, "Reserved, for compatibility with legacy systems"},
    {kIdHeaderCableV2Fields, 27, 6, "VCONN-Powered USSB Device(VPD)"},
    {kIdHeaderCableV2Fields, 23, 3, "Power Brick"},
    {kIdHeaderCableV10Fields, 27, 0, "Undefined"},
    {kUfpVdoAFields, 29, 3, "Version 1.3"},
    {kUfpVdoAFields, 0, 2, "USB 3.2 / USB4 Gen2"},
    {kUfpVdoBFields, 22, 3, "USB Type-C Captive Plug"},
    {kUfpVdoCFields, 7, 0, "No"},
    {kUfpVdoCFields, 6, 0, "Yes"},
    {kUfpVdoCFields, 8, 1, "1.5W"},
    {kUfpVdo2Fields, 23, 100, "100 [W]"},
    {kUfpVdo2Fields, 0, 0, "0 [W]"},
    {kDfpVdoAFields, 29, 3, ""},
    {kDfpVdoCFields, 22, 2, ""},
    {kAmaVdoV2Fields, 0, 3, "USB 2.0 billboard only"},
    {kAmaVdoV10Fields, 11, 1, "Configurable"},
    {kVpdVdoFields, 14, 1, "5A capable (Charge Through Support bit = 0b: Reserved, Shall be set to zero)"},
    {kVpdVdoFields, 15, 1, "30V (Deprecated)"},
    {kVpdVdoFields, 0, 1, "the VPD supports Charge Through"},
    {kPassiveCableVdoV2Fields, 13, 8, "> 70ns (>-7m)"},
    {kPassiveCableVdoV2Fields, 13, 9, ""},
    {kPassiveCableVdoV2Fields, 11, 1, "VCONN required"},
    {kPassiveCableVdoV2Fields, 5, 2, "5A"},
    {kPassiveCableVdoV10Fields, 18, 1, "USB Type-B"},
    {kPassiveCableVdoV10Fields, 0, 2, "USB 3.2 Gen1 and Gen2"},
    {kActiveCableVdo1V2Fields, 13, 8, "1000ns (-100m)"},
    {kActiveCableVdo1V2Fields, 13, 10, "3000ns (-300m)"},
    {kActiveCableVdo1V2Fields, 11, 2, "One end Active, one end passive, VCONN required"},
    {kActiveCableVdo1V2Fields, 17, 1, "Cable is EPR Mode Capable"},
    {kActiveCableVdo2Fields, 12, 5, ">50-200uW"},
    {kActiveCableVdo2Fields, 8, 1, "USB4 not supported"},
    {kActiveCableVdo2Fields, 2, 1, "Yes"},
    {kActiveCableVdoV10Fields, 11, 3, "Both ends Active, VCONN required"},
    {kDisplayPortCapabilitiesFields, 8, 0x0C, "Pin Assignment C, Pin Assignment D"},
    {kDisplayPortCapabilitiesFields, 8, 0x20, "Pin Assignment F"},
    {kDisplayPortCapabilitiesFields, 8, 0, "Pin Assignments are not supported"},
    {kDisplayPortCapabilitiesFields, 16, 0x3F,
     "Pin Assignment A, Pin Assignment B, Pin Assignment C, Pin Assignment D, Pin Assignment E"},
    {kDisplayPortCapabilitiesFields, 2, 3,
     "Supports DP v1.3 signaling rates and electrical specification, Supports USB Gen2 signaling rate and "
     "electrical specification"},
    {kDisplayPortCapabilitiesFields, 2, 0, ""},
    {kDisplayPortCapabilitiesFields, 0, 1, "UFP_D-cabable"},
    {kDisplayPortCapabilitiesFields, 7, 1,
     "USB r2.0 signaling is not required on A6-A7 or B6-B7 while in DisplayPort Configuration"},
    {kTbt3DiscoverModeSopFields, 0, 1, "TBT Mode"},
    {kTbt3DiscoverModeSopFields, 16, 1, "TBT2 Legacy Adapter"},
    {kTbt3DiscoverModeCableFields, 16, 3,
     "10 Gbps and 20 Gbps (TBT 3rd Gen active cables and 20 Gbps passive cables)"},
    {kTbt3DiscoverModeCableFields, 19, 1, "3rd & 4th Gen Rounded and Non-Rounded TBT"},
    {kTbt3EnterModeFields, 25, 1, "Active cable"},
    {kTbt3EnterModeFields, 24, 0, "TBT3 Adapter"},
    {kTbt3EnterModeFields, 23, 0, "Active with bi-directional LSRX communication or when Passive"},
    {kTbt3EnterModeFields, 16, 1, "USB3.1 Gen1 Cable (10 Gbps TBT support)"},
    {kDisplayPortStatusFields, 8, 0, "No IRQ_HPD since last status message"},
    {kDisplayPortStatusFields, 6, 0, "Maintain current mode."},
    {kDisplayPortStatusFields, 0, 0, "Neither DFP_D nor UFP_D is connected, or Adaptor is disabled."},
    {kDisplayPortConfigureFields, 8, 0x04, "Pin Assignment C"},
    {kDisplayPortConfigureFields, 2, 2, "Select Gen2 signaling rates and electrical specifications"},
    {kDisplayPortConfigureFields, 0, 2, "Set configuration for UFP_U as UFP_D"},
};

TEST(VendorDefinedFieldLists, ValueDescriptions) {
    for (const ValueCase& c : kValueCases) {
        const PDFieldDesc* field = FieldAt(c.list, c.offset);
        ASSERT_NE(field, nullptr) << c.expected;
        SCOPED_TRACE(field->name);
        EXPECT_EQ(DescribeFieldValue(*field, c.value), c.expected);
    }
}

} // namespace
