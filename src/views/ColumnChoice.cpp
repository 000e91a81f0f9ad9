#include "ColumnChoice.h"

#include <algorithm>

// clang-format off
const char* const kColumnDescriptions[kColumnCount] = {
    "Packet Number",
    "Idle Time",
    "Timestamp",
    "Packet Length [us]",
    "VBUS Voltage [V]",
    "VBUS Current [A]",
    "Channel",
    "Ordered Set",
    "Port Power Role",
    "Port Data Role",
    "Cable Plug",
    "Message Type",
    "MessageID",
    "Specification Revision",
    "Number of Data Objects",
    "Extended",
    "Extended Message Header (Extended=1)",
    "Extended Chunked (Extended=1)",
    "Extended Chunk Number (Extended=1)",
    "Extended Request Chunk (Extended=1)",
    "Extended Data Size (Extended=1)",
    "Description",
    "Message Size",
    "Message Header",
    "Data Objects (Extended=0) or Extended Data Bytes (Extended=1)",
    "Data Payload",
    "CRC",
    "Number of CC Edges",
    "CC1 Voltage [V]",
    "CC1 Current [A]",
    "CC2 Voltage [V]",
    "CC2 Current [A]",
    "BMC",
    "Preamble Length [bits]",
    "Average Unit Interval [us]",
    "PD Message Bytes (HEX)",
    "PD Message Bytes (ASCII)",
    "VBUS Wattage [W]",
};
// clang-format on

namespace {

// Ids by position 0..37, those of one position in id order; ids at no such position after them.
std::vector<int32_t> OrderByPosition(const std::array<ColumnRecord, kColumnCount>& columns) {
    std::vector<int32_t> order;
    order.reserve(kColumnCount);
    for (int32_t position = 0; position < kColumnCount; ++position)
        for (int32_t id = 0; id < kColumnCount; ++id)
            if (columns[size_t(id)].position == position) order.push_back(id);
    // A stored position out of range would otherwise lose its column from the dialog.
    for (int32_t id = 0; id < kColumnCount; ++id) {
        const int32_t position = columns[size_t(id)].position;
        if (position < 0 || position >= kColumnCount) order.push_back(id);
    }
    return order;
}

} // namespace

ColumnChoice ColumnChoice::From(const std::array<ColumnRecord, kColumnCount>& columns) {
    ColumnChoice c;
    for (size_t id = 0; id < size_t(kColumnCount); ++id) {
        c.show[id] = columns[id].visible;
        c.width[id] = columns[id].width;
    }
    c.show[kColumnNumber] = true;
    c.order = OrderByPosition(columns);
    return c;
}

void ColumnChoice::Regroup() {
    std::stable_partition(order.begin(), order.end(), [this](int32_t id) { return show[size_t(id)]; });
}

void ColumnChoice::MoveUp() {
    size_t first = 0;
    while (first < order.size() && !RowSelected(first)) ++first;
    if (first == order.size()) return;
    const size_t from = first == 0 ? 0 : first - 1;
    // Rows before `from` stay; from there on the selected rows go before the others.
    std::stable_partition(order.begin() + std::ptrdiff_t(from), order.end(),
                          [this](int32_t id) { return selected[size_t(id)]; });
}

void ColumnChoice::MoveDown() {
    size_t last = order.size();
    while (last > 0 && !RowSelected(last - 1)) --last;
    if (last == 0) return;
    const size_t i = last - 1;
    std::vector<int32_t> moved;
    moved.reserve(order.size());
    for (size_t r = 0; r < i; ++r)
        if (!RowSelected(r)) moved.push_back(order[r]);
    if (i + 1 < order.size()) moved.push_back(order[i + 1]);
    for (size_t r = 0; r <= i; ++r)
        if (RowSelected(r)) moved.push_back(order[r]);
    for (size_t r = i + 2; r < order.size(); ++r) moved.push_back(order[r]);
    order = std::move(moved);
}

void ColumnChoice::ShowSelected(bool on) {
    for (size_t id = 0; id < size_t(kColumnCount); ++id)
        if (selected[id]) show[id] = on;
}

void ColumnChoice::LoadDefaults() {
    const auto defaults = SettingsValues::DefaultColumns();
    for (size_t id = 0; id < size_t(kColumnCount); ++id) {
        show[id] = defaults[id].visible;
        width[id] = defaults[id].width;
    }
    order = OrderByPosition(defaults);
}

void ColumnChoice::WriteTo(std::array<ColumnRecord, kColumnCount>& columns) const {
    int32_t position = 0;
    for (const bool shown : {true, false})
        for (const int32_t id : order) {
            if (show[size_t(id)] != shown) continue;
            columns[size_t(id)].visible = shown;
            columns[size_t(id)].position = position++;
        }
}
