#include "PowerObjects.h"
#include "CCPacket.h"
#include "FieldSegments.h"
#include "PDField.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSourceCapabilities = 1;
constexpr int kRequest = 2;
constexpr int kSinkCapabilities = 4;
constexpr int kEprRequest = 9;
constexpr int kEprSourceCapabilities = 17;

void PutWord(uint8_t* at, uint32_t word) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(word >> (8 * i));
}

// An SOP data message of the given type and revision field carrying `objects`.
std::unique_ptr<CCCPacket> MakeDataMessage(int type, int revision, const std::vector<uint32_t>& objects) {
    auto packet = std::make_unique<CCCPacket>();
    packet->kind = kKindSop;
    packet->preambleFound = true;
    packet->crcGood = true;
    const uint16_t header = uint16_t(type | revision << 6 | int(objects.size()) << 12);
    packet->messageBytes[0] = uint8_t(header);
    packet->messageBytes[1] = uint8_t(header >> 8);
    for (size_t i = 0; i < objects.size(); ++i) PutWord(packet->messageBytes + 2 + 4 * i, objects[i]);
    packet->messageByteCount = int32_t(2 + 4 * objects.size());
    return packet;
}

// An extended message header for an EPR capabilities packet; the data is attached by each test.
std::unique_ptr<CCCPacket> MakeExtendedMessage(int type, int objectCount, uint16_t extendedHeader) {
    auto packet = std::make_unique<CCCPacket>();
    packet->kind = kKindSop;
    packet->preambleFound = true;
    packet->crcGood = true;
    const uint16_t header = uint16_t(0x8000 | type | 2 << 6 | objectCount << 12);
    packet->messageBytes[0] = uint8_t(header);
    packet->messageBytes[1] = uint8_t(header >> 8);
    packet->messageBytes[2] = uint8_t(extendedHeader);
    packet->messageBytes[3] = uint8_t(extendedHeader >> 8);
    packet->messageByteCount = 2 + 4 * objectCount;
    return packet;
}

std::vector<uint8_t> WordBytes(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes(4 * words.size());
    for (size_t i = 0; i < words.size(); ++i) PutWord(bytes.data() + 4 * i, words[i]);
    return bytes;
}

const PDFieldDesc* FieldAt(const PDFieldDesc* list, uint32_t offset) {
    for (; list->bitLength != 0; ++list)
        if (list->bitOffset == offset) return list;
    return nullptr;
}

struct Segments {
    PDFieldSegment table[kFieldSegmentCapacity];
    CSegmentList list{table};
};

// Objects used throughout: words with known texts.
constexpr uint32_t kFixed5V3A = (100u << 10) | 300;
constexpr uint32_t kBattery5To20V100W = (1u << 30) | (400u << 20) | (100u << 10) | 400;
constexpr uint32_t kVariable5To20V2A = (2u << 30) | (400u << 20) | (100u << 10) | 200;
constexpr uint32_t kPps3V3To21V3ALimited = (3u << 30) | (1u << 27) | (210u << 17) | (33u << 8) | 60;
constexpr uint32_t kEprAvs15To48V140WPeak2 =
    (3u << 30) | (1u << 28) | (2u << 26) | (480u << 17) | (150u << 8) | 140;
constexpr uint32_t kSprAvs3A2A25Peak1 = (3u << 30) | (2u << 28) | (1u << 26) | (300u << 10) | 225;
constexpr uint32_t kUnknownApdo = 0xFFFFFFFF;

// ---------------------------------------------------------------------------------------------------------
// Capabilities descriptions.

struct ObjectTextCase {
    const char* what;
    bool sink;
    uint32_t word;
    const char* text; // the object's text, between "[1]" and the closing blank
};

