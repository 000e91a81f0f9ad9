#include "MessageHeader.h"

#include "CCPacket.h"

#include <cstdio>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

// Header bits.
constexpr uint16_t kHeaderRevision3Bit = 0x0080; // revision field 2 or 3
constexpr uint16_t kHeaderExtendedBit = 0x8000;

constexpr int kSoftResetCode = 13;

// Message names of the packet list and the graph. These do not depend on the revision, apart from the
// deprecated control messages, which have a second name for revision fields 2 and 3.
struct ControlMessageName {
    int32_t code;
    const char* name;
    const char* rev30Name; // null: same as name
};

struct MessageName {
    int32_t code;
    const char* name;
};

// clang-format off
constexpr ControlMessageName kControlMessageNames[] = {
    {1, "GoodCRC", nullptr},
    {2, "GotoMin", "GotoMin (Deprecated)"},
    {3, "Accept", nullptr},
    {4, "Reject", nullptr},
    {5, "Ping", "Ping (Deprecated)"},
    {6, "PS_RDY", nullptr},
    {7, "Get_Source_Cap", nullptr},
    {8, "Get_Sink_Cap", nullptr},
    {9, "DR_Swap", nullptr},
    {10, "PR_Swap", nullptr},
    {11, "VCONN_Swap", nullptr},
    {12, "Wait", nullptr},
    {13, "Soft_Reset", nullptr},
    {14, "Data_Reset", nullptr},
    {15, "Data_Reset_Complete", nullptr},
    {16, "Not_Supported", nullptr},
    {17, "Get_Source_Cap_Extended", nullptr},
    {18, "Get_Status", nullptr},
    {19, "FR_Swap", nullptr},
    {20, "Get_PPS_Status", nullptr},
    {21, "Get_Country_Codes", nullptr},
    {22, "Get_Sink_Cap_Extended", nullptr},
    {23, "Get_Source_Info", nullptr},
    {24, "Get_Revision", nullptr},
};

constexpr MessageName kDataMessageNames[] = {
    {1, "Source_Capabilities"},
    {2, "Request"},
    {3, "BIST"},
    {4, "Sink_Capabilities"},
    {5, "Battery_Status"},
    {6, "Alert"},
    {7, "Get_Country_Info"},
    {8, "Enter_USB"},
    {9, "EPR_Request"},
    {10, "EPR_Mode"},
    {11, "Source_Info"},
    {12, "Revision"},
    {15, "Vendor_Defined"},
};

constexpr MessageName kExtendedMessageNames[] = {
    {1, "Source_Capabilities_Extended"},
    {2, "Status"},
    {3, "Get_Battery_Cap"},
    {4, "Get_Battery_Status"},
    {5, "Battery_Capabilities"},
    {6, "Get_Manufacturer_Info"},
    {7, "Manufacturer_Info"},
    {8, "Security_Request"},
    {9, "Security_Response"},
    {10, "Firmware_Update_Request"},
    {11, "Firmware_Update_Response"},
    {12, "PPS_Status"},
    {13, "Country_Info"},
    {14, "Country_Codes"},
    {15, "Sink_Capabilities_Extended"},
    {16, "Extended_Control"},
    {17, "EPR_Source_Capabilities"},
    {18, "EPR_Sink_Capabilities"},
    {30, "Vendor_Defined_Extended"},
};

// clang-format on

template <size_t N> const char* FindName(const MessageName (&table)[N], int code) {
    for (const MessageName& row : table)
        if (row.code == code) return row.name;
    return nullptr;
}

const char* FindControlName(int code, bool rev30) {
    for (const ControlMessageName& row : kControlMessageNames)
        if (row.code == code) return rev30 && row.rev30Name ? row.rev30Name : row.name;
    return nullptr;
}

bool HasRev30Header(const CCCPacket& packet) {
    return (packet.Header() & kHeaderRevision3Bit) != 0;
}

} // namespace

// Field-table texts of the "Message Type" row. The revision 3.0 control table keeps its own spelling of
// the deprecated Ping, which differs from the packet-list name.
// clang-format off
constexpr PDValueText kControlMessageTypeValuesRev30[] = {
    {kExact, 1, "GoodCRC", 1},
    {kExact, 2, "GotoMin (Deprecated)", 1},
    {kExact, 3, "Accept", 1},
    {kExact, 4, "Reject", 1},
    {kExact, 5, "Ping (Depricated)", 1},
    {kExact, 6, "PS_RDY", 1},
    {kExact, 7, "Get_Source_Cap", 1},
    {kExact, 8, "Get_Sink_Cap", 1},
    {kExact, 9, "DR_Swap", 1},
    {kExact, 10, "PR_Swap", 1},
    {kExact, 11, "VCONN_Swap", 1},
    {kExact, 12, "Wait", 1},
    {kExact, 13, "Soft_Reset", 1},
    {kExact, 14, "Data_Reset", 1},
    {kExact, 15, "Data_Reset_Complete", 1},
    {kExact, 16, "Not_Supported", 1},
    {kExact, 17, "Get_Source_Cap_Extended", 1},
    {kExact, 18, "Get_Status", 1},
    {kExact, 19, "FR_Swap", 1},
    {kExact, 20, "Get_PPS_Status", 1},
    {kExact, 21, "Get_Country_Codes", 1},
    {kExact, 22, "Get_Sink_Cap_Extended", 1},
    {kExact, 23, "Get_Source_Info", 1},
    {kExact, 24, "Get_Revision", 1},
    kValueTextEnd,
};

