// The packet tree and field table panes around the packet list's selection: what the controls show,
// when the table is rebuilt, and that the tree's own selection changes do not count as the user's.
#include "GuiTest.h"

#include "FakeViewHost.h"
#include "PDPacketListView.h"
#include "PDPacketTreeView.h"
#include "PacketTreeModel.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/Traffic.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// One chunk of a chunked extended message: header, extended header, data padded to whole objects.
std::vector<uint8_t> Chunk(int type, int number, int size, const std::vector<uint8_t>& data,
                           bool request = false) {
    traffic::Header h;
    h.type = type;
    h.source = h.dfp = true;
    h.objects = (int(data.size()) + 2 + 3) / 4;
    h.extended = true;
    const uint16_t x = uint16_t(size | (request ? 0x400 : 0) | (number << 11) | 0x8000);
    std::vector<uint8_t> b = {uint8_t(h.Word()), uint8_t(h.Word() >> 8), uint8_t(x), uint8_t(x >> 8)};
    for (uint8_t v : data) b.push_back(v);
    while (b.size() < size_t(2 + 4 * h.objects)) b.push_back(0);
    return b;
}

std::vector<uint8_t> Range(int from, int count) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(uint8_t(0x30 + from + i));
    return v;
}

// The packets of the tests, decoded into the document's store.
enum Fixture : size_t {
    kSourceCaps = 0,       // Source_Capabilities with three PDOs
    kHardReset = 1,        // Hard Reset
    kManufacturerInfo = 2, // first chunk (30 bytes, Data Size 40) of a Manufacturer_Info, joined
    kEprSourceCaps = 5,    // first chunk of an EPR_Source_Capabilities with a 40-byte block
    kFixtureCount = 8,
};

void DecodeFixtures(CCaptureStore& store) {
    traffic::Session s;
    traffic::Header caps;
    caps.type = 1;
    caps.source = caps.dfp = true;
    s.Send(caps, {0x0801912C, 0x0002D12C, 0x0003C0C8});
    s.Send(traffic::Bytes(0), kKindHardReset);
    for (int type : {7, 17}) {
        s.Send(Chunk(type, 0, 40, Range(0, 26)));
        s.Send(Chunk(type, 0, 40, {}, true));
        s.Send(Chunk(type, 1, 40, Range(26, 14)));
    }
    s.DecodeInto(store);
}

// Text, value, parent (index in this list), expanded, selected of an item, in the model's order.
struct Shown {
    std::string text;
    uint32_t value;
    int32_t parent;
    bool expanded;
    bool selected;
    bool operator==(const Shown&) const = default;
};

std::string Describe(const std::vector<Shown>& items) {
    std::string s;
    char line[160];
    for (const Shown& i : items) {
        std::snprintf(line, sizeof line, "\n  {\"%s\", %08X, %d, %d, %d}", i.text.c_str(), unsigned(i.value),
                      int(i.parent), int(i.expanded), int(i.selected));
        s += line;
    }
    return s;
}

// The control's items in pre-order, which is the order the model lists them in.
std::vector<Shown> ShownByControl(const CPDPacketTreeView& tree) {
    std::vector<Shown> out;
    std::vector<std::pair<const QTreeWidgetItem*, int32_t>> stack;
    for (int i = tree.topLevelItemCount() - 1; i >= 0; --i) stack.push_back({tree.topLevelItem(i), -1});
    while (!stack.empty()) {
        const auto [item, parent] = stack.back();
        stack.pop_back();
        const int32_t self = int32_t(out.size());
        out.push_back({item->text(0).toStdString(), CPDPacketTreeView::ItemValue(item), parent,
                       item->isExpanded(), item->isSelected()});
        for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back({item->child(i), self});
    }
    return out;
}

std::vector<Shown> ShownByModel(const std::vector<PacketTreeItem>& items) {
    std::vector<Shown> out;
    for (const PacketTreeItem& i : items) out.push_back({i.text, i.value, i.parent, i.expanded, i.selected});
    return out;
}

