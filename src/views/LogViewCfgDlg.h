// "PD Messages Column Settings": which column ids the packet list shows, and in which order. Edits a
// working copy of the column info and writes visibility and order back on OK; widths only show.
#pragma once

#include "ColumnChoice.h"

#include <QDialog>

#include <array>

class QPushButton;
class QTableWidget;

class CLogViewCfgDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kUp = 1084, kDown = 1085, kLoadDefaults = 1086, kShow = 1087, kHide = 1088;

    // The column info is written on OK only.
    explicit CLogViewCfgDlg(std::array<ColumnRecord, kColumnCount>& columns, QWidget* parent = nullptr);

    void OnUp();
    void OnDown();
    void OnShow(bool on);
    void OnLoadDefaults();
    void accept() override;

    // Parts, for tests.
    const ColumnChoice& Choice() const { return choice; }
    QTableWidget* List() const { return list; }
    QWidget* Control(int id) const; // by the resource's control id
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

private:
    void RememberSelection();
    void RebuildRows();

    std::array<ColumnRecord, kColumnCount>& columns;
    ColumnChoice choice;
    QTableWidget* list = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
