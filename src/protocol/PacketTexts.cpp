#include "PacketTexts.h"

#include "CCPacket.h"
#include "CaptureStore.h"
#include "PDField.h"
#include "PdConstants.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cwctype>

namespace {

// The message columns show texts only for a packet with a preamble and a good CRC.
bool Good(const CCCPacket& p) {
    return p.preambleFound && p.crcGood;
}

// A field of the extended header: shown for a good extended message only.
std::string ExtendedHeaderText(const CCCPacket& p, const char* format, int value) {
    return Good(p) && p.IsExtendedMessage() ? Sprintf(format, value) : std::string();
}

// The bytes of an extended message's data that this packet holds, as "%02X" joined by "-" and "h".
std::string ExtendedDataText(const CCCPacket& p) {
    const int size = p.DataSizeField();
    if (size == 0) return {};
    const int n = std::min(size, p.CarriedDataBytes());
    std::string text;
    for (int i = 0; i < n; ++i) text += Sprintf(i ? "-%02X" : "%02X", p.messageBytes[4 + i]);
    return text + "h";
}

std::string DataObjectsText(const CCCPacket& p) {
    if (!Good(p)) return {};
    if (p.IsExtendedMessage()) return ExtendedDataText(p);
    std::string text;
    for (int n = 1; n <= p.DataObjectCount(); ++n) text += Sprintf("[%d]:%08Xh ", n, p.DataObject(n));
    return text;
}

std::string OrderedSetText(const CCCPacket& p) {
    if (!p.preambleFound) return {};
    switch (p.kind) {
    case kKindSop: return "SOP";
    case kKindSopPrime: return "SOP'";
    case kKindSopDoublePrime: return "SOP''";
    case kKindHardReset: return "Hard Reset";
    case kKindCableReset: return "Cable Reset";
    default: return "Invalid";
    }
}

std::string SymbolText(const CCCPacket& p) {
    std::string text;
    for (int32_t i = 0; i < p.symbolCount; ++i) {
        const uint8_t s = p.symbols[i];
        switch (s) {
        case 17: text += "[SYNC-1]"; break;
        case 18: text += "[SYNC-2]"; break;
        case 19: text += "[SYNC-3]"; break;
        case 33: text += "[RST-1]"; break;
        case 34: text += "[RST-2]"; break;
        case 48: text += "[EOP]"; break;
        default:
            if (s < 16) text += Sprintf("%X", s);
            break;
        }
    }
    return text;
}

std::string CrcText(const CCCPacket& p) {
    if (!p.preambleFound) return {};
    if (!IsMessageKind(p.kind)) return "-";
    return Sprintf("%08Xh", p.receivedCrc) + (p.crcGood ? "" : "(Bad)");
}

std::string BmcText(const CCCPacket& p) {
    std::string text;
    text.reserve(size_t(p.bitCount) + 16);
    for (int32_t i = 0; i < p.bitCount; ++i) {
        if (p.bits[i] <= 9)
            text += char('0' + p.bits[i]);
        else
            text += Sprintf("%d", p.bits[i]);
    }
    return text + Sprintf(" (%dbits)", p.bitCount);
}

std::string UnitIntervalText(const CCCPacket& p) {
    const double ui = p.unitInterval;
    return Sprintf("%.3f", ui) + (ui < kMinUnitIntervalUs || ui > kMaxUnitIntervalUs ? "(Bad)" : "");
}

std::string MessageBytesHex(const CCCPacket& p) {
    if (!IsMessageKind(p.kind)) return {};
    std::string text;
    for (int32_t i = 0; i < p.messageByteCount; ++i) text += Sprintf(i ? " %02X" : "%02X", p.messageBytes[i]);
    return text;
}

std::string MessageBytesAscii(const CCCPacket& p) {
    if (!IsMessageKind(p.kind)) return {};
    std::string text;
    for (int32_t i = 0; i < p.messageByteCount; ++i) {
        const uint8_t b = p.messageBytes[i];
        text += (b >= 0x20 && b <= 0x7E) ? char(b) : '.';
    }
    return text;
}

// The readings of the sample in force at the packet's start; none before the first sample.
bool HasReading(const CCCPacket& p) {
    if (!p.hasSnapshot && p.store) p.store->EnsureSnapshot(p);
    return p.hasSnapshot;
}

float Amps(int16_t mA, bool invert) {
    return invert ? -float(mA) : float(mA);
}

// V, A or W from mV, mA or mW, in single precision.
std::string Units(const char* format, float milli) {
    return Sprintf(format, double(milli / 1000.0f));
}

using enum ColumnAlign;
constexpr bool kUnique = true, kRepeats = false;
constexpr bool kCsv = true, kNotInCsv = false;

} // namespace

