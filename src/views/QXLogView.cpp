#include "QXLogView.h"

#include "CCPacket.h"
#include "CaptureStore.h"
#include "Contrast.h"
#include "FindCriteria.h"
#include "MessageTypes.h"
#include "QXDoc.h"
#include "Settings.h"
#include "TimeMath.h"

#include <QAbstractItemDelegate>
#include <QAbstractTableModel>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <utility>
#include <vector>

namespace {

constexpr qsizetype kSharedTextLimit = 65536;

// A text that fits is aligned as its column says; the first list column is always left-aligned, and so is
// every shortened text.
Qt::Alignment QtAlignment(ColumnAlign a) {
    switch (a) {
    case ColumnAlign::Right:
        return Qt::AlignRight;
    case ColumnAlign::Centre:
        return Qt::AlignHCenter;
    case ColumnAlign::Left:
        break;
    }
    return Qt::AlignLeft;
}

const QColor kEvenRow(240, 240, 240);
const QColor kOddRow(255, 255, 255);
// The selection, marker and invalid colours of the graph's strip, brought halfway (marker A: 40 %) to
// white in the same hue: on the full colours no sender's text could be read. Each text colour is then
// darkened only as far as its row needs (ReadableInk).
const QColor kSelectedRow(178, 178, 255);
const QColor kMarkerARow(255, 179, 102);
const QColor kMarkerBRow(255, 128, 192);
const QColor kInvalidRow(255, 128, 128);
const QColor kResetRow(255, 255, 0);
const QColor kBookmarkedRow(200, 200, 0);
const QColor kNoEdgesText(0, 0, 100);
const QColor kPortText[4] = {QColor(), QColor(0, 0, 255), QColor(0, 100, 100), QColor(100, 100, 0)};
const QColor kFindGreen(0, 255, 0);
// A darker red: the full red on the green is not read.
const QColor kFindRed(190, 0, 0);

constexpr int kFirstMargin = 4, kFirstInset = 2;
constexpr int kCellMargin = 12, kCellInset = 6;

} // namespace

// The rows: each refers to its packet in the store and keeps the texts of the visible columns, one
// QString per cell in one array (row-major). Rows are first added pending and announced in one go.
class CLogListModel final : public QAbstractTableModel {
public:
    explicit CLogListModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : committed; }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(ids.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= committed) return {};
        if (role == Qt::DisplayRole) return Text(index.row(), index.column());
        if (role == Qt::TextAlignmentRole) return int(AlignmentOf(index.column()) | Qt::AlignVCenter);
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= int(ids.size())) return {};
        if (role == Qt::DisplayRole) return QString::fromLatin1(kColumns[ids[size_t(section)]].header);
        if (role == Qt::TextAlignmentRole) return int(AlignmentOf(section) | Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    int ColumnCount() const { return int(ids.size()); }
    int IdOfColumn(int column) const { return ids[size_t(column)]; }
    CCCPacket* Packet(int32_t row) const { return packets[size_t(row)]; }
    const QString& Text(int32_t row, int column) const {
        return texts[size_t(row) * ids.size() + size_t(column)];
    }
    Qt::Alignment AlignmentOf(int column) const {
        return column == 0 ? Qt::AlignLeft : QtAlignment(kColumns[ids[size_t(column)]].align);
    }

    void SetColumns(std::vector<int> columnIds) {
        beginResetModel();
        ids = std::move(columnIds);
        std::vector<CCCPacket*>().swap(packets);
        std::vector<QString>().swap(texts);
        committed = 0;
        endResetModel();
    }

    void RemoveAllRows() {
        if (committed > 0) beginRemoveRows({}, 0, committed - 1);
        const bool had = committed > 0;
        std::vector<CCCPacket*>().swap(packets);
        std::vector<QString>().swap(texts);
        committed = 0;
        if (had) endRemoveRows();
    }

    // Row index the next pending row gets.
    int32_t NextRow() const { return int32_t(packets.size()); }
    void ReservePending(size_t rows) {
        packets.reserve(packets.size() + rows);
        texts.reserve(texts.size() + rows * ids.size());
    }
    void AddPending(CCCPacket* packet) { packets.push_back(packet); }
    void AddPendingText(QString text) { texts.push_back(std::move(text)); }
    void CommitPending() {
        const int32_t total = int32_t(packets.size());
        if (total == committed) return;
        beginInsertRows({}, committed, total - 1);
        committed = total;
        endInsertRows();
    }

    // order[newRow] = oldRow.
    void Reorder(const std::vector<int32_t>& order) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const size_t columns = ids.size();
        std::vector<CCCPacket*> newPackets(packets.size());
        std::vector<QString> newTexts(texts.size());
        std::vector<int32_t> newRowOf(order.size());
        for (size_t r = 0; r < order.size(); ++r) {
            const size_t old = size_t(order[r]);
            newRowOf[old] = int32_t(r);
            newPackets[r] = packets[old];
            for (size_t c = 0; c < columns; ++c)
                newTexts[r * columns + c] = std::move(texts[old * columns + c]);
        }
        packets.swap(newPackets);
        texts.swap(newTexts);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& i : before) after.push_back(index(newRowOf[size_t(i.row())], i.column()));
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    std::vector<int> ids; // column id of each list column
    std::vector<CCCPacket*> packets;
    std::vector<QString> texts;
    int32_t committed = 0;
};

