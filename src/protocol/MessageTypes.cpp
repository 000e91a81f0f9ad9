#include "MessageTypes.h"

#include "CCPacket.h"
#include "ExtendedMessages.h"
#include "FieldSegments.h"
#include "MessageHeader.h"
#include "MessageHeaderWord.h"
#include "OtherData.h"
#include "PowerObjects.h"
#include "VendorDefined.h"

#include <array>
#include <cstdio>

namespace {

// The family entry points in the table's shapes.
std::string DescribeSourceCapabilities(const CCCPacket& p) {
    return DescribeCapabilities(p, false);
}
std::string DescribeSinkCapabilities(const CCCPacket& p) {
    return DescribeCapabilities(p, true);
}
std::string DescribeSprRequest(const CCCPacket& p) {
    return DescribeRequest(p, false);
}
std::string DescribeEprRequest(const CCCPacket& p) {
    return DescribeRequest(p, true);
}
std::string DescribeEprSourceCapabilities(const CCCPacket& p) {
    return DescribeEprCapabilities(p, false);
}
std::string DescribeEprSinkCapabilities(const CCCPacket& p) {
    return DescribeEprCapabilities(p, true);
}
void AddSourceCapabilitiesSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view, int32_t first) {
    AddCapabilitiesSegments(out, view, first, 7, false, p.HasRev30Layout());
}
void AddSinkCapabilitiesSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view, int32_t first) {
    AddCapabilitiesSegments(out, view, first, 7, true, p.HasRev30Layout());
}
void AddSprRequestSegments(CSegmentList& out, const CCCPacket& p, const CFieldView&, int32_t) {
    AddRequestSegments(out, p, false);
}
void AddEprRequestSegments(CSegmentList& out, const CCCPacket& p, const CFieldView&, int32_t) {
    AddRequestSegments(out, p, true);
}
void AddVdmSegments(CSegmentList& out, const CCCPacket& p, const CFieldView&, int32_t) {
    AddVendorDefinedSegments(out, p);
}

using enum MessageTypeId;
constexpr MessageFamily C = MessageFamily::Control, D = MessageFamily::Data, X = MessageFamily::Extended;

