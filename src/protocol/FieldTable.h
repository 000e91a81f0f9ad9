// The field table of one packet: every described field that starts in a range of the own-data view
// or of the extended message's data block, one row per field (long fields in pieces of 128 bits).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CCCPacket;
class CFieldView;

// Offset, length, field name, value, description, HEX, ASCII.
using PDFieldRow = std::array<std::string, 7>;

// The value of message bits that never came (the packet ended first), in the field table and the tree.
inline constexpr char kNotReceivedText[] = "(Not Received)";

std::vector<PDFieldRow> BuildFieldRows(const CCCPacket& packet, bool blockView, int32_t start, int32_t length);

// The bits of the packet's own-data view (its message bytes) or of its data block.
CFieldView FieldViewOf(const CCCPacket& packet, bool blockView);
