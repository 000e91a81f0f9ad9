#include "LogViewCfgDlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum ListColumn { kOrderColumn, kTitleColumn, kDescriptionColumn, kWidthColumn, kShowColumn, kListColumns };
constexpr int kListColumnWidths[kListColumns] = {50, 100, 200, 50, 300};

void Name(QWidget* w, int id) {
    w->setObjectName(QString("c%1").arg(id));
}

} // namespace

CLogViewCfgDlg::CLogViewCfgDlg(std::array<ColumnRecord, kColumnCount>& columnInfo, QWidget* parent)
    : QDialog(parent), columns(columnInfo), choice(ColumnChoice::From(columnInfo)) {
    setWindowTitle("PD Messages Column Settings");

    list = new QTableWidget(0, kListColumns, this);
    list->setHorizontalHeaderLabels({"Order", "Title", "Desctiption", "Width", "Show/Hide"});
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->setSortingEnabled(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    int listWidth = 2 * list->frameWidth();
    for (int c = 0; c < kListColumns; ++c) {
        list->setColumnWidth(c, kListColumnWidths[c]);
        listWidth += kListColumnWidths[c];
    }
    // All five columns in view, with room for the vertical scroll bar.
    list->setMinimumSize(listWidth + list->verticalScrollBar()->sizeHint().width(), 360);

    auto* buttons = new QVBoxLayout;
    auto button = [&](const char* text, int id) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        if (id) Name(b, id);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* up = button("Up", kUp);
    QPushButton* down = button("Down", kDown);
    buttons->addSpacing(12);
    QPushButton* show = button("Show", kShow);
    QPushButton* hide = button("Hide", kHide);
    buttons->addSpacing(12);
    QPushButton* defaults = button("Load Defaults", kLoadDefaults);
    buttons->addStretch(1);
    okButton = button("OK", 0);
    okButton->setDefault(true);
    cancelButton = button("Cancel", 0);

    auto* top = new QHBoxLayout(this);
    top->addWidget(list, 1);
    top->addLayout(buttons);

    connect(up, &QPushButton::clicked, this, [this] { OnUp(); });
    connect(down, &QPushButton::clicked, this, [this] { OnDown(); });
    connect(show, &QPushButton::clicked, this, [this] { OnShow(true); });
    connect(hide, &QPushButton::clicked, this, [this] { OnShow(false); });
    connect(defaults, &QPushButton::clicked, this, [this] { OnLoadDefaults(); });
    connect(okButton, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });

    RebuildRows();
}

QWidget* CLogViewCfgDlg::Control(int id) const {
    return findChild<QWidget*>(QString("c%1").arg(id));
}

void CLogViewCfgDlg::RememberSelection() {
    choice.selected.fill(false);
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        if (index.row() < int(choice.order.size())) choice.selected[size_t(choice.order[size_t(index.row())])] = true;
}

void CLogViewCfgDlg::RebuildRows() {
    choice.Regroup();
    list->clearSelection();
    list->setRowCount(int(choice.order.size()));
    for (int row = 0; row < int(choice.order.size()); ++row) {
        const size_t id = size_t(choice.order[size_t(row)]);
        const bool shown = choice.show[id];
        const QString texts[kListColumns] = {shown ? QString::number(row) : QString(),
                                             QString::fromLatin1(kColumns[id].header),
                                             QString::fromLatin1(kColumnDescriptions[id]),
                                             QString::number(choice.width[id]), shown ? "Show" : "Hide"};
        for (int c = 0; c < kListColumns; ++c) {
            QTableWidgetItem* item = list->item(row, c);
            if (!item) {
                item = new QTableWidgetItem;
                list->setItem(row, c, item);
            }
            item->setText(texts[c]);
        }
    }
    QItemSelection again;
    int lastSelected = -1;
    for (int row = 0; row < int(choice.order.size()); ++row) {
        if (!choice.RowSelected(size_t(row))) continue;
        again.select(list->model()->index(row, 0), list->model()->index(row, kListColumns - 1));
        lastSelected = row;
    }
    list->selectionModel()->select(again, QItemSelectionModel::ClearAndSelect);
    if (lastSelected >= 0) list->scrollToItem(list->item(lastSelected, 0));
    list->setFocus();
}

void CLogViewCfgDlg::OnUp() {
    RememberSelection();
    choice.MoveUp();
    RebuildRows();
}

void CLogViewCfgDlg::OnDown() {
    RememberSelection();
    choice.MoveDown();
    RebuildRows();
}

void CLogViewCfgDlg::OnShow(bool on) {
    RememberSelection();
    choice.ShowSelected(on);
    RebuildRows();
}

void CLogViewCfgDlg::OnLoadDefaults() {
    choice.LoadDefaults();
    RebuildRows();
}

void CLogViewCfgDlg::accept() {
    choice.WriteTo(columns);
    QDialog::accept();
}