// Every cell is painted by the view itself.
class CLogRowDelegate final : public QAbstractItemDelegate {
public:
    CLogRowDelegate(const CQXLogView& view, QObject* parent) : QAbstractItemDelegate(parent), view(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        view.PaintCell(*painter, option.rect, index.row(), index.column());
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        return {view.columnWidth(index.column()), view.verticalHeader()->defaultSectionSize()};
    }

private:
    const CQXLogView& view;
};

CQXLogView::CQXLogView(IViewHost& viewHost, QWidget* parent) : QTableView(parent), host(viewHost) {
    std::fill(std::begin(columnOfId), std::end(columnOfId), -1);
    listModel = new CLogListModel(this);
    setModel(listModel);
    rowDelegate = new CLogRowDelegate(*this, this);
    setItemDelegate(rowDelegate);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // Stored widths are kept as they are, however narrow.
    header->setMinimumSectionSize(0);
    // The indicator shows the last sort; the header's size hints leave room for it.
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                if (!selected.isEmpty()) OnRowSelected(selected.first().top());
            });
    connect(header, &QHeaderView::sectionClicked, this, [this](int logical) { SortByListColumn(logical); });
    connect(header, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        // The user's drag: Description takes its new width as its own, any other column changes the
        // spare room.
        if (filling) return;
        if (logical == ListColumnOfId(kColumnDescription)) descriptionWidth = size;
        FillWithDescription();
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        const CCCPacket* packet = PacketOfRow(index.row());
        const CCaptureStore* store = Store();
        if (packet && store) host.CenterGraphOn(store->DisplayTime(*packet));
    });

    SetListFont(font());
}

CQXLogView::~CQXLogView() {
    QObject::disconnect(selectionModel(), nullptr, this, nullptr);
    SaveColumnLayout();
    host.RememberListFont(listFont);
}

CCaptureStore* CQXLogView::Store() const {
    CQXDoc* doc = host.Document();
    return doc ? &doc->store : nullptr;
}

void CQXLogView::OnInitialUpdate() {
    const QFont* remembered = host.RememberedListFont();
    SetListFont(remembered ? *remembered : font());
    if (!columnsReady)
        SetupColumns();
    else
        BuildRows();
}

void CQXLogView::OnUpdate(IDocView* sender, int64_t hint) {
    (void)hint;
    // Our own selection announcements bring nothing new to build.
    if (sender == this) return;
    BuildRows();
    AutoScroll();
}

void CQXLogView::SetListFont(const QFont& font) {
    listFont = font;
    listMetrics = QFontMetrics(font);
    setFont(font);
    verticalHeader()->setDefaultSectionSize(listMetrics.height() + 4);
    viewport()->update();
}