// The names are the protocol's own, typos included: the field table's revision 3.0 control table spells
// the deprecated Ping its own way.
// clang-format off
constexpr MessageTypeInfo kRows[] = {
//   id                          family code name                            rev30Name               fieldText            rev20  describe                            fields                              segments
    {GoodCrc,                    C, 1,  "GoodCRC",                       nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {GotoMin,                    C, 2,  "GotoMin",                       "GotoMin (Deprecated)", nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {Accept,                     C, 3,  "Accept",                        nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {Reject,                     C, 4,  "Reject",                        nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {Ping,                       C, 5,  "Ping",                          "Ping (Deprecated)",    "Ping (Depricated)", true,  nullptr,                            nullptr,                            nullptr},
    {PsRdy,                      C, 6,  "PS_RDY",                        nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {GetSourceCap,               C, 7,  "Get_Source_Cap",                nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {GetSinkCap,                 C, 8,  "Get_Sink_Cap",                  nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {DrSwap,                     C, 9,  "DR_Swap",                       nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {PrSwap,                     C, 10, "PR_Swap",                       nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {VconnSwap,                  C, 11, "VCONN_Swap",                    nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {Wait,                       C, 12, "Wait",                          nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {SoftReset,                  C, 13, "Soft_Reset",                    nullptr,                nullptr,             true,  nullptr,                            nullptr,                            nullptr},
    {DataReset,                  C, 14, "Data_Reset",                    nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {DataResetComplete,          C, 15, "Data_Reset_Complete",           nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {NotSupported,               C, 16, "Not_Supported",                 nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetSourceCapExtended,       C, 17, "Get_Source_Cap_Extended",       nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetStatus,                  C, 18, "Get_Status",                    nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {FrSwap,                     C, 19, "FR_Swap",                       nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetPpsStatus,               C, 20, "Get_PPS_Status",                nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetCountryCodes,            C, 21, "Get_Country_Codes",             nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetSinkCapExtended,         C, 22, "Get_Sink_Cap_Extended",         nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetSourceInfo,              C, 23, "Get_Source_Info",               nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},
    {GetRevision,                C, 24, "Get_Revision",                  nullptr,                nullptr,             false, nullptr,                            nullptr,                            nullptr},

    {SourceCapabilities,         D, 1,  "Source_Capabilities",           nullptr,                nullptr,             true,  DescribeSourceCapabilities,         nullptr,                            AddSourceCapabilitiesSegments},
    {Request,                    D, 2,  "Request",                       nullptr,                nullptr,             true,  DescribeSprRequest,                 nullptr,                            AddSprRequestSegments},
    {Bist,                       D, 3,  "BIST",                          nullptr,                nullptr,             true,  DescribeBist,                       kBistFields,                        nullptr},
    {SinkCapabilities,           D, 4,  "Sink_Capabilities",             nullptr,                nullptr,             true,  DescribeSinkCapabilities,           nullptr,                            AddSinkCapabilitiesSegments},
    {BatteryStatus,              D, 5,  "Battery_Status",                nullptr,                nullptr,             false, nullptr,                            kBatteryStatusFields,               nullptr},
    {Alert,                      D, 6,  "Alert",                         nullptr,                nullptr,             false, nullptr,                            kAlertFields,                       nullptr},
    {GetCountryInfo,             D, 7,  "Get_Country_Info",              nullptr,                nullptr,             false, DescribeGetCountryInfo,             kGetCountryInfoFields,              nullptr},
    {EnterUsb,                   D, 8,  "Enter_USB",                     nullptr,                nullptr,             false, DescribeEnterUsb,                   kEnterUsbFields,                    nullptr},
    {EprRequest,                 D, 9,  "EPR_Request",                   nullptr,                nullptr,             false, DescribeEprRequest,                 nullptr,                            AddEprRequestSegments},
    {EprMode,                    D, 10, "EPR_Mode",                      nullptr,                nullptr,             false, DescribeEprMode,                    kEprModeFields,                     nullptr},
    {SourceInfo,                 D, 11, "Source_Info",                   nullptr,                nullptr,             false, DescribeSourceInfo,                 kSourceInfoFields,                  nullptr},
    {Revision,                   D, 12, "Revision",                      nullptr,                nullptr,             false, DescribeRevision,                   kRevisionFields,                    nullptr},
    {VendorDefined,              D, 15, "Vendor_Defined",                nullptr,                nullptr,             true,  DescribeVendorDefined,              nullptr,                            AddVdmSegments},

    {SourceCapabilitiesExtended, X, 1,  "Source_Capabilities_Extended",  nullptr,                nullptr,             false, DescribeSourceCapabilitiesExtended, kSourceCapabilitiesExtendedFields,  nullptr},
    {Status,                     X, 2,  "Status",                        nullptr,                nullptr,             false, nullptr,                            nullptr,                            AddStatusSegments},
    {GetBatteryCap,              X, 3,  "Get_Battery_Cap",               nullptr,                nullptr,             false, nullptr,                            kGetBatteryCapFields,               nullptr},
    {GetBatteryStatus,           X, 4,  "Get_Battery_Status",            nullptr,                nullptr,             false, nullptr,                            kGetBatteryStatusFields,            nullptr},
    {BatteryCapabilities,        X, 5,  "Battery_Capabilities",          nullptr,                nullptr,             false, nullptr,                            kBatteryCapabilitiesFields,         nullptr},
    {GetManufacturerInfo,        X, 6,  "Get_Manufacturer_Info",         nullptr,                nullptr,             false, nullptr,                            kGetManufacturerInfoFields,         nullptr},
    {ManufacturerInfo,           X, 7,  "Manufacturer_Info",             nullptr,                nullptr,             false, nullptr,                            kManufacturerInfoFields,            nullptr},
    {SecurityRequest,            X, 8,  "Security_Request",              nullptr,                nullptr,             false, nullptr,                            nullptr,                            AddSecurityRequestSegments},
    {SecurityResponse,           X, 9,  "Security_Response",             nullptr,                nullptr,             false, nullptr,                            nullptr,                            AddSecurityResponseSegments},
    {FirmwareUpdateRequest,      X, 10, "Firmware_Update_Request",       nullptr,                nullptr,             false, nullptr,                            nullptr,                            AddFirmwareUpdateRequestSegments},
    {FirmwareUpdateResponse,     X, 11, "Firmware_Update_Response",      nullptr,                nullptr,             false, nullptr,                            nullptr,                            AddFirmwareUpdateResponseSegments},
    {PpsStatus,                  X, 12, "PPS_Status",                    nullptr,                nullptr,             false, nullptr,                            kPpsStatusFields,                   nullptr},
    {CountryInfo,                X, 13, "Country_Info",                  nullptr,                nullptr,             false, nullptr,                            kCountryInfoFields,                 nullptr},
    {CountryCodes,               X, 14, "Country_Codes",                 nullptr,                nullptr,             false, nullptr,                            kCountryCodesFields,                nullptr},
    {SinkCapabilitiesExtended,   X, 15, "Sink_Capabilities_Extended",    nullptr,                nullptr,             false, DescribeSinkCapabilitiesExtended,   kSinkCapabilitiesExtendedFields,    nullptr},
    {ExtendedControl,            X, 16, "Extended_Control",              nullptr,                nullptr,             false, DescribeExtendedControl,            kExtendedControlFields,             nullptr},
    {EprSourceCapabilities,      X, 17, "EPR_Source_Capabilities",       nullptr,                nullptr,             false, DescribeEprSourceCapabilities,      nullptr,                            AddEprSourceCapabilitiesSegments},
    {EprSinkCapabilities,        X, 18, "EPR_Sink_Capabilities",         nullptr,                nullptr,             false, DescribeEprSinkCapabilities,        nullptr,                            AddEprSinkCapabilitiesSegments},
    // Vendor_Defined_Extended opens with the unstructured VDM header.
    {VendorDefinedExtended,      X, 30, "Vendor_Defined_Extended",       nullptr,                nullptr,             false, nullptr,                            kUnstructuredVdmHeaderFields,       nullptr},
};
// clang-format on

constexpr size_t kRowCount = std::size(kRows);
static_assert(kRowCount == size_t(MessageTypeId::Count));

constexpr bool RowsInIdOrderWithUniqueCodes() {
    for (size_t i = 0; i < kRowCount; ++i) {
        if (size_t(kRows[i].id) != i || kRows[i].code < 0 || kRows[i].code > 31 || !kRows[i].name) return false;
        // Only control and data messages have revision 2.0 texts and revision 3.0 variants of the name.
        if (kRows[i].family == X && (kRows[i].rev20 || kRows[i].rev30Name)) return false;
        for (size_t j = 0; j < i; ++j)
            if (kRows[j].family == kRows[i].family && kRows[j].code == kRows[i].code) return false;
    }
    return true;
}
static_assert(RowsInIdOrderWithUniqueCodes());

// Family and code to row index (type codes have at most five bits); -1 for a code without a name.
constexpr auto kRowOfCode = [] {
    std::array<std::array<int8_t, 32>, 3> index{};
    for (auto& family : index) family.fill(-1);
    for (size_t i = 0; i < kRowCount; ++i) index[size_t(kRows[i].family)][size_t(kRows[i].code)] = int8_t(i);
    return index;
}();

constexpr uint32_t kExact = 0xFFFFFFFF;

// The "Message Type" value table of a family: every row with its field text, or (rev20) the rows the
// revision 2.0 table knows with their names.
template <MessageFamily F, bool Rev20> constexpr size_t ValueRowCount() {
    size_t n = 0;
    for (const MessageTypeInfo& m : kRows)
        if (m.family == F && (!Rev20 || m.rev20)) ++n;
    return n;
}

template <MessageFamily F, bool Rev20> constexpr auto MakeMessageTypeValues() {
    std::array<PDValueText, ValueRowCount<F, Rev20>() + 1> table{};
    size_t n = 0;
    for (const MessageTypeInfo& m : kRows)
        if (m.family == F && (!Rev20 || m.rev20)) table[n++] = {kExact, m.code, Rev20 ? m.name : m.FieldText(), 1};
    table[n] = kValueTextEnd;
    return table;
}

constexpr auto kControlRev30Values = MakeMessageTypeValues<C, false>();
constexpr auto kControlRev20Values = MakeMessageTypeValues<C, true>();
constexpr auto kDataRev30Values = MakeMessageTypeValues<D, false>();
constexpr auto kDataRev20Values = MakeMessageTypeValues<D, true>();
constexpr auto kExtendedTypeValues = MakeMessageTypeValues<X, false>();

} // namespace

const PDValueText* const kControlMessageTypeValuesRev30 = kControlRev30Values.data();
const PDValueText* const kControlMessageTypeValuesRev20 = kControlRev20Values.data();
const PDValueText* const kDataMessageTypeValuesRev30 = kDataRev30Values.data();
const PDValueText* const kDataMessageTypeValuesRev20 = kDataRev20Values.data();
const PDValueText* const kExtendedMessageTypeValues = kExtendedTypeValues.data();

std::span<const MessageTypeInfo> MessageTypes() {
    return kRows;
}

const MessageTypeInfo& MessageTypeInfoOf(MessageTypeId id) {
    return kRows[size_t(id)];
}

const MessageTypeInfo* FindMessageType(MessageFamily family, int32_t code) {
    if (code < 0 || code > 31) return nullptr;
    const int row = kRowOfCode[size_t(family)][size_t(code)];
    return row < 0 ? nullptr : &kRows[row];
}

const MessageTypeInfo* FindMessageTypeByName(std::string_view name) {
    for (const MessageTypeInfo& m : kRows)
        if (name == m.name || (m.rev30Name && name == m.rev30Name)) return &m;
    return nullptr;
}

MessageFamily HeaderMessageFamily(uint16_t header) {
    const MessageHeaderWord h{header};
    if (h.Extended()) return MessageFamily::Extended;
    return h.ObjectCount() != 0 ? MessageFamily::Data : MessageFamily::Control;
}

const MessageTypeInfo* FindPacketMessageType(const CCCPacket& packet) {
    if (!IsMessageKind(packet.kind)) return nullptr;
    return FindMessageType(HeaderMessageFamily(packet.Header()), packet.GetMessageTypeCode());
}

std::string MessageTypeText(int32_t kind, uint16_t header) {
    if (kind == kKindHardReset) return "Hard Reset";
    if (kind == kKindCableReset) return "Cable Reset";
    if (!IsMessageKind(kind)) return "(Unknown OS)";
    const MessageHeaderWord h{header};
    if (const MessageTypeInfo* m = FindMessageType(HeaderMessageFamily(header), h.TypeCode()))
        return m->ListName(h.Rev30Layout());
    char text[32];
    std::snprintf(text, sizeof text, "Unknown(%d)", h.TypeCode());
    return text;
}

std::string CCCPacket::GetDescriptionText() const {
    const MessageTypeInfo* m = FindPacketMessageType(*this);
    std::string text = m && m->describe ? m->describe(*this) : std::string();
    // The text above stops at the bytes that came; say that more were announced.
    if (ExtendedDataShort()) {
        if (!text.empty() && text.back() != ' ') text += ' ';
        text += "Extended Data shorter than Data Size.";
    }
    return text;
}

void AddMessageSegments(CSegmentList& out, const CCCPacket& packet, const CFieldView& view, int32_t firstBit) {
    const MessageTypeInfo* m = FindPacketMessageType(packet);
    if (!m) return;
    if (m->fields) out.Add(firstBit, m->fields);
    if (m->segments) m->segments(out, packet, view, firstBit);
}
