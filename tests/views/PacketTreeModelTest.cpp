#include "PacketTreeModel.h"
#include "CaptureStore.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Text, value, parent, expanded, selected of every item, for whole-tree comparisons.
struct Item {
    std::string text;
    uint32_t value;
    int32_t parent;
    bool expanded;
    bool selected;
    bool operator==(const Item&) const = default;
};

std::vector<Item> Flatten(const std::vector<PacketTreeItem>& items) {
    std::vector<Item> out;
    for (const PacketTreeItem& i : items) out.push_back({i.text, i.value, i.parent, i.expanded, i.selected});
    return out;
}

std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << "{\"" << i.text << "\", " << std::hex << i.value << std::dec << ", " << i.parent << ", "
              << i.expanded << ", " << i.selected << "}";
}

// The first chunk of a chunked extended message: 30 message bytes (header, extended header, 26 data
// bytes), Data Size 40, with the joined 40-byte data block.
struct ChunkedExtended {
    std::shared_ptr<uint8_t[]> block{new uint8_t[40]};
    CCCPacket p;
    explicit ChunkedExtended(int type) {
        traffic::Header h;
        h.type = type;
        h.objects = 7;
        h.extended = true;
        const uint16_t header = h.Word();
        const uint16_t ext = 0x8000 | 40; // chunked, chunk 0, Data Size 40
        p.index = 12;
        p.kind = kKindSop;
        p.preambleFound = p.hasCrc = p.crcGood = p.eopFound = true;
        p.messageBytes[0] = uint8_t(header);
        p.messageBytes[1] = uint8_t(header >> 8);
        p.messageBytes[2] = uint8_t(ext);
        p.messageBytes[3] = uint8_t(ext >> 8);
        for (int i = 0; i < 26; ++i) p.messageBytes[4 + i] = uint8_t(0xA0 + i);
        p.messageByteCount = 30;
        for (int i = 0; i < 40; ++i) block[i] = uint8_t(i);
        p.extBuffer = block;
        p.extData = block.get();
        p.extDataSize = 40;
        p.extChunkLength = 26;
    }
};

} // namespace

TEST(PacketTreeModel, KindsWithoutMessageShowOnlyThePacket) {
    for (int32_t kind : {kKindHardReset, kKindCableReset, kKindSopPrimeDebug, kKindSopDoublePrimeDebug,
                         kKindNotDecoded, kKindUnknown}) {
        CCCPacket p;
        p.index = 41;
        p.kind = kind;
        if (IsMessageKind(kind)) { // a debug message with a header and one object
            const uint8_t bytes[] = {0x41, 0x10, 1, 2, 3, 4};
            std::memcpy(p.messageBytes, bytes, sizeof bytes);
            p.messageByteCount = 6;
        }
        CPacketTreeModel model;
        ASSERT_TRUE(model.Update(&p));
        EXPECT_EQ(Flatten(model.Items()), (std::vector<Item>{{"Packet #41", kItemPacket, -1, false, false}}))
            << kind;
        EXPECT_EQ(model.SelectedItemValue(), kItemNone);
        EXPECT_TRUE(model.TableRows(&p).empty()) << kind;
    }
}

TEST(PacketTreeModel, NoSelectionMeansEmptyViews) {
    CPacketTreeModel model;
    EXPECT_FALSE(model.Update(nullptr)) << "nothing shown at construction either";
    EXPECT_TRUE(model.Items().empty());
    EXPECT_TRUE(model.TableRows(nullptr).empty());
}

