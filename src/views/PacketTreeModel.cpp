#include "PacketTreeModel.h"

#include "CCPacket.h"
#include "MessageHeaderWord.h"
#include "MessageTypes.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Format(const char* format, auto... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

int32_t AddItem(std::vector<PacketTreeItem>& items, std::string text, uint32_t value, int32_t parent) {
    PacketTreeItem item;
    item.text = std::move(text);
    item.value = value;
    item.parent = parent;
    items.push_back(std::move(item));
    return int32_t(items.size() - 1);
}

// Lines of 16 bytes: "+%03Xh : " with the offset, the bytes as "%02X", then "h".
template <typename ByteAt>
void AddLines(std::vector<PacketTreeItem>& items, int32_t parent, uint32_t value, int32_t count,
              ByteAt byteAt) {
    for (int32_t offset = 0; offset < count; offset += 16) {
        std::string line = Format("+%03Xh : ", unsigned(offset));
        for (int32_t i = offset; i < std::min(count, offset + 16); ++i)
            line += Format("%02X", unsigned(byteAt(i)));
        line += "h";
        AddItem(items, std::move(line), value + uint32_t(offset), parent);
    }
}

// A data-block byte; bytes the packet cannot read show as FFh, as in the field table.
uint8_t BlockByte(const CCCPacket& p, int32_t i) {
    return i < p.ExtDataReadable() ? p.extData[i] : 0xFF;
}

std::string NotReceived(std::string label) {
    return label + kNotReceivedText;
}

int32_t DataSizeField(const CCCPacket& p) {
    return p.DataSizeField();
}

// EPR capabilities blocks are power data objects, one item each.
bool HoldsPowerObjects(uint16_t header) {
    const MessageTypeInfo* m = FindMessageType(MessageFamily::Extended, MessageHeaderWord{header}.TypeField());
    return m && (m->id == MessageTypeId::EprSourceCapabilities || m->id == MessageTypeId::EprSinkCapabilities);
}

} // namespace

std::vector<PacketTreeItem> CPacketTreeModel::BuildItems(const CCCPacket& p) {
    std::vector<PacketTreeItem> items;
    const int32_t packetItem = AddItem(items, Format("Packet #%d", p.index), kItemPacket, -1);
    if (p.kind != kKindSop && p.kind != kKindSopPrime && p.kind != kKindSopDoublePrime) return items;

    // Only what came is read, as the field table reads it; a header that never came tells nothing more.
    const uint16_t header = p.Header();
    const bool headerCame = p.messageByteCount >= 2;
    const int32_t headerItem = AddItem(
        items, headerCame ? Format("Message Header=%04Xh", unsigned(header)) : NotReceived("Message Header="),
        kItemMessageHeader, packetItem);
    items[size_t(headerItem)].selected = true;
    // Scrolling the header into view opens its parent.
    items[size_t(packetItem)].expanded = true;
    if (!headerCame) return items;

    if (p.IsExtendedMessage()) {
        const bool extendedHeaderCame = p.messageByteCount >= 4;
        AddItem(items,
                extendedHeaderCame ? Format("Extended Message Header=%04Xh", unsigned(p.ExtendedHeader()))
                                   : NotReceived("Extended Message Header="),
                kItemExtendedHeader, packetItem);
        if (const int32_t dataSize = DataSizeField(p); extendedHeaderCame && dataSize != 0) {
            const int32_t available = p.messageByteCount < 4 ? 0 : p.messageByteCount - 4;
            const int32_t n = std::min({dataSize, available, kMessageBytesCapacity - 4});
            const int32_t dataItem =
                AddItem(items, Format("Extended Data (%dbytes)", n), kItemExtendedData, packetItem);
            items[size_t(dataItem)].expanded = true;
            AddLines(items, dataItem, kItemExtendedData, n,
                     [&p](int32_t i) { return p.messageBytes[4 + i]; });
        }
    } else {
        for (int n = 1; n <= p.DataObjectCount(); ++n)
            AddItem(items,
                    2 + 4 * n <= p.messageByteCount
                        ? Format("Data Object [%d] = %08Xh", n, unsigned(p.DataObject(n)))
                        : NotReceived(Format("Data Object [%d] = ", n)),
                    kItemDataObject + uint32_t(n - 1) * 0x10000, packetItem);
    }

    if (p.extData && p.extDataSize != 0) {
        const int32_t blockItem =
            AddItem(items, Format("Total Extended Data Block (%dbytes)", p.extDataSize), kItemDataBlock, -1);
        items[size_t(blockItem)].expanded = true;
        if (HoldsPowerObjects(header)) {
            for (int32_t n = 1; n <= p.extDataSize / 4; ++n) {
                uint32_t word = 0;
                for (int32_t b = 0; b < 4; ++b) word |= uint32_t(BlockByte(p, 4 * (n - 1) + b)) << (8 * b);
                AddItem(items, Format("Data Object [%d] = %08Xh", n, unsigned(word)),
                        kItemBlockDataObject + uint32_t(n - 1) * 0x10000, blockItem);
            }
        } else {
            AddLines(items, blockItem, kItemDataBlock, p.extDataSize,
                     [&p](int32_t i) { return BlockByte(p, i); });
        }
    }
    return items;
}

FieldRange CPacketTreeModel::RangeOfItem(const CCCPacket& p, uint32_t value) {
    const int32_t objectIndex = int32_t((value >> 16) & 0xFF);
    const int32_t ownBits = p.messageByteCount * 8;
    if (value & kItemPacket) return {false, 0, ownBits};
    if (value & kItemMessageHeader) return {false, 0, 16};
    if (value & kItemExtendedHeader) return {false, 16, 16};
    if (value & kItemExtendedData) return {false, 32, std::min(DataSizeField(p) * 8, ownBits - 32)};
    if (value & kItemDataBlock) {
        if (value & kItemDataObject) return {true, 32 * objectIndex, 32};
        return {true, 0, p.extDataSize * 8};
    }
    if (value & kItemDataObject) return {false, 16 + 32 * objectIndex, 32};
    return {false, 0, ownBits};
}

std::vector<PDFieldRow> CPacketTreeModel::BuildTableRows(const CCCPacket* packet, uint32_t value) {
    if (!packet) return {};
    const FieldRange range = RangeOfItem(*packet, value);
    return BuildFieldRows(*packet, range.blockView, range.start, range.length);
}

bool CPacketTreeModel::Update(const CCCPacket* selected) {
    if (selected == shownPacket) return false;
    items.clear();
    selectedItemValue = kItemNone;
    shownPacket = selected;
    if (!selected) return true;
    items = BuildItems(*selected);
    for (const PacketTreeItem& item : items)
        if (item.selected) selectedItemValue = item.value;
    return true;
}

void CPacketTreeModel::SelectItem(int32_t itemIndex) {
    const bool valid = itemIndex >= 0 && size_t(itemIndex) < items.size();
    for (size_t i = 0; i < items.size(); ++i) items[i].selected = valid && i == size_t(itemIndex);
    selectedItemValue = valid ? items[size_t(itemIndex)].value : kItemNone;
}