constexpr PacketColumn kColumns[kColumnCount] = {
    // id, header, shown, width, position, alignment, texts, CSV; text; sort key (null: by text)
    {kColumnNumber, "#", true, 50, 0, Right, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return Sprintf("%d", p.index); },
     [](const CCCPacket& p) -> int64_t { return p.index; }},
    {kColumnIdleTime, "Idle Time", false, 120, 1, Right, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return FormatTimeText(p.idleTime); },
     [](const CCCPacket& p) -> int64_t { return p.idleTime; }},
    {kColumnTimestamp, "Timestamp", true, 120, 2, Right, kUnique, kCsv,
     [](const CCCPacket& p, bool) {
         return FormatTimeText(p.store ? p.store->DisplayTime(p) : p.startTime);
     },
     [](const CCCPacket& p) -> int64_t { return p.startTime; }},
    {kColumnPacketLength, "Pkt Len[us]", false, 70, 3, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Sprintf("%d", p.LengthMicros()); },
     [](const CCCPacket& p) -> int64_t { return p.LengthMicros(); }},
    {kColumnVbusVoltage, "VBUS Vol[V]", false, 70, 4, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool) {
         return HasReading(p) ? Units("%2.2f", float(p.snapVbusVoltage)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapVbusVoltage : -1; }},
    {kColumnVbusCurrent, "VBUS Curr[A]", false, 70, 5, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool invert) {
         return HasReading(p) ? Units("%1.3f", Amps(p.snapVbusCurrent, invert)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapVbusCurrent : -1; }},
    {kColumnChannel, "CH", true, 40, 10, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Sprintf("CC%d", p.channel + 1); },
     [](const CCCPacket& p) -> int64_t { return p.channel; }},
    {kColumnOrderedSet, "OS", true, 80, 11, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return OrderedSetText(p); },
     [](const CCCPacket& p) -> int64_t { return p.kind; }},
    {kColumnPowerRole, "Power", true, 60, 12, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) -> std::string {
         if (!Good(p) || p.kind != kKindSop) return {};
         return p.PowerRoleBit() ? "Source" : "Sink";
     },
     nullptr},
    {kColumnDataRole, "Data", true, 60, 13, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) -> std::string {
         if (!Good(p) || p.kind != kKindSop) return {};
         return p.DataRoleBit() ? "DFP" : "UFP";
     },
     nullptr},
    {kColumnCablePlug, "Cable Plug", true, 80, 14, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) -> std::string {
         if (!Good(p) || (p.kind != kKindSopPrime && p.kind != kKindSopDoublePrime)) return {};
         return p.PowerRoleBit() ? "Cable Plug" : "UFP or DFP";
     },
     nullptr},
    {kColumnMessageType, "Type", true, 150, 15, Left, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? p.GetMessageTypeText() : std::string(); }, nullptr},
    {kColumnMessageId, "Mes ID", true, 60, 16, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? Sprintf("%d", p.MessageIdField()) : std::string(); },
     [](const CCCPacket& p) -> int64_t { return p.crcGood ? p.MessageIdField() : -1; }},
    {kColumnRevision, "Rev.", false, 40, 17, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? p.GetRevisionText() : std::string(); }, nullptr},
    {kColumnObjectCount, "NumDOs", false, 60, 18, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? Sprintf("%d", p.DataObjectCount()) : std::string(); },
     [](const CCCPacket& p) -> int64_t { return p.crcGood ? p.DataObjectCount() : -1; }},
    // Bit 15 exists as "Extended" from revision 3.0 on.
    {kColumnExtended, "Extended", false, 40, 19, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) {
         return Good(p) && p.HasRev30Layout() ? Sprintf("%d", int(p.ExtendedBit())) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return p.crcGood && p.HasRev30Layout() ? p.ExtendedBit() : -1; }},
    {kColumnExHeader, "Ex Header", false, 60, 27, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return ExtendedHeaderText(p, "%04Xh", p.ExtendedHeader()); }, nullptr},
    {kColumnExChunked, "Ex Chunked", false, 40, 20, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return ExtendedHeaderText(p, "%d", int(p.ChunkedBit())); }, nullptr},
    {kColumnExChunkNumber, "Ex Chunk Num", false, 40, 21, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return ExtendedHeaderText(p, "%d", p.ChunkNumberField()); }, nullptr},
    {kColumnExRequestChunk, "Ex Request Chunk", false, 40, 22, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return ExtendedHeaderText(p, "%d", int(p.RequestChunkBit())); }, nullptr},
    {kColumnExDataSize, "Ex Data Size", false, 60, 23, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return ExtendedHeaderText(p, "%d", p.DataSizeField()); }, nullptr},
    {kColumnDescription, "Description", true, 300, 24, Left, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? p.GetDescriptionText() : std::string(); }, nullptr},
    {kColumnMessageSize, "Message Size", false, 60, 25, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) {
         return p.preambleFound ? Sprintf("%d", p.messageByteCount) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return p.crcGood ? p.messageByteCount : -1; }},
    {kColumnHeader, "Header", false, 60, 26, Centre, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Good(p) ? Sprintf("%04Xh", p.Header()) : std::string(); },
     [](const CCCPacket& p) -> int64_t { return p.crcGood ? p.Header() : -1; }},
    {kColumnDataObjects, "Data Objects or Ex Data", false, 200, 28, Left, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return DataObjectsText(p); }, nullptr},
    {kColumnPayload, "Payload", false, 200, 34, Left, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return p.preambleFound ? SymbolText(p) : std::string(); }, nullptr},
    {kColumnCrc, "CRC", false, 80, 29, Centre, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return CrcText(p); },
     [](const CCCPacket& p) -> int64_t { return p.receivedCrc; }},
    {kColumnEdges, "Edges", false, 60, 30, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Sprintf("%d", p.intervalCount); },
     [](const CCCPacket& p) -> int64_t { return p.intervalCount; }},
    {kColumnCc1Voltage, "CC1 Vol[V]", false, 70, 6, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool) {
         return HasReading(p) ? Units("%1.2f", float(p.snapCc1Voltage)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapCc1Voltage : -1; }},
    {kColumnCc1Current, "CC1 Curr[A]", false, 70, 7, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool invert) {
         return HasReading(p) ? Units("%1.3f", Amps(p.snapCc1Current, invert)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapCc1Current : -1; }},
    {kColumnCc2Voltage, "CC2 Vol[V]", false, 70, 8, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool) {
         return HasReading(p) ? Units("%1.2f", float(p.snapCc2Voltage)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapCc2Voltage : -1; }},
    {kColumnCc2Current, "CC2 Cur[A]", false, 70, 9, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool invert) {
         return HasReading(p) ? Units("%1.3f", Amps(p.snapCc2Current, invert)) : std::string();
     },
     [](const CCCPacket& p) -> int64_t { return HasReading(p) ? p.snapCc2Current : -1; }},
    {kColumnBmc, "BMC", false, 200, 33, Left, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return BmcText(p); }, nullptr},
    {kColumnPreambleLength, "Preamble Len", false, 80, 32, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return Sprintf("%d", p.preambleLength); }, nullptr},
    {kColumnUnitInterval, "Ave.UI[us]", false, 80, 31, Right, kRepeats, kCsv,
     [](const CCCPacket& p, bool) { return UnitIntervalText(p); }, nullptr},
    {kColumnMessageBytesHex, "Message Bytes (HEX)", false, 190, 35, Left, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return MessageBytesHex(p); }, nullptr},
    {kColumnMessageBytesAscii, "Message Bytes (ASCII)", false, 190, 36, Left, kUnique, kCsv,
     [](const CCCPacket& p, bool) { return MessageBytesAscii(p); }, nullptr},
    // W from mA × mV, in single precision.
    {kColumnVbusPower, "VBUS Watt[W]", false, 70, 37, Right, kRepeats, kNotInCsv,
     [](const CCCPacket& p, bool invert) {
         if (!HasReading(p)) return std::string();
         return Units("%1.3f", Amps(p.snapVbusCurrent, invert) * float(p.snapVbusVoltage) / 1000.0f);
     },
     [](const CCCPacket& p) -> int64_t {
         return HasReading(p) ? int64_t(p.snapVbusCurrent) * p.snapVbusVoltage : -1;
     }},
};

