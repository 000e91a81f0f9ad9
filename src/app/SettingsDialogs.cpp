#include "SettingsDialogs.h"

#include "Pictures.h"
#include "RecordingControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr char kCaptionForbidden[] = "\\/:*?\"<>|";
constexpr char kVersionText[] = "USB Type-C Power Analyzer Ambrio Version 1.10.14";
constexpr char kProgramTitle[] = "Ambrio App";

// The labels of the fields a message can be about.
constexpr char kPacketCountLabel[] = "Max Record PD Packet Count";
constexpr char kSampleCountLabel[] = "Max VBUS Sampling Count";
constexpr char kCaptionLabel[] = "Filename Caption (max 64 chars)";
constexpr char kFileSizeLabel[] = "Max File Size (MB)";
constexpr char kFolderLabel[] = "Record File Folder";

// A text display: sunken, selectable, never wider than the dialog lets it be.
QLabel* Display() {
    auto* l = new QLabel;
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setMinimumWidth(300);
    l->setWordWrap(true);
    return l;
}

} // namespace

int SamplingIntervalIndex(uint32_t intervalMs) {
    constexpr int count = int(std::size(kSamplingIntervalsMs));
    for (int i = 0; i < count; ++i)
        if (kSamplingIntervalsMs[i] >= intervalMs) return i;
    return count - 1;
}

std::optional<uint32_t> ReadNumberField(const QString& text, uint32_t min, uint32_t max, std::string* message) {
    const QString t = text.trimmed();
    bool digits = !t.isEmpty();
    for (QChar c : t) digits = digits && c >= '0' && c <= '9';
    bool fits = false;
    const qulonglong v = digits ? t.toULongLong(&fits) : 0;
    if (!digits) {
        *message = kEnterPositiveIntegerText;
        return std::nullopt;
    }
    if (!fits || v < min || v > max) {
        char range[96];
        std::snprintf(range, sizeof range, "Enter an integer between %u and %u.", unsigned(min), unsigned(max));
        *message = range;
        return std::nullopt;
    }
    return uint32_t(v);
}

bool IsWritableRecordFolder(const std::string& folder) {
    if (folder.empty()) return false;
    const std::filesystem::path path = std::filesystem::path(folder) / kFolderTestFileName;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fclose(f);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return true;
}

bool IsValidCaption(const QString& caption) {
    if (caption.size() > kMaxCaptionLength) return false;
    const QString forbidden = QString::fromLatin1(kCaptionForbidden);
    for (QChar c : caption)
        if (forbidden.contains(c)) return false;
    return true;
}

std::string AboutFirmwareText(const std::string& fwVersionText, bool invalidFirmware) {
    if (fwVersionText.empty()) return "Not Connected";
    return "FW Ver : " + fwVersionText + (invalidFirmware ? " (Invalid FW Version)" : "");
}

std::string AboutSerialText(const std::string& serialText) {
    return serialText.empty() ? std::string("Serial Number is not assigned.") : "Serial Number : " + serialText;
}

std::string BrowseForRecordFolder(QWidget* parent, const std::string& current) {
    return QFileDialog::getExistingDirectory(parent, "Select Record Folder", Q(current), QFileDialog::ShowDirsOnly)
        .toStdString();
}

bool FirmwareUpdateBlocked(const std::string& firmwareText) {
    return firmwareText.find("0.91") != std::string::npos || firmwareText.find("0.92") != std::string::npos;
}

// ---- common ------------------------------------------------------------------------------------------

