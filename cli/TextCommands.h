// qxtool's text listings of a decoded record file: chosen packet-list columns and field-table rows.
#pragma once

#include "FieldTable.h"

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;

// Column ids from a comma-separated list of ids or header names; "all" stands for every column in id
// order, "default" for the columns shown by default, in their default order. False, with the offending
// name, for an unknown column.
bool ParseColumnList(const std::string& list, std::vector<int>* ids, std::string* unknown);

// One header line of column titles, then one line per packet, tab-separated.
void PrintColumns(const CCaptureStore& store, const std::vector<int>& ids, bool invertCurrent);

// A range of bits given as START:LENGTH; whole means none was given.
struct BitRange {
    bool whole = true;
    int32_t start = 0;
    int32_t length = 0;
};

// An empty text is the whole range. False when the text is not START:LENGTH with numbers up to 2^20.
bool ParseBitRange(const std::string& text, BitRange* range);

// The field-table rows of packet `index` (the whole message or data block, or the given range); false
// with a message when the packet or its data block does not exist.
bool FieldRowsOf(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                 std::vector<PDFieldRow>* rows, std::string* error);

// The field-table rows of packet `index`: the whole message (own data) or the whole data block, or the
// given range. False with a message when the packet or its data block does not exist.
bool PrintFields(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                 std::string* error);
