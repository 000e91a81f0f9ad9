#include "ExtendedMessages.h"

#include "CCPacket.h"
#include "MessageTypes.h"
#include "PowerObjects.h"
#include "VendorDefined.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

enum : int {
    kSourceCapsExtended = 1,
    kStatus = 2,
    kGetBatteryCap = 3,
    kGetBatteryStatus = 4,
    kBatteryCapabilities = 5,
    kGetManufacturerInfo = 6,
    kManufacturerInfo = 7,
    kSecurityRequest = 8,
    kSecurityResponse = 9,
    kFirmwareUpdateRequest = 10,
    kFirmwareUpdateResponse = 11,
    kPpsStatus = 12,
    kCountryInfo = 13,
    kCountryCodes = 14,
    kSinkCapsExtended = 15,
    kExtendedControl = 16,
    kEprSourceCaps = 17,
    kEprSinkCaps = 18,
    kVendorDefinedExtended = 30,
};

constexpr int kChunkBytes = 26;

void SetHeaders(CCCPacket& p, int code, int32_t kind, int objects, uint16_t extendedHeader) {
    const uint16_t header = uint16_t(code | 2 << 6 | objects << 12 | 0x8000);
    p.kind = kind;
    p.messageBytes[0] = uint8_t(header);
    p.messageBytes[1] = uint8_t(header >> 8);
    p.messageBytes[2] = uint8_t(extendedHeader);
    p.messageBytes[3] = uint8_t(extendedHeader >> 8);
}

// An unchunked extended message with all its data in the packet, its data block set up as the capture
// store does: pointing into the packet's own bytes.
void MakeWhole(CCCPacket& p, int code, const std::vector<uint8_t>& data, int32_t kind = kKindSop) {
    const int size = int(data.size());
    const int objects = std::min(7, (2 + size + 3) / 4);
    SetHeaders(p, code, kind, objects, uint16_t(size));
    std::copy(data.begin(), data.end(), p.messageBytes + 4);
    p.messageByteCount = std::max(4 + size, 2 + 4 * objects);
    if (size > 0) {
        p.extData = p.messageBytes + 4;
        p.extDataSize = size;
        p.extChunkLength = std::min(size, kMessageBytesCapacity - 4);
        p.extChunkOffset = 0;
    }
}

// Chunk `chunk` of a chunked message whose reassembled block is `block`.
void MakeChunk(CCCPacket& p, int code, const std::shared_ptr<uint8_t[]>& block, int32_t size, int chunk,
               int32_t kind = kKindSop) {
    const int32_t offset = chunk * kChunkBytes;
    const int32_t length = std::min(kChunkBytes, size - offset);
    SetHeaders(p, code, kind, 7, uint16_t(size | chunk << 11 | 0x8000));
    std::memcpy(p.messageBytes + 4, block.get() + offset, size_t(length));
    p.messageByteCount = 2 + 4 * 7;
    p.extBuffer = block;
    p.extData = block.get();
    p.extDataSize = size;
    p.extChunkOffset = offset;
    p.extChunkLength = length;
}

std::shared_ptr<uint8_t[]> MakeBlock(const std::vector<uint8_t>& data) {
    std::shared_ptr<uint8_t[]> block(new uint8_t[data.size()]);
    std::copy(data.begin(), data.end(), block.get());
    return block;
}

std::vector<uint8_t> Bytes(int size, std::initializer_list<std::pair<int, uint8_t>> set) {
    std::vector<uint8_t> data(size_t(size), 0);
    for (const auto& [at, value] : set) data[size_t(at)] = value;
    return data;
}

// ---- Descriptions ----

enum class Carrier { Whole, FirstChunk, SecondChunk };

struct DescriptionCase {
    const char* label;
    int code;
    std::vector<uint8_t> data;
    Carrier carrier;
    const char* expected;
};

void PrintTo(const DescriptionCase& c, std::ostream* os) {
    *os << c.label;
}

class ExtendedDescription : public ::testing::TestWithParam<DescriptionCase> {};

TEST_P(ExtendedDescription, Text) {
    const DescriptionCase& c = GetParam();
    CCCPacket p;
    if (c.carrier == Carrier::Whole)
        MakeWhole(p, c.code, c.data);
    else
        MakeChunk(p, c.code, MakeBlock(c.data), int32_t(c.data.size()),
                  c.carrier == Carrier::FirstChunk ? 0 : 1);
    EXPECT_EQ(p.GetDescriptionText(), c.expected);
}