const ObjectTextCase kCapabilitiesCases[] = {
    {"fixed 5V/3A, dual-role power, USB communications", false, (1u << 29) | (1u << 26) | kFixed5V3A,
     "<Fixed> 5000[mV]/3000[mA] (Dual-Role Power)(USB Communications)(Peak Current=0)"},
    {"fixed source, every flag and peak current", false, 0x3F800000u | (3u << 20) | (180u << 10) | 200,
     "<Fixed> 9000[mV]/2000[mA] (Dual-Role Power)(USB Suspend)(Unconstrained)(USB Communications)"
     "(Data-Role Data)(Unchunked)(EPR)(Peak Current=3)"},
    {"battery source", false, kBattery5To20V100W, "<Battery> 5000-20000[mV] (MaxPower=100000[mW])"},
    {"variable source", false, kVariable5To20V2A, "<None-Battery> 5000-20000[mV]/2000[mA] "},
    {"SPR PPS, power limited", false, kPps3V3To21V3ALimited,
     "<APDO:SPR PPS>3300-21000[mV]/3000[mA](PPSPowerLimited)"},
    {"SPR PPS, reserved bits 16 and 7 set", false,
     (3u << 30) | (1u << 16) | (1u << 7) | (110u << 17) | (33u << 8) | 40,
     "<APDO:SPR PPS>3300-11000[mV]/2000[mA]"},
    {"EPR AVS source", false, kEprAvs15To48V140WPeak2,
     "<APDO:EPR AVS>15000-48000[mV](PDP=140[W])(Peak Current=2)"},
    {"SPR AVS source", false, kSprAvs3A2A25Peak1,
     "<APDO:SPR AVS>(9-15[V]:3000[mA])(15-20[V]:2250[mA])(Peak Current=1)"},
    {"unknown APDO source", false, kUnknownApdo, "<APDO:Unknown>"},

    {"fixed sink, every flag, FRSwap 3", true, 0x3E000000u | (3u << 23) | (100u << 10) | 150,
     "<Fixed> 5000[mV]/1500[mA] (Dual-Role Power)(Unconstrained)(Higher Capability)(USB Communications)"
     "(Data-Role Data)(FRSwap 3.0A@5V)"},
    {"fixed sink, FRSwap 1", true, (1u << 28) | (1u << 23) | kFixed5V3A,
     "<Fixed> 5000[mV]/3000[mA] (Higher Capability)(FRSwap Default USB)"},
    {"fixed sink, FRSwap 2", true, (2u << 23) | kFixed5V3A, "<Fixed> 5000[mV]/3000[mA] (FRSwap 1.5A@5V)"},
    {"fixed sink, FRSwap 0, reserved bits 20..22 ignored", true, (1u << 27) | (7u << 20) | (100u << 10) | 90,
     "<Fixed> 5000[mV]/900[mA] (Unconstrained)"},
    {"battery sink", true, kBattery5To20V100W, "<Battery> 5000-20000[mV] (MaxPower=100000[mW])"},
    {"variable sink", true, kVariable5To20V2A, "<None-Battery> 5000-20000[mV]/2000[mA] "},
    {"SPR PPS sink ignores bit 27", true, kPps3V3To21V3ALimited, "<APDO:SPR PPS>3300-21000[mV]/3000[mA]"},
    {"EPR AVS sink has no peak current", true, kEprAvs15To48V140WPeak2,
     "<APDO:EPR AVS>15000-48000[mV](PDP=140[W])"},
    {"SPR AVS sink has no peak current", true, kSprAvs3A2A25Peak1,
     "<APDO:SPR AVS>(9-15[V]:3000[mA])(15-20[V]:2250[mA])"},
    {"unknown APDO sink", true, (3u << 30) | (3u << 28), "<APDO:Unknown>"},
};

TEST(CapabilitiesDescription, ObjectTexts) {
    for (const ObjectTextCase& c : kCapabilitiesCases) {
        SCOPED_TRACE(c.what);
        const auto packet = MakeDataMessage(c.sink ? kSinkCapabilities : kSourceCapabilities, 2, {c.word});
        EXPECT_EQ(DescribeCapabilities(*packet, c.sink), std::string("[1]") + c.text + " ");
    }
}

TEST(CapabilitiesDescription, NumbersEveryObjectAndEndsEachWithABlank) {
    const auto packet = MakeDataMessage(kSourceCapabilities, 1, {kFixed5V3A, kVariable5To20V2A, 0});
    EXPECT_EQ(DescribeCapabilities(*packet, false), "[1]<Fixed> 5000[mV]/3000[mA] (Peak Current=0) "
                                                    "[2]<None-Battery> 5000-20000[mV]/2000[mA]  "
                                                    "[3]<Fixed> 0[mV]/0[mA] (Peak Current=0) ");
}

// ---------------------------------------------------------------------------------------------------------
// EPR capabilities descriptions.

const std::vector<uint32_t> kEprSourceObjects = {
    0x3F800000u | (3u << 20) | kFixed5V3A, // peak current is not shown here
    kBattery5To20V100W,
    kVariable5To20V2A,
    kPps3V3To21V3ALimited,
    (300u << 10) | 325,
    0,
    0,
    (560u << 10) | 500,
    kEprAvs15To48V140WPeak2,
};

