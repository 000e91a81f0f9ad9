#include "MessageHeader.h"

#include "CCPacket.h"
#include "MessageTypes.h"

#include <cstdio>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

} // namespace

// clang-format off
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

static_assert(HasEnd(kPortDataRoleValues) && HasEnd(kSpecificationRevisionValues) &&
              HasEnd(kPortPowerRoleValues) && HasEnd(kCablePlugValues) && HasEnd(kExtendedValues));
static_assert(HasEnd(kSopRev20HeaderFields) && HasEnd(kSopRev30HeaderFields) &&
              HasEnd(kSopRev30ExtendedHeaderFields) && HasEnd(kCableRev20HeaderFields) &&
              HasEnd(kCableRev30HeaderFields) && HasEnd(kCableRev30ExtendedHeaderFields) &&
              HasEnd(kExtendedMessageHeaderFields));

} // namespace

const PDFieldDesc* MessageHeaderFields(const CCCPacket& packet) {
    const bool rev30 = packet.HasRev30Layout();
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
    const bool rev30 = packet.HasRev30Layout();
    switch (HeaderMessageFamily(packet.Header())) {
    case MessageFamily::Control:
        return rev30 ? kControlMessageTypeValuesRev30 : kControlMessageTypeValuesRev20;
    case MessageFamily::Data:
        return rev30 ? kDataMessageTypeValuesRev30 : kDataMessageTypeValuesRev20;
    case MessageFamily::Extended:
        break;
    }
    return kExtendedMessageTypeValues;
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

bool CCCPacket::IsExtendedMessage() const {
    // Before revision 3.0 bit 15 is reserved and means nothing.
    return IsMessageKind(kind) && HasRev30Layout() && ExtendedBit();
}

bool CCCPacket::IsControlMessage() const {
    return IsMessageKind(kind) && !IsExtendedMessage() && DataObjectCount() == 0;
}

bool CCCPacket::IsDataMessage() const {
    return IsMessageKind(kind) && !IsExtendedMessage() && DataObjectCount() >= 1;
}

bool CCCPacket::IsResetMessage() const {
    if (kind == kKindHardReset || kind == kKindCableReset) return true;
    const MessageTypeInfo* m = FindPacketMessageType(*this);
    return m && m->id == MessageTypeId::SoftReset;
}

std::string CCCPacket::GetMessageTypeText() const {
    return MessageTypeText(kind, Header());
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