std::vector<PDFieldRow> TableRows(const CPDPacketListView& table) {
    std::vector<PDFieldRow> rows(size_t(table.RowCount()));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) rows[r][c] = table.CellText(int(r), int(c));
    return rows;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", unsigned(value));
    return text;
}

// The main window's part: tree created before table, both given their initial update, the selection
// of the packet list played by `selected`. Counts how often the views ask for the selected packet: once
// for each tree rebuild and once for each table rebuild.
struct Panes {
    explicit Panes(const QFont* rememberedFont = nullptr) {
        if (rememberedFont) host.listFont = *rememberedFont;
        host.views = {&tree, &table};
        host.packetTree = &tree;
        host.fieldTable = &table;
        host.selectedPacket = [this] {
            ++selectionQueries;
            return selected;
        };
        fontsBefore = {tree.font(), table.font()};
        tree.OnInitialUpdate();
        table.OnInitialUpdate();
        DecodeFixtures(host.doc.store);
    }
    const CCCPacket* Packet(size_t i) { return host.doc.store.PacketAt(i); }
    // The packet list selects a packet (or none) and updates the document's views.
    void Select(const CCCPacket* p) {
        selected = p;
        host.UpdateAllViews(nullptr, 0);
    }
    int Queries() {
        const int n = selectionQueries;
        selectionQueries = 0;
        return n;
    }

    CFakeViewHost host;
    CPDPacketTreeView tree{host};
    CPDPacketListView table{host};
    const CCCPacket* selected = nullptr;
    int selectionQueries = 0;
    std::pair<QFont, QFont> fontsBefore;
};

} // namespace

class TreeViewsTest : public QObject {
    Q_OBJECT
private slots:
    void fixturesDecoded();
    void columnsAndStyles();
    void fonts();
    void selectedPacketShownWithHeaderChosen();
    void choosingAnItemRebuildsTheTable();
    void updateWithSameSelectionKeepsTheChoice();
    void everyItemOfAScenario();
};

void TreeViewsTest::fixturesDecoded() {
    CCaptureStore store;
    DecodeFixtures(store);
    QCOMPARE(store.PacketCount(), size_t(kFixtureCount));
    QCOMPARE(store.PacketAt(kSourceCaps)->DataObjectCount(), 3);
    QCOMPARE(store.PacketAt(kHardReset)->kind, kKindHardReset);
    for (size_t i : {size_t(kManufacturerInfo), size_t(kEprSourceCaps)}) {
        const CCCPacket& p = *store.PacketAt(i);
        QVERIFY(p.crcGood);
        QCOMPARE(p.messageByteCount, 30);
        QVERIFY(p.extData != nullptr);
        QCOMPARE(p.extDataSize, 40);
        QCOMPARE(p.ExtDataReadable(), 40); // the second chunk has been joined
    }
    QCOMPARE(store.PacketAt(kEprSourceCaps)->GetMessageTypeCode(), 17);
}

