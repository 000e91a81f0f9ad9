#include "PDPacketTreeView.h"

#include "PDPacketListView.h"

#include <QHeaderView>
#include <QPainter>
#include <QPalette>
#include <QStyle>

#include <algorithm>

namespace {

// Where an item keeps its value and its index in the model's item list.
constexpr int kValueRole = Qt::UserRole;
constexpr int kIndexRole = Qt::UserRole + 1;

} // namespace

CPDPacketTreeView::CPDPacketTreeView(IViewHost& host, QWidget* parent) : QTreeWidget(parent), host(host) {
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    // One column as wide as its longest line, scrolled sideways rather than cut off.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setTextElideMode(Qt::ElideNone);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CPDPacketTreeView::OnItemSelectionChanged);
}

void CPDPacketTreeView::OnInitialUpdate() {
    // Expand buttons with connecting lines (drawBranches), also at the root; items cannot be dragged.
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    // The chosen item stays marked as such while the packet list has the focus.
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);

    const QFont* remembered = host.RememberedListFont();
    SetViewFont(remembered ? *remembered : font());
}

void CPDPacketTreeView::OnUpdate(IDocView* sender, int64_t hint) {
    (void)sender;
    (void)hint;
    if (treeModel.Update(host.SelectedPacket())) Rebuild();
}

void CPDPacketTreeView::ForgetShownPacket() {
    if (treeModel.Update(nullptr)) Rebuild();
}

void CPDPacketTreeView::SetViewFont(const QFont& viewFont) {
    setFont(viewFont);
}

bool CPDPacketTreeView::SelectItemByValue(uint32_t value) {
    for (QTreeWidgetItem* item : controlItems) {
        if (ItemValue(item) != value) continue;
        setCurrentItem(item);
        return true;
    }
    return false;
}

uint32_t CPDPacketTreeView::ItemValue(const QTreeWidgetItem* item) {
    return item ? item->data(0, kValueRole).toUInt() : kItemNone;
}

void CPDPacketTreeView::Rebuild() {
    // The control's own selection changes while its items are replaced; none of them is the user's.
    rebuilding = true;
    clear();
    controlItems.clear();
    const std::vector<PacketTreeItem>& items = treeModel.Items();
    controlItems.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        auto* item = new QTreeWidgetItem(QStringList{QString::fromStdString(items[i].text)});
        item->setData(0, kValueRole, QVariant(uint(items[i].value)));
        item->setData(0, kIndexRole, QVariant(int(i)));
        if (items[i].parent < 0)
            addTopLevelItem(item);
        else
            controlItems[size_t(items[i].parent)]->addChild(item);
        controlItems.push_back(item);
    }
    QTreeWidgetItem* chosen = nullptr;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].expanded) controlItems[i]->setExpanded(true);
        if (items[i].selected) chosen = controlItems[i];
    }
    if (chosen) {
        setCurrentItem(chosen);
        scrollToItem(chosen);
    }
    rebuilding = false;
}

void CPDPacketTreeView::OnItemSelectionChanged() {
    if (rebuilding) return;
    const QList<QTreeWidgetItem*> selected = selectedItems();
    treeModel.SelectItem(selected.isEmpty() ? -1 : selected.front()->data(0, kIndexRole).toInt());
    if (CPDPacketListView* table = host.FieldTable()) table->RebuildTable();
}

void CPDPacketTreeView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
    QTreeWidget::drawBranches(painter, rect, index);
    // Styles that draw their own connecting lines, and right-to-left layouts, keep the style's look.
    if (isRightToLeft() || style()->name().compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0)
        return;

    // Dotted lines through the middle of each indentation step: from the item to its parent's line,
    // and down past every ancestor that has siblings still to come. The expand button's square is left
    // free for the style's indicator.
    const int step = indentation();
    const int midY = rect.center().y();
    const bool hasButton = model()->hasChildren(index);
    const int gap = hasButton ? std::min(step, rect.height()) / 3 : 0;
    painter->save();
    painter->setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DotLine));

    int x = rect.right() + 1 - step + step / 2;
    const bool lineAbove = index.row() > 0 || index.parent().isValid();
    const bool lineBelow = index.sibling(index.row() + 1, 0).isValid();
    if (lineAbove) painter->drawLine(x, rect.top(), x, midY - gap);
    if (lineBelow) painter->drawLine(x, midY + gap, x, rect.bottom());
    painter->drawLine(x + gap, midY, rect.right(), midY);
    for (QModelIndex ancestor = index.parent(); ancestor.isValid(); ancestor = ancestor.parent()) {
        x -= step;
        if (ancestor.sibling(ancestor.row() + 1, 0).isValid())
            painter->drawLine(x, rect.top(), x, rect.bottom());
    }
    painter->restore();
}
