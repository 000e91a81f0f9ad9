// Packet list texts: the 38 columns, their headers and defaults, sort keys, search and CSV cells.
#pragma once

#include <cstdint>
#include <string>

class CCCPacket;

constexpr int kColumnCount = 38;

struct ColumnDefault {
    const char* header;
    bool visible;
    int32_t width;
    int32_t position;
    bool numericSort; // sorted by GetColumnSortKey, otherwise by text
};

// Header, default visibility, width and display position, and sort kind of each column id.
extern const ColumnDefault kColumnDefaults[kColumnCount];

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