// clang-format off
const DescriptionCase kDescriptionCases[] = {
    {"SourceCaps25", kSourceCapsExtended, Bytes(25, {{23, 0x64}, {24, 140}}), Carrier::Whole,
     "(SPR Source Rating=100[W])(EPR Source Rating=140[W])"},
    // Bit 7 of byte 23 is reserved; byte 24 is used whole.
    {"SourceCapsMasked", kSourceCapsExtended, Bytes(25, {{23, 0xE4}, {24, 0xF0}}), Carrier::Whole,
     "(SPR Source Rating=100[W])(EPR Source Rating=240[W])"},
    {"SourceCaps24", kSourceCapsExtended, Bytes(24, {{23, 0x64}}), Carrier::Whole, "(SPR Source Rating=100[W])"},
    {"SourceCaps23", kSourceCapsExtended, Bytes(23, {{22, 0x64}}), Carrier::Whole, ""},
    {"SourceCapsBlockFirst", kSourceCapsExtended, Bytes(30, {{23, 0x41}, {24, 28}}), Carrier::FirstChunk,
     "(SPR Source Rating=65[W])(EPR Source Rating=28[W])"},
    {"SourceCapsBlockSecond", kSourceCapsExtended, Bytes(30, {{23, 0x41}, {24, 28}}), Carrier::SecondChunk, ""},
    {"SinkCaps21", kSinkCapsExtended, Bytes(21, {{18, 0x8F}, {19, 0x2D}, {20, 0x64}}), Carrier::Whole,
     "(Sink Min/Ope/Max PDP=15/45/100[W])"},
    // The EPR values are used whole, unlike the SPR ones.
    {"SinkCaps24", kSinkCapsExtended, Bytes(24, {{18, 15}, {19, 45}, {20, 100}, {21, 0x8C}, {22, 0xA0}, {23, 0xF0}}),
     Carrier::Whole, "(Sink Min/Ope/Max PDP=15/45/100[W])(EPR Sink Min/Ope/Max PDP=140/160/240[W])"},
    {"SinkCaps20", kSinkCapsExtended, Bytes(20, {{18, 15}, {19, 45}}), Carrier::Whole, ""},
    {"SinkCapsBlockFirst", kSinkCapsExtended, Bytes(28, {{18, 5}, {19, 6}, {20, 7}, {21, 8}, {22, 9}, {23, 10}}),
     Carrier::FirstChunk, "(Sink Min/Ope/Max PDP=5/6/7[W])(EPR Sink Min/Ope/Max PDP=8/9/10[W])"},
    {"SinkCapsBlockSecond", kSinkCapsExtended, Bytes(28, {{18, 5}, {19, 6}, {20, 7}}), Carrier::SecondChunk, ""},
    {"ControlGetSourceCap", kExtendedControl, {1, 0}, Carrier::Whole, "EPR_Get_Source_Cap"},
    {"ControlGetSinkCap", kExtendedControl, {2, 0}, Carrier::Whole, "EPR_Get_Sink_Cap"},
    {"ControlKeepAlive", kExtendedControl, {3, 0}, Carrier::Whole, "EPR_KeepAlive"},
    {"ControlKeepAliveAck", kExtendedControl, {4, 0}, Carrier::Whole, "EPR_KeepAlive_Ack"},
    {"ControlType5", kExtendedControl, {5, 0}, Carrier::Whole, "(Invalid Type)"},
    {"ControlType0", kExtendedControl, {0, 0}, Carrier::Whole, "(Invalid Type)"},
    {"ControlSize1", kExtendedControl, {3}, Carrier::Whole, ""},
    {"ControlSize0", kExtendedControl, {}, Carrier::Whole, ""},
    {"StatusEmpty", kStatus, Bytes(7, {{0, 30}}), Carrier::Whole, ""},
    {"PpsStatusEmpty", kPpsStatus, {0xFF, 0xFF, 0xFF, 0}, Carrier::Whole, ""},
    {"VendorDefinedExtendedEmpty", kVendorDefinedExtended, {0x01, 0x00, 0xAB, 0x12}, Carrier::Whole, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ExtendedDescription, ::testing::ValuesIn(kDescriptionCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ExtendedDescription, CapabilitiesNeedABlock) {
    CCCPacket noBlock; // a chunk request, for example, has no data block
    MakeWhole(noBlock, kSourceCapsExtended, Bytes(25, {{23, 0x64}, {24, 140}}));
    noBlock.extData = nullptr;
    noBlock.extDataSize = 0;
    noBlock.extChunkLength = 0;
    EXPECT_EQ(noBlock.GetDescriptionText(), "");

    CCCPacket emptyBlock;
    MakeWhole(emptyBlock, kSinkCapsExtended, Bytes(24, {{18, 15}}));
    emptyBlock.extDataSize = 0;
    EXPECT_EQ(emptyBlock.GetDescriptionText(), "");
}

// A message in one packet has only the bytes it carried, whatever its Data Size claims.
TEST(ExtendedDescription, SinglePacketReadsOnlyItsOwnBytes) {
    CCCPacket p;
    MakeWhole(p, kSourceCapsExtended, Bytes(25, {{23, 0x64}, {24, 140}}));
    p.extChunkLength = 24;
    EXPECT_EQ(p.GetDescriptionText(), "(SPR Source Rating=100[W])");
    p.extChunkLength = 20;
    EXPECT_EQ(p.GetDescriptionText(), "");
}

TEST(ExtendedDescription, OnlyExtendedMessages) {
    CCCPacket p;
    MakeWhole(p, kExtendedControl, {1, 0});
    p.messageBytes[1] &= 0x7F; // the same bytes as a data message with code 16, which has no name
    EXPECT_EQ(p.GetDescriptionText(), "");

    CCCPacket rev20;
    MakeWhole(rev20, kSourceCapsExtended, Bytes(25, {{23, 0x64}}));
    rev20.messageBytes[0] = uint8_t((rev20.messageBytes[0] & ~0xC0) | 1 << 6); // bit 15 means nothing at 2.0
    // Described as the data message Source_Capabilities it is, not from an extended data block.
    EXPECT_EQ(rev20.GetDescriptionText(), DescribeCapabilities(rev20, false));
}

// ---- Segments ----

struct Placed {
    int32_t dataBit;
    const PDFieldDesc* list;
};

struct SegmentCase {
    const char* label;
    int code;
    int32_t kind;
    std::vector<uint8_t> data;
    std::vector<Placed> expected;
};

void PrintTo(const SegmentCase& c, std::ostream* os) {
    *os << c.label;
}

enum class View { OwnData, DataBlock };

std::vector<PDFieldSegment> Segments(const CCCPacket& p, const CFieldView& view, int32_t dataStart) {
    PDFieldSegment table[kFieldSegmentCapacity];
    CSegmentList out(table);
    AddMessageSegments(out, p, view, dataStart);
    out.Finish();
    EXPECT_EQ(table[out.Count()].base, -1);
    return std::vector<PDFieldSegment>(table, table + out.Count());
}

class ExtendedSegments : public ::testing::TestWithParam<std::tuple<SegmentCase, View>> {};

TEST_P(ExtendedSegments, ChosenLists) {
    const auto& [c, view] = GetParam();
    CCCPacket whole;
    MakeWhole(whole, c.code, c.data, c.kind);
    std::shared_ptr<uint8_t[]> block = MakeBlock(c.data);

    std::vector<PDFieldSegment> segments;
    int32_t dataStart;
    if (view == View::OwnData) {
        dataStart = 32;
        segments = Segments(whole, CFieldView(whole.messageBytes, whole.messageByteCount), dataStart);
    } else {
        dataStart = 0;
        segments = Segments(whole, CFieldView(block.get(), int32_t(c.data.size())), dataStart);
    }
    ASSERT_EQ(segments.size(), c.expected.size());
    for (size_t n = 0; n < segments.size(); ++n) {
        EXPECT_EQ(segments[n].base, dataStart + c.expected[n].dataBit) << "segment " << n;
        EXPECT_EQ(segments[n].list, c.expected[n].list) << "segment " << n;
    }
}

// clang-format off
const SegmentCase kSegmentCases[] = {
    {"SourceCapsExtended", kSourceCapsExtended, kKindSop, Bytes(25, {}), {{0, kSourceCapabilitiesExtendedFields}}},
    {"StatusSop", kStatus, kKindSop, Bytes(7, {}), {{0, kSopStatusFields}}},
    {"StatusSopPrime", kStatus, kKindSopPrime, Bytes(2, {}), {{0, kCablePlugStatusFields}}},
    {"StatusSopDoublePrime", kStatus, kKindSopDoublePrime, Bytes(2, {}), {{0, kCablePlugStatusFields}}},
    {"StatusSopPrimeDebug", kStatus, kKindSopPrimeDebug, Bytes(7, {}), {}},
    {"StatusSopDoublePrimeDebug", kStatus, kKindSopDoublePrimeDebug, Bytes(7, {}), {}},
    {"GetBatteryCap", kGetBatteryCap, kKindSop, {0}, {{0, kGetBatteryCapFields}}},
    {"GetBatteryStatus", kGetBatteryStatus, kKindSop, {0}, {{0, kGetBatteryStatusFields}}},
    {"BatteryCapabilities", kBatteryCapabilities, kKindSop, Bytes(9, {}), {{0, kBatteryCapabilitiesFields}}},
    {"GetManufacturerInfo", kGetManufacturerInfo, kKindSop, {1, 0}, {{0, kGetManufacturerInfoFields}}},
    {"ManufacturerInfo", kManufacturerInfo, kKindSop, Bytes(8, {{4, 'A'}}), {{0, kManufacturerInfoFields}}},
    {"SecurityGetDigests", kSecurityRequest, kKindSop, {1, 129, 0, 0}, {{0, kSecurityRequestHeaderFields}, {16, kGetDigestsFields}}},
    {"SecurityGetCertificate", kSecurityRequest, kKindSop, Bytes(8, {{0, 1}, {1, 130}}), {{0, kSecurityRequestHeaderFields}, {16, kGetCertificateFields}}},
    {"SecurityChallenge", kSecurityRequest, kKindSop, Bytes(36, {{0, 1}, {1, 131}}), {{0, kSecurityRequestHeaderFields}, {16, kChallengeFields}}},
    {"SecurityRequestUnknown", kSecurityRequest, kKindSop, {1, 1, 0, 0}, {{0, kSecurityRequestHeaderFields}}},
    {"SecurityDigests", kSecurityResponse, kKindSop, Bytes(36, {{0, 1}, {1, 1}}), {{0, kSecurityResponseHeaderFields}, {16, kDigestsFields}}},
    {"SecurityCertificate", kSecurityResponse, kKindSop, Bytes(20, {{0, 1}, {1, 2}}), {{0, kSecurityResponseHeaderFields}, {16, kCertificateFields}}},
    {"SecurityChallengeAuth", kSecurityResponse, kKindSop, Bytes(60, {{0, 1}, {1, 3}}), {{0, kSecurityResponseHeaderFields}, {16, kChallengeAuthFields}}},
    {"SecurityError", kSecurityResponse, kKindSop, {1, 127, 3, 0}, {{0, kSecurityResponseHeaderFields}, {16, kSecurityErrorFields}}},
    {"SecurityResponseUnknown", kSecurityResponse, kKindSop, {1, 129, 0, 0}, {{0, kSecurityResponseHeaderFields}}},
    {"PdfuInitiateRequest", kFirmwareUpdateRequest, kKindSop, Bytes(10, {{0, 1}, {1, 130}}), {{0, kFirmwareUpdateRequestHeaderFields}, {16, kPdfuInitiateRequestFields}}},
    {"PdfuDataRequest", kFirmwareUpdateRequest, kKindSop, Bytes(40, {{0, 1}, {1, 131}}), {{0, kFirmwareUpdateRequestHeaderFields}, {16, kPdfuDataRequestFields}}},
    {"PdfuDataNrRequest", kFirmwareUpdateRequest, kKindSop, Bytes(40, {{0, 1}, {1, 132}}), {{0, kFirmwareUpdateRequestHeaderFields}, {16, kPdfuDataRequestFields}}},
    {"VendorSpecificRequest", kFirmwareUpdateRequest, kKindSop, Bytes(8, {{0, 1}, {1, 255}}), {{0, kFirmwareUpdateRequestHeaderFields}, {16, kVendorSpecificRequestFields}}},
    // These request types carry nothing after the header.
    {"GetFwIdRequest", kFirmwareUpdateRequest, kKindSop, {1, 129}, {{0, kFirmwareUpdateRequestHeaderFields}}},
    {"PdfuValidateRequest", kFirmwareUpdateRequest, kKindSop, {1, 133}, {{0, kFirmwareUpdateRequestHeaderFields}}},
    {"GetFwIdResponse", kFirmwareUpdateResponse, kKindSop, Bytes(22, {{0, 1}, {1, 1}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kGetFwIdResponseFields}}},
    {"PdfuInitiateResponse", kFirmwareUpdateResponse, kKindSop, Bytes(7, {{0, 1}, {1, 2}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kPdfuInitiateResponseFields}}},
    {"PdfuDataResponse", kFirmwareUpdateResponse, kKindSop, Bytes(7, {{0, 1}, {1, 3}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kPdfuDataResponseFields}}},
    {"PdfuValidateResponse", kFirmwareUpdateResponse, kKindSop, Bytes(5, {{0, 1}, {1, 5}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kPdfuValidateResponseFields}}},
    {"PdfuDataPauseResponse", kFirmwareUpdateResponse, kKindSop, Bytes(3, {{0, 1}, {1, 7}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kPdfuDataPauseResponseFields}}},
    {"VendorSpecificResponse", kFirmwareUpdateResponse, kKindSop, Bytes(8, {{0, 1}, {1, 127}}), {{0, kFirmwareUpdateResponseHeaderFields}, {16, kVendorSpecificResponseFields}}},
    {"PdfuAbortResponse", kFirmwareUpdateResponse, kKindSop, Bytes(3, {{0, 1}, {1, 6}}), {{0, kFirmwareUpdateResponseHeaderFields}}},
    {"PpsStatus", kPpsStatus, kKindSop, Bytes(4, {}), {{0, kPpsStatusFields}}},
    {"CountryInfo", kCountryInfo, kKindSop, Bytes(8, {}), {{0, kCountryInfoFields}}},
    {"CountryCodes", kCountryCodes, kKindSop, Bytes(6, {{0, 2}}), {{0, kCountryCodesFields}}},
    {"SinkCapsExtended", kSinkCapsExtended, kKindSop, Bytes(24, {}), {{0, kSinkCapabilitiesExtendedFields}}},
    {"ExtendedControl", kExtendedControl, kKindSop, {3, 0}, {{0, kExtendedControlFields}}},
    {"VendorDefinedExtended", kVendorDefinedExtended, kKindSop, Bytes(8, {{2, 0xAB}, {3, 0x12}}), {{0, kUnstructuredVdmHeaderFields}}},
    {"Code19", 19, kKindSop, Bytes(4, {}), {}},
    {"Code31", 31, kKindSop, Bytes(4, {}), {}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ExtendedSegments,
                         ::testing::Combine(::testing::ValuesIn(kSegmentCases),
                                            ::testing::Values(View::OwnData, View::DataBlock)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (std::get<1>(info.param) == View::OwnData ? "_OwnData" : "_DataBlock");
                         });

// A chunked security response: the body type is read from the data block the chunk belongs to.
TEST(ExtendedSegments, ChunkedBlockChoosesFromTheBlock) {
    const std::vector<uint8_t> data = Bytes(60, {{0, 1}, {1, 3}});
    std::shared_ptr<uint8_t[]> block = MakeBlock(data);
    CCCPacket second;
    MakeChunk(second, kSecurityResponse, block, 60, 1);
    const std::vector<PDFieldSegment> segments = Segments(second, CFieldView(block.get(), 60), 0);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].list, kSecurityResponseHeaderFields);
    EXPECT_EQ(segments[1].base, 16);
    EXPECT_EQ(segments[1].list, kChallengeAuthFields);
}

// The message type byte lies outside the view: no body, even where all ones would name one.
TEST(ExtendedSegments, MissingTypeByteChoosesNoBody) {
    CCCPacket p;
    MakeWhole(p, kFirmwareUpdateRequest, {1, 255});
    p.messageByteCount = 5; // only data byte 0 received
    std::vector<PDFieldSegment> segments = Segments(p, CFieldView(p.messageBytes, p.messageByteCount), 32);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].list, kFirmwareUpdateRequestHeaderFields);

    segments = Segments(p, CFieldView(), 0); // a view without data reads as all ones
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].list, kFirmwareUpdateRequestHeaderFields);
}

