// The message types the system knows, one row per family and type code: the list's names, the field
// table's "Message Type" texts, and where each message's Description text and field lists come from. The
// names and value tables of the header, the Description column, the field table, the find criteria and the
// synthesizer all read this table, so a new message is one row here (and one id below).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CCCPacket;
class CFieldView;
class CSegmentList;
struct PDFieldDesc;

enum class MessageFamily : int32_t { Control = 0, Data = 1, Extended = 2 };

// One id per row of the table, in the table's order.
enum class MessageTypeId : uint8_t {
    // Control messages.
    GoodCrc,
    GotoMin,
    Accept,
    Reject,
    Ping,
    PsRdy,
    GetSourceCap,
    GetSinkCap,
    DrSwap,
    PrSwap,
    VconnSwap,
    Wait,
    SoftReset,
    DataReset,
    DataResetComplete,
    NotSupported,
    GetSourceCapExtended,
    GetStatus,
    FrSwap,
    GetPpsStatus,
    GetCountryCodes,
    GetSinkCapExtended,
    GetSourceInfo,
    GetRevision,
    // Data messages.
    SourceCapabilities,
    Request,
    Bist,
    SinkCapabilities,
    BatteryStatus,
    Alert,
    GetCountryInfo,
    EnterUsb,
    EprRequest,
    EprMode,
    SourceInfo,
    Revision,
    VendorDefined,
    // Extended messages.
    SourceCapabilitiesExtended,
    Status,
    GetBatteryCap,
    GetBatteryStatus,
    BatteryCapabilities,
    GetManufacturerInfo,
    ManufacturerInfo,
    SecurityRequest,
    SecurityResponse,
    FirmwareUpdateRequest,
    FirmwareUpdateResponse,
    PpsStatus,
    CountryInfo,
    CountryCodes,
    SinkCapabilitiesExtended,
    ExtendedControl,
    EprSourceCapabilities,
    EprSinkCapabilities,
    VendorDefinedExtended,
    Count
};

// The Description column text of one message.
using MessageDescriber = std::string (*)(const CCCPacket& packet);
// Field-table segments of a message whose layout depends on its content. `firstBit` is where the message's
// data starts in `view`: 16 (the first data object) for a data message; 32 in an extended message's own
// bytes, 0 in its data block.
using MessageSegmenter = void (*)(CSegmentList& out, const CCCPacket& packet, const CFieldView& view,
                                  int32_t firstBit);

struct MessageTypeInfo {
    MessageTypeId id;
    MessageFamily family;
    int32_t code;
    // The name of the packet list and the graph; scenarios name messages by it too.
    const char* name;
    // The list's name when the revision field is 2 or 3; null: the same name.
    const char* rev30Name;
    // The text of the revision 3.0 (control, data) or the extended "Message Type" table; null: rev30Name,
    // else the name.
    const char* fieldText;
    // Whether the revision 2.0 "Message Type" tables know the message (with its name as text).
    bool rev20;
    // The Description text; null: none.
    MessageDescriber describe;
    // The field list of the message's data, placed at the first bit; null: none.
    const PDFieldDesc* fields;
    // Segments chosen from the content, after `fields`; null: none.
    MessageSegmenter segments;

    // The list's name for a header with (rev30) or without the revision 3.0 layout.
    constexpr const char* ListName(bool rev30) const { return rev30 && rev30Name ? rev30Name : name; }
    constexpr const char* FieldText() const { return fieldText ? fieldText : rev30Name ? rev30Name : name; }
};

// Every row, in id order.
std::span<const MessageTypeInfo> MessageTypes();
const MessageTypeInfo& MessageTypeInfoOf(MessageTypeId id);
// The row of a family and type code; null for a code without a name.
const MessageTypeInfo* FindMessageType(MessageFamily family, int32_t code);
// The row whose name, or revision 3.0 list name, is `name`; null for none.
const MessageTypeInfo* FindMessageTypeByName(std::string_view name);

// The family of a header read the way the message classes are: extended with the revision 3.0 layout and
// bit 15, otherwise data when it announces data objects, otherwise control.
MessageFamily HeaderMessageFamily(uint16_t header);
// The row of the packet's message; null for a kind without a message or a code without a name.
const MessageTypeInfo* FindPacketMessageType(const CCCPacket& packet);
// The message type text of the packet list for an ordered-set kind and a message header.
std::string MessageTypeText(int32_t kind, uint16_t header);

// The packet's Description text (CCCPacket::GetDescriptionText) comes from its row too.
// The segments of the packet's message data: its row's list at firstBit, then the segments its row
// chooses from the content.
void AddMessageSegments(CSegmentList& out, const CCCPacket& packet, const CFieldView& view, int32_t firstBit);
