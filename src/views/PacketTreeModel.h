// The tree of the selected packet as plain data, the choice of item in it, and the field-table rows
// for that choice. The tree and field table views only mirror this.
#pragma once

#include "FieldTable.h"

#include <cstdint>
#include <string>
#include <vector>

class CCCPacket;

// Item values: the kind of item in the high byte, the object number − 1 in bits 16..23, the line
// offset in the low bits.
enum : uint32_t {
    kItemNone = 0,
    kItemPacket = 0x01000000,
    kItemMessageHeader = 0x02000000,
    kItemDataObject = 0x04000000,
    kItemExtendedHeader = 0x08000000,
    kItemExtendedData = 0x10000000,
    kItemDataBlock = 0x20000000,
    kItemBlockDataObject = 0x24000000,
};

struct PacketTreeItem {
    std::string text;
    uint32_t value = 0;
    int32_t parent = -1; // index of the parent item in the list; -1 for a top-level item
    bool expanded = false;
    bool selected = false;
};

// The view and bit range that the field table shows for an item value.
struct FieldRange {
    bool blockView = false;
    int32_t start = 0;
    int32_t length = 0;
};

class CPacketTreeModel {
public:
    // The items of a packet's tree in insertion order (parents before their children, siblings in
    // order). The message header item, when there is one, is selected; the packet item is expanded
    // when it has children.
    static std::vector<PacketTreeItem> BuildItems(const CCCPacket& packet);
    // The view and range of an item value; 0 stands for the whole packet.
    static FieldRange RangeOfItem(const CCCPacket& packet, uint32_t itemValue);
    // The field-table rows for a packet and item value; none without a packet.
    static std::vector<PDFieldRow> BuildTableRows(const CCCPacket* packet, uint32_t itemValue);

    // Tree rebuild on a document update, with the packet list's selected packet (null for none).
    // Returns false, leaving items and choice alone, when that packet is already shown.
    bool Update(const CCCPacket* selected);
    // The user selected another item (-1 for none): its value becomes the choice.
    void SelectItem(int32_t itemIndex);
    // Table rebuild for the list's selected packet and the current choice.
    std::vector<PDFieldRow> TableRows(const CCCPacket* selected) const {
        return BuildTableRows(selected, selectedItemValue);
    }

    const CCCPacket* ShownPacket() const { return shownPacket; }
    uint32_t SelectedItemValue() const { return selectedItemValue; }
    const std::vector<PacketTreeItem>& Items() const { return items; }

private:
    const CCCPacket* shownPacket = nullptr;
    uint32_t selectedItemValue = kItemNone;
    std::vector<PacketTreeItem> items;
};