// Without bit 15 the same bytes are the data message Source_Capabilities: its power objects, not the
// extended layout.
TEST(ExtendedSegments, NoneForMessagesThatAreNotExtended) {
    CCCPacket p;
    MakeWhole(p, kSourceCapsExtended, Bytes(25, {}));
    p.messageBytes[1] &= 0x7F;
    const std::vector<PDFieldSegment> segments = Segments(p, CFieldView(p.messageBytes, p.messageByteCount), 32);
    EXPECT_FALSE(segments.empty());
    for (const PDFieldSegment& s : segments) EXPECT_NE(s.list, kSourceCapabilitiesExtendedFields);
}

// The EPR capabilities are thirteen consecutive objects from the data start, read as revision 3.0 source
// or sink objects; objects past the view's data keep their place without a list.
TEST(ExtendedSegments, EprCapabilitiesObjects) {
    // Object 1 fixed 5 V / 3 A, object 2 a battery object, objects 3 to 10 zero (fixed).
    const std::vector<uint8_t> data = Bytes(40, {{0, 0x2C}, {1, 0x91}, {2, 0x01}, {3, 0x0A}, {7, 0x40}});
    std::shared_ptr<uint8_t[]> block = MakeBlock(data);
    for (const bool sink : {false, true}) {
        CCCPacket first;
        MakeChunk(first, sink ? kEprSinkCaps : kEprSourceCaps, block, 40, 0);
        const PDFieldDesc* fixed = sink ? kFixedSinkRev30Fields : kFixedSourceRev30Fields;
        const PDFieldDesc* battery = sink ? kBatterySinkFields : kBatterySourceFields;
        const struct {
            CFieldView view;
            int32_t dataStart;
            size_t withList; // objects wholly within the view's data
        } views[] = {
            {CFieldView(block.get(), 40), 0, 10},
            {CFieldView(first.messageBytes, first.messageByteCount), 32, 6}, // 26 data bytes of chunk 0
        };
        for (const auto& v : views) {
            const std::vector<PDFieldSegment> segments = Segments(first, v.view, v.dataStart);
            ASSERT_EQ(segments.size(), 13u);
            for (size_t n = 0; n < segments.size(); ++n) {
                EXPECT_EQ(segments[n].base, v.dataStart + 32 * int32_t(n)) << n;
                const PDFieldDesc* expected = n >= v.withList ? nullptr : n == 1 ? battery : fixed;
                EXPECT_EQ(segments[n].list, expected)
                    << "sink " << sink << " start " << v.dataStart << " object " << n;
            }
        }
    }
}