void TreeViewsTest::columnsAndStyles() {
    Panes panes;
    CPDPacketListView& table = panes.table;
    const char* titles[] = {"Offset [bits]", "Length [bits]", "Field name", "Value",
                            "Description",   "HEX",           "ASCII"};
    const int widths[] = {50, 50, 200, 200, 300, 100, 100};
    QCOMPARE(table.columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(table.horizontalHeaderItem(c)->text(), QString(titles[c]));
        // The given width, or wider where the title would be cut.
        QCOMPARE(table.columnWidth(c), std::max(widths[c], table.horizontalHeader()->sectionSizeHint(c)));
        QCOMPARE(table.horizontalHeaderItem(c)->textAlignment() & Qt::AlignHorizontal_Mask,
                 int(Qt::AlignLeft));
    }
    QCOMPARE(table.selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(table.showGrid());
    QVERIFY(table.horizontalHeader()->sectionsMovable());
    QVERIFY(table.verticalHeader()->isHidden());
    QCOMPARE(table.editTriggers(), QAbstractItemView::NoEditTriggers);

    // The columns are inserted once: a later initial update keeps what the user made of them.
    table.horizontalHeader()->moveSection(6, 0);
    table.setColumnWidth(2, 123);
    table.OnInitialUpdate();
    QCOMPARE(table.columnCount(), 7);
    QCOMPARE(table.horizontalHeader()->visualIndex(6), 0);
    QCOMPARE(table.columnWidth(2), 123);
    QCOMPARE(table.horizontalHeaderItem(6)->text(), QString("ASCII"));

    const CPDPacketTreeView& tree = panes.tree;
    QVERIFY(tree.isHeaderHidden());
    QVERIFY(tree.rootIsDecorated());
    QVERIFY(tree.itemsExpandable());
    QVERIFY(!tree.dragEnabled());
    QCOMPARE(tree.dragDropMode(), QAbstractItemView::NoDragDrop);
    QCOMPARE(tree.selectionMode(), QAbstractItemView::SingleSelection);
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        QCOMPARE(tree.palette().color(QPalette::Inactive, role),
                 tree.palette().color(QPalette::Active, role));
}

void TreeViewsTest::fonts() {
    {
        Panes panes;
        QCOMPARE(panes.tree.font(), panes.fontsBefore.first);
        QCOMPARE(panes.table.font(), panes.fontsBefore.second);
    }
    const QFont remembered("DejaVu Sans Mono", 15);
    Panes panes(&remembered);
    QCOMPARE(panes.tree.font().family(), remembered.family());
    QCOMPARE(panes.tree.font().pointSize(), 15);
    QCOMPARE(panes.table.font().family(), remembered.family());
    QCOMPARE(panes.table.font().pointSize(), 15);

    // A chosen font (Font Settings) applies to the whole pane: rows and header follow it.
    panes.Select(panes.Packet(kSourceCaps));
    QVERIFY(panes.table.RowCount() > 0);
    const int rowHeight = panes.table.rowHeight(0);
    const int headerHeight = panes.table.horizontalHeader()->sizeHint().height();
    const QFont big("DejaVu Sans", 30);
    panes.tree.SetViewFont(big);
    panes.table.SetViewFont(big);
    QCOMPARE(panes.tree.font().pointSize(), 30);
    QCOMPARE(panes.table.font().pointSize(), 30);
    QCOMPARE(panes.table.horizontalHeader()->font().pointSize(), 30);
    panes.host.UpdateAllViews(nullptr, 0);
    QVERIFY(panes.table.rowHeight(0) > rowHeight);
    QVERIFY(panes.table.horizontalHeader()->sizeHint().height() > headerHeight);
    QVERIFY(panes.tree.visualItemRect(panes.tree.topLevelItem(0)).height() >= QFontMetrics(big).height());
}

// One packet after another, each after the user chose some item of the previous one: the tree mirrors
// the model with the message header chosen and in view, the table shows the header's range, and the
// header's selection caused no table rebuild of its own (one query by the tree, one by the table).
void TreeViewsTest::selectedPacketShownWithHeaderChosen() {
    Panes panes;
    // With the focus in the tree, where the control is most inclined to choose an item of its own, and
    // room for one and a half rows, so that the header is in view only when scrolled there.
    panes.tree.resize(600, 200);
    panes.table.resize(900, 330);
    panes.tree.show();
    panes.tree.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panes.tree));
    panes.tree.setFocus();
    QVERIFY(panes.tree.hasFocus());
    const int frame = panes.tree.height() - panes.tree.viewport()->height();
    panes.tree.resize(600, frame + (QFontMetrics(panes.tree.font()).height() + 4) * 3 / 2);
    QTRY_VERIFY(panes.tree.viewport()->height() < 200);
    struct Case {
        const char* name;
        const CCCPacket* packet;
        size_t itemCount;
        uint32_t chosen;
        FieldRange range; // of the table; length 0: empty
    };
    const Case cases[] = {
        {"no selection", nullptr, 0, kItemNone, {}},
        {"Source_Capabilities", panes.Packet(kSourceCaps), 5, kItemMessageHeader, {false, 0, 16}},
        {"Hard Reset", panes.Packet(kHardReset), 1, kItemNone, {}},
        {"Manufacturer_Info chunk", panes.Packet(kManufacturerInfo), 10, kItemMessageHeader, {false, 0, 16}},
        {"EPR_Source_Capabilities chunk",
         panes.Packet(kEprSourceCaps),
         17,
         kItemMessageHeader,
         {false, 0, 16}},
        {"Source_Capabilities again", panes.Packet(kSourceCaps), 5, kItemMessageHeader, {false, 0, 16}},
        {"no selection again", nullptr, 0, kItemNone, {}},
    };
    for (const Case& c : cases) {
        // Whatever was chosen before is forgotten with the packet.
        if (panes.tree.topLevelItemCount() > 0) {
            const QTreeWidgetItem* last = panes.tree.topLevelItem(panes.tree.topLevelItemCount() - 1);
            QVERIFY(panes.tree.SelectItemByValue(CPDPacketTreeView::ItemValue(last)));
        }
        panes.Queries();
        panes.Select(c.packet);
        QVERIFY2(panes.Queries() == 2, c.name);

        QCOMPARE(panes.tree.ShownPacket(), c.packet);
        QCOMPARE(panes.tree.SelectedItemValue(), c.chosen);
        const std::vector<Shown> shown = ShownByControl(panes.tree);
        QVERIFY2(shown.size() == c.itemCount, (c.name + Describe(shown)).c_str());
        if (c.packet) {
            const std::vector<Shown> expected = ShownByModel(CPacketTreeModel::BuildItems(*c.packet));
            QVERIFY2(shown == expected,
                     (c.name + Describe(shown) + "\nexpected" + Describe(expected)).c_str());
            QCOMPARE(shown.front().text, "Packet #" + std::to_string(c.packet->index));
        }

        QTreeWidgetItem* current = panes.tree.currentItem();
        if (c.chosen == kItemNone) {
            QVERIFY2(panes.tree.selectedItems().isEmpty(), c.name);
        } else {
            QVERIFY2(current && current->isSelected(), c.name);
            QCOMPARE(CPDPacketTreeView::ItemValue(current), c.chosen);
            const QRect place = panes.tree.visualItemRect(current);
            QVERIFY2(place.top() >= 0 && place.bottom() < panes.tree.viewport()->height(), c.name);
        }

        const std::vector<PDFieldRow> rows = TableRows(panes.table);
        if (c.range.length == 0) {
            QVERIFY2(rows.empty(), c.name);
        } else {
            QVERIFY2(!rows.empty(), c.name);
            QVERIFY2(rows == BuildFieldRows(*c.packet, c.range.blockView, c.range.start, c.range.length),
                     c.name);
        }
    }

    // A picture of both panes side by side for a reviewer, with an EPR block open.
    panes.Select(panes.Packet(kEprSourceCaps));
    QVERIFY(panes.tree.SelectItemByValue(0x24020000));
    panes.tree.resize(300, 330);
    const QPixmap tree = panes.tree.grab(), table = panes.table.grab();
    QImage picture(tree.width() + table.width(), std::max(tree.height(), table.height()),
                   QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, tree);
    painter.drawPixmap(tree.width(), 0, table);
    painter.end();
    QVERIFY(picture.save(QString::fromStdString(guitest::OutputDir() + "/tree-views.png")));
}