void CQXLogView::SetupColumns() {
    invertCurrent = host.Settings().vbusCurrDirReverse;
    const CCCPacket* selected = GetSelectedPacket();
    const bool remembered = selected != nullptr;
    const int32_t number = remembered ? selected->index : -1;

    std::fill(std::begin(columnOfId), std::end(columnOfId), -1);
    const auto& records = host.Settings().columns;
    std::vector<int> ids;
    for (int position = 0; position < kColumnCount; ++position)
        for (int id = 0; id < kColumnCount; ++id) {
            const ColumnRecord& r = records[size_t(id)];
            if (!r.visible || r.position != position) continue;
            columnOfId[id] = int32_t(ids.size());
            ids.push_back(id);
            break;
        }
    listModel->SetColumns(ids);

    // The header may keep its former sections across a reset: put every section back in list order.
    // A column at its default width gets as wide as its header and its widest usual text need; a
    // width the user chose stays.
    QHeaderView* header = horizontalHeader();
    header->setSortIndicator(-1, Qt::AscendingOrder);
    filling = true;
    fittedWidths.assign(ids.size(), -1);
    for (int c = 0; c < int(ids.size()); ++c) {
        if (header->visualIndex(c) != c) header->moveSection(header->visualIndex(c), c);
        const int id = ids[size_t(c)];
        int width = std::max<int32_t>(0, records[size_t(id)].width);
        if (width == kColumns[id].width) {
            const int fitted = FittingWidth(c);
            if (fitted > width) width = fittedWidths[size_t(c)] = fitted;
        }
        header->resizeSection(c, width);
        if (id == kColumnDescription) descriptionWidth = width;
    }
    filling = false;
    FillWithDescription();

    columnsReady = true;
    DeleteAllRows();
    BuildRows();

    if (!remembered) return;
    for (int32_t row = 0; row < RowCount(); ++row)
        if (listModel->Packet(row)->index == number) {
            SelectRow(row);
            EnsureRowVisible(row);
            break;
        }
}

void CQXLogView::DeleteAllRows() {
    listModel->RemoveAllRows();
    examinedCount = 0;
    previousEnd = 0;
    selectedRow = -1;
    contextRow = -1;
    markerARow = -1;
    markerBRow = -1;
    sharedTexts.clear();
}

void CQXLogView::ForgetRows() {
    DeleteAllRows();
    selectionModel()->clear();
}

QString CQXLogView::StoredText(const CCCPacket& packet, int columnId) {
    const std::string s = packet.GetColumnText(columnId, invertCurrent);
    QString text = QString::fromLatin1(s.data(), qsizetype(s.size()));
    if (text.size() > kMaxStoredText) {
        text = text.left(kKeptChars) + QLatin1String("...") + text.right(kKeptChars);
        text.squeeze();
    }
    if (text.isEmpty() || kColumns[columnId].uniqueText) return text;
    const auto found = sharedTexts.constFind(text);
    if (found != sharedTexts.cend()) return *found;
    if (sharedTexts.size() < kSharedTextLimit) sharedTexts.insert(text);
    return text;
}

void CQXLogView::ShowStatus(const std::string& text) {
    if (text == lastStatus) return;
    lastStatus = text;
    host.SetStatusText(text);
}

