#include "PacketTexts.h"

#include "CCPacket.h"
#include "CaptureStore.h"
#include "PDField.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cwctype>

// clang-format off
const ColumnDefault kColumnDefaults[kColumnCount] = {
    {"#", true, 50, 0, true},
    {"Idle Time", false, 120, 1, true},
    {"Timestamp", true, 120, 2, true},
    {"Pkt Len[us]", false, 70, 3, true},
    {"VBUS Vol[V]", false, 70, 4, true},
    {"VBUS Curr[A]", false, 70, 5, true},
    {"CH", true, 40, 10, true},
    {"OS", true, 80, 11, true},
    {"Power", true, 60, 12, false},
    {"Data", true, 60, 13, false},
    {"Cable Plug", true, 80, 14, false},
    {"Type", true, 150, 15, false},
    {"Mes ID", true, 60, 16, true},
    {"Rev.", false, 40, 17, false},
    {"NumDOs", false, 60, 18, true},
    {"Extended", false, 40, 19, true},
    {"Ex Header", false, 60, 27, false},
    {"Ex Chunked", false, 40, 20, false},
    {"Ex Chunk Num", false, 40, 21, false},
    {"Ex Request Chunk", false, 40, 22, false},
    {"Ex Data Size", false, 60, 23, false},
    {"Description", true, 300, 24, false},
    {"Message Size", false, 60, 25, true},
    {"Header", false, 60, 26, true},
    {"Data Objects or Ex Data", false, 200, 28, false},
    {"Payload", false, 200, 34, false},
    {"CRC", false, 80, 29, true},
    {"Edges", false, 60, 30, true},
    {"CC1 Vol[V]", false, 70, 6, true},
    {"CC1 Curr[A]", false, 70, 7, true},
    {"CC2 Vol[V]", false, 70, 8, true},
    {"CC2 Cur[A]", false, 70, 9, true},
    {"BMC", false, 200, 33, false},
    {"Preamble Len", false, 80, 32, false},
    {"Ave.UI[us]", false, 80, 31, false},
    {"Message Bytes (HEX)", false, 190, 35, false},
    {"Message Bytes (ASCII)", false, 190, 36, false},
    {"VBUS Watt[W]", false, 70, 37, true},
};
// clang-format on

ColumnLayout ColumnLayout::Defaults() {
    ColumnLayout l{};
    for (int i = 0; i < kColumnCount; ++i) {
        l.visible[i] = kColumnDefaults[i].visible;
        l.position[i] = kColumnDefaults[i].position;
    }
    return l;
}

int ColumnIdFromName(const std::string& name) {
    for (int i = 0; i < kColumnCount; ++i)
        if (name == kColumnDefaults[i].header) return i;
    if (name.empty() || name.size() > 2) return -1;
    for (char c : name)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    const int id = std::stoi(name);
    return id < kColumnCount ? id : -1;
}

