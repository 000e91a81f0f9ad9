// Packet list texts: the 38 columns, each with its header, defaults, alignment, cell text, sort key and
// CSV rule in one row; search and CSV cells.
#pragma once

#include <cstdint>
#include <string>

class CCCPacket;

// Column ids: the number of a column in the settings ("ColumnInfo%d") and everywhere else.
enum ColumnId : int32_t {
    kColumnNumber,            // "#"
    kColumnIdleTime,          // "Idle Time"
    kColumnTimestamp,         // "Timestamp"
    kColumnPacketLength,      // "Pkt Len[us]"
    kColumnVbusVoltage,       // "VBUS Vol[V]"
    kColumnVbusCurrent,       // "VBUS Curr[A]"
    kColumnChannel,           // "CH"
    kColumnOrderedSet,        // "OS"
    kColumnPowerRole,         // "Power"
    kColumnDataRole,          // "Data"
    kColumnCablePlug,         // "Cable Plug"
    kColumnMessageType,       // "Type"
    kColumnMessageId,         // "Mes ID"
    kColumnRevision,          // "Rev."
    kColumnObjectCount,       // "NumDOs"
    kColumnExtended,          // "Extended"
    kColumnExHeader,          // "Ex Header"
    kColumnExChunked,         // "Ex Chunked"
    kColumnExChunkNumber,     // "Ex Chunk Num"
    kColumnExRequestChunk,    // "Ex Request Chunk"
    kColumnExDataSize,        // "Ex Data Size"
    kColumnDescription,       // "Description"
    kColumnMessageSize,       // "Message Size"
    kColumnHeader,            // "Header"
    kColumnDataObjects,       // "Data Objects or Ex Data"
    kColumnPayload,           // "Payload"
    kColumnCrc,               // "CRC"
    kColumnEdges,             // "Edges"
    kColumnCc1Voltage,        // "CC1 Vol[V]"
    kColumnCc1Current,        // "CC1 Curr[A]"
    kColumnCc2Voltage,        // "CC2 Vol[V]"
    kColumnCc2Current,        // "CC2 Cur[A]"
    kColumnBmc,               // "BMC"
    kColumnPreambleLength,    // "Preamble Len"
    kColumnUnitInterval,      // "Ave.UI[us]"
    kColumnMessageBytesHex,   // "Message Bytes (HEX)"
    kColumnMessageBytesAscii, // "Message Bytes (ASCII)"
    kColumnVbusPower,         // "VBUS Watt[W]"
    kColumnCount
};
static_assert(kColumnCount == 38);

// How the list aligns a text that fits: measured values, counts and times to the right, short codes and
// flags centred, free texts to the left.
enum class ColumnAlign : uint8_t { Left, Right, Centre };

struct PacketColumn {
    ColumnId id;
    const char* header;
    // Defaults of the column settings.
    bool visible;
    int32_t width;
    int32_t position;
    ColumnAlign align;
    // The texts differ from packet to packet; the list keeps the others once.
    bool uniqueText;
    // In the CSV cells; the analog readings are left out, the export writes them from the samples.
    bool inCsv;
    // The cell text; invertCurrent turns the sign of the currents.
    std::string (*text)(const CCCPacket& packet, bool invertCurrent);
    // The sort key of a column sorted by number (-1 where there is nothing to sort by); null for a column
    // sorted by its text.
    int64_t (*sortKey)(const CCCPacket& packet);

    bool NumericSort() const { return sortKey != nullptr; }
};

// Every column, in id order.
extern const PacketColumn kColumns[kColumnCount];

// The settings model reads the defaults under their earlier names.
using ColumnDefault = PacketColumn;
inline constexpr const PacketColumn (&kColumnDefaults)[kColumnCount] = kColumns;

// Which columns are shown, and where: the column settings.
struct ColumnLayout {
    bool visible[kColumnCount];
    int32_t position[kColumnCount];
    static ColumnLayout Defaults();
};

// The column id whose header is `name`, or whose number `name` is; -1 for neither.
int ColumnIdFromName(const std::string& name);

// "%c%2ds %3dms %3dus" and its longer forms for minutes and hours.
std::string FormatTimeText(int64_t micros);

// The CSV cells of one packet: ",\"text\"" per column in display order, analog columns left out.
std::string GetCsvCells(const CCCPacket& p, const ColumnLayout& layout, bool onlyVisible, bool invertCurrent);
