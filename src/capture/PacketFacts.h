// Facts of a decoded packet that the analysis and the transaction grouping both read.
#pragma once

#include "CCPacket.h"
#include "MessageTypes.h"

#include <algorithm>
#include <cstdint>

// The row of the message table the packet is; MessageTypeId::Count for none.
inline MessageTypeId PacketTypeId(const CCCPacket& p) {
    const MessageTypeInfo* m = FindPacketMessageType(p);
    return m ? m->id : MessageTypeId::Count;
}

// Data objects the header announces and the frame really carried.
inline int ReceivedObjects(const CCCPacket& p) {
    return std::max(0, std::min(p.DataObjectCount(), (p.messageByteCount - 2) / 4));
}

// Where the packet ends, in µs from the capture origin.
inline int64_t PacketEnd(const CCCPacket& p) {
    return p.startTime + p.LengthMicros();
}

// The message a query asks for (Get_Source_Cap: Source_Capabilities, Security_Request:
// Security_Response, ...); MessageTypeId::Count for a message that asks for none of its own.
inline MessageTypeId AnswerOf(MessageTypeId t) {
    using enum MessageTypeId;
    switch (t) {
    case GetSourceCap:
        return SourceCapabilities;
    case GetSinkCap:
        return SinkCapabilities;
    case GetSourceCapExtended:
        return SourceCapabilitiesExtended;
    case GetSinkCapExtended:
        return SinkCapabilitiesExtended;
    case GetStatus:
        return Status;
    case GetPpsStatus:
        return PpsStatus;
    case GetCountryCodes:
        return CountryCodes;
    case GetCountryInfo:
        return CountryInfo;
    case GetSourceInfo:
        return SourceInfo;
    case GetRevision:
        return Revision;
    case GetBatteryCap:
        return BatteryCapabilities;
    case GetBatteryStatus:
        return BatteryStatus;
    case GetManufacturerInfo:
        return ManufacturerInfo;
    case SecurityRequest:
        return SecurityResponse;
    case FirmwareUpdateRequest:
        return FirmwareUpdateResponse;
    default:
        return Count;
    }
}