constexpr PDValueText kControlMessageTypeValuesRev20[] = {
    {kExact, 1, "GoodCRC", 1},
    {kExact, 2, "GotoMin", 1},
    {kExact, 3, "Accept", 1},
    {kExact, 4, "Reject", 1},
    {kExact, 5, "Ping", 1},
    {kExact, 6, "PS_RDY", 1},
    {kExact, 7, "Get_Source_Cap", 1},
    {kExact, 8, "Get_Sink_Cap", 1},
    {kExact, 9, "DR_Swap", 1},
    {kExact, 10, "PR_Swap", 1},
    {kExact, 11, "VCONN_Swap", 1},
    {kExact, 12, "Wait", 1},
    {kExact, 13, "Soft_Reset", 1},    kValueTextEnd,
};

constexpr PDValueText kDataMessageTypeValuesRev30[] = {
    {kExact, 1, "Source_Capabilities", 1},
    {kExact, 2, "Request", 1},
    {kExact, 3, "BIST", 1},
    {kExact, 4, "Sink_Capabilities", 1},
    {kExact, 5, "Battery_Status", 1},
    {kExact, 6, "Alert", 1},
    {kExact, 7, "Get_Country_Info", 1},
    {kExact, 8, "Enter_USB", 1},
    {kExact, 9, "EPR_Request", 1},
    {kExact, 10, "EPR_Mode", 1},
    {kExact, 11, "Source_Info", 1},
    {kExact, 12, "Revision", 1},
    {kExact, 15, "Vendor_Defined", 1},
    kValueTextEnd,
};

constexpr PDValueText kDataMessageTypeValuesRev20[] = {
    {kExact, 1, "Source_Capabilities", 1},
    {kExact, 2, "Request", 1},
    {kExact, 3, "BIST", 1},
    {kExact, 4, "Sink_Capabilities", 1},
    {kExact, 15, "Vendor_Defined", 1},
    kValueTextEnd,
};

constexpr PDValueText kExtendedMessageTypeValues[] = {
    {kExact, 1, "Source_Capabilities_Extended", 1},
    {kExact, 2, "Status", 1},
    {kExact, 3, "Get_Battery_Cap", 1},
    {kExact, 4, "Get_Battery_Status", 1},
    {kExact, 5, "Battery_Capabilities", 1},
    {kExact, 6, "Get_Manufacturer_Info", 1},
    {kExact, 7, "Manufacturer_Info", 1},
    {kExact, 8, "Security_Request", 1},
    {kExact, 9, "Security_Response", 1},
    {kExact, 10, "Firmware_Update_Request", 1},
    {kExact, 11, "Firmware_Update_Response", 1},
    {kExact, 12, "PPS_Status", 1},
    {kExact, 13, "Country_Info", 1},
    {kExact, 14, "Country_Codes", 1},
    {kExact, 15, "Sink_Capabilities_Extended", 1},
    {kExact, 16, "Extended_Control", 1},
    {kExact, 17, "EPR_Source_Capabilities", 1},
    {kExact, 18, "EPR_Sink_Capabilities", 1},
    {kExact, 30, "Vendor_Defined_Extended", 1},
    kValueTextEnd,
};

constexpr PDValueText kPortDataRoleValues[] = {
    {kExact, 0, "UFP", 1},
    {kExact, 1, "DFP", 1},
    kValueTextEnd,
};

constexpr PDValueText kSpecificationRevisionValues[] = {
    {kExact, 0, "Revision 1.0", 1},
    {kExact, 1, "Revision 2.0", 1},
    {kExact, 2, "Revision 3.0", 1},
    {kExact, 3, "Reserved", 1},
    kValueTextEnd,
};

constexpr PDValueText kPortPowerRoleValues[] = {
    {kExact, 0, "Sink", 1},
    {kExact, 1, "Source", 1},
    kValueTextEnd,
};

constexpr PDValueText kCablePlugValues[] = {
    {kExact, 0, "Message originated from a DFP or UFP", 1},
    {kExact, 1, "Message originated from a Cable Plug", 1},
    kValueTextEnd,
};