// The user's choice in the tree: its value is chosen and the table alone is rebuilt for its range.
void TreeViewsTest::choosingAnItemRebuildsTheTable() {
    Panes panes;
    const CCCPacket& caps = *panes.Packet(kSourceCaps);
    const CCCPacket& chunk = *panes.Packet(kManufacturerInfo);
    const CCCPacket& epr = *panes.Packet(kEprSourceCaps);
    struct Case {
        const CCCPacket* packet;
        uint32_t value;
        FieldRange range;
    };
    const Case cases[] = {
        {&caps, 0x04010000, {false, 48, 32}}, // the second PDO, offsets from its bit 0
        {&caps, kItemPacket, {false, 0, caps.messageByteCount * 8}},
        {&caps, kItemMessageHeader, {false, 0, 16}},
        {&chunk, kItemExtendedHeader, {false, 16, 16}},
        {&chunk, kItemExtendedData, {false, 32, 208}},
        {&chunk, kItemExtendedData + 0x10, {false, 32, 208}}, // a line: the range of its parent
        {&chunk, kItemDataBlock + 0x20, {true, 0, 320}},
        {&epr, 0x24020000, {true, 64, 32}}, // the third object of the block
        {&epr, 0x24090000, {true, 288, 32}},
    };
    for (const Case& c : cases) {
        const std::string name = Hex(c.value);
        if (panes.tree.ShownPacket() != c.packet) panes.Select(c.packet);
        QTreeWidgetItem* packetItem = panes.tree.topLevelItem(0);
        panes.Queries();
        QVERIFY2(panes.tree.SelectItemByValue(c.value), name.c_str());
        QVERIFY2(panes.Queries() == 1, name.c_str()); // the table's, and only once
        QCOMPARE(panes.tree.SelectedItemValue(), c.value);
        QCOMPARE(panes.tree.topLevelItem(0), packetItem); // the tree was not rebuilt
        const QList<QTreeWidgetItem*> selected = panes.tree.selectedItems();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(CPDPacketTreeView::ItemValue(selected.front()), c.value);

        const std::vector<PDFieldRow> rows = TableRows(panes.table);
        QVERIFY2(!rows.empty(), name.c_str());
        QVERIFY2(rows == BuildFieldRows(*c.packet, c.range.blockView, c.range.start, c.range.length),
                 name.c_str());
        QVERIFY2(rows.front()[0].rfind("0", 0) == 0, (name + " starts at " + rows.front()[0]).c_str());
    }

    // No item: the whole packet. Unknown values choose nothing.
    panes.tree.clearSelection();
    QCOMPARE(panes.tree.SelectedItemValue(), kItemNone);
    QVERIFY(TableRows(panes.table) == BuildFieldRows(epr, false, 0, epr.messageByteCount * 8));
    panes.Queries();
    QVERIFY(!panes.tree.SelectItemByValue(0x04000000)); // the EPR chunk has no data objects of its own
    QCOMPARE(panes.Queries(), 0);
    QCOMPARE(panes.tree.SelectedItemValue(), kItemNone);

    // A click on an item does the same as choosing it by value.
    panes.Select(&caps);
    QTreeWidgetItem* third = panes.tree.topLevelItem(0)->child(3);
    QCOMPARE(CPDPacketTreeView::ItemValue(third), 0x04020000u);
    panes.tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panes.tree));
    QTest::mouseClick(panes.tree.viewport(), Qt::LeftButton, {}, panes.tree.visualItemRect(third).center());
    QCOMPARE(panes.tree.SelectedItemValue(), 0x04020000u);
    QVERIFY(TableRows(panes.table) == BuildFieldRows(caps, false, 80, 32));
}

