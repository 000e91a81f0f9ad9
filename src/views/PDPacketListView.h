// The field table pane: one row per field of the part of the selected packet that is chosen in the
// packet tree. Rebuilt from the packet on every document update and on every choice in the tree.
#pragma once

#include "DocView.h"
#include "FieldTable.h"

#include <QTableWidget>

#include <cstdint>
#include <string>
#include <vector>

class CPDPacketListView : public QTableWidget, public IDocView {
    Q_OBJECT
public:
    explicit CPDPacketListView(IViewHost& host, QWidget* parent = nullptr);

    // Report style and font; the columns are inserted on the first call only.
    void OnInitialUpdate() override;
    void OnUpdate(IDocView* sender, int64_t hint) override;

    // The table rebuild: the field rows of the packet list's selected packet for the range of the tree's
    // chosen item (the whole packet without a tree); empty without a selected packet. Rows that are
    // already shown as they are stay untouched.
    void RebuildTable();
    void SetViewFont(const QFont& font);

    int RowCount() const { return rowCount(); }
    // A cell's text (UTF-8); empty outside the table.
    std::string CellText(int row, int column) const;

private:
    // The table holds exactly these rows.
    bool Shows(const std::vector<PDFieldRow>& rows) const;

    IViewHost& host;
    bool columnsInserted = false;
};
