#include "PDPacketListView.h"

#include "PDPacketTreeView.h"
#include "PacketTreeModel.h"

#include <QFontMetrics>
#include <QHeaderView>

#include <algorithm>
#include <iterator>

namespace {

struct FieldColumn {
    const char* title;
    int width;
};

constexpr FieldColumn kFieldColumns[] = {
    {"Offset [bits]", 50}, {"Length [bits]", 50}, {"Field name", 200}, {"Value", 200},
    {"Description", 300},  {"HEX", 100},          {"ASCII", 100},
};
static_assert(std::size(kFieldColumns) == std::tuple_size_v<PDFieldRow>);

} // namespace

CPDPacketListView::CPDPacketListView(IViewHost& host, QWidget* parent) : QTableWidget(parent), host(host) {}

void CPDPacketListView::OnInitialUpdate() {
    // Report style: rows of read-only texts under a header, nothing at the left edge.
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);

    const QFont* remembered = host.RememberedListFont();
    SetViewFont(remembered ? *remembered : font());

    if (columnsInserted) return;
    setColumnCount(int(std::size(kFieldColumns)));
    for (int c = 0; c < columnCount(); ++c) {
        auto* title = new QTableWidgetItem(QString::fromLatin1(kFieldColumns[c].title));
        title->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(c, title);
        // No title is cut: a column narrower than its title gets as wide as the title needs.
        setColumnWidth(c, std::max(kFieldColumns[c].width, horizontalHeader()->sectionSizeHint(c)));
    }
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(true);
    horizontalHeader()->setSectionsMovable(true);
    columnsInserted = true;
}

void CPDPacketListView::OnUpdate(IDocView* sender, int64_t hint) {
    (void)sender;
    (void)hint;
    RebuildTable();
}

void CPDPacketListView::RebuildTable() {
    std::vector<PDFieldRow> rows;
    if (const CCCPacket* packet = host.SelectedPacket()) {
        // The tree has been brought up to date before this (it is created first), so its choice
        // belongs to this packet.
        const CPDPacketTreeView* tree = host.PacketTree();
        rows = CPacketTreeModel::BuildTableRows(packet, tree ? tree->SelectedItemValue() : kItemNone);
    }
    // While a capture runs the same rows come back with every update: leaving them in place keeps the
    // user's scroll position and row selection.
    if (Shows(rows)) return;
    setRowCount(0);
    setRowCount(int(rows.size()));
    // Before the columns exist there is nowhere to put the texts.
    const int columns = std::min(columnCount(), int(std::tuple_size_v<PDFieldRow>));
    for (size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columns; ++c)
            setItem(int(r), c, new QTableWidgetItem(QString::fromStdString(rows[r][size_t(c)])));
}

bool CPDPacketListView::Shows(const std::vector<PDFieldRow>& rows) const {
    if (size_t(rowCount()) != rows.size() || columnCount() != int(std::tuple_size_v<PDFieldRow>))
        return false;
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const QTableWidgetItem* cell = item(int(r), int(c));
            if (!cell || cell->text() != QString::fromStdString(rows[r][c])) return false;
        }
    return true;
}

void CPDPacketListView::SetViewFont(const QFont& viewFont) {
    setFont(viewFont);
    // Once it has sections the header no longer follows the table's font by itself.
    horizontalHeader()->setFont(viewFont);
    // Rows as high as a line of the font, like a report list.
    verticalHeader()->setDefaultSectionSize(QFontMetrics(viewFont).height() + 4);
}

std::string CPDPacketListView::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text().toStdString() : std::string();
}