void CQXLogView::BuildRows() {
    if (!columnsReady) return;
    CCaptureStore* store = Store();
    if (!store) return;
    if (store->packetsRemoved) {
        store->packetsRemoved = false;
        DeleteAllRows();
        selectionModel()->clear();
    }

    const size_t count = store->PacketCount();
    if (size_t(examinedCount) >= count) return;
    const int columns = listModel->ColumnCount();
    const CFindCriteria& filter = host.DisplayFilter();
    const bool capturing = host.IsCapturing();
    lastStatus.clear();
    // A first build of an unfiltered store knows its size; later ones grow the arrays as they go.
    if (examinedCount == 0 && columns > 0 && !filter.displayFilterEnabled) listModel->ReservePending(count);

    for (size_t i = size_t(examinedCount); i < count; ++i) {
        examinedCount = int32_t(i + 1);
        CCCPacket* packet = store->PacketAt(i);
        if (!packet) break;
        if (!capturing) {
            char status[64];
            std::snprintf(status, sizeof status, "Building PD Messages... %d%%",
                          int(int64_t(i + 1) * 100 / int64_t(count)));
            ShowStatus(status);
        }

        const int64_t start = store->DisplayTime(*packet);
        packet->idleTime = TimeDifference(start, previousEnd);
        previousEnd = TimeSum(start, packet->LengthMicros());

        if (!filter.IsPacketShown(*packet, invertCurrent)) continue;
        if (columns == 0) continue;
        const int32_t row = listModel->NextRow();
        listModel->AddPending(packet);
        for (int c = 0; c < columns; ++c)
            listModel->AddPendingText(StoredText(*packet, listModel->IdOfColumn(c)));
        if (packet == store->markerAPacket) markerARow = row;
        if (packet == store->markerBPacket) markerBRow = row;
    }
    listModel->CommitPending();
}

void CQXLogView::AutoScroll() {
    if (!host.PdMessageAutoScroll() || !host.RecordingActive()) return;
    const int32_t rows = RowCount();
    if (rows != 0 && rows != lastAutoScrollCount) EnsureRowVisible(rows - 1);
    lastAutoScrollCount = rows;
}