constexpr PDValueText kExtendedValues[] = {
    {kExact, 0, "Control or Data Message", 1},
    {kExact, 1, "Extended Message", 1},
    kValueTextEnd,
};

constexpr PDFieldDesc kSopRev20HeaderFields[] = {
    {0, 4, nullptr, "Message Type"},
    {4, 1, nullptr, "Reserved"},
    {5, 1, kPortDataRoleValues, "Port Data Role"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kPortPowerRoleValues, "Port Power Role"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, nullptr, "Reserved"},
    {16, 32, nullptr, "Data Object #1"},
    {48, 32, nullptr, "Data Object #2"},
    {80, 32, nullptr, "Data Object #3"},
    {112, 32, nullptr, "Data Object #4"},
    {144, 32, nullptr, "Data Object #5"},
    {176, 32, nullptr, "Data Object #6"},
    {208, 32, nullptr, "Data Object #7"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSopRev30HeaderFields[] = {
    {0, 5, nullptr, "Message Type"},
    {5, 1, kPortDataRoleValues, "Port Data Role"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kPortPowerRoleValues, "Port Power Role"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, kExtendedValues, "Extended"},
    {16, 32, nullptr, "Data Object #1"},
    {48, 32, nullptr, "Data Object #2"},
    {80, 32, nullptr, "Data Object #3"},
    {112, 32, nullptr, "Data Object #4"},
    {144, 32, nullptr, "Data Object #5"},
    {176, 32, nullptr, "Data Object #6"},
    {208, 32, nullptr, "Data Object #7"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSopRev30ExtendedHeaderFields[] = {
    {0, 5, nullptr, "Message Type"},
    {5, 1, kPortDataRoleValues, "Port Data Role"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kPortPowerRoleValues, "Port Power Role"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, kExtendedValues, "Extended"},
    {16, 9, nullptr, "Data Size"},
    {25, 1, nullptr, "Reserved"},
    {26, 1, nullptr, "Request Chunk"},
    {27, 4, nullptr, "Chunk Number"},
    {31, 1, nullptr, "Chunked"},
    {32, 2080, nullptr, "Extended Data"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCableRev20HeaderFields[] = {
    {0, 4, nullptr, "Message Type"},
    {4, 1, nullptr, "Reserved"},
    {5, 1, nullptr, "Reserved"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kCablePlugValues, "Cable Plug"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, nullptr, "Reserved"},
    {16, 32, nullptr, "Data Object #1"},
    {48, 32, nullptr, "Data Object #2"},
    {80, 32, nullptr, "Data Object #3"},
    {112, 32, nullptr, "Data Object #4"},
    {144, 32, nullptr, "Data Object #5"},
    {176, 32, nullptr, "Data Object #6"},
    {208, 32, nullptr, "Data Object #7"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCableRev30HeaderFields[] = {
    {0, 5, nullptr, "Message Type"},
    {5, 1, nullptr, "Reserved"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kCablePlugValues, "Cable Plug"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, kExtendedValues, "Extended"},
    {16, 32, nullptr, "Data Object #1"},
    {48, 32, nullptr, "Data Object #2"},
    {80, 32, nullptr, "Data Object #3"},
    {112, 32, nullptr, "Data Object #4"},
    {144, 32, nullptr, "Data Object #5"},
    {176, 32, nullptr, "Data Object #6"},
    {208, 32, nullptr, "Data Object #7"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCableRev30ExtendedHeaderFields[] = {
    {0, 5, nullptr, "Message Type"},
    {5, 1, nullptr, "Reserved"},
    {6, 2, kSpecificationRevisionValues, "Specification Revision"},
    {8, 1, kCablePlugValues, "Cable Plug"},
    {9, 3, nullptr, "MessageID"},
    {12, 3, nullptr, "Number of Data Objects"},
    {15, 1, kExtendedValues, "Extended"},
    {16, 9, nullptr, "Data Size"},
    {25, 1, nullptr, "Reserved"},
    {26, 1, nullptr, "Request Chunk"},
    {27, 4, nullptr, "Chunk Number"},
    {31, 1, nullptr, "Chunked"},
    {32, 2080, nullptr, "Extended Data"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kExtendedMessageHeaderFields[] = {
    {15, 1, nullptr, "Chunked"},
    {11, 4, nullptr, "Chunk Number"},
    {10, 1, nullptr, "Request Chunk"},
    {0, 9, nullptr, "Data Size"},
    kFieldDescEnd,
};

// clang-format on

namespace {

static_assert(HasEnd(kControlMessageTypeValuesRev30) && HasEnd(kControlMessageTypeValuesRev20) &&
              HasEnd(kDataMessageTypeValuesRev30) && HasEnd(kDataMessageTypeValuesRev20) &&
              HasEnd(kExtendedMessageTypeValues));
static_assert(HasEnd(kPortDataRoleValues) && HasEnd(kSpecificationRevisionValues) &&
              HasEnd(kPortPowerRoleValues) && HasEnd(kCablePlugValues) && HasEnd(kExtendedValues));
static_assert(HasEnd(kSopRev20HeaderFields) && HasEnd(kSopRev30HeaderFields) &&
              HasEnd(kSopRev30ExtendedHeaderFields) && HasEnd(kCableRev20HeaderFields) &&
              HasEnd(kCableRev30HeaderFields) && HasEnd(kCableRev30ExtendedHeaderFields) &&
              HasEnd(kExtendedMessageHeaderFields));

} // namespace

const PDFieldDesc* MessageHeaderFields(const CCCPacket& packet) {
    const bool rev30 = HasRev30Header(packet);
    const bool extended = packet.IsExtendedMessage();
    switch (packet.kind) {
    case kKindSop:
        if (!rev30) return kSopRev20HeaderFields;
        return extended ? kSopRev30ExtendedHeaderFields : kSopRev30HeaderFields;
    case kKindSopPrime:
    case kKindSopDoublePrime:
        if (!rev30) return kCableRev20HeaderFields;
        return extended ? kCableRev30ExtendedHeaderFields : kCableRev30HeaderFields;
    default:
        return nullptr;
    }
}

const PDValueText* MessageTypeValueTable(const CCCPacket& packet) {
    if (!IsMessageKind(packet.kind)) return nullptr;
    if (packet.IsExtendedMessage()) return kExtendedMessageTypeValues;
    const bool rev30 = HasRev30Header(packet);
    if (packet.DataObjectCount() == 0)
        return rev30 ? kControlMessageTypeValuesRev30 : kControlMessageTypeValuesRev20;
    return rev30 ? kDataMessageTypeValuesRev30 : kDataMessageTypeValuesRev20;
}

const PDValueText* FieldValueTable(const CCCPacket& packet, const PDFieldDesc& field) {
    static constexpr const PDFieldDesc* kHeaderLists[] = {
        kSopRev20HeaderFields,   kSopRev30HeaderFields,   kSopRev30ExtendedHeaderFields,
        kCableRev20HeaderFields, kCableRev30HeaderFields, kCableRev30ExtendedHeaderFields,
    };
    for (const PDFieldDesc* list : kHeaderLists)
        if (&field == &list[0]) return MessageTypeValueTable(packet);
    return field.values;
}

uint32_t CCCPacket::DataObject(int n) const {
    // Objects beyond the buffer read as 0; within it they are read whether or not they were received.
    if (n < 1 || 2 + 4 * (n - 1) + 4 > kMessageBytesCapacity) return 0;
    const uint8_t* p = messageBytes + 2 + 4 * (n - 1);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int CCCPacket::GetMessageTypeCode() const {
    // The fifth type bit exists only from revision 3.0 on.
    return Header() & (Header() & kHeaderRevision3Bit ? 0x1F : 0x0F);
}

bool CCCPacket::IsExtendedMessage() const {
    // Before revision 3.0 bit 15 is reserved and means nothing.
    const uint16_t header = Header();
    return IsMessageKind(kind) && (header & kHeaderRevision3Bit) && (header & kHeaderExtendedBit);
}

bool CCCPacket::IsControlMessage() const {
    return IsMessageKind(kind) && !IsExtendedMessage() && DataObjectCount() == 0;
}

bool CCCPacket::IsDataMessage() const {
    return IsMessageKind(kind) && !IsExtendedMessage() && DataObjectCount() >= 1;
}

bool CCCPacket::IsResetMessage() const {
    if (kind == kKindHardReset || kind == kKindCableReset) return true;
    return IsControlMessage() && GetMessageTypeCode() == kSoftResetCode;
}

std::string CCCPacket::GetMessageTypeText() const {
    if (kind == kKindHardReset) return "Hard Reset";
    if (kind == kKindCableReset) return "Cable Reset";
    if (kind < 1 || kind > 7) return "(Unknown OS)";

    const int code = GetMessageTypeCode();
    const char* name;
    if (IsExtendedMessage())
        name = FindName(kExtendedMessageNames, code);
    else if (IsDataMessage())
        name = FindName(kDataMessageNames, code);
    else
        name = FindControlName(code, HasRev30Header(*this));
    if (name) return name;

    char text[32];
    std::snprintf(text, sizeof text, "Unknown(%d)", code);
    return text;
}

std::string CCCPacket::GetRevisionText() const {
    if (!IsMessageKind(kind)) return {};
    const int revision = RevisionField();
    static constexpr const char* kRevisionTexts[] = {"1.0", "2.0", "3.0"};
    if (revision < 3) return kRevisionTexts[revision];
    char text[32];
    std::snprintf(text, sizeof text, "Rsv(%d)", revision);
    return text;
}