CSettingsDialog::CSettingsDialog(QWidget* parent) : QDialog(parent) {
    hooks.message = [this](const std::string& title, const std::string& text) {
        QMessageBox::information(this, Q(title), Q(text));
    };
    hooks.askYesNo = [this](const std::string& text) {
        return QMessageBox::question(this, windowTitle(), Q(text), QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    hooks.chooseFolder = [this](const std::string& current) { return BrowseForRecordFolder(this, current); };
}

void CSettingsDialog::accept() {
    if (Validate()) QDialog::accept();
}

void CSettingsDialog::Message(const char* label, const std::string& text) {
    if (hooks.message) hooks.message(std::string(label) + " - " + windowTitle().toStdString(), text);
}

void CSettingsDialog::Message(const std::string& text) {
    if (hooks.message) hooks.message(kProgramTitle, text);
}

std::optional<uint32_t> CSettingsDialog::NumberOf(QLineEdit* field, const char* label, uint32_t min, uint32_t max) {
    std::string text;
    const std::optional<uint32_t> v = ReadNumberField(field->text(), min, max, &text);
    if (!v) {
        Message(label, text);
        field->setFocus();
        field->selectAll();
    }
    return v;
}

QWidget* CSettingsDialog::ButtonRow(std::initializer_list<QPushButton*> left, const QString& okText) {
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* b : left) {
        b->setAutoDefault(false);
        h->addWidget(b);
    }
    h->addStretch(1);
    okButton = new QPushButton(okText);
    okButton->setDefault(true);
    cancelButton = new QPushButton("Cancel");
    cancelButton->setAutoDefault(false);
    h->addWidget(okButton);
    h->addWidget(cancelButton);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    return row;
}

// ---- Record Settings ---------------------------------------------------------------------------------

CConfigDlg::CConfigDlg(CSettings& s, QWidget* parent) : CSettingsDialog(parent), settings(s) {
    setWindowTitle("Record Settings");
    auto* top = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    interval = new QComboBox;
    interval->setObjectName("interval");
    for (uint32_t ms : kSamplingIntervalsMs) interval->addItem(QString("%1ms").arg(ms));
    packetCount = new QLineEdit;
    packetCount->setObjectName("maxPDPacketCount");
    sampleCount = new QLineEdit;
    sampleCount->setObjectName("maxVbusInfoCount");
    grid->addWidget(new QLabel("VBUS Sampling Interval"), 0, 0);
    grid->addWidget(interval, 0, 1);
    grid->addWidget(new QLabel(kPacketCountLabel), 1, 0);
    grid->addWidget(packetCount, 1, 1);
    grid->addWidget(new QLabel(kSampleCountLabel), 2, 0);
    grid->addWidget(sampleCount, 2, 1);
    // Kept and passed through, never shown.
    fullStop = new QCheckBox("Record Stop on Counter Overflow");
    packetAutoRemove = new QCheckBox("Auto Remove Old PD Packets");
    sampleAutoRemove = new QCheckBox("Auto Remove Old VBUS Samplings");
    int row = 3;
    for (QCheckBox* b : {fullStop, packetAutoRemove, sampleAutoRemove}) {
        grid->addWidget(b, row++, 0, 1, 2);
        b->setVisible(false);
    }
    grid->setColumnStretch(1, 1);
    top->addLayout(grid);
    loadDefault = new QPushButton("Load Default");
    top->addWidget(ButtonRow({loadDefault}));
    connect(loadDefault, &QPushButton::clicked, this, [this] { OnLoadDefault(); });

    interval->setCurrentIndex(SamplingIntervalIndex(settings.recordVbusSamplingIntervalMS));
    packetCount->setText(QString::number(settings.maxPDPacketCount));
    sampleCount->setText(QString::number(settings.maxVbusInfoCount));
    fullStop->setChecked(settings.recordCaptureFullStop);
    packetAutoRemove->setChecked(settings.pdPacketAutoRemove);
    sampleAutoRemove->setChecked(settings.vbusInfoAutoRemove);
}

void CConfigDlg::OnLoadDefault() {
    const StoreLimits defaults;
    interval->setCurrentIndex(SamplingIntervalIndex(SettingsValues{}.recordVbusSamplingIntervalMS));
    packetCount->setText(QString::number(defaults.packetLimit));
    sampleCount->setText(QString::number(defaults.sampleLimit));
    for (QCheckBox* b : {fullStop, packetAutoRemove, sampleAutoRemove}) b->setChecked(false);
}

bool CConfigDlg::Validate() {
    const std::optional<uint32_t> packets =
        NumberOf(packetCount, kPacketCountLabel, kMinPDPacketCount, kMaxPDPacketCount);
    if (!packets) return false;
    const std::optional<uint32_t> samples =
        NumberOf(sampleCount, kSampleCountLabel, kMinVbusInfoCount, kMaxVbusInfoCount);
    if (!samples) return false;
    settings.maxPDPacketCount = *packets;
    settings.maxVbusInfoCount = *samples;
    settings.recordCaptureFullStop = fullStop->isChecked();
    settings.pdPacketAutoRemove = packetAutoRemove->isChecked();
    settings.vbusInfoAutoRemove = sampleAutoRemove->isChecked();
    settings.recordVbusSamplingIntervalMS = kSamplingIntervalsMs[std::max(0, interval->currentIndex())];
    return true;
}

// ---- Record File Settings ----------------------------------------------------------------------------

CCaptureFilenameDlg::CCaptureFilenameDlg(CSettings& s, QWidget* parent) : CSettingsDialog(parent), settings(s) {
    setWindowTitle("Record File Settings");
    caption = settings.recordFileCaption;
    appendTimestamp = settings.recordAppendTimestamp;
    multipleFiles = settings.recordMultiCaptureFile;
    sizeText = QString::number(settings.recordMaxFileSizeMB);
    folder = settings.recordFileFolder;
    doNotAskAgain = settings.recordDoNotAskAgain;

    auto* top = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    captionEdit = new QLineEdit;
    captionEdit->setObjectName("caption");
    fileNameLabel = Display();
    fileNameLabel->setObjectName("recordFilename");
    timestampBox = new QCheckBox("Append Timestamp to Filename");
    multipleBox = new QCheckBox("Multiple Record File  (for long time recording)");
    sizeEdit = new QLineEdit;
    sizeEdit->setObjectName("maxFileSize");
    sizeEdit->setMaximumWidth(80);
    folderLabel = Display();
    folderLabel->setObjectName("recordFolder");
    folderButton = new QPushButton("Select Record File Folder");
    folderButton->setAutoDefault(false);
    doNotAskBox = new QCheckBox("Do not ask again");

    grid->addWidget(new QLabel(kCaptionLabel), 0, 0);
    grid->addWidget(captionEdit, 0, 1, 1, 3);
    grid->addWidget(new QLabel("Record Filename"), 1, 0);
    grid->addWidget(fileNameLabel, 1, 1, 1, 3);
    grid->addWidget(timestampBox, 2, 0, 1, 4);
    grid->addWidget(multipleBox, 3, 0, 1, 2);
    grid->addWidget(new QLabel(kFileSizeLabel), 3, 2, Qt::AlignRight);
    grid->addWidget(sizeEdit, 3, 3);
    grid->addWidget(new QLabel(kFolderLabel), 4, 0);
    grid->addWidget(folderLabel, 4, 1, 1, 3);
    grid->addWidget(folderButton, 5, 1, 1, 3, Qt::AlignRight);
    grid->addWidget(doNotAskBox, 6, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    top->addLayout(grid);
    loadDefaults = new QPushButton("Load Defaults");
    top->addWidget(ButtonRow({loadDefaults}));
    resize(560, sizeHint().height());

    connect(captionEdit, &QLineEdit::textEdited, this, [this] { OnCaptionChanged(); });
    connect(timestampBox, &QCheckBox::clicked, this, [this] { OnTimestampClicked(); });
    connect(multipleBox, &QCheckBox::clicked, this, [this] { OnMultipleClicked(); });
    connect(sizeEdit, &QLineEdit::textEdited, this, [this](const QString& t) { sizeText = t; });
    connect(doNotAskBox, &QCheckBox::clicked, this, [this](bool on) { doNotAskAgain = on; });
    connect(folderButton, &QPushButton::clicked, this, [this] { OnSelectFolder(); });
    connect(loadDefaults, &QPushButton::clicked, this, [this] { OnLoadDefaults(); });
    ShowFields();
}

void CCaptureFilenameDlg::showEvent(QShowEvent* event) {
    CSettingsDialog::showEvent(event);
    if (!event->spontaneous()) OnInitDialog();
}

void CCaptureFilenameDlg::OnInitDialog() {
    startTime = clock();
    ShowFields();
    captionEdit->setFocus();
}

std::string CCaptureFilenameDlg::FirstFileName() const {
    return RecordNames{folder, RecordBaseName(caption, appendTimestamp, startTime), std::string(), multipleFiles}
        .FileName(1);
}

void CCaptureFilenameDlg::ShowFields() {
    captionEdit->setText(Q(caption));
    timestampBox->setChecked(appendTimestamp);
    multipleBox->setChecked(multipleFiles);
    sizeEdit->setText(sizeText);
    doNotAskBox->setChecked(doNotAskAgain);
    ShowDisplays();
}

void CCaptureFilenameDlg::ShowDisplays() {
    fileNameLabel->setText(Q(FirstFileName()));
    folderLabel->setText(Q(folder));
}

void CCaptureFilenameDlg::OnCaptionChanged() {
    const QString typed = captionEdit->text();
    if (IsValidCaption(typed)) {
        caption = typed.toStdString();
    } else {
        // The keystroke is refused: the caption as it was, the cursor where it was.
        const int cursor = captionEdit->cursorPosition() - int(typed.size() - Q(caption).size());
        captionEdit->setText(Q(caption));
        captionEdit->setCursorPosition(std::max(0, cursor));
    }
    ShowDisplays();
}

void CCaptureFilenameDlg::OnTimestampClicked() {
    appendTimestamp = timestampBox->isChecked();
    startTime = clock();
    ShowDisplays();
}

void CCaptureFilenameDlg::OnMultipleClicked() {
    multipleFiles = multipleBox->isChecked();
    ShowDisplays();
}

void CCaptureFilenameDlg::OnSelectFolder() {
    if (!hooks.chooseFolder) return;
    const std::string chosen = hooks.chooseFolder(folder);
    if (chosen.empty()) return;
    folder = chosen;
    ShowDisplays();
}

void CCaptureFilenameDlg::OnLoadDefaults() {
    caption = kDefaultCaption;
    appendTimestamp = false;
    multipleFiles = false;
    sizeText = QString::number(SettingsValues{}.recordMaxFileSizeMB);
    doNotAskAgain = false;
    folder = settings.DefaultRecordFolder();
    ShowFields();
}

bool CCaptureFilenameDlg::Validate() {
    const std::optional<uint32_t> size = NumberOf(sizeEdit, kFileSizeLabel, kMinFileSizeMB, kMaxFileSizeMB);
    if (!size) return false;
    sizeText = QString::number(*size);
    if (caption.empty() || RecordBaseName(caption, appendTimestamp, startTime).empty()) {
        Message(kCaptionLabel, kEnterFilenameText);
        captionEdit->setFocus();
        return false;
    }
    if (!IsWritableRecordFolder(folder)) {
        Message(kFolderLabel, kFolderNotWritableText);
        return false;
    }
    settings.recordAppendTimestamp = appendTimestamp;
    settings.recordMultiCaptureFile = multipleFiles;
    settings.recordMaxFileSizeMB = *size;
    settings.recordDoNotAskAgain = doNotAskAgain;
    settings.recordFileFolder = folder;
    settings.recordFileCaption = caption;
    return true;
}

// ---- VBUS current direction --------------------------------------------------------------------------

CVbusCurrentDirCfg::CVbusCurrentDirCfg(bool reverse, bool doNotAskAgain, QWidget* parent) : CSettingsDialog(parent) {
    setWindowTitle("VBUS Current Direction Setting");
    auto* top = new QVBoxLayout(this);
    auto* group = new QGroupBox("Select VBUS Current Positive Direction");
    auto* grid = new QGridLayout(group);
    plugToReceptacle = new QRadioButton("Plug to Receptacle");
    receptacleToPlug = new QRadioButton("Receptacle to Plug");
    const QSize pictureSize(180, 81);
    auto picture = [pictureSize](DirectionPicture which) {
        auto* b = new QToolButton;
        b->setIcon(QIcon(DirectionPixmap(which, pictureSize)));
        b->setIconSize(pictureSize);
        return b;
    };
    plugPicture = picture(DirectionPicture::PlugToReceptacle);
    receptaclePicture = picture(DirectionPicture::ReceptacleToPlug);
    grid->addWidget(plugToReceptacle, 0, 0);
    grid->addWidget(plugPicture, 0, 1);
    grid->addWidget(receptacleToPlug, 1, 0);
    grid->addWidget(receptaclePicture, 1, 1);
    top->addWidget(group);
    doNotAskBox = new QCheckBox("Do Not Ask Again");
    doNotAskBox->setChecked(doNotAskAgain);
    top->addWidget(doNotAskBox);
    doNotAskBox->setVisible(false);
    top->addWidget(ButtonRow({}));

    (reverse ? receptacleToPlug : plugToReceptacle)->setChecked(true);
    connect(plugPicture, &QAbstractButton::clicked, plugToReceptacle, [this] { plugToReceptacle->setChecked(true); });
    connect(receptaclePicture, &QAbstractButton::clicked, receptacleToPlug,
            [this] { receptacleToPlug->setChecked(true); });
}

bool CVbusCurrentDirCfg::Reverse() const { return receptacleToPlug->isChecked(); }

bool CVbusCurrentDirCfg::DoNotAskAgain() const { return doNotAskBox->isChecked(); }

// ---- driver installer prompt -------------------------------------------------------------------------

CLaunchDriverInstallerDlg::CLaunchDriverInstallerDlg(const QString& text, QWidget* parent) : CSettingsDialog(parent) {
    setWindowTitle("Ambrio Driver Install");
    auto* top = new QVBoxLayout(this);
    textLabel = new QLabel(text);
    textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(textLabel);
    top->addSpacing(8);
    doNotAskBox = new QCheckBox("Do Not Ask Again");
    top->addWidget(doNotAskBox);
    top->addWidget(ButtonRow({}, "Install Driver"));
}

bool CLaunchDriverInstallerDlg::DoNotAskAgain() const { return doNotAskBox->isChecked(); }

// ---- About -------------------------------------------------------------------------------------------

CAboutDlg::CAboutDlg(const std::string& fwVersionText, bool invalidFirmware, const std::string& serialText,
                     QWidget* parent)
    : CSettingsDialog(parent) {
    setWindowTitle("About Ambrio");
    auto* top = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(48, 48));
    head->addWidget(icon, 0, Qt::AlignTop);
    head->addWidget(new QLabel(kVersionText), 1);
    top->addLayout(head);

    auto* group = new QGroupBox("Ambrio Information");
    auto* v = new QVBoxLayout(group);
    const std::string firmware = AboutFirmwareText(fwVersionText, invalidFirmware);
    firmwareLabel = new QLabel(Q(firmware));
    serialEdit = new QLineEdit(Q(AboutSerialText(serialText)));
    serialEdit->setReadOnly(true);
    serialEdit->setMinimumWidth(serialEdit->fontMetrics().horizontalAdvance(serialEdit->text()) + 24);
    updateButton = new QPushButton("Enter FW Update Mode");
    updateButton->setAutoDefault(false);
    updateButton->setEnabled(!FirmwareUpdateBlocked(firmware));
    v->addWidget(firmwareLabel);
    v->addWidget(serialEdit);
    v->addWidget(updateButton, 0, Qt::AlignLeft);
    top->addWidget(group);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    okButton = new QPushButton("OK");
    okButton->setDefault(true);
    row->addWidget(okButton);
    top->addLayout(row);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(updateButton, &QPushButton::clicked, this, [this] {
        if (!hooks.askYesNo || !hooks.askYesNo(kFirmwareUpdateQuestion)) return;
        updateRequested = true;
        accept();
    });
}
