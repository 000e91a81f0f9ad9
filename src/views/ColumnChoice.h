// The column settings' working copy of the column info and its order rules: which ids the packet list
// shows and in which order. No toolkit: the column settings dialog shows it as rows and calls these.
#pragma once

#include "PacketTexts.h"
#include "Settings.h"

#include <array>
#include <cstdint>
#include <vector>

// The longer description of each column id, as the column settings list it.
extern const char* const kColumnDescriptions[kColumnCount];

struct ColumnChoice {
    // Column ids in row order; every id once.
    std::vector<int32_t> order;
    // Per column id.
    std::array<bool, kColumnCount> show{};
    std::array<int32_t, kColumnCount> width{};
    // Per column id: its row was selected when the selection was last remembered.
    std::array<bool, kColumnCount> selected{};

    // From the column info: visibility and widths as stored but column id 0 always shown, nothing
    // selected, ids by stored position (ids of one position in id order; an id whose position lies
    // outside 0..37 comes last).
    static ColumnChoice From(const std::array<ColumnRecord, kColumnCount>& columns);

    // Shown ids first, hidden ids after them, each group keeping its order. Every row rebuild runs it.
    void Regroup();
    // The selected rows move up to start just above the first of them; nothing without a selection.
    void MoveUp();
    // The selected rows move down past the row after the last of them; nothing without a selection.
    void MoveDown();
    // Every selected id shown (or hidden).
    void ShowSelected(bool on);
    // Visibility, widths and order of the default column info; the selection stays.
    void LoadDefaults();
    // Visibility of every id, and positions anew: shown ids in row order from 0, then the hidden ones.
    // Widths are left as they are.
    void WriteTo(std::array<ColumnRecord, kColumnCount>& columns) const;

    // Whether the id in this row of `order` is selected.
    bool RowSelected(size_t row) const { return selected[size_t(order[row])]; }
};