// ---- Field lists ----

const PDFieldDesc* FindField(const PDFieldDesc* list, const char* name) {
    for (const PDFieldDesc* f = list; f->bitLength != 0; ++f)
        if (std::strcmp(f->name, name) == 0) return f;
    return nullptr;
}

// Each list covers its data from bit 0 without gaps or overlaps, to the length the message has.
TEST(ExtendedFields, ListsCoverTheirBitsOnce) {
    const struct {
        const char* name;
        const PDFieldDesc* list;
        uint32_t bits;
    } lists[] = {
        {"Source_Capabilities_Extended", kSourceCapabilitiesExtendedFields, 200},
        {"Sink_Capabilities_Extended", kSinkCapabilitiesExtendedFields, 192},
        {"Status SOP", kSopStatusFields, 56},
        {"Status cable plug", kCablePlugStatusFields, 16},
        {"Get_Battery_Cap", kGetBatteryCapFields, 8},
        {"Get_Battery_Status", kGetBatteryStatusFields, 8},
        {"Battery_Capabilities", kBatteryCapabilitiesFields, 72},
        {"Get_Manufacturer_Info", kGetManufacturerInfoFields, 16},
        {"Manufacturer_Info", kManufacturerInfoFields, 216},
        {"PPS_Status", kPpsStatusFields, 32},
        {"Country_Info", kCountryInfoFields, 2080},
        {"Country_Codes", kCountryCodesFields, 192},
        {"Extended_Control", kExtendedControlFields, 16},
        {"Security request header", kSecurityRequestHeaderFields, 16},
        {"Security response header", kSecurityResponseHeaderFields, 16},
        {"GET_DIGESTS", kGetDigestsFields, 16},
        {"GET_CERTIFICATE", kGetCertificateFields, 48},
        {"CHALLENGE", kChallengeFields, 272},
        {"DIGESTS", kDigestsFields, 2064},
        {"CERTIFICATE", kCertificateFields, 2064},
        {"CHALLENGE_AUTH", kChallengeAuthFields, 1328},
        {"ERROR", kSecurityErrorFields, 16},
        {"Firmware update request header", kFirmwareUpdateRequestHeaderFields, 16},
        {"Firmware update response header", kFirmwareUpdateResponseHeaderFields, 16},
        {"PDFU_INITIATE request", kPdfuInitiateRequestFields, 64},
        {"PDFU_DATA request", kPdfuDataRequestFields, 2064},
        {"VENDOR_SPECIFIC request", kVendorSpecificRequestFields, 2064},
        {"GET_FW_ID response", kGetFwIdResponseFields, 160},
        {"PDFU_INITIATE response", kPdfuInitiateResponseFields, 40},
        {"PDFU_DATA response", kPdfuDataResponseFields, 40},
        {"PDFU_VALIDATE response", kPdfuValidateResponseFields, 24},
        {"PDFU_DATA_PAUSE response", kPdfuDataPauseResponseFields, 8},
        {"VENDOR_SPECIFIC response", kVendorSpecificResponseFields, 2064},
    };
    for (const auto& l : lists) {
        std::vector<int> covered(l.bits, 0);
        for (const PDFieldDesc* f = l.list; f->bitLength != 0; ++f) {
            ASSERT_LE(f->bitOffset + f->bitLength, l.bits) << l.name << ": " << f->name;
            for (uint32_t b = f->bitOffset; b < f->bitOffset + f->bitLength; ++b) ++covered[b];
        }
        for (uint32_t b = 0; b < l.bits; ++b) EXPECT_EQ(covered[b], 1) << l.name << " bit " << b;
    }
}