TEST(EprCapabilitiesDescription, SourceObjectsSkipEmptySlotsButKeepTheirNumbers) {
    std::vector<uint8_t> block = WordBytes(kEprSourceObjects);
    block.resize(38); // two trailing bytes make no object
    auto first = MakeExtendedMessage(kEprSourceCapabilities, 7, 0x8000 | 38);
    first->extData = block.data();
    first->extDataSize = 38;
    first->extChunkOffset = 0;
    first->extChunkLength = 26;
    EXPECT_EQ(DescribeEprCapabilities(*first, false),
              "[1]<Fix>5.00V/3.00A(DRP)(USB Suspend)(Unconstrained)(USB Comm)(DRD)(Unchunked)(EPR) "
              "[2]<Battery>5000-20000[mV](MaxPower=100000[mW]) "
              "[3]<None-Battery>5000-20000[mV]/2000[mA] "
              "[4]<APDO:SPR PPS>3300-21000[mV]/3000[mA](PPSPowerLimited) "
              "[5]<Fix>15.00V/3.25A "
              "[8]<Fix>28.00V/5.00A "
              "[9]<APDO:EPR AVS>15000-48000[mV](PDP=140[W])(Peak Current=2) ");

    // The later chunk shares the block but shows nothing.
    auto second = MakeExtendedMessage(kEprSourceCapabilities, 4, 0x8800 | 38);
    second->extData = block.data();
    second->extDataSize = 38;
    second->extChunkOffset = 26;
    second->extChunkLength = 12;
    EXPECT_EQ(DescribeEprCapabilities(*second, false), "");
}

TEST(EprCapabilitiesDescription, SinkTexts) {
    const std::vector<uint8_t> block = WordBytes({
        0x3E000000u | (2u << 23) | (7u << 20) | kFixed5V3A,
        (1u << 28) | (3u << 23) | (240u << 10) | 225,
        kPps3V3To21V3ALimited,
        kEprAvs15To48V140WPeak2,
        kSprAvs3A2A25Peak1,
    });
    auto packet = MakeExtendedMessage(18, 6, 20);
    packet->extData = block.data();
    packet->extDataSize = int32_t(block.size());
    packet->extChunkLength = int32_t(block.size());
    EXPECT_EQ(DescribeEprCapabilities(*packet, true),
              "[1]<Fix>5.00V/3.00A(DRP)(Unconstrained)(HiCap)(USB Comm)(DRD)(FRSwap 1.5A@5V) "
              "[2]<Fix>12.00V/2.25A(HiCap)(FRSwap 3.0A@5V) "
              "[3]<APDO:SPR PPS>3300-21000[mV]/3000[mA] "
              "[4]<APDO:EPR AVS>15000-48000[mV](PDP=140[W]) "
              "[5]<APDO:SPR AVS>(9-15[V]:3000[mA])(15-20[V]:2250[mA]) ");
}

TEST(EprCapabilitiesDescription, TextFillsInAsTheSharedBlockGrows) {
    std::shared_ptr<uint8_t[]> buffer(new uint8_t[32]());
    auto first = MakeExtendedMessage(kEprSourceCapabilities, 7, 0x8000 | 32);
    first->extBuffer = buffer;
    first->extData = buffer.get();
    first->extDataSize = 32;
    first->extChunkLength = 26;
    const std::vector<uint8_t> objects = WordBytes({kFixed5V3A, kVariable5To20V2A});
    std::memcpy(buffer.get(), objects.data(), 4);
    EXPECT_EQ(DescribeEprCapabilities(*first, false), "[1]<Fix>5.00V/3.00A ");

    std::memcpy(buffer.get() + 28, objects.data() + 4, 4); // object 8 arrives with the next chunk
    EXPECT_EQ(DescribeEprCapabilities(*first, false),
              "[1]<Fix>5.00V/3.00A [8]<None-Battery>5000-20000[mV]/2000[mA] ");
}

TEST(EprCapabilitiesDescription, EmptyWithoutData) {
    std::vector<uint8_t> block = WordBytes({kFixed5V3A});
    auto packet = MakeExtendedMessage(kEprSourceCapabilities, 2, 4);
    packet->extDataSize = 4;
    packet->extChunkLength = 4;
    EXPECT_EQ(DescribeEprCapabilities(*packet, false), "") << "no data block";

    packet->extData = block.data();
    packet->extDataSize = 0;
    EXPECT_EQ(DescribeEprCapabilities(*packet, false), "") << "Data Size 0";

    packet->extDataSize = 3;
    EXPECT_EQ(DescribeEprCapabilities(*packet, false), "") << "less than one object";

    packet->extDataSize = 4;
    EXPECT_EQ(DescribeEprCapabilities(*packet, false), "[1]<Fix>5.00V/3.00A ");
}

