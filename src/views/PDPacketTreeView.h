// The packet tree pane: the structure of the packet selected in the packet list. The items, their values
// and the chosen item live in CPacketTreeModel; the control only mirrors them. Choosing an item makes the
// field table show that part of the packet.
#pragma once

#include "DocView.h"
#include "PacketTreeModel.h"

#include <QTreeWidget>

#include <cstdint>
#include <vector>

class CPDPacketTreeView : public QTreeWidget, public IDocView {
    Q_OBJECT
public:
    explicit CPDPacketTreeView(IViewHost& host, QWidget* parent = nullptr);

    void OnInitialUpdate() override;
    // The tree rebuild for the packet list's selected packet; nothing changes while it stays the same.
    void OnUpdate(IDocView* sender, int64_t hint) override;

    // Empties the tree: the packets it may refer to are about to go (content cleared), so a packet
    // created later at the same address is never taken for the one shown.
    void ForgetShownPacket();

    // Value of the chosen item; 0 when none is chosen.
    uint32_t SelectedItemValue() const { return treeModel.SelectedItemValue(); }
    const CCCPacket* ShownPacket() const { return treeModel.ShownPacket(); }
    void SetViewFont(const QFont& font);

    // Selects the item with this value as a click on it would (the field table follows); false when the
    // tree has no such item.
    bool SelectItemByValue(uint32_t value);
    // The item value an item of this tree carries.
    static uint32_t ItemValue(const QTreeWidgetItem* item);

protected:
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

private:
    void Rebuild();
    void OnItemSelectionChanged();

    IViewHost& host;
    CPacketTreeModel treeModel;
    // The control's items in the model's order, so that an item's index is its place in the model.
    std::vector<QTreeWidgetItem*> controlItems;
    // Set while the tree is rebuilt: selection changes made then are not the user's.
    bool rebuilding = false;
};