namespace {

constexpr bool ColumnsInIdOrder() {
    for (int id = 0; id < kColumnCount; ++id)
        // Function pointers are left out: the sanitizer builds cannot compare them while compiling.
        if (kColumns[id].id != id || !kColumns[id].header) return false;
    return true;
}
static_assert(ColumnsInIdOrder());

} // namespace

ColumnLayout ColumnLayout::Defaults() {
    ColumnLayout l{};
    for (int i = 0; i < kColumnCount; ++i) {
        l.visible[i] = kColumns[i].visible;
        l.position[i] = kColumns[i].position;
    }
    return l;
}

int ColumnIdFromName(const std::string& name) {
    for (int i = 0; i < kColumnCount; ++i)
        if (name == kColumns[i].header) return i;
    if (name.empty() || name.size() > 2) return -1;
    for (char c : name)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    const int id = std::stoi(name);
    return id < kColumnCount ? id : -1;
}

std::string CCCPacket::GetColumnText(int column, bool invertCurrent) const {
    return column >= 0 && column < kColumnCount ? kColumns[column].text(*this, invertCurrent) : std::string();
}

int64_t CCCPacket::GetColumnSortKey(int column) const {
    if (column < 0 || column >= kColumnCount || !kColumns[column].sortKey) return -1;
    return kColumns[column].sortKey(*this);
}

