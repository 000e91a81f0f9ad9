#include "FindCriteria.h"

#include "CCPacket.h"
#include "CaptureStore.h"
#include "PdConstants.h"

namespace {

using enum MessageTypeId;

// Compared in single precision.
bool UnitIntervalOutOfRange(const CCCPacket& p) {
    return p.unitInterval < float(kMinUnitIntervalUs) || p.unitInterval > float(kMaxUnitIntervalUs);
}

bool IsResetKind(int32_t kind) {
    return kind == kKindHardReset || kind == kKindCableReset;
}

// Tallies are per type code; a box is enabled by the entry of its own family.
uint32_t TypeTally(const CaptureTallies& t, const MessageTypeBox& box) {
    const MessageTypeInfo& m = MessageTypeInfoOf(box.message);
    switch (m.family) {
    case MessageFamily::Control:
        return t.controlByType[m.code];
    case MessageFamily::Data:
        return t.dataByType[m.code];
    case MessageFamily::Extended:
        return t.extendedByType[m.code];
    }
    return 0;
}

} // namespace

// The dialog's own order, texts and control ids.
// clang-format off
const MessageTypeBox kMessageTypeBoxes[kMessageTypeBoxCount] = {
    {GoodCrc,                    "GoodCRC", 1033},
    {GotoMin,                    "GotoMin", 1034},
    {Accept,                     "Accept", 1035},
    {Reject,                     "Reject", 1036},
    {Ping,                       "Ping", 1037},
    {PsRdy,                      "PS_RDY", 1038},
    {GetSourceCap,               "Get_Source_Cap", 1039},
    {GetSinkCap,                 "Get_Sink_Cap", 1040},
    {DrSwap,                     "DR_Swap", 1041},
    {PrSwap,                     "PR_Swap", 1042},
    {VconnSwap,                  "VCONN_Swap", 1043},
    {Wait,                       "Wait", 1044},
    {SoftReset,                  "Soft_Reset", 1045},
    {DataReset,                  "Data_Reset", 1089},
    {DataResetComplete,          "Data_Reset_Complete", 1090},
    {NotSupported,               "Not_Supported", 1046},
    {GetSourceCapExtended,       "Get_Source_Cap_Extended", 1047},
    {GetStatus,                  "Get_Status", 1048},
    {FrSwap,                     "FR_Swap", 1049},
    {GetPpsStatus,               "Get_PPS_Status", 1079},
    {GetCountryCodes,            "Get_Country_Codes", 1080},
    {GetSinkCapExtended,         "Get_Sink_Cap_Extended", 1085},
    {GetSourceInfo,              "Get_Source_Info", 1092},
    {GetRevision,                "Get_Revision", 1093},
    {SourceCapabilities,         "Source_Capabilities", 1050},
    {Request,                    "Request", 1051},
    {Bist,                       "BIST", 1052},
    {SinkCapabilities,           "Sink_Capabilities", 1053},
    {BatteryStatus,              "Battery_Status", 1054},
    {Alert,                      "Alert", 1055},
    {GetCountryInfo,             "Get_Country_Info", 1084},
    {EnterUsb,                   "Enter_USB", 1091},
    {EprRequest,                 "EPR_Request", 1094},
    {EprMode,                    "EPR_Mode", 1095},
    {SourceInfo,                 "Source_Info", 1096},
    {Revision,                   "Revision", 1097},
    {VendorDefined,              "Vendor_Defined", 1056},
    {SourceCapabilitiesExtended, "Source_Capabilities_Extended", 1057},
    {Status,                     "Status", 1058},
    {GetBatteryCap,              "Get_Battery_Cap", 1059},
    {GetBatteryStatus,           "Get_Battery_Status", 1060},
    {BatteryCapabilities,        "Battery_Capabilities", 1061},
    {GetManufacturerInfo,        "Get_Manufacturer_Info", 1062},
    {ManufacturerInfo,           "Manufacturer_Info", 1063},
    {SecurityRequest,            "Security_Request", 1064},
    {SecurityResponse,           "Security_Response", 1065},
    {FirmwareUpdateRequest,      "Firmware_Update_Request", 1066},
    {FirmwareUpdateResponse,     "Firmware_Update_Response", 1067},
    {PpsStatus,                  "PPS_Status", 1081},
    {CountryInfo,                "Country_Info", 1082},
    {CountryCodes,               "Country_Codes", 1083},
    {SinkCapabilitiesExtended,   "Sink_Capabilities_Extended", 1088},
    {ExtendedControl,            "Extended_Control", 1098},
    {EprSourceCapabilities,      "EPR_Source_Capabilities", 1099},
    {EprSinkCapabilities,        "EPR_Sink_Capabilities", 1100},
    {VendorDefinedExtended,      "Vendor_Defined_Extended", 1101},
};
// clang-format on