// While the same packet stays selected the tree is left alone and the table is rebuilt for its choice.
void TreeViewsTest::updateWithSameSelectionKeepsTheChoice() {
    Panes panes;
    const CCCPacket& chunk = *panes.Packet(kManufacturerInfo);
    panes.Select(&chunk);
    const uint32_t line = kItemDataBlock + 0x10;
    QVERIFY(panes.tree.SelectItemByValue(line));
    panes.tree.topLevelItem(0)->setExpanded(false); // the user's own layout stays too
    std::vector<const QTreeWidgetItem*> before;
    for (QTreeWidgetItemIterator it(&panes.tree); *it; ++it) before.push_back(*it);

    const std::vector<PDFieldRow> blockRows = BuildFieldRows(chunk, true, 0, 320);
    QVERIFY(blockRows.size() > 1);
    QVERIFY(TableRows(panes.table) == blockRows);
    panes.table.selectRow(1);
    const QTableWidgetItem* cell = panes.table.item(1, 2);

    for (int round = 0; round < 2; ++round) {
        panes.Queries();
        panes.host.UpdateAllViews(&panes.tree, 7);
        QCOMPARE(panes.Queries(), 2);
        std::vector<const QTreeWidgetItem*> after;
        for (QTreeWidgetItemIterator it(&panes.tree); *it; ++it) after.push_back(*it);
        QVERIFY(after == before);
        QVERIFY(!panes.tree.topLevelItem(0)->isExpanded());
        QCOMPARE(panes.tree.SelectedItemValue(), line);
        QCOMPARE(CPDPacketTreeView::ItemValue(panes.tree.currentItem()), line);
        QVERIFY(panes.tree.currentItem()->isSelected());
        QVERIFY(TableRows(panes.table) == blockRows);
        if (round == 0) {
            // Unchanged rows stay as they are, with the user's row selection.
            QCOMPARE(panes.table.item(1, 2), cell);
            QVERIFY(panes.table.selectionModel()->isRowSelected(1, {}));
            // Rows that differ from the packet's are rebuilt.
            panes.table.item(int(blockRows.size()) - 1, 3)->setText("stale");
        }
    }

    // The document cleared: the packet list has lost its selection and both panes empty.
    panes.Select(nullptr);
    QCOMPARE(panes.tree.topLevelItemCount(), 0);
    QVERIFY(panes.tree.ShownPacket() == nullptr);
    QCOMPARE(panes.table.RowCount(), 0);
    QCOMPARE(panes.table.columnCount(), 7);
}