std::string FormatTimeText(int64_t t) {
    const char sign = t < 0 ? '-' : ' ';
    // In unsigned arithmetic |INT64_MIN| fits too: a time no capture holds is still written as it is.
    const uint64_t a = t < 0 ? uint64_t(0) - uint64_t(t) : uint64_t(t);
    const uint64_t s = a / 1000000;
    const long long hours = static_cast<long long>(s / 3600);
    const int minutes = int((s / 60) % 60);
    const int seconds = int(s % 60);
    const int ms = int(a % 1000000 / 1000);
    const int us = int(a % 1000);
    if (hours != 0) return Sprintf("%c%lldh %2dmin %2ds %03dms %03dus", sign, hours, minutes, seconds, ms, us);
    if (minutes != 0) return Sprintf("%c%2dmin %2ds %03dms %03dus", sign, minutes, seconds, ms, us);
    return Sprintf("%c%2ds %3dms %3dus", sign, seconds, ms, us);
}

int CCCPacket::FindColumnText(const std::string& text, bool invertCurrent) const {
    auto upper = [](std::string s) {
        for (char& c : s) c = char(std::towupper(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string needle = upper(text);
    for (int column = 0; column < kColumnCount; ++column) {
        const std::string cell = GetColumnText(column, invertCurrent);
        if (cell.empty()) continue;
        if (upper(cell).find(needle) != std::string::npos) return column;
    }
    return -1;
}

std::string GetCsvCells(const CCCPacket& p, const ColumnLayout& layout, bool onlyVisible, bool invertCurrent) {
    std::string cells;
    for (int position = 0; position < kColumnCount; ++position)
        for (int id = 0; id < kColumnCount; ++id) {
            if (layout.position[id] != position || (onlyVisible && !layout.visible[id])) continue;
            if (!kColumns[id].inCsv) continue;
            cells += ",\"" + p.GetColumnText(id, invertCurrent) + "\"";
        }
    return cells;
}
