// qxtool's text listings of a decoded record file: chosen packet-list columns and field-table rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;

// Column ids from a comma-separated list of ids or header names; "default" stands for the columns
// shown by default, in their default order. False, with the offending name, for an unknown column.
bool ParseColumnList(const std::string& list, std::vector<int>* ids, std::string* unknown);

// One header line of column titles, then one line per packet, tab-separated.
void PrintColumns(const CCaptureStore& store, const std::vector<int>& ids, bool invertCurrent);

// The field-table rows of packet `index`: the whole message (own data) or the whole data block, or the
// given range. False with a message when the packet or range does not exist.
bool PrintFields(const CCaptureStore& store, int64_t index, bool blockView, const std::string& range,
                 std::string* error);