struct FieldCase {
    const char* label;
    const PDFieldDesc* list;
    const char* field;
    uint32_t bitOffset; // where the field must lie
    uint32_t bitLength;
    uint32_t value;
    const char* expected;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.label;
}

class ExtendedFieldText : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ExtendedFieldText, PlaceAndDescription) {
    const FieldCase& c = GetParam();
    const PDFieldDesc* f = FindField(c.list, c.field);
    ASSERT_NE(f, nullptr) << c.field;
    EXPECT_EQ(f->bitOffset, c.bitOffset);
    EXPECT_EQ(f->bitLength, c.bitLength);
    EXPECT_EQ(DescribeFieldValue(*f, c.value), c.expected);
}

// clang-format off
const FieldCase kFieldCases[] = {
    {"PpsVoltageUnsupported", kPpsStatusFields, "Output Voltage", 0, 16, 0xFFFF,
     "The Source does not support this filed., Source's output voltage is 1310700 [mV]."},
    {"PpsVoltage", kPpsStatusFields, "Output Voltage", 0, 16, 250, "Source's output voltage is 5000 [mV]."},
    {"PpsCurrentUnsupported", kPpsStatusFields, "Output Current", 16, 8, 255,
     "The Source does not support this filed., Source's output current is 12750 [mA]."},
    {"SecurityResponseVersion", kSecurityResponseHeaderFields, "ProtocolVersion", 0, 8, 1,
     "USB Type-C Authentication  Protocol Version 1.0"},
    {"SecurityResponseType", kSecurityResponseHeaderFields, "MessageType", 8, 8, 127, "ERROR"},
    {"SecurityRequestType", kSecurityRequestHeaderFields, "MessageType", 8, 8, 131, "CHALLENGE"},
    {"GetCertificateSlot", kGetCertificateFields, "Param1", 0, 8, 2, "Slot number of the target Certificate Chain to read from."},
    {"SecurityErrorBusy", kSecurityErrorFields, "Param1", 0, 8, 3, "BUSY"},
    {"FirmwareVersion", kFirmwareUpdateResponseHeaderFields, "ProtocolVersion", 0, 8, 1,
     "USB PD Firmware Update Protocol Version 1.0"},
    {"FirmwareRequestAbort", kFirmwareUpdateRequestHeaderFields, "MessageType", 8, 8, 134, "PDFU_ABORT"},
    {"FirmwareResponseNoAbort", kFirmwareUpdateResponseHeaderFields, "MessageType", 8, 8, 6, ""},
    {"ControlType1", kExtendedControlFields, "Type", 0, 8, 1, "EPR_GetSource_Cap"},
    {"ControlType2", kExtendedControlFields, "Type", 0, 8, 2, "EPR_Get_Sink_Cap"},
    {"TempNotSupported", kSopStatusFields, "Internal Temp", 0, 8, 0, "feature not supported, 0 [degree Celsius]"},
    {"TempBelow2", kCablePlugStatusFields, "Internal Temp", 0, 8, 1,
     "temperature is less than 2 degree Celsius, 1 [degree Celsius]"},
    {"Temp45", kSopStatusFields, "Internal Temp", 0, 8, 45, "45 [degree Celsius]"},
    {"ThermalShutdown", kCablePlugStatusFields, "Flags (Thermal Shutdown", 8, 1, 1, ""},
    {"NewPowerState", kSopStatusFields, "Power Status Change (New Power State)", 48, 3, 6,
     "S3 (Off with no battery, wake events not supported)"},
    {"TempStatus", kSopStatusFields, "Temperature Status (Temp Status)", 33, 2, 3, "Over temperature"},
    {"AcPower", kSopStatusFields, "Present Input (External Power AC/DC (Valid when Bit1 set))", 10, 1, 1, "AC"},
    {"Ioc25", kSourceCapabilitiesExtendedFields, "Voltage Regulation (IoC)", 82, 1, 0, "25% IoC (default)"},
    {"LoadStep", kSourceCapabilitiesExtendedFields, "Voltage Regulation (Load Step)", 80, 2, 1, "500mA/us Load Step"},
    {"HoldupNone", kSourceCapabilitiesExtendedFields, "Holdup Time", 88, 8, 0, "feature not supported"},
    {"HoldupSome", kSourceCapabilitiesExtendedFields, "Holdup Time", 88, 8, 3, ""},
    {"PeakDuty", kSourceCapabilitiesExtendedFields, "Peak Current2 (Duty cycle in 5% increments)", 139, 4, 3, "15 [%]"},
    {"PeakPeriod", kSourceCapabilitiesExtendedFields, "Peak Current1 (Overload period in 20ms)", 117, 6, 5, "100 [ms]"},
    {"PeakOverload", kSourceCapabilitiesExtendedFields,
     "Peak Current3 (Percent overload in 10% increments Values higher than 25 (11001b) )are clipped to 250%)", 144, 5, 25,
     "250 [%]"},
    {"FixedBatteries", kSourceCapabilitiesExtendedFields,
     "Number of Batteries/Battery Slots (Number of Fixed Batteries))", 176, 4, 2, ""},
    {"TouchTemp", kSourceCapabilitiesExtendedFields, "Touch Temp", 160, 8, 2, "[IEC 62368-1] TS2"},
    {"SprPdp", kSourceCapabilitiesExtendedFields, "SPR Source PDP Rating", 184, 7, 100, "100 [W]"},
    {"EprPdp", kSourceCapabilitiesExtendedFields, "EPR Source PDP Rating", 192, 8, 140, "140 [W]"},
    {"SkedbVersion", kSinkCapabilitiesExtendedFields, "SKEDB Version", 80, 8, 1, "Version 1.0"},
    {"SinkLoadStep", kSinkCapabilitiesExtendedFields, "Load Step (Load Step)", 88, 2, 0, "150mA/us Load Step (default)"},
    {"SinkOverload", kSinkCapabilitiesExtendedFields,
     "Sink Load Characteristics (Percent overload in 10% increments Values higher than 25 (11001b) are clipped to 250%. 00000b is the default)",
     96, 5, 0, "0 [%]"},
    {"SinkTouchTemp", kSinkCapabilitiesExtendedFields, "Touch Temp", 120, 8, 0, "[IEC 60950-1] (default)"},
    {"EprSinkMax", kSinkCapabilitiesExtendedFields,
     "EPR Sink Maximum PDP (The maximum PDP that the EPR Sink will ever request.)", 184, 8, 240, "240 [W]"},
    {"BatteryNotPresent", kBatteryCapabilitiesFields, "Battery Design Capacity", 32, 16, 0, "Battery not present, 0 [mWH]"},
    {"BatteryUnknown", kBatteryCapabilitiesFields, "Battery Last Full Charge Capacity", 48, 16, 65535,
     "unknown, 6553500 [mWH]"},
    {"ManufacturerTarget", kGetManufacturerInfoFields, "Manufacturer Info Target", 0, 8, 1, "Battery"},
    {"ManufacturerString", kManufacturerInfoFields, "Manufacturer String", 32, 184, 0, ""},
    {"CountryCode11", kCountryCodesFields,
     "11th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])", 184, 8, 'E', ""},
    {"CountryCode3", kCountryCodesFields,
     "3rd Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])", 48, 8, 'D', ""},
    {"CountryData", kCountryInfoFields, "Country Specific Data", 32, 2048, 0, ""},
    {"ChallengeNonce", kChallengeFields, "Nonce", 16, 256, 0, ""},
    {"Digest7", kDigestsFields, "Digest[7]", 1808, 256, 0, ""},
    {"Signature", kChallengeAuthFields, "Signature", 816, 512, 0, ""},
    {"VendorDefinedResponse", kVendorSpecificResponseFields, "Vendor defined", 24, 2040, 0, ""},
    {"VendorDefinedRequest", kVendorSpecificRequestFields, "Vendor Defined", 16, 2048, 0, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, ExtendedFieldText, ::testing::ValuesIn(kFieldCases),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