bool IsInvalidPacket(const CCCPacket& p) {
    if (p.intervalCount == 0) return false;
    if (!p.preambleFound) return true;
    if (!IsResetKind(p.kind) && (!p.crcGood || !p.eopFound)) return true;
    return UnitIntervalOutOfRange(p);
}

bool HasCrcError(const CCCPacket& p) {
    return p.hasCrc && !p.crcGood;
}

PacketMessageType MessageTypeOf(const CCCPacket& p) {
    // Read from the header whatever the kind: undecodable packets still fall into a family.
    return {HeaderMessageFamily(p.Header()), p.GetMessageTypeCode()};
}

int MessageTypeBoxIndex(MessageFamily family, int32_t code) {
    const MessageTypeInfo* m = FindMessageType(family, code);
    if (!m) return -1;
    for (int i = 0; i < kMessageTypeBoxCount; ++i)
        if (kMessageTypeBoxes[i].message == m->id) return i;
    return -1;
}

CFindCriteria::CFindCriteria(Mode m) : mode(m) {
    if (mode == kDisplayFilter) {
        SetAll(true);
        return;
    }
    cc1 = cc2 = true;
    sop = sopPrime = sopDoublePrime = true;
    source = sink = dfp = ufp = true;
    noErrors = true;
}

bool* CFindCriteria::FlagOf(int32_t id) {
    return const_cast<bool*>(static_cast<const CFindCriteria*>(this)->FlagOf(id));
}

const bool* CFindCriteria::FlagOf(int32_t id) const {
    switch (id) {
    case kIdCc1:
        return &cc1;
    case kIdCc2:
        return &cc2;
    case kIdSop:
        return &sop;
    case kIdSopPrime:
        return &sopPrime;
    case kIdSopDoublePrime:
        return &sopDoublePrime;
    case kIdHardReset:
        return &hardReset;
    case kIdCableReset:
        return &cableReset;
    case kIdSopPrimeDebug:
        return &sopPrimeDebug;
    case kIdSopDoublePrimeDebug:
        return &sopDoublePrimeDebug;
    case kIdSource:
        return &source;
    case kIdSink:
        return &sink;
    case kIdDfp:
        return &dfp;
    case kIdUfp:
        return &ufp;
    case kIdNoErrors:
        return &noErrors;
    case kIdInvalidPacket:
        return &invalidPacket;
    case kIdCrcError:
        return &crcError;
    case kIdEnableText:
        return &enableText;
    case kIdAllowAllSettings:
        return &allowAllSettings;
    default:
        break;
    }
    for (int i = 0; i < kMessageTypeBoxCount; ++i)
        if (kMessageTypeBoxes[i].controlId == id) return &messageTypes[size_t(i)];
    return nullptr;
}

void CFindCriteria::SetAllMessageTypes(bool on) {
    messageTypes.fill(on);
}

void CFindCriteria::SetAll(bool on) {
    cc1 = cc2 = on;
    sop = sopPrime = sopDoublePrime = hardReset = cableReset = sopPrimeDebug = sopDoublePrimeDebug = on;
    source = sink = dfp = ufp = on;
    noErrors = invalidPacket = crcError = on;
    SetAllMessageTypes(on);
}

std::optional<bool> CFindCriteria::IsControlEnabled(int32_t id) const {
    if (!statistics) return std::nullopt;
    const CaptureTallies& t = *statistics;
    auto counted = [this](uint32_t tally) { return allowAllSettings || tally != 0; };
    switch (id) {
    case kIdFindText:
        return enableText;
    case kIdCc1:
        return counted(t.cc1);
    case kIdCc2:
        return counted(t.cc2);
    case kIdSop:
        return counted(t.sop);
    case kIdSopPrime:
        return counted(t.sopPrime);
    case kIdSopDoublePrime:
        return counted(t.sopDoublePrime);
    case kIdHardReset:
        return counted(t.hardReset);
    case kIdCableReset:
        return counted(t.cableReset);
    case kIdSopPrimeDebug:
        return counted(t.sopPrimeDebug);
    case kIdSopDoublePrimeDebug:
        return counted(t.sopDoublePrimeDebug);
    case kIdSource:
        return counted(t.sopFromSource);
    case kIdSink:
        return counted(t.sopFromSink);
    case kIdDfp:
        return counted(t.sopFromDfp);
    case kIdUfp:
        return counted(t.sopFromUfp);
    case kIdInvalidPacket:
        return counted(t.noPreamble | t.noEop | t.uiOutOfRange);
    case kIdCrcError:
        return counted(t.badCrc);
    case kIdNoErrors:
        return true;
    default:
        break;
    }
    for (const MessageTypeBox& box : kMessageTypeBoxes)
        if (box.controlId == id) return counted(TypeTally(t, box));
    return std::nullopt;
}

std::string CFindCriteria::GetFindText() const {
    return enableText ? text : std::string();
}

