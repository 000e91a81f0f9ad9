#include "PdObjects.h"

#include <algorithm>
#include <cstdio>

namespace synth {

namespace {

constexpr MessageType kTypes[] = {
    {"GoodCRC", MessageClass::Control, 1},
    {"GotoMin", MessageClass::Control, 2},
    {"Accept", MessageClass::Control, 3},
    {"Reject", MessageClass::Control, 4},
    {"Ping", MessageClass::Control, 5},
    {"PS_RDY", MessageClass::Control, 6},
    {"Get_Source_Cap", MessageClass::Control, 7},
    {"Get_Sink_Cap", MessageClass::Control, 8},
    {"DR_Swap", MessageClass::Control, 9},
    {"PR_Swap", MessageClass::Control, 10},
    {"VCONN_Swap", MessageClass::Control, 11},
    {"Wait", MessageClass::Control, 12},
    {"Soft_Reset", MessageClass::Control, 13},
    {"Data_Reset", MessageClass::Control, 14},
    {"Data_Reset_Complete", MessageClass::Control, 15},
    {"Not_Supported", MessageClass::Control, 16},
    {"Get_Source_Cap_Extended", MessageClass::Control, 17},
    {"Get_Status", MessageClass::Control, 18},
    {"FR_Swap", MessageClass::Control, 19},
    {"Get_PPS_Status", MessageClass::Control, 20},
    {"Get_Country_Codes", MessageClass::Control, 21},
    {"Get_Sink_Cap_Extended", MessageClass::Control, 22},
    {"Get_Source_Info", MessageClass::Control, 23},
    {"Get_Revision", MessageClass::Control, 24},
    {"Source_Capabilities", MessageClass::Data, 1},
    {"Request", MessageClass::Data, 2},
    {"BIST", MessageClass::Data, 3},
    {"Sink_Capabilities", MessageClass::Data, 4},
    {"Battery_Status", MessageClass::Data, 5},
    {"Alert", MessageClass::Data, 6},
    {"Get_Country_Info", MessageClass::Data, 7},
    {"Enter_USB", MessageClass::Data, 8},
    {"EPR_Request", MessageClass::Data, 9},
    {"EPR_Mode", MessageClass::Data, 10},
    {"Source_Info", MessageClass::Data, 11},
    {"Revision", MessageClass::Data, 12},
    {"Vendor_Defined", MessageClass::Data, 15},
    {"Source_Capabilities_Extended", MessageClass::Extended, 1},
    {"Status", MessageClass::Extended, 2},
    {"Get_Battery_Cap", MessageClass::Extended, 3},
    {"Get_Battery_Status", MessageClass::Extended, 4},
    {"Battery_Capabilities", MessageClass::Extended, 5},
    {"Get_Manufacturer_Info", MessageClass::Extended, 6},
    {"Manufacturer_Info", MessageClass::Extended, 7},
    {"Security_Request", MessageClass::Extended, 8},
    {"Security_Response", MessageClass::Extended, 9},
    {"Firmware_Update_Request", MessageClass::Extended, 10},
    {"Firmware_Update_Response", MessageClass::Extended, 11},
    {"PPS_Status", MessageClass::Extended, 12},
    {"Country_Info", MessageClass::Extended, 13},
    {"Country_Codes", MessageClass::Extended, 14},
    {"Sink_Capabilities_Extended", MessageClass::Extended, 15},
    {"Extended_Control", MessageClass::Extended, 16},
    {"EPR_Source_Capabilities", MessageClass::Extended, 17},
    {"EPR_Sink_Capabilities", MessageClass::Extended, 18},
    {"Vendor_Defined_Extended", MessageClass::Extended, 30},
};

const MessageType* FindByCode(MessageClass cls, int code) {
    for (const MessageType& t : kTypes)
        if (t.cls == cls && t.code == code) return &t;
    return nullptr;
}

uint32_t Field(int32_t value, int32_t unit, int bits) {
    const int32_t v = std::max<int32_t>(0, value / unit);
    return uint32_t(std::min<int64_t>(v, (int64_t(1) << bits) - 1));
}

} // namespace

const MessageType* FindMessageType(std::string_view name) {
    if (name == "GotoMin (Deprecated)") name = "GotoMin";
    if (name == "Ping (Deprecated)") name = "Ping";
    for (const MessageType& t : kTypes)
        if (name == t.name) return &t;
    return nullptr;
}

const MessageType* MessageTypesBegin() {
    return kTypes;
}
const MessageType* MessageTypesEnd() {
    return kTypes + sizeof kTypes / sizeof kTypes[0];
}

uint16_t ExtendedHeaderWord(int dataSize, bool chunked, int chunkNumber, bool requestChunk) {
    return uint16_t((dataSize & 0x1FF) | (requestChunk ? 0x400 : 0) | ((chunkNumber & 0xF) << 11) |
                    (chunked ? 0x8000 : 0));
}

std::string MessageTypeText(int32_t kind, const uint8_t* bytes, size_t size) {
    if (kind == 4) return "Hard Reset";
    if (kind == 5) return "Cable Reset";
    if (kind < 1 || kind > 7) return "(Unknown OS)";
    const uint16_t h = size >= 2 ? uint16_t(bytes[0] | (bytes[1] << 8)) : 0;
    const bool rev3 = (h >> 7) & 1;
    const int code = rev3 ? (h & 0x1F) : (h & 0x0F);
    const bool extended = rev3 && (h >> 15) & 1;
    const MessageClass cls = extended               ? MessageClass::Extended
                             : ((h >> 12) & 7) == 0 ? MessageClass::Control
                                                    : MessageClass::Data;
    const MessageType* t = FindByCode(cls, code);
    if (!t) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "Unknown(%d)", code);
        return buf;
    }
    if (cls == MessageClass::Control && rev3 && (code == 2 || code == 5))
        return std::string(t->name) + " (Deprecated)";
    return t->name;
}