void CQXLogView::EnsureRowVisible(int32_t row) {
    if (row < 0 || row >= RowCount()) return;
    executeDelayedItemsLayout();
    updateGeometries();
    // Only the rows matter: the horizontal position stays where the user left it.
    const int x = horizontalScrollBar()->value();
    scrollTo(listModel->index(row, 0), QAbstractItemView::EnsureVisible);
    if (row + 1 < RowCount()) scrollTo(listModel->index(row + 1, 0), QAbstractItemView::EnsureVisible);
    if (row > 0) scrollTo(listModel->index(row - 1, 0), QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(x);
}

int32_t CQXLogView::RowCount() const {
    return listModel->rowCount();
}

CCCPacket* CQXLogView::MutablePacketOfRow(int32_t row) const {
    return row >= 0 && row < RowCount() ? listModel->Packet(row) : nullptr;
}

const CCCPacket* CQXLogView::PacketOfRow(int32_t row) const {
    return MutablePacketOfRow(row);
}

int32_t CQXLogView::RowOfPacket(const CCCPacket* packet) const {
    if (!packet) return -1;
    for (int32_t row = 0; row < RowCount(); ++row)
        if (listModel->Packet(row) == packet) return row;
    return -1;
}

QString CQXLogView::CellText(int32_t row, int columnId) const {
    const int32_t column = ListColumnOfId(columnId);
    if (column < 0 || row < 0 || row >= RowCount()) return {};
    return listModel->Text(row, column);
}

int32_t CQXLogView::ListColumnOfId(int id) const {
    return id >= 0 && id < kColumnCount ? columnOfId[id] : -1;
}

const CCCPacket* CQXLogView::GetSelectedPacket() const {
    return PacketOfRow(selectedRow);
}

bool CQXLogView::SelectPacket(const CCCPacket* packet) {
    const int32_t row = RowOfPacket(packet);
    if (row < 0) return false;
    SelectRow(row);
    EnsureRowVisible(row);
    return true;
}

void CQXLogView::SelectRow(int32_t row) {
    selectionModel()->setCurrentIndex(listModel->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CQXLogView::OnRowSelected(int32_t row) {
    const int32_t former = selectedRow;
    selectedRow = row;
    RepaintRow(former);
    RepaintRow(row);
    host.UpdateAllViews(this, 0);
}

void CQXLogView::RepaintRow(int32_t row) {
    if (row < 0 || row >= RowCount()) return;
    viewport()->update(QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)));
}

void CQXLogView::FindInList(bool forward) {
    const int32_t row = host.FindCriteria().FindRow(
        selectedRow, forward, RowCount(), [this](int32_t r) { return PacketOfRow(r); }, invertCurrent);
    if (row < 0) {
        host.ShowMessage(kMessageNotFoundText);
        return;
    }
    SelectRow(row);
    EnsureRowVisible(row);
}

void CQXLogView::SortByListColumn(int listColumn) {
    if (listColumn < 0 || listColumn >= listModel->ColumnCount()) return;
    const int id = listModel->IdOfColumn(listColumn);
    const bool descending = listColumn == lastSortColumn && !lastSortDescending;
    lastSortColumn = listColumn;
    lastSortDescending = descending;
    horizontalHeader()->setSortIndicator(listColumn, descending ? Qt::DescendingOrder : Qt::AscendingOrder);

    const CCCPacket* selected = GetSelectedPacket();
    const int32_t number = selected ? selected->index : -1;
    selectionModel()->clearSelection();

    const int32_t rows = RowCount();
    std::vector<int32_t> order(size_t(rows), 0);
    std::iota(order.begin(), order.end(), 0);
    // Keys are taken once per row; descending swaps the two packets in the comparison.
    if (kColumns[id].NumericSort()) {
        std::vector<int64_t> keys(static_cast<size_t>(rows));
        for (int32_t r = 0; r < rows; ++r) keys[size_t(r)] = listModel->Packet(r)->GetColumnSortKey(id);
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            return descending ? keys[size_t(b)] < keys[size_t(a)] : keys[size_t(a)] < keys[size_t(b)];
        });
    } else {
        std::vector<QString> keys(static_cast<size_t>(rows));
        for (int32_t r = 0; r < rows; ++r) {
            const std::string s = listModel->Packet(r)->GetColumnText(id, false);
            keys[size_t(r)] = QString::fromLatin1(s.data(), qsizetype(s.size()));
        }
        auto less = [&](int32_t a, int32_t b) {
            return QString::compare(keys[size_t(a)], keys[size_t(b)], Qt::CaseSensitive) < 0;
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](int32_t a, int32_t b) { return descending ? less(b, a) : less(a, b); });
    }
    listModel->Reorder(order);

    // Row indexes follow their packets.
    if (const CCaptureStore* store = Store()) {
        markerARow = RowOfPacket(store->markerAPacket);
        markerBRow = RowOfPacket(store->markerBPacket);
    }
    viewport()->update();
    if (number < 0) return;
    for (int32_t row = 0; row < rows; ++row)
        if (listModel->Packet(row)->index == number) {
            SelectRow(row);
            EnsureRowVisible(row);
            break;
        }
}

void CQXLogView::SaveColumnLayout() {
    if (!columnsReady) return;
    auto& records = host.Settings().columns;
    const QHeaderView* header = horizontalHeader();
    const int shown = listModel->ColumnCount();
    // Hidden ids follow the shown ones, keeping their former order among themselves.
    std::vector<int> hidden;
    for (int id = 0; id < kColumnCount; ++id) {
        const int32_t column = columnOfId[id];
        ColumnRecord& r = records[size_t(id)];
        if (column < 0) {
            hidden.push_back(id);
            continue;
        }
        r.visible = true;
        // Description keeps the width it had before it took the spare room; a column still at the width
        // fitted to its texts keeps its default, to be fitted again with the font of the next start.
        r.width = id == kColumnDescription ? descriptionWidth : header->sectionSize(column);
        if (r.width == fittedWidths[size_t(column)]) r.width = kColumns[id].width;
        r.position = header->visualIndex(column);
    }
    std::stable_sort(hidden.begin(), hidden.end(),
                     [&](int a, int b) { return records[size_t(a)].position < records[size_t(b)].position; });
    for (size_t k = 0; k < hidden.size(); ++k) {
        ColumnRecord& r = records[size_t(hidden[k])];
        r.visible = false;
        r.position = shown + int32_t(k);
    }
}