TEST(PacketTreeModel, SourceCapabilitiesWithThreeObjects) {
    traffic::Session s;
    traffic::Header h;
    h.type = 1;
    h.source = true;
    const uint32_t pdos[] = {0x0801912C, 0x0002D12C, 0x0003C0C8};
    s.Send(h, {pdos[0], pdos[1], pdos[2]});
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 1u);
    const CCCPacket& p = *store.PacketAt(0);
    const uint16_t header = p.Header();
    ASSERT_EQ(header, 0x3000 | 0x0100 | 0x0080 | 1);

    CPacketTreeModel model;
    ASSERT_TRUE(model.Update(&p));
    const std::vector<Item> expected = {
        {"Packet #" + std::to_string(p.index), kItemPacket, -1, true, false},
        {"Message Header=3181h", kItemMessageHeader, 0, false, true},
        {"Data Object [1] = 0801912Ch", 0x04000000, 0, false, false},
        {"Data Object [2] = 0002D12Ch", 0x04010000, 0, false, false},
        {"Data Object [3] = 0003C0C8h", 0x04020000, 0, false, false},
    };
    EXPECT_EQ(Flatten(model.Items()), expected);
    EXPECT_EQ(model.SelectedItemValue(), kItemMessageHeader);
    EXPECT_EQ(model.TableRows(&p), BuildFieldRows(p, false, 0, 16));
    ASSERT_FALSE(model.TableRows(&p).empty());

    model.SelectItem(3); // the second object
    EXPECT_EQ(model.SelectedItemValue(), 0x04010000u);
    EXPECT_TRUE(model.Items()[3].selected && !model.Items()[1].selected);
    const std::vector<PDFieldRow> rows = model.TableRows(&p);
    EXPECT_EQ(rows, BuildFieldRows(p, false, 48, 32));
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(rows.back()[0].substr(rows.back()[0].find("..") + 2), "31")
        << "offsets from the object's bit 0";

    // The same packet again keeps the user's choice; another packet starts over at its header.
    EXPECT_FALSE(model.Update(&p));
    EXPECT_EQ(model.SelectedItemValue(), 0x04010000u);
    CCCPacket other;
    other.kind = kKindHardReset;
    EXPECT_TRUE(model.Update(&other));
    EXPECT_EQ(model.SelectedItemValue(), kItemNone);
    EXPECT_TRUE(model.Update(&p));
    EXPECT_EQ(model.SelectedItemValue(), kItemMessageHeader);
    model.SelectItem(-1);
    EXPECT_EQ(model.SelectedItemValue(), kItemNone);
    EXPECT_EQ(model.TableRows(&p), BuildFieldRows(p, false, 0, 16 + 3 * 32)) << "no item: the whole packet";
    EXPECT_TRUE(model.Update(nullptr));
    EXPECT_TRUE(model.Items().empty());
}

TEST(PacketTreeModel, ChunkedExtendedMessageWithDataBlock) {
    ChunkedExtended m(7); // Manufacturer_Info
    const uint16_t header = m.p.Header();
    char headerText[32];
    std::snprintf(headerText, sizeof headerText, "Message Header=%04Xh", unsigned(header));
    const std::vector<Item> expected = {
        {"Packet #12", kItemPacket, -1, true, false},
        {headerText, kItemMessageHeader, 0, false, true},
        {"Extended Message Header=8028h", kItemExtendedHeader, 0, false, false},
        {"Extended Data (26bytes)", kItemExtendedData, 0, true, false},
        {"+000h : A0A1A2A3A4A5A6A7A8A9AAABACADAEAFh", 0x10000000, 3, false, false},
        {"+010h : B0B1B2B3B4B5B6B7B8B9h", 0x10000010, 3, false, false},
        {"Total Extended Data Block (40bytes)", kItemDataBlock, -1, true, false},
        {"+000h : 000102030405060708090A0B0C0D0E0Fh", 0x20000000, 6, false, false},
        {"+010h : 101112131415161718191A1B1C1D1E1Fh", 0x20000010, 6, false, false},
        {"+020h : 2021222324252627h", 0x20000020, 6, false, false},
    };
    EXPECT_EQ(Flatten(CPacketTreeModel::BuildItems(m.p)), expected);

    // A line selects the range of its parent.
    for (uint32_t line : {0x10000000u, 0x10000010u})
        EXPECT_EQ(CPacketTreeModel::BuildTableRows(&m.p, line),
                  CPacketTreeModel::BuildTableRows(&m.p, kItemExtendedData));
    EXPECT_EQ(CPacketTreeModel::BuildTableRows(&m.p, kItemExtendedData), BuildFieldRows(m.p, false, 32, 208));
    EXPECT_EQ(CPacketTreeModel::BuildTableRows(&m.p, 0x20000020), BuildFieldRows(m.p, true, 0, 320));
}

TEST(PacketTreeModel, EprCapabilitiesBlockShowsObjects) {
    ChunkedExtended m(17); // EPR_Source_Capabilities
    const std::vector<PacketTreeItem> items = CPacketTreeModel::BuildItems(m.p);
    int32_t blockItem = -1;
    std::vector<const PacketTreeItem*> objects;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].value == kItemDataBlock) blockItem = int32_t(i);
        if (blockItem >= 0 && items[i].parent == blockItem) objects.push_back(&items[i]);
    }
    ASSERT_EQ(objects.size(), 10u);
    EXPECT_EQ(objects[2]->text, "Data Object [3] = 0B0A0908h");
    EXPECT_EQ(objects[2]->value, 0x24020000u);
    EXPECT_EQ(objects[9]->text, "Data Object [10] = 27262524h");

    const FieldRange range = CPacketTreeModel::RangeOfItem(m.p, objects[2]->value);
    EXPECT_TRUE(range.blockView);
    EXPECT_EQ(range.start, 64);
    EXPECT_EQ(range.length, 32);
    const std::vector<PDFieldRow> rows = CPacketTreeModel::BuildTableRows(&m.p, objects[2]->value);
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(rows, BuildFieldRows(m.p, true, 64, 32));
}