namespace {

bool IsRev30(const CCCPacket& p) { return (p.Header() >> 7) & 1; }

// The bytes of an extended message's data that this packet holds, as "%02X" joined by "-" and "h".
std::string ExtendedDataText(const CCCPacket& p) {
    const int size = p.ExtendedHeader() & 0x1FF;
    if (size == 0) return {};
    int available = p.messageByteCount < 4 ? 0 : p.messageByteCount - 4;
    if ((p.ExtendedHeader() >> 15) & 1) available = std::min(available, 4 * p.DataObjectCount() - 2);
    const int n = std::max(0, std::min(size, available));
    std::string text;
    for (int i = 0; i < n; ++i) text += Sprintf(i ? "-%02X" : "%02X", p.messageBytes[4 + i]);
    return text + "h";
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

bool HasReading(const CCCPacket& p) {
    if (!p.hasSnapshot && p.store) p.store->EnsureSnapshot(p);
    return p.hasSnapshot;
}

bool UiOutOfRange(float ui) { return ui < 3.03 || ui > 3.7; }

} // namespace

std::string FormatTimeText(int64_t t) {
    const char sign = t < 0 ? '-' : ' ';
    // |INT64_MIN| does not fit; such a time is no real capture time anyway.
    const uint64_t a = t < 0 ? uint64_t(0) - uint64_t(t) : uint64_t(t);
    const uint64_t v = a * 1000;
    const uint64_t s = v / 1000000000;
    const int hours = int(s / 3600);
    const int minutes = int((s / 60) % 60);
    const int seconds = int(s % 60);
    const int ms = int((v - s * 1000000000) / 1000000);
    const int us = int((v % 1000000) / 1000);
    if (hours != 0) return Sprintf("%c%dh %2dmin %2ds %03dms %03dus", sign, hours, minutes, seconds, ms, us);
    if (minutes != 0) return Sprintf("%c%2dmin %2ds %03dms %03dus", sign, minutes, seconds, ms, us);
    return Sprintf("%c%2ds %3dms %3dus", sign, seconds, ms, us);
}

std::string CCCPacket::GetColumnText(int column, bool invert) const {
    const bool pre = preambleFound;
    const bool good = preambleFound && crcGood;
    const bool message = IsMessageKind(kind);
    const uint16_t h = Header();
    const auto amps = [invert](int16_t mA) { return invert ? -float(mA) : float(mA); };
    switch (column) {
    case 0: return Sprintf("%d", index);
    case 1: return FormatTimeText(idleTime);
    case 2: return FormatTimeText(startTime - (store ? store->timeOrigin : 0));
    case 3: return Sprintf("%d", LengthMicros());
    case 4: return HasReading(*this) ? Sprintf("%2.2f", double(float(snapVbusVoltage) / 1000.0f)) : "";
    case 5: return HasReading(*this) ? Sprintf("%1.3f", double(amps(snapVbusCurrent) / 1000.0f)) : "";
    case 6: return Sprintf("CC%d", channel + 1);
    case 7:
        if (!pre) return {};
        switch (kind) {
        case kKindSop: return "SOP";
        case kKindSopPrime: return "SOP'";
        case kKindSopDoublePrime: return "SOP''";
        case kKindHardReset: return "Hard Reset";
        case kKindCableReset: return "Cable Reset";
        default: return "Invalid";
        }
    case 8: return good && kind == kKindSop ? ((h >> 8) & 1 ? "Source" : "Sink") : "";
    case 9: return good && kind == kKindSop ? ((h >> 5) & 1 ? "DFP" : "UFP") : "";
    case 10:
        if (!good || (kind != kKindSopPrime && kind != kKindSopDoublePrime)) return {};
        return (h >> 8) & 1 ? "Cable Plug" : "UFP or DFP";
    case 11: return good ? GetMessageTypeText() : "";
    case 12: return good ? Sprintf("%d", (h >> 9) & 7) : "";
    case 13: return good ? GetRevisionText() : "";
    case 14: return good ? Sprintf("%d", (h >> 12) & 7) : "";
    case 15: return good && IsRev30(*this) ? Sprintf("%d", (h >> 15) & 1) : "";
    case 16: return good && IsExtendedMessage() ? Sprintf("%04Xh", ExtendedHeader()) : "";
    case 17: return good && IsExtendedMessage() ? Sprintf("%d", (ExtendedHeader() >> 15) & 1) : "";
    case 18: return good && IsExtendedMessage() ? Sprintf("%d", (ExtendedHeader() >> 11) & 0x0F) : "";
    case 19: return good && IsExtendedMessage() ? Sprintf("%d", (ExtendedHeader() >> 10) & 1) : "";
    case 20: return good && IsExtendedMessage() ? Sprintf("%d", ExtendedHeader() & 0x1FF) : "";
    case 21: return good ? GetDescriptionText() : "";
    case 22: return pre ? Sprintf("%d", messageByteCount) : "";
    case 23: return good ? Sprintf("%04Xh", h) : "";
    case 24: {
        if (!good) return {};
        if (IsExtendedMessage()) return ExtendedDataText(*this);
        std::string text;
        for (int n = 1; n <= DataObjectCount(); ++n) text += Sprintf("[%d]:%08Xh ", n, DataObject(n));
        return text;
    }
    case 25: return pre ? SymbolText(*this) : "";
    case 26:
        if (!pre) return {};
        if (!message) return "-";
        return Sprintf("%08Xh", receivedCrc) + (crcGood ? "" : "(Bad)");
    case 27: return Sprintf("%d", intervalCount);
    case 28: return HasReading(*this) ? Sprintf("%1.2f", double(float(snapCc1Voltage) / 1000.0f)) : "";
    case 29: return HasReading(*this) ? Sprintf("%1.3f", double(amps(snapCc1Current) / 1000.0f)) : "";
    case 30: return HasReading(*this) ? Sprintf("%1.2f", double(float(snapCc2Voltage) / 1000.0f)) : "";
    case 31: return HasReading(*this) ? Sprintf("%1.3f", double(amps(snapCc2Current) / 1000.0f)) : "";
    case 32: {
        std::string text;
        text.reserve(size_t(bitCount) + 16);
        for (int32_t i = 0; i < bitCount; ++i) {
            if (bits[i] <= 9)
                text += char('0' + bits[i]);
            else
                text += Sprintf("%d", bits[i]);
        }
        return text + Sprintf(" (%dbits)", bitCount);
    }
    case 33: return Sprintf("%d", preambleLength);
    case 34: return Sprintf("%.3f", double(unitInterval)) + (UiOutOfRange(unitInterval) ? "(Bad)" : "");
    case 35: {
        if (!message) return {};
        std::string text;
        for (int32_t i = 0; i < messageByteCount; ++i) text += Sprintf(i ? " %02X" : "%02X", messageBytes[i]);
        return text;
    }
    case 36: {
        if (!message) return {};
        std::string text;
        for (int32_t i = 0; i < messageByteCount; ++i) {
            const uint8_t b = messageBytes[i];
            text += (b >= 0x20 && b <= 0x7E) ? char(b) : '.';
        }
        return text;
    }
    case 37:
        return HasReading(*this)
                   ? Sprintf("%1.3f", double(amps(snapVbusCurrent) * float(snapVbusVoltage) / 1000.0f / 1000.0f))
                   : "";
    default: return {};
    }
}

int64_t CCCPacket::GetColumnSortKey(int column) const {
    const uint16_t h = Header();
    switch (column) {
    case 0: return index;
    case 1: return idleTime;
    case 2: return startTime;
    case 3: return LengthMicros();
    case 4: return HasReading(*this) ? snapVbusVoltage : -1;
    case 5: return HasReading(*this) ? snapVbusCurrent : -1;
    case 6: return channel;
    case 7: return kind;
    case 12: return crcGood ? (h >> 9) & 7 : -1;
    case 14: return crcGood ? (h >> 12) & 7 : -1;
    case 15: return crcGood && IsRev30(*this) ? (h >> 15) & 1 : -1;
    case 22: return crcGood ? messageByteCount : -1;
    case 23: return crcGood ? h : -1;
    case 26: return receivedCrc;
    case 27: return intervalCount;
    case 28: return HasReading(*this) ? snapCc1Voltage : -1;
    case 29: return HasReading(*this) ? snapCc1Current : -1;
    case 30: return HasReading(*this) ? snapCc2Voltage : -1;
    case 31: return HasReading(*this) ? snapCc2Current : -1;
    case 37: return HasReading(*this) ? int64_t(snapVbusCurrent) * snapVbusVoltage : -1;
    default: return -1;
    }
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
            if (id == 4 || id == 5 || (id >= 28 && id <= 31) || id == 37) continue; // the export writes these itself
            cells += ",\"" + p.GetColumnText(id, invertCurrent) + "\"";
        }
    return cells;
}