bool CQXLogView::IsCommandEnabled(uint32_t id) const {
    const CCCPacket* context = PacketOfRow(contextRow);
    switch (id) {
    case kCmdSetMarker:
        return context && !context->bookmarked;
    case kCmdClearMarker:
        return context && context->bookmarked;
    case kCmdClearAllMarkers:
        for (int32_t row = 0; row < RowCount(); ++row)
            if (listModel->Packet(row)->bookmarked) return true;
        return false;
    case kCmdSetMarkerA:
    case kCmdSetMarkerB:
    case kCmdOriginCurrent:
        return context != nullptr;
    case kCmdClearMarkerA:
        return markerARow != -1;
    case kCmdClearMarkerB:
        return markerBRow != -1;
    case kCmdOriginAbsolute:
    case kCmdFindNext:
    case kCmdFindPrev:
        return true;
    default:
        return false;
    }
}

void CQXLogView::MarksChanged() {
    if (CQXDoc* doc = host.Document()) doc->SetMarksChanged();
    host.RepaintGraph();
}

void CQXLogView::OnCommand(uint32_t id) {
    if (!IsCommandEnabled(id)) return;
    if (id == kCmdFindNext || id == kCmdFindPrev) {
        FindInList(id == kCmdFindNext);
        return;
    }
    CQXDoc* doc = host.Document();
    if (!doc) return;
    CCaptureStore& store = doc->store;
    CCCPacket* context = MutablePacketOfRow(contextRow);

    switch (id) {
    case kCmdSetMarker:
    case kCmdClearMarker:
        context->bookmarked = id == kCmdSetMarker;
        RepaintRow(contextRow);
        break;
    case kCmdClearAllMarkers:
        for (int32_t row = 0; row < RowCount(); ++row) {
            CCCPacket* packet = listModel->Packet(row);
            if (!packet->bookmarked) continue;
            packet->bookmarked = false;
            RepaintRow(row);
        }
        break;
    case kCmdSetMarkerA:
    case kCmdClearMarkerA:
    case kCmdSetMarkerB:
    case kCmdClearMarkerB: {
        const bool isA = id == kCmdSetMarkerA || id == kCmdClearMarkerA;
        const bool set = id == kCmdSetMarkerA || id == kCmdSetMarkerB;
        CCCPacket*& marker = isA ? store.markerAPacket : store.markerBPacket;
        int32_t& markerRow = isA ? markerARow : markerBRow;
        const int32_t former = markerRow;
        marker = set ? context : nullptr;
        markerRow = set ? contextRow : -1;
        RepaintRow(former);
        RepaintRow(markerRow);
        break;
    }
    case kCmdOriginAbsolute:
    case kCmdOriginCurrent: {
        // The document forgets and rebuilds every row; the selected packet stays selected (its tree
        // shown) and the clicked one where it was clicked.
        const CCCPacket* clicked = context;
        const CCCPacket* selected = GetSelectedPacket();
        doc->SetMarksChanged();
        doc->SetTimeOrigin(id == kCmdOriginCurrent ? clicked->startTime : 0, false);
        if (const int32_t row = RowOfPacket(selected); row >= 0) SelectRow(row);
        if (clicked) EnsureRowVisible(RowOfPacket(clicked));
        return;
    }
    default:
        return;
    }
    MarksChanged();
}

int CQXLogView::FittingWidth(int listColumn) const {
    const int id = listModel->IdOfColumn(listColumn);
    // The longest texts these columns commonly hold: every message name, a time past the first minute.
    std::vector<std::string> usual;
    if (id == kColumnMessageType)
        for (const MessageTypeInfo& type : MessageTypes()) {
            usual.emplace_back(type.ListName(false));
            usual.emplace_back(type.ListName(true));
        }
    if (id == kColumnTimestamp || id == kColumnIdleTime) usual.push_back(FormatTimeText(64811123));
    const int margin = listColumn == 0 ? kFirstMargin : kCellMargin;
    int width = horizontalHeader()->sectionSizeHint(listColumn);
    for (const std::string& text : usual)
        width = std::max(width, listMetrics.horizontalAdvance(QString::fromStdString(text)) + margin);
    return width;
}