TEST(PacketTreeModel, RangeOfItemValues) {
    ChunkedExtended m(7);
    struct Case {
        uint32_t value;
        FieldRange range;
    };
    const Case cases[] = {
        {kItemNone, {false, 0, 240}},          {kItemPacket, {false, 0, 240}},
        {kItemMessageHeader, {false, 0, 16}},  {0x04000000, {false, 16, 32}},
        {0x04030000, {false, 112, 32}},        {kItemExtendedHeader, {false, 16, 16}},
        {kItemExtendedData, {false, 32, 208}}, {0x1000001F, {false, 32, 208}},
        {kItemDataBlock, {true, 0, 320}},      {0x20000010, {true, 0, 320}},
        {0x24000000, {true, 0, 32}},           {0x24040000, {true, 128, 32}},
    };
    for (const Case& c : cases) {
        const FieldRange r = CPacketTreeModel::RangeOfItem(m.p, c.value);
        EXPECT_EQ(r.blockView, c.range.blockView) << std::hex << c.value;
        EXPECT_EQ(r.start, c.range.start) << std::hex << c.value;
        EXPECT_EQ(r.length, c.range.length) << std::hex << c.value;
    }
    // Extended Data is cut to the bytes received when Data Size claims fewer.
    m.p.messageBytes[2] = 10;
    EXPECT_EQ(CPacketTreeModel::RangeOfItem(m.p, kItemExtendedData).length, 80);
}

// A damaged packet: the tree and the field table read the same received bytes, and what never arrived
// says so in both (not zeros in the tree and ones in the table). An object that the header announces
// but that never came is one row saying so, not an empty table.
TEST(PacketTreeModel, WhatWasNotReceivedSaysSo) {
    traffic::Session s;
    traffic::Header h;
    h.type = 1; // Source_Capabilities
    h.source = true;
    h.objects = 1;
    enc::FrameOptions cut;
    cut.appendEop = false; // no EOP: no message bytes at all
    s.Send(traffic::Bytes(h.Word(), {0x0801912C}), kKindSop, cut);
    h.objects = 7; // seven announced, two sent; the CRC covers what was sent
    s.Send(traffic::Bytes(h.Word(), {0x0801912C, 0x0002D12C}));
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 2u);
    const PDFieldRow notReceived = {"", "", "", "(Not Received)", "", "", ""};
    auto blankPlace = [](PDFieldRow r) {
        r[0] = r[1] = r[2] = "";
        return r;
    };

    const CCCPacket& truncated = *store.PacketAt(0);
    ASSERT_EQ(truncated.messageByteCount, 0);
    EXPECT_EQ(Flatten(CPacketTreeModel::BuildItems(truncated)),
              (std::vector<Item>{{"Packet #0", kItemPacket, -1, true, false},
                                 {"Message Header=(Not Received)", kItemMessageHeader, 0, false, true}}));
    const std::vector<PDFieldRow> header = CPacketTreeModel::BuildTableRows(&truncated, kItemMessageHeader);
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(header[0][2], "Message Type");
    for (const PDFieldRow& r : header) EXPECT_EQ(blankPlace(r), notReceived) << r[2];

    const CCCPacket& shortCaps = *store.PacketAt(1);
    ASSERT_TRUE(shortCaps.crcGood);
    ASSERT_EQ(shortCaps.messageByteCount, 10);
    const std::vector<Item> items = Flatten(CPacketTreeModel::BuildItems(shortCaps));
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[1].text, "Message Header=7181h");
    EXPECT_EQ(items[2].text, "Data Object [1] = 0801912Ch");
    EXPECT_EQ(items[3].text, "Data Object [2] = 0002D12Ch");
    EXPECT_FALSE(CPacketTreeModel::BuildTableRows(&shortCaps, items[3].value).empty());
    for (int n = 3; n <= 7; ++n) {
        const Item& item = items[size_t(n) + 1];
        EXPECT_EQ(item.text, "Data Object [" + std::to_string(n) + "] = (Not Received)");
        EXPECT_EQ(item.value, kItemDataObject + uint32_t(n - 1) * 0x10000);
        EXPECT_EQ(CPacketTreeModel::BuildTableRows(&shortCaps, item.value),
                  (std::vector<PDFieldRow>{
                      {"0..31", "32", "Data Object #" + std::to_string(n), "(Not Received)", "", "", ""}}));
    }
}