// Every packet of a synthesized EPR session, every item of its tree: the control mirrors the model and
// the table shows the model's rows for each choice.
void TreeViewsTest::everyItemOfAScenario() {
    synth::Scenario scenario;
    QVERIFY(synth::BuiltinScenario("epr", &scenario));
    const std::vector<uint8_t> stream = synth::SynthesizeStream(scenario, {});
    CCaptureStore store;
    Panes panes;
    QCOMPARE(store.DecodeChunk(stream.data(), stream.size(), 0), stream.size());
    QVERIFY(store.PacketCount() > 20);

    size_t blocks = 0, items = 0;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        const std::string name = "packet " + std::to_string(i);
        panes.Select(&p);
        const std::vector<PacketTreeItem> model = CPacketTreeModel::BuildItems(p);
        QVERIFY2(ShownByControl(panes.tree) == ShownByModel(model), name.c_str());
        QVERIFY2(TableRows(panes.table) ==
                     CPacketTreeModel::BuildTableRows(&p, panes.tree.SelectedItemValue()),
                 name.c_str());
        blocks += p.extData && p.extDataSize != 0;
        for (const PacketTreeItem& item : model) {
            const std::string which = name + " item " + Hex(item.value);
            QVERIFY2(panes.tree.SelectItemByValue(item.value), which.c_str());
            QVERIFY2(TableRows(panes.table) == CPacketTreeModel::BuildTableRows(&p, item.value),
                     which.c_str());
            ++items;
        }
    }
    QVERIFY(blocks > 0);
    QVERIFY(items > store.PacketCount());
}

AMBRIO_GUI_TEST(TreeViewsTest)
#include "TreeViewsTest.moc"