void CQXLogView::FillWithDescription() {
    const int column = ListColumnOfId(kColumnDescription);
    if (column < 0 || filling) return;
    const QHeaderView* header = horizontalHeader();
    const int others = header->length() - header->sectionSize(column);
    filling = true;
    horizontalHeader()->resizeSection(column, std::max(descriptionWidth, viewport()->width() - others));
    filling = false;
}

void CQXLogView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FillWithDescription();
}

void CQXLogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        contextRow = index.isValid() ? index.row() : -1;
    }
    QTableView::mousePressEvent(event);
}

void CQXLogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("LogView"));
    auto add = [this](QMenu* to, uint32_t id, const char* text) {
        QAction* action = to->addAction(QString::fromLatin1(text));
        action->setData(id);
        action->setEnabled(IsCommandEnabled(id));
    };
    add(&menu, kCmdSetMarker, "Set Marker");
    add(&menu, kCmdClearMarker, "Clear Marker");
    add(&menu, kCmdClearAllMarkers, "Clear All Markers");
    menu.addSeparator();
    add(&menu, kCmdSetMarkerA, "Set Marker A");
    add(&menu, kCmdClearMarkerA, "Clear Marker A");
    add(&menu, kCmdSetMarkerB, "Set Marker B");
    add(&menu, kCmdClearMarkerB, "Clear Marker B");
    menu.addSeparator();
    QMenu* origin = menu.addMenu(QStringLiteral("Set Time Stamp Origin"));
    add(origin, kCmdOriginAbsolute, "Absolute");
    add(origin, kCmdOriginCurrent, "Current Position");
    menu.addSeparator();
    add(&menu, kCmdFindNext, "Find Next");
    add(&menu, kCmdFindPrev, "Find Prev");
    menu.addSeparator();
    QAction* columns = menu.addAction(QStringLiteral("Column Settings"));
    columns->setEnabled(host.IsCommandEnabled(kCmdColumnSettings));

    const QAction* chosen = menu.exec(event->globalPos());
    if (chosen == columns)
        host.ExecuteCommand(kCmdColumnSettings);
    else if (chosen && chosen->data().isValid())
        OnCommand(chosen->data().toUInt());
}

QString CQXLogView::FitText(const QString& text, int width, int margin, const QFontMetrics& metrics,
                            bool* shortened) {
    if (shortened) *shortened = false;
    if (text.isEmpty() || text.size() < 2 || metrics.horizontalAdvance(text) + margin <= width) return text;
    // Prefix widths grow with the prefix, so the longest prefix that fits is found by bisection:
    // the same cut as trying n = length-1, length-2, ... one after another.
    const int room = width - margin - metrics.horizontalAdvance(QStringLiteral("..."));
    int fits = 0;                   // a prefix of this length fits ("..." alone at worst)
    int tooLong = int(text.size()); // cuts keep at most length-1 characters
    while (tooLong - fits > 1) {
        const int n = fits + (tooLong - fits) / 2;
        if (metrics.horizontalAdvance(text.left(n)) <= room)
            fits = n;
        else
            tooLong = n;
    }
    if (shortened) *shortened = true;
    return text.left(fits) + QLatin1String("...");
}

void CQXLogView::paintEvent(QPaintEvent* event) {
    ++paintPass;
    passHighlight = !host.FindCriteria().GetFindText().empty();
    QTableView::paintEvent(event);
}