// A message in one packet reads its objects from its own bytes, where only the chunk is present even when
// the Data Size field claims more.
TEST(EprCapabilitiesDescription, OwnBytesAreReadOnlyAsFarAsTheChunk) {
    auto packet = MakeExtendedMessage(kEprSourceCapabilities, 7, 12);
    for (int n = 0; n < 3; ++n) PutWord(packet->messageBytes + 4 + 4 * n, kFixed5V3A);
    packet->extData = packet->messageBytes + 4;
    packet->extDataSize = 12;
    packet->extChunkLength = 8;
    EXPECT_EQ(DescribeEprCapabilities(*packet, false), "[1]<Fix>5.00V/3.00A [2]<Fix>5.00V/3.00A ");

    // A Data Size beyond the packet buffer stops at the buffer's end.
    for (int at = 4; at + 4 <= kMessageBytesCapacity; at += 4) PutWord(packet->messageBytes + at, kFixed5V3A);
    packet->extDataSize = 400;
    packet->extChunkLength = kMessageBytesCapacity - 4;
    const std::string text = DescribeEprCapabilities(*packet, false);
    const int lastInBuffer = (kMessageBytesCapacity - 4) / 4;
    EXPECT_NE(text.find("[" + std::to_string(lastInBuffer) + "]<Fix>5.00V/3.00A "), std::string::npos);
    EXPECT_EQ(text.find("[" + std::to_string(lastInBuffer + 1) + "]"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------------------
// Request descriptions.

TEST(RequestDescription, WrongObjectCount) {
    const uint32_t rdo = (1u << 28) | (300u << 10) | 300;
    struct CountCase {
        bool epr;
        std::vector<uint32_t> objects;
    };
    const CountCase cases[] = {
        {false, {}}, {false, {rdo, kFixed5V3A}}, {true, {rdo}}, {true, {rdo, kFixed5V3A, kFixed5V3A}}};
    for (const CountCase& c : cases) {
        SCOPED_TRACE(std::string(c.epr ? "EPR_Request" : "Request") + " with " +
                     std::to_string(c.objects.size()));
        const auto request = MakeDataMessage(c.epr ? kEprRequest : kRequest, 2, c.objects);
        EXPECT_EQ(DescribeRequest(*request, c.epr), "Invalid Data Objects Count.");
    }
}

// The capabilities a request refers to: one object of every kind.
std::unique_ptr<CCCPacket> MakeLinkedCapabilities() {
    return MakeDataMessage(kSourceCapabilities, 2,
                           {kFixed5V3A, kBattery5To20V100W, kVariable5To20V2A, kPps3V3To21V3ALimited,
                            kEprAvs15To48V140WPeak2, kSprAvs3A2A25Peak1, kUnknownApdo});
}

TEST(RequestDescription, WithoutReferencedObjectOnlyThePosition) {
    const auto caps = MakeLinkedCapabilities();
    const auto shortCaps = MakeDataMessage(kSourceCapabilities, 2, {kFixed5V3A, kFixed5V3A});
    struct NoRefCase {
        const char* what;
        const CCCPacket* caps;
        uint32_t position;
        const char* text;
    };
    const NoRefCase cases[] = {
        {"no linked capabilities", nullptr, 1, "Position=1"},
        {"position 0", caps.get(), 0, "Position=0"},
        {"position beyond the linked objects", shortCaps.get(), 3, "Position=3"},
        {"position 15", caps.get(), 15, "Position=15"},
    };
    for (const NoRefCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto request = MakeDataMessage(kRequest, 2, {(c.position << 28) | (1u << 26) | (300u << 10) | 300});
        request->sourceCapsRef = const_cast<CCCPacket*>(c.caps);
        EXPECT_EQ(DescribeRequest(*request, false), c.text);

        Segments segments;
        AddRequestSegments(segments.list, *request, false);
        EXPECT_EQ(segments.list.Count(), 0);
    }
}

struct RequestTextCase {
    const char* what;
    uint32_t rdo;
    const char* text;
};

const RequestTextCase kRequestTextCases[] = {
    {"fixed", (1u << 28) | (300u << 10) | 300,
     "Position=1<Fixed> (Operating Current=3000[mA])(Max Operating Current=3000[mA])"},
    {"fixed, GiveBack", (1u << 28) | (1u << 27) | (200u << 10) | 100,
     "Position=1<Fixed> (Operating Current=2000[mA])(Min Operating Current=1000[mA])(GiveBack)"},
    {"battery", (2u << 28) | (60u << 10) | 80,
     "Position=2<Battery> (Operating Power=15000[mW])(Max Operating Power=20000[mW])"},
    {"battery, GiveBack", (2u << 28) | (1u << 27) | (60u << 10) | 40,
     "Position=2<Battery> (Operating Power=15000[mW])(Min Operating Power=10000[mW])(GiveBack)"},
    {"variable, every flag", (3u << 28) | (0x1Fu << 22) | (150u << 10) | 200,
     "Position=3<Variable> (Operating Current=1500[mA])(Max Operating Current=2000[mA])(Capability Mismatch)"
     "(USB Commincations Capable)(No USB Suspend)(Unchunked)(EPR)"},
    {"SPR PPS", (4u << 28) | (250u << 9) | 60,
     "Position=4<APDO:SPR PPS> (Operating Current=3000[mA])(Output Voltage=5000[mV])"},
    {"SPR PPS: GiveBack, bits 7..8 and 20 are not its fields",
     (4u << 28) | (1u << 27) | (1u << 20) | (3u << 7) | (250u << 9) | 60,
     "Position=4<APDO:SPR PPS> (Operating Current=3000[mA])(Output Voltage=5000[mV])"},
    {"EPR AVS", (5u << 28) | (1120u << 9) | 100,
     "Position=5<APDO:EPR AVS> (Operating Current=5000[mA])(Output Voltage=28000[mV])"},
    {"SPR AVS, voltage takes bit 20", (6u << 28) | (1u << 20) | 60,
     "Position=6<APDO:SPR AVS> (Operating Current=3000[mA])(Output Voltage=51200[mV])"},
    {"unknown APDO", (7u << 28) | (1u << 26) | (1u << 22) | 0x3FF,
     "Position=7<APDO:Unknown> (Capability Mismatch)(EPR)"},
};

TEST(RequestDescription, ReadAgainstTheLinkedObject) {
    const auto caps = MakeLinkedCapabilities();
    for (const RequestTextCase& c : kRequestTextCases) {
        SCOPED_TRACE(c.what);
        auto request = MakeDataMessage(kRequest, 2, {c.rdo});
        request->sourceCapsRef = caps.get();
        EXPECT_EQ(DescribeRequest(*request, false), c.text);
    }
}

TEST(RequestDescription, EprRequestUsesItsOwnCopy) {
    const auto caps = MakeLinkedCapabilities(); // object 1 is fixed; the copy must win
    struct EprCase {
        uint32_t rdo, copy;
        const char* text;
    };
    const EprCase cases[] = {
        {(1u << 28) | (1u << 27) | (300u << 10) | 500, (560u << 10) | 500,
         "Position=1<Fixed> (Operating Current=3000[mA])(Min Operating Current=5000[mA])(GiveBack)"},
        {(1u << 28) | (1u << 23) | (1120u << 9) | 100, kEprAvs15To48V140WPeak2,
         "Position=1<APDO:EPR AVS> (Operating Current=5000[mA])(Output Voltage=28000[mV])(Unchunked)"},
    };
    for (const EprCase& c : cases) {
        SCOPED_TRACE(c.text);
        auto request = MakeDataMessage(kEprRequest, 2, {c.rdo, c.copy});
        request->sourceCapsRef = caps.get();
        EXPECT_EQ(DescribeRequest(*request, true), c.text);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Field lists.

struct NamedList {
    const char* name;
    const PDFieldDesc* list;
    uint64_t bits; // the bits the list must cover, each exactly once
};

constexpr uint64_t kWord = 0xFFFFFFFFull;

const NamedList kAllLists[] = {
    {"fixed source 3.0", kFixedSourceRev30Fields, kWord},
    {"fixed source 2.0", kFixedSourceRev20Fields, kWord},
    {"fixed sink 3.0", kFixedSinkRev30Fields, kWord},
    {"fixed sink 2.0", kFixedSinkRev20Fields, kWord},
    {"variable source", kVariableSourceFields, kWord},
    {"variable sink", kVariableSinkFields, kWord},
    {"battery source", kBatterySourceFields, kWord},
    {"battery sink", kBatterySinkFields, kWord},
    {"SPR PPS source", kSprPpsSourceFields, kWord},
    {"SPR PPS sink", kSprPpsSinkFields, kWord},
    {"EPR AVS source", kEprAvsSourceFields, kWord},
    {"EPR AVS sink", kEprAvsSinkFields, kWord},
    {"SPR AVS source", kSprAvsSourceFields, kWord},
    {"SPR AVS sink", kSprAvsSinkFields, kWord},
    {"unknown APDO source", kUnknownApdoSourceFields, kWord},
    {"unknown APDO sink", kUnknownApdoSinkFields, kWord},
    {"current request 2.0/0", kCurrentRequestRev20GiveBack0Fields, kWord},
    {"current request 2.0/1", kCurrentRequestRev20GiveBack1Fields, kWord},
    {"current request 3.0/0", kCurrentRequestRev30GiveBack0Fields, kWord},
    {"current request 3.0/1", kCurrentRequestRev30GiveBack1Fields, kWord},
    {"power request 2.0/0", kPowerRequestRev20GiveBack0Fields, kWord},
    {"power request 2.0/1", kPowerRequestRev20GiveBack1Fields, kWord},
    {"power request 3.0/0", kPowerRequestRev30GiveBack0Fields, kWord},
    {"power request 3.0/1", kPowerRequestRev30GiveBack1Fields, kWord},
    {"programmable request", kProgrammableRequestFields, kWord},
    {"AVS request", kAvsRequestFields, kWord},
    {"unknown APDO request", kUnknownApdoRequestFields, kWord},
    {"EPR_Request fallback", kEprRequestFallbackFields, ~0ull},
};

TEST(PowerObjectLists, EveryListCoversItsBitsOnce) {
    for (const NamedList& l : kAllLists) {
        SCOPED_TRACE(l.name);
        uint64_t seen = 0;
        uint32_t sum = 0;
        for (const PDFieldDesc* f = l.list; f->bitLength != 0; ++f) {
            ASSERT_LE(f->bitOffset + f->bitLength, 64u) << f->name;
            const uint64_t bits = (f->bitLength >= 64 ? ~0ull : (1ull << f->bitLength) - 1) << f->bitOffset;
            EXPECT_EQ(seen & bits, 0u) << f->name << " overlaps";
            seen |= bits;
            sum += f->bitLength;
            EXPECT_NE(f->name, nullptr);
        }
        EXPECT_EQ(seen, l.bits);
        EXPECT_EQ(sum, l.bits == kWord ? 32u : 64u);
    }
}

// A revision 2.0 fixed object knows neither the EPR bits nor the APDO kind.
TEST(PowerObjectLists, Revision20FixedSourceList) {
    const PDFieldDesc* reserved = FieldAt(kFixedSourceRev20Fields, 22);
    ASSERT_NE(reserved, nullptr);
    EXPECT_EQ(reserved->bitLength, 3u);
    EXPECT_STREQ(reserved->name, "Reserved");
    EXPECT_EQ(FieldAt(kFixedSourceRev20Fields, 23), nullptr);
    EXPECT_EQ(FieldAt(kFixedSourceRev20Fields, 24), nullptr);

    const PDFieldDesc* kind20 = FieldAt(kFixedSourceRev20Fields, 30);
    const PDFieldDesc* kind30 = FieldAt(kFixedSourceRev30Fields, 30);
    ASSERT_NE(kind20, nullptr);
    ASSERT_NE(kind30, nullptr);
    EXPECT_EQ(DescribeFieldValue(*kind20, 0), "Fixed supply (Vmin=Vmax)");
    EXPECT_EQ(DescribeFieldValue(*kind20, 3), "");
    EXPECT_EQ(DescribeFieldValue(*kind30, 3), "Augmented Power Data Object (APDO)");
}

TEST(PowerObjectLists, ValueTextsOfScaledAndNamedFields) {
    struct ValueCase {
        const PDFieldDesc* list;
        uint32_t offset;
        uint32_t v;
        const char* text;
    };
    const ValueCase cases[] = {
        {kFixedSourceRev30Fields, 10, 100, "5000 [mV]"},
        {kFixedSourceRev30Fields, 0, 300, "3000 [mA]"},
        {kFixedSinkRev30Fields, 23, 2, "1.5A @ 5V"},
        {kFixedSinkRev30Fields, 23, 0, "Fast Swap not supported"},
        {kBatterySinkFields, 0, 400, "100000 [mW]"},
        {kSprPpsSourceFields, 17, 210, "21000 [mV]"},
        {kSprPpsSourceFields, 0, 60, "3000 [mA]"},
        {kEprAvsSourceFields, 0, 140, "140 [W]"},
        {kUnknownApdoSourceFields, 28, 3, ""},
        {kSprAvsSinkFields, 28, 2, "SPR Adjustable Voltage Supply"},
        {kProgrammableRequestFields, 9, 250, "5000 [mV]"},
        {kAvsRequestFields, 9, 1120, "28000 [mV]"},
        {kPowerRequestRev30GiveBack1Fields, 0, 40, "10000 [mW]"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.text);
        const PDFieldDesc* field = FieldAt(c.list, c.offset);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(DescribeFieldValue(*field, c.v), c.text);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Segment choices.

struct PdoListCase {
    const char* what;
    uint32_t word;
    bool sink, rev30;
    const PDFieldDesc* list;
};

const PdoListCase kPdoListCases[] = {
    {"fixed source 3.0", kFixed5V3A, false, true, kFixedSourceRev30Fields},
    {"fixed source 2.0", kFixed5V3A, false, false, kFixedSourceRev20Fields},
    {"fixed sink 3.0", kFixed5V3A, true, true, kFixedSinkRev30Fields},
    {"fixed sink 2.0", kFixed5V3A, true, false, kFixedSinkRev20Fields},
    {"battery source", kBattery5To20V100W, false, false, kBatterySourceFields},
    {"battery sink", kBattery5To20V100W, true, true, kBatterySinkFields},
    {"variable source", kVariable5To20V2A, false, true, kVariableSourceFields},
    {"variable sink", kVariable5To20V2A, true, false, kVariableSinkFields},
    {"SPR PPS source", kPps3V3To21V3ALimited, false, true, kSprPpsSourceFields},
    {"SPR PPS sink, 2.0", kPps3V3To21V3ALimited, true, false, kSprPpsSinkFields},
    {"EPR AVS source", kEprAvs15To48V140WPeak2, false, true, kEprAvsSourceFields},
    {"EPR AVS sink", kEprAvs15To48V140WPeak2, true, true, kEprAvsSinkFields},
    {"SPR AVS source", kSprAvs3A2A25Peak1, false, true, kSprAvsSourceFields},
    {"SPR AVS sink", kSprAvs3A2A25Peak1, true, true, kSprAvsSinkFields},
    {"unknown APDO source", kUnknownApdo, false, true, kUnknownApdoSourceFields},
    {"unknown APDO sink", kUnknownApdo, true, false, kUnknownApdoSinkFields},
};

TEST(CapabilitiesSegments, ListFollowsTheObjectKindRoleAndRevision) {
    for (const PdoListCase& c : kPdoListCases) {
        SCOPED_TRACE(c.what);
        const auto packet =
            MakeDataMessage(c.sink ? kSinkCapabilities : kSourceCapabilities, c.rev30 ? 2 : 1, {c.word});
        Segments segments;
        AddCapabilitiesSegments(segments.list, CFieldView(packet->messageBytes, packet->messageByteCount), 16,
                                7, c.sink, c.rev30);
        ASSERT_GE(segments.list.Count(), 1);
        EXPECT_EQ(segments.table[0].base, 16);
        EXPECT_EQ(segments.table[0].list, c.list);
        EXPECT_EQ(segments.table[0].total, 32);
    }
}

// Seven places whatever the object count; objects not (wholly) received get no list and are not read.
TEST(CapabilitiesSegments, SevenPlacesObjectsBeyondTheDataGetNoList) {
    const auto packet = MakeDataMessage(kSourceCapabilities, 2, {kFixed5V3A, kUnknownApdo, kFixed5V3A});
    packet->messageByteCount = 12; // the third object is cut after two bytes
    Segments segments;
    AddCapabilitiesSegments(segments.list, CFieldView(packet->messageBytes, packet->messageByteCount), 16, 7,
                            false, true);
    ASSERT_EQ(segments.list.Count(), 7);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(segments.table[i].base, 16 + 32 * i);
        const PDFieldDesc* expected = i == 0   ? kFixedSourceRev30Fields
                                      : i == 1 ? kUnknownApdoSourceFields
                                               : nullptr;
        EXPECT_EQ(segments.table[i].list, expected);
        EXPECT_EQ(segments.table[i].total, expected ? 32 : 0);
    }
}

TEST(CapabilitiesSegments, ThirteenEprObjectsInEitherView) {
    // A data block of 30 bytes: seven whole objects and a part.
    std::vector<uint8_t> block =
        WordBytes({kFixed5V3A, kFixed5V3A, kBattery5To20V100W, kVariable5To20V2A, kPps3V3To21V3ALimited,
                   kEprAvs15To48V140WPeak2, kSprAvs3A2A25Peak1});
    block.resize(30, 0xFF);
    const PDFieldDesc* const sourceLists[] = {
        kFixedSourceRev30Fields, kFixedSourceRev30Fields, kBatterySourceFields, kVariableSourceFields,
        kSprPpsSourceFields,     kEprAvsSourceFields,     kSprAvsSourceFields};
    const PDFieldDesc* const sinkLists[] = {kFixedSinkRev30Fields, kFixedSinkRev30Fields, kBatterySinkFields,
                                            kVariableSinkFields,   kSprPpsSinkFields,     kEprAvsSinkFields,
                                            kSprAvsSinkFields};

    // The packet's own bytes: the data after the extended header, at bit 32.
    auto packet = MakeExtendedMessage(kEprSourceCapabilities, 7, 30);
    std::memcpy(packet->messageBytes + 4, block.data(), block.size());
    packet->messageByteCount = 34;

    struct ViewCase {
        const char* what;
        CFieldView view;
        int32_t firstBit;
        bool sink;
    };
    const ViewCase cases[] = {
        {"data block, source", CFieldView(block.data(), 30), 0, false},
        {"data block, sink", CFieldView(block.data(), 30), 0, true},
        {"own bytes, source", CFieldView(packet->messageBytes, packet->messageByteCount), 32, false},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(c.what);
        Segments segments;
        AddCapabilitiesSegments(segments.list, c.view, c.firstBit, 13, c.sink, true);
        ASSERT_EQ(segments.list.Count(), 13);
        for (int i = 0; i < 13; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(segments.table[i].base, c.firstBit + 32 * i);
            const PDFieldDesc* expected = i < 7 ? (c.sink ? sinkLists : sourceLists)[i] : nullptr;
            EXPECT_EQ(segments.table[i].list, expected);
        }
    }

    Segments none;
    AddCapabilitiesSegments(none.list, CFieldView(), 0, 13, false, true);
    ASSERT_EQ(none.list.Count(), 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(none.table[i].list, nullptr) << "view without data, object " << i;
}

struct RequestListCase {
    const char* what;
    int revision;
    uint32_t rdo;
    const PDFieldDesc* list;
};

const RequestListCase kRequestListCases[] = {
    {"fixed 3.0", 2, 1u << 28, kCurrentRequestRev30GiveBack0Fields},
    {"fixed 3.0 GiveBack", 2, (1u << 28) | (1u << 27), kCurrentRequestRev30GiveBack1Fields},
    {"fixed revision field 3", 3, 1u << 28, kCurrentRequestRev30GiveBack0Fields},
    {"fixed 2.0", 1, 1u << 28, kCurrentRequestRev20GiveBack0Fields},
    {"fixed 1.0 GiveBack", 0, (1u << 28) | (1u << 27), kCurrentRequestRev20GiveBack1Fields},
    {"battery 3.0", 2, 2u << 28, kPowerRequestRev30GiveBack0Fields},
    {"battery 3.0 GiveBack", 2, (2u << 28) | (1u << 27), kPowerRequestRev30GiveBack1Fields},
    {"battery 2.0", 1, 2u << 28, kPowerRequestRev20GiveBack0Fields},
    {"battery 2.0 GiveBack", 1, (2u << 28) | (1u << 27), kPowerRequestRev20GiveBack1Fields},
    {"variable 2.0 GiveBack", 1, (3u << 28) | (1u << 27), kCurrentRequestRev20GiveBack1Fields},
    {"variable 3.0", 2, 3u << 28, kCurrentRequestRev30GiveBack0Fields},
    {"SPR PPS 2.0", 1, 4u << 28, kProgrammableRequestFields},
    {"SPR PPS 3.0", 2, 4u << 28, kProgrammableRequestFields},
    {"EPR AVS", 2, 5u << 28, kAvsRequestFields},
    {"SPR AVS", 2, 6u << 28, kAvsRequestFields},
    {"unknown APDO", 2, 7u << 28, kUnknownApdoRequestFields},
};

TEST(RequestSegments, ListFollowsTheReferencedObject) {
    const auto caps = MakeLinkedCapabilities();
    for (const RequestListCase& c : kRequestListCases) {
        SCOPED_TRACE(c.what);
        auto request = MakeDataMessage(kRequest, c.revision, {c.rdo});
        request->sourceCapsRef = caps.get();
        Segments segments;
        AddRequestSegments(segments.list, *request, false);
        ASSERT_EQ(segments.list.Count(), 1);
        EXPECT_EQ(segments.table[0].base, 16);
        EXPECT_EQ(segments.table[0].list, c.list);
    }
}

TEST(RequestSegments, EprRequestObjectAndCopy) {
    struct EprCase {
        const char* what;
        int revision;
        std::vector<uint32_t> objects;
        std::vector<PDFieldSegment> expected;
    };
    const EprCase cases[] = {
        {"fixed copy, GiveBack, always 3.0",
         1,
         {(1u << 28) | (1u << 27), kFixed5V3A},
         {{16, 32, kCurrentRequestRev30GiveBack1Fields}, {48, 32, kFixedSourceRev30Fields}}},
        {"battery copy",
         2,
         {1u << 28, kBattery5To20V100W},
         {{16, 32, kPowerRequestRev30GiveBack0Fields}, {48, 32, kBatterySourceFields}}},
        {"EPR AVS copy",
         2,
         {1u << 28, kEprAvs15To48V140WPeak2},
         {{16, 32, kAvsRequestFields}, {48, 32, kEprAvsSourceFields}}},
        {"three objects still use the copy",
         2,
         {1u << 28, kVariable5To20V2A, 0},
         {{16, 32, kCurrentRequestRev30GiveBack0Fields}, {48, 32, kVariableSourceFields}}},
        {"no copy", 2, {1u << 28}, {{16, 64, kEprRequestFallbackFields}}},
    };
    for (const EprCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto request = MakeDataMessage(kEprRequest, c.revision, c.objects);
        Segments segments;
        AddRequestSegments(segments.list, *request, true);
        ASSERT_EQ(segments.list.Count(), int(c.expected.size()));
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(segments.table[i].base, c.expected[i].base);
            EXPECT_EQ(segments.table[i].total, c.expected[i].total);
            EXPECT_EQ(segments.table[i].list, c.expected[i].list);
        }
    }
}

} // namespace
