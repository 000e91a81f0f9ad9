#include "PacketFindDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr int kMessageTypeColumns = 4;

void Name(QWidget* w, int id) {
    w->setObjectName(QString("c%1").arg(id));
}

// Box indexes in alphabetical order of their texts, as the dialog lists them.
std::vector<int> AlphabeticalBoxes() {
    std::vector<int> order(kMessageTypeBoxCount);
    for (int i = 0; i < kMessageTypeBoxCount; ++i) order[size_t(i)] = i;
    std::sort(order.begin(), order.end(), [](int a, int b) {
        const char* x = kMessageTypeBoxes[a].text;
        const char* y = kMessageTypeBoxes[b].text;
        for (; *x && *y; ++x, ++y) {
            const int cx = std::tolower(static_cast<unsigned char>(*x));
            const int cy = std::tolower(static_cast<unsigned char>(*y));
            if (cx != cy) return cx < cy;
        }
        return *x == 0 && *y != 0;
    });
    return order;
}

QGroupBox* Group(const char* title, QBoxLayout** column) {
    auto* group = new QGroupBox(title);
    *column = new QVBoxLayout(group);
    return group;
}

} // namespace

CPacketFindDlg::CPacketFindDlg(CFindCriteria& record, QWidget* parent) : QDialog(parent), criteria(record) {
    const bool find = criteria.mode == CFindCriteria::kFind;
    setWindowTitle(find ? "Find PD Messages" : "Display Filter Settings");
    auto* top = new QVBoxLayout(this);

    // The small groups in a row.
    auto* groups = new QHBoxLayout;
    auto groupOf = [&](const char* title, std::initializer_list<std::pair<int, const char*>> items) {
        QBoxLayout* column = nullptr;
        QGroupBox* group = Group(title, &column);
        for (const auto& [id, text] : items) column->addWidget(AddBox(id, text));
        column->addStretch(1);
        groups->addWidget(group);
        return group;
    };
    groupOf("CH", {{kIdCc1, "CC1"}, {kIdCc2, "CC2"}});
    groupOf("Ordered Set", {{kIdSop, "SOP"},
                            {kIdSopPrime, "SOP'"},
                            {kIdSopDoublePrime, "SOP''"},
                            {kIdHardReset, "Hard Reset"},
                            {kIdCableReset, "Cable Reset"},
                            {kIdSopPrimeDebug, "SOP' Debug"},
                            {kIdSopDoublePrimeDebug, "SOP'' Debug"}});
    groupOf("Power Role", {{kIdSource, "Source"}, {kIdSink, "Sink"}});
    groupOf("Data Role", {{kIdDfp, "DFP"}, {kIdUfp, "UFP"}});
    QBoxLayout* directionColumn = nullptr;
    directionGroup = Group("Find Direction", &directionColumn);
    forward = new QRadioButton("Forward");
    backward = new QRadioButton("Backward");
    Name(forward, kIdForward);
    Name(backward, kIdBackward);
    directionColumn->addWidget(forward);
    directionColumn->addWidget(backward);
    directionColumn->addStretch(1);
    groups->addWidget(directionGroup);
    directionGroup->setVisible(find);
    groups->addStretch(1);
    top->addLayout(groups);

    // Message types in four columns, filled top to bottom.
    auto* typeGroup = new QGroupBox("Message Type");
    auto* typeGrid = new QGridLayout(typeGroup);
    typeGrid->setVerticalSpacing(2);
    const std::vector<int> alphabetical = AlphabeticalBoxes();
    const int perColumn = (kMessageTypeBoxCount + kMessageTypeColumns - 1) / kMessageTypeColumns;
    for (int k = 0; k < kMessageTypeBoxCount; ++k) {
        const MessageTypeBox& box = kMessageTypeBoxes[alphabetical[size_t(k)]];
        typeGrid->addWidget(AddBox(box.controlId, box.text), k % perColumn, k / perColumn);
    }
    auto* checkTypes = new QPushButton("Check All Message Types");
    auto* clearTypes = new QPushButton("Clear All Message Types");
    Name(checkTypes, kIdCheckAllMessageTypes);
    Name(clearTypes, kIdClearAllMessageTypes);
    auto* typeButtons = new QHBoxLayout;
    typeButtons->setSpacing(8);
    typeButtons->addStretch(1);
    typeButtons->addWidget(checkTypes);
    typeButtons->addWidget(clearTypes);
    typeGrid->addLayout(typeButtons, perColumn, 0, 1, kMessageTypeColumns);
    top->addWidget(typeGroup);

    // Errors, text and the buttons at the bottom.
    auto* bottom = new QHBoxLayout;
    QBoxLayout* errorColumn = nullptr;
    QGroupBox* errorGroup = Group("Error Packet", &errorColumn);
    errorColumn->addWidget(AddBox(kIdNoErrors, "No Errors"));
    errorColumn->addWidget(AddBox(kIdInvalidPacket, "Invalid Packet"));
    errorColumn->addWidget(AddBox(kIdCrcError, "CRC Error"));
    bottom->addWidget(errorGroup);
    QBoxLayout* textColumn = nullptr;
    QGroupBox* textGroup = Group("Containing Text", &textColumn);
    textColumn->addWidget(AddBox(kIdEnableText, "Enable Text"));
    textEdit = new QLineEdit;
    Name(textEdit, kIdFindText);
    textEdit->setMinimumWidth(220);
    textColumn->addWidget(textEdit);
    textColumn->addStretch(1);
    bottom->addWidget(textGroup, 1);

    auto* actions = new QGridLayout;
    actions->addWidget(AddBox(kIdAllowAllSettings, "Allow to change all settings"), 0, 0, 1, 2);
    auto* checkAll = new QPushButton("Check All");
    auto* clearAll = new QPushButton("Clear All");
    Name(checkAll, kIdCheckAll);
    Name(clearAll, kIdClearAll);
    okButton = new QPushButton("OK");
    cancelButton = new QPushButton("Cancel");
    actions->addWidget(checkAll, 1, 0);
    actions->addWidget(clearAll, 1, 1);
    actions->addWidget(okButton, 2, 0);
    actions->addWidget(cancelButton, 2, 1);
    actions->setRowStretch(3, 1);
    bottom->addLayout(actions);
    top->addLayout(bottom);

    for (QPushButton* b : {checkTypes, clearTypes, checkAll, clearAll, cancelButton}) b->setAutoDefault(false);
    okButton->setDefault(true);

    // The four buttons write the record (disabled boxes too) and show it.
    const auto setAll = [this](QPushButton* button, bool messageTypesOnly, bool on) {
        connect(button, &QPushButton::clicked, this, [this, messageTypesOnly, on] {
            if (messageTypesOnly)
                criteria.SetAllMessageTypes(on);
            else
                criteria.SetAll(on);
            RefreshControls();
        });
    };
    setAll(checkTypes, true, true);
    setAll(clearTypes, true, false);
    setAll(checkAll, false, true);
    setAll(clearAll, false, false);
    for (const int id : {int(kIdAllowAllSettings), int(kIdEnableText)})
        connect(boxes[id], &QCheckBox::clicked, this, [this] {
            ReadControls();
            ApplyEnabling();
        });
    connect(okButton, &QPushButton::clicked, this, [this] { accept(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { reject(); });
}

QCheckBox* CPacketFindDlg::AddBox(int id, const char* text) {
    auto* box = new QCheckBox(QString::fromLatin1(text));
    Name(box, id);
    boxes[id] = box;
    return box;
}

QWidget* CPacketFindDlg::Control(int id) const {
    return findChild<QWidget*>(QString("c%1").arg(id));
}

QCheckBox* CPacketFindDlg::Box(int id) const {
    const auto it = boxes.find(id);
    return it == boxes.end() ? nullptr : it->second;
}

void CPacketFindDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (initialised) return;
    initialised = true;
    RefreshControls();
    ApplyEnabling();
}

void CPacketFindDlg::RefreshControls() {
    for (const auto& [id, box] : boxes) box->setChecked(*criteria.FlagOf(id));
    textEdit->setText(QString::fromLatin1(criteria.text.data(), qsizetype(criteria.text.size())));
    forward->setChecked(criteria.direction == CFindCriteria::kForward);
    backward->setChecked(criteria.direction == CFindCriteria::kBackward);
}

void CPacketFindDlg::ReadControls() {
    for (const auto& [id, box] : boxes) *criteria.FlagOf(id) = box->isChecked();
    // Cell texts are Latin-1; the search compares them byte by byte.
    criteria.text = textEdit->text().toLatin1().toStdString();
    criteria.direction = backward->isChecked() ? CFindCriteria::kBackward : CFindCriteria::kForward;
}

void CPacketFindDlg::ApplyEnabling() {
    for (const auto& [id, box] : boxes)
        if (const auto on = criteria.IsControlEnabled(id)) box->setEnabled(*on);
    if (const auto on = criteria.IsControlEnabled(kIdFindText)) textEdit->setEnabled(*on);
}

void CPacketFindDlg::accept() {
    ReadControls();
    QDialog::accept();
}