uint32_t FixedPdo(int32_t mV, int32_t mA, uint32_t flags) {
    return (flags & 0x3F800000u) | (Field(mV, 50, 10) << 10) | Field(mA, 10, 10);
}

uint32_t VariablePdo(int32_t minMv, int32_t maxMv, int32_t mA) {
    return (2u << 30) | (Field(maxMv, 50, 10) << 20) | (Field(minMv, 50, 10) << 10) | Field(mA, 10, 10);
}

uint32_t BatteryPdo(int32_t minMv, int32_t maxMv, int32_t mW) {
    return (1u << 30) | (Field(maxMv, 50, 10) << 20) | (Field(minMv, 50, 10) << 10) | Field(mW, 250, 10);
}

uint32_t PpsApdo(int32_t minMv, int32_t maxMv, int32_t mA, bool powerLimited) {
    return (3u << 30) | (powerLimited ? 1u << 27 : 0) | (Field(maxMv, 100, 8) << 17) |
           (Field(minMv, 100, 8) << 8) | Field(mA, 50, 7);
}

uint32_t EprAvsApdo(int32_t minMv, int32_t maxMv, int32_t pdpW) {
    return (3u << 30) | (1u << 28) | (Field(maxMv, 100, 9) << 17) | (Field(minMv, 100, 8) << 8) |
           Field(pdpW, 1, 8);
}

uint32_t SprAvsApdo(int32_t mA15, int32_t mA20) {
    return (3u << 30) | (2u << 28) | (Field(mA15, 10, 10) << 10) | Field(mA20, 10, 10);
}

PdoInfo DescribePdo(uint32_t p) {
    PdoInfo i;
    if (p == 0) return i;
    switch (p >> 30) {
    case 0:
        i.kind = PdoKind::Fixed;
        i.minMv = i.maxMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMa = int32_t(p & 0x3FF) * 10;
        break;
    case 1:
        i.kind = PdoKind::Battery;
        i.maxMv = int32_t((p >> 20) & 0x3FF) * 50;
        i.minMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMw = int32_t(p & 0x3FF) * 250;
        break;
    case 2:
        i.kind = PdoKind::Variable;
        i.maxMv = int32_t((p >> 20) & 0x3FF) * 50;
        i.minMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMa = int32_t(p & 0x3FF) * 10;
        break;
    default:
        switch ((p >> 28) & 3) {
        case 0:
            i.kind = PdoKind::Pps;
            i.maxMv = int32_t((p >> 17) & 0xFF) * 100;
            i.minMv = int32_t((p >> 8) & 0xFF) * 100;
            i.maxMa = int32_t(p & 0x7F) * 50;
            break;
        case 1:
            i.kind = PdoKind::EprAvs;
            i.maxMv = int32_t((p >> 17) & 0x1FF) * 100;
            i.minMv = int32_t((p >> 8) & 0xFF) * 100;
            i.maxMw = int32_t(p & 0xFF) * 1000;
            i.maxMa = i.maxMv > 0 ? int32_t(int64_t(i.maxMw) * 1000 / i.maxMv) : 0;
            break;
        case 2:
            i.kind = PdoKind::SprAvs;
            i.minMv = 9000;
            i.maxMv = (p & 0x3FF) ? 20000 : 15000;
            i.maxMa = int32_t((p >> 10) & 0x3FF) * 10;
            break;
        default:
            i.kind = PdoKind::UnknownApdo;
            break;
        }
    }
    return i;
}

uint32_t FixedRdo(int position, int32_t operatingMa, int32_t limitMa, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x0FC00000u) | (Field(operatingMa, 10, 10) << 10) |
           Field(limitMa, 10, 10);
}

uint32_t BatteryRdo(int position, int32_t operatingMw, int32_t limitMw, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x0FC00000u) | (Field(operatingMw, 250, 10) << 10) |
           Field(limitMw, 250, 10);
}

uint32_t PpsRdo(int position, int32_t mV, int32_t mA, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x07C00000u) | (Field(mV, 20, 11) << 9) |
           Field(mA, 50, 7);
}

uint32_t AvsRdo(int position, int32_t mV, int32_t mA, uint32_t flags) {
    // The output voltage moves in 100 mV steps, carried in 25 mV units.
    return (uint32_t(position & 0xF) << 28) | (flags & 0x07C00000u) | (Field(mV / 100 * 100, 25, 12) << 9) |
           Field(mA, 50, 7);
}

uint32_t VdmHeader(uint16_t svid, int command, int commandType, int position, int major, int minor) {
    return (uint32_t(svid) << 16) | 0x8000u | (uint32_t(major & 3) << 13) | (uint32_t(minor & 3) << 11) |
           (uint32_t(position & 7) << 8) | (uint32_t(commandType & 3) << 6) | uint32_t(command & 0x1F);
}

} // namespace synth
