// "Find PD Messages" and "Display Filter Settings": one dialog showing and editing a find criteria
// record (the find instance or the display filter). The record stays the model: the Check/Clear
// buttons and the two enabling check boxes write it at once, OK reads every control, Cancel nothing.
#pragma once

#include "FindCriteria.h"

#include <QDialog>

#include <map>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CPacketFindDlg : public QDialog {
    Q_OBJECT

public:
    // The record's mode picks the title and whether the direction group shows. Attach the capture's
    // statistics to the record before the dialog opens.
    explicit CPacketFindDlg(CFindCriteria& criteria, QWidget* parent = nullptr);

    // A control by its resource id (check boxes, radio buttons, the text box, the four Check/Clear
    // buttons); null for an id the dialog does not have.
    QWidget* Control(int id) const;
    QCheckBox* Box(int id) const;
    QGroupBox* DirectionGroup() const { return directionGroup; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

    // Record to controls, and controls to record (disabled controls included).
    void RefreshControls();
    void ReadControls();
    // The enabling rules of the record; a control without a rule keeps its state.
    void ApplyEnabling();

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCheckBox* AddBox(int id, const char* text);

    CFindCriteria& criteria;
    bool initialised = false;
    std::map<int, QCheckBox*> boxes;
    QLineEdit* textEdit = nullptr;
    QRadioButton* forward = nullptr;
    QRadioButton* backward = nullptr;
    QGroupBox* directionGroup = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
