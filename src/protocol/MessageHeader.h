// The 16-bit message header and the extended message header: their field lists, value tables and the
// choice of list for a packet. Message classification and names are members of CCCPacket, defined in
// MessageHeader.cpp; the names themselves are rows of the message table (MessageTypes.h).
#pragma once

#include "PDField.h"

class CCCPacket;

// Tables of the "Message Type" row, one per message class and revision, made from the message table
// (MessageTypes.cpp).
extern const PDValueText* const kControlMessageTypeValuesRev30;
extern const PDValueText* const kControlMessageTypeValuesRev20;
extern const PDValueText* const kDataMessageTypeValuesRev30;
extern const PDValueText* const kDataMessageTypeValuesRev20;
extern const PDValueText* const kExtendedMessageTypeValues;

// Tables of the other header fields.
extern const PDValueText kPortDataRoleValues[];
extern const PDValueText kSpecificationRevisionValues[];
extern const PDValueText kPortPowerRoleValues[];
extern const PDValueText kCablePlugValues[];
extern const PDValueText kExtendedValues[];

// Message header lists, the first segment of a message of kind SOP, SOP' or SOP''. Besides the header
// they cover the data objects, or the extended header and the extended data, as plain fields.
//
// Entry 0 of every list is the "Message Type" row. Its table depends on the message, so the entry holds
// no table: ask FieldValueTable (or MessageTypeValueTable) for the table of the packet at hand.
extern const PDFieldDesc kSopRev20HeaderFields[];
extern const PDFieldDesc kSopRev30HeaderFields[];
extern const PDFieldDesc kSopRev30ExtendedHeaderFields[];
extern const PDFieldDesc kCableRev20HeaderFields[];
extern const PDFieldDesc kCableRev30HeaderFields[];
extern const PDFieldDesc kCableRev30ExtendedHeaderFields[];

// The extended message header alone, the second segment of an extended message (offsets from byte 2).
extern const PDFieldDesc kExtendedMessageHeaderFields[];

// The header list of the packet: by kind (SOP or cable), revision field and extended. Null for every
// other kind, the debug kinds included.
const PDFieldDesc* MessageHeaderFields(const CCCPacket& packet);

// The table of the "Message Type" row for the packet's message; null when the kind carries no message.
const PDValueText* MessageTypeValueTable(const CCCPacket& packet);

// The table to describe a field of a list with: MessageTypeValueTable for the "Message Type" entry of a
// header list (pass the list's entry itself, not a copy), the field's own table otherwise.
const PDValueText* FieldValueTable(const CCCPacket& packet, const PDFieldDesc& field);