const CQXLogView::RowStyle& CQXLogView::StyleOfRow(int32_t row) const {
    if (rowStyle.pass == paintPass && rowStyle.row == row) return rowStyle;
    const CCCPacket& packet = *listModel->Packet(row);
    const CCaptureStore* store = Store();
    RowStyle s;
    s.pass = paintPass;
    s.row = row;
    if (row == selectedRow)
        s.background = kSelectedRow;
    else if (store && &packet == store->markerAPacket)
        s.background = kMarkerARow;
    else if (store && &packet == store->markerBPacket)
        s.background = kMarkerBRow;
    else if (IsInvalidPacket(packet))
        s.background = kInvalidRow;
    else if (packet.IsResetMessage())
        s.background = kResetRow;
    else if (packet.bookmarked)
        s.background = kBookmarkedRow;
    else
        s.background = row % 2 == 0 ? kEvenRow : kOddRow;

    s.text = palette().color(QPalette::Text);
    if (packet.intervalCount == 0) s.text = kNoEdgesText;
    if (packet.port >= 1 && packet.port <= 3) s.text = kPortText[packet.port];
    s.text = ReadableInk(s.text, s.background);
    s.matchColumnId = host.FindCriteria().FindMatchColumn(packet, invertCurrent);
    rowStyle = s;
    return rowStyle;
}

void CQXLogView::PaintCell(QPainter& painter, const QRect& rect, int32_t row, int listColumn) const {
    if (row < 0 || row >= RowCount() || listColumn < 0 || listColumn >= listModel->ColumnCount()) return;
    const RowStyle& style = StyleOfRow(row);
    painter.fillRect(rect, style.background);

    const int id = listModel->IdOfColumn(listColumn);
    const bool first = listColumn == 0;
    const QString& text = listModel->Text(row, listColumn);
    bool shortened = false;
    const QString shown =
        FitText(text, columnWidth(listColumn), first ? kFirstMargin : kCellMargin, listMetrics, &shortened);
    const int inset = first ? kFirstInset : kCellInset;
    const QRect area = rect.adjusted(inset, 0, -inset, 0);
    const int width = listMetrics.horizontalAdvance(shown);

    int x = area.left();
    if (!first && !shortened) {
        const ColumnAlign align = kColumns[id].align;
        if (align == ColumnAlign::Right) x = area.right() + 1 - width;
        if (align == ColumnAlign::Centre) x = area.left() + (area.width() - width) / 2;
    }

    painter.save();
    painter.setClipRect(area, Qt::IntersectClip);
    painter.setFont(listFont);
    const bool matched = !first && style.matchColumnId == id;
    if (matched) painter.fillRect(QRect(x, rect.top(), width, rect.height()), kFindGreen);
    DrawCellText(painter, shown, x, rect, matched ? ReadableInk(style.text, kFindGreen) : style.text);
    painter.restore();

    if (first && row == currentIndex().row() && hasFocus()) {
        painter.save();
        QPen pen(palette().color(QPalette::Text));
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(rect.left(), rect.top(), width + 6, rect.height()).adjusted(0, 0, -1, -1));
        painter.restore();
    }
}

void CQXLogView::DrawCellText(QPainter& painter, const QString& text, int x, const QRect& cell,
                              const QColor& colour) const {
    const int top = cell.top() + (cell.height() - listMetrics.height()) / 2;
    const int baseline = top + listMetrics.ascent();
    painter.setPen(colour);
    if (!passHighlight) {
        painter.drawText(QPoint(x, baseline), text);
        return;
    }
    // Exact-case occurrences of the find text in red on green, the pieces between them as usual, each
    // piece starting where the one before it ended.
    const std::string latin = text.toLatin1().toStdString();
    qsizetype from = 0;
    auto draw = [&](qsizetype at, qsizetype length, bool found) {
        if (length <= 0) return;
        const QString piece = text.mid(at, length);
        const int advance = listMetrics.horizontalAdvance(piece);
        if (found) {
            painter.fillRect(QRect(x, top, advance, listMetrics.height()), kFindGreen);
            painter.setPen(kFindRed);
        }
        painter.drawText(QPoint(x, baseline), piece);
        if (found) painter.setPen(colour);
        x += advance;
    };
    for (const auto& [offset, length] : host.FindCriteria().FindTextOccurrences(latin)) {
        draw(from, qsizetype(offset) - from, false);
        draw(qsizetype(offset), qsizetype(length), true);
        from = qsizetype(offset + length);
    }
    draw(from, text.size() - from, false);
}