bool CFindCriteria::PassesChannel(const CCCPacket& p) const {
    if (p.channel == 0) return cc1;
    if (p.channel == 1) return cc2;
    return true;
}

bool CFindCriteria::PassesRoles(const CCCPacket& p) const {
    return (p.PowerRoleBit() ? source : sink) && (p.DataRoleBit() ? dfp : ufp);
}

int32_t CFindCriteria::FindMatchColumn(const CCCPacket& p, bool invertCurrent) const {
    if (enableText) {
        const int column = p.FindColumnText(text, invertCurrent);
        if (column != -1) return column;
    }
    if (!PassesChannel(p)) return -1;

    int32_t result = -1;
    bool decided = false;
    switch (p.kind) {
    case kKindSop:
        if (!sop) return -1;
        break;
    case kKindSopPrime:
        if (!sopPrime) return -1;
        break;
    case kKindSopDoublePrime:
        return sopDoublePrime ? kColumnOrderedSet : -1;
    case kKindHardReset:
    case kKindCableReset:
    case kKindSopPrimeDebug:
    case kKindSopDoublePrimeDebug: {
        const bool on = p.kind == kKindHardReset       ? hardReset
                        : p.kind == kKindCableReset    ? cableReset
                        : p.kind == kKindSopPrimeDebug ? sopPrimeDebug
                                                       : sopDoublePrimeDebug;
        if (!on) return -1;
        decided = true;
        result = kColumnOrderedSet;
        break;
    }
    default:
        break;
    }

    if (invalidPacket && p.intervalCount != 0 && IsInvalidPacket(p)) {
        decided = true;
        // The cell to highlight names the first cause found.
        if (!p.preambleFound)
            result = kColumnPreambleLength;
        else if (IsResetKind(p.kind) && UnitIntervalOutOfRange(p))
            result = kColumnUnitInterval;
        else if (!p.crcGood)
            result = kColumnCrc;
        else if (!p.eopFound)
            result = kColumnPayload;
        else
            result = kColumnUnitInterval;
    }
    // A CRC error only renames the cell of a packet already decided; an undecided one still goes on
    // to the role and type checks below, which set the result afresh.
    if (crcError && HasCrcError(p)) result = kColumnCrc;
    if (decided) return result;

    if (!PassesRoles(p)) return -1;
    const PacketMessageType type = MessageTypeOf(p);
    const int box = MessageTypeBoxIndex(type.family, type.code);
    return box >= 0 && messageTypes[size_t(box)] ? kColumnMessageType : -1;
}

bool CFindCriteria::IsPacketShown(const CCCPacket& p, bool invertCurrent) const {
    if (!displayFilterEnabled) return true;
    if (enableText && !text.empty() && p.FindColumnText(text, invertCurrent) == -1) return false;
    if (!PassesChannel(p)) return false;
    switch (p.kind) {
    case kKindSop:
        if (!sop) return false;
        break;
    case kKindSopPrime:
        if (!sopPrime) return false;
        break;
    case kKindSopDoublePrime:
        if (!sopDoublePrime) return false;
        break;
    case kKindHardReset:
        if (!hardReset) return false;
        break;
    case kKindCableReset:
        if (!cableReset) return false;
        break;
    case kKindSopPrimeDebug:
        if (!sopPrimeDebug) return false;
        break;
    case kKindSopDoublePrimeDebug:
        if (!sopDoublePrimeDebug) return false;
        break;
    default:
        break;
    }
    const bool invalid = IsInvalidPacket(p);
    const bool badCrc = HasCrcError(p);
    if (!invalidPacket && invalid) return false;
    if (!crcError && badCrc) return false;
    if (!noErrors && !invalid && !badCrc) return false;
    if (!PassesRoles(p)) return false;
    const PacketMessageType type = MessageTypeOf(p);
    const int box = MessageTypeBoxIndex(type.family, type.code);
    return box < 0 || messageTypes[size_t(box)];
}

int32_t CFindCriteria::FindRow(int32_t selectedRow, bool forward, int32_t rowCount,
                               const std::function<const CCCPacket*(int32_t)>& packetOfRow,
                               bool invertCurrent) const {
    const int32_t step = forward ? 1 : -1;
    for (int32_t r = (selectedRow < 0 ? 0 : selectedRow) + step; r >= 0 && r < rowCount; r += step) {
        const CCCPacket* p = packetOfRow(r);
        if (p && FindMatchColumn(*p, invertCurrent) != -1) return r;
    }
    return -1;
}

std::vector<std::pair<size_t, size_t>> CFindCriteria::FindTextOccurrences(const std::string& cell) const {
    std::vector<std::pair<size_t, size_t>> found;
    const std::string needle = GetFindText();
    if (needle.empty()) return found;
    for (size_t at = cell.find(needle); at != std::string::npos; at = cell.find(needle, at + needle.size()))
        found.emplace_back(at, needle.size());
    return found;
}
