// The application shell's settings dialogs: Record Settings, Record File Settings, the VBUS current
// direction, the driver installer prompt and About. Each reads its fields from the settings (or from
// the window), validates them on OK and writes them back; what follows an OK is the main window's.
// Message boxes and the folder browser are hooks, so that tests answer them.
#pragma once

#include "Settings.h"

#include <QDialog>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

inline constexpr char kEnterFilenameText[] = "Enter Filename.";
inline constexpr char kFolderNotWritableText[] =
    "This Record File Folder is not a writable folder. Please change it to another folder.";
inline constexpr char kEnterPositiveIntegerText[] = "Enter a positive integer.";
// The folder test writes this file and deletes it again.
inline constexpr char kFolderTestFileName[] = "___test___capture_____file_____.tmp";
inline constexpr char kDefaultCaption[] = "DUDevezud";
inline constexpr int kMaxCaptionLength = 64;
inline constexpr uint32_t kMinPDPacketCount = 100, kMaxPDPacketCount = 100000;
inline constexpr uint32_t kMinFileSizeMB = 1, kMaxFileSizeMB = 9999;
// Below one sample the store would be full before the first one (and the status divides by it). The
// upper bound is what the capture store can hold in memory: about 40 bytes a sample make it 4 GB, more
// than a day of recording at 1 ms.
inline constexpr uint32_t kMinVbusInfoCount = 1, kMaxVbusInfoCount = 100000000;
// The firmware update mode takes the analyzer off the bus; the user is asked first.
inline constexpr char kFirmwareUpdateQuestion[] =
    "Enter the firmware update mode?\n\nThe analyzer leaves the USB bus and stays disconnected until it "
    "is unplugged and plugged in again.";

// The sampling intervals Record Settings offers, in list order.
inline constexpr uint32_t kSamplingIntervalsMs[] = {1, 2, 3, 5, 10, 20, 30, 50, 100, 200, 300, 500, 1000};

// The list entry for a stored interval: the first whose interval is at least it, the last above 500.
int SamplingIntervalIndex(uint32_t intervalMs);

// A number field's value as the dialogs read it: decimal digits, blanks around them allowed. Nothing,
// with the message for the user, when the text is no number or the number lies outside min..max.
std::optional<uint32_t> ReadNumberField(const QString& text, uint32_t min, uint32_t max, std::string* message);

// The record folder takes record files: a file of that name can be created there (then it is deleted).
bool IsWritableRecordFolder(const std::string& folder);

// A caption the record file name may start with: at most 64 characters, none of \ / : * ? " < > |.
bool IsValidCaption(const QString& caption);

// The About dialog's texts from the connection's.
std::string AboutFirmwareText(const std::string& fwVersionText, bool invalidFirmware);
std::string AboutSerialText(const std::string& serialText);
// Firmware that cannot enter its update mode from here.
bool FirmwareUpdateBlocked(const std::string& firmwareText);

// The platform's folder browser titled "Select Record Folder", file-system folders only, opening at
// current; empty when cancelled.
std::string BrowseForRecordFolder(QWidget* parent, const std::string& current);

// What the dialogs share: the message box, a yes/no question and the folder browser, answered by tests.
struct SettingsDialogHooks {
    // The box's title names the field the text is about.
    std::function<void(const std::string& title, const std::string& text)> message;
    // True for yes.
    std::function<bool(const std::string& text)> askYesNo;
    // The folder chosen, starting at current; empty when cancelled.
    std::function<std::string(const std::string& current)> chooseFolder;
};

// Base of the dialogs: OK validates (Validate) and closes only when it passes.
class CSettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit CSettingsDialog(QWidget* parent);
    SettingsDialogHooks hooks;

    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

    void accept() override;

protected:
    // Reads and checks the fields; shows the message, focuses the field and returns false on failure.
    virtual bool Validate() { return true; }
    // A number field with its label and bounds; the message and focus on failure.
    std::optional<uint32_t> NumberOf(QLineEdit* field, const char* label, uint32_t min, uint32_t max);
    // A message about the field of that label, in a box titled after it and the dialog.
    void Message(const char* label, const std::string& text);
    // A message in a box titled after the program.
    void Message(const std::string& text);
    // The OK and Cancel row, with extra buttons on the left.
    QWidget* ButtonRow(std::initializer_list<QPushButton*> left, const QString& okText = "OK");
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

// "Record Settings": the VBUS sampling interval and the capture store's limits (and three switches
// the dialog keeps without showing them). OK stores them in the settings.
class CConfigDlg : public CSettingsDialog {
    Q_OBJECT

public:
    CConfigDlg(CSettings& settings, QWidget* parent = nullptr);

    void OnLoadDefault();

    QComboBox* IntervalList() const { return interval; }
    QLineEdit* PacketCountField() const { return packetCount; }
    QLineEdit* SampleCountField() const { return sampleCount; }
    QCheckBox* FullStopBox() const { return fullStop; }
    QCheckBox* PacketAutoRemoveBox() const { return packetAutoRemove; }
    QCheckBox* SampleAutoRemoveBox() const { return sampleAutoRemove; }
    QPushButton* LoadDefaultButton() const { return loadDefault; }

protected:
    bool Validate() override;

private:
    CSettings& settings;
    QComboBox* interval = nullptr;
    QLineEdit *packetCount = nullptr, *sampleCount = nullptr;
    QCheckBox *fullStop = nullptr, *packetAutoRemove = nullptr, *sampleAutoRemove = nullptr;
    QPushButton* loadDefault = nullptr;
};

// "Record File Settings": caption, timestamp, multiple files, size, folder and "Do not ask again". It
// lives as long as the main window and keeps its fields between uses, a cancelled edit included; only
// OK writes them to the settings. Run forms the base name from its caption, timestamp flag and start
// time.
class CCaptureFilenameDlg : public CSettingsDialog {
    Q_OBJECT

public:
    CCaptureFilenameDlg(CSettings& settings, QWidget* parent = nullptr);

    // Where the start time comes from (the recording control's clock).
    std::function<std::time_t()> clock = [] { return std::time(nullptr); };

    // Each opening: the start time is now, the controls show the fields.
    void OnInitDialog();
    void OnCaptionChanged();
    void OnTimestampClicked();
    void OnMultipleClicked();
    void OnSelectFolder();
    void OnLoadDefaults();

    // The fields.
    const std::string& Caption() const { return caption; }
    bool AppendTimestamp() const { return appendTimestamp; }
    bool MultipleFiles() const { return multipleFiles; }
    const std::string& Folder() const { return folder; }
    std::time_t StartTime() const { return startTime; }
    // The name of the first record file, as "Record Filename" shows it.
    std::string FirstFileName() const;

    QLineEdit* CaptionField() const { return captionEdit; }
    QLabel* FileNameDisplay() const { return fileNameLabel; }
    QCheckBox* TimestampBox() const { return timestampBox; }
    QCheckBox* MultipleBox() const { return multipleBox; }
    QLineEdit* SizeField() const { return sizeEdit; }
    QLabel* FolderDisplay() const { return folderLabel; }
    QPushButton* FolderButton() const { return folderButton; }
    QCheckBox* DoNotAskBox() const { return doNotAskBox; }
    QPushButton* LoadDefaultsButton() const { return loadDefaults; }

protected:
    bool Validate() override;
    void showEvent(QShowEvent* event) override;

private:
    void ShowFields();
    void ShowDisplays();

    CSettings& settings;
    std::string caption;
    bool appendTimestamp = false;
    bool multipleFiles = false;
    QString sizeText;
    std::string folder;
    bool doNotAskAgain = false;
    std::time_t startTime = 0;

    QLineEdit* captionEdit = nullptr;
    QLabel* fileNameLabel = nullptr;
    QCheckBox *timestampBox = nullptr, *multipleBox = nullptr, *doNotAskBox = nullptr;
    QLineEdit* sizeEdit = nullptr;
    QLabel* folderLabel = nullptr;
    QPushButton *folderButton = nullptr, *loadDefaults = nullptr;
};

// "VBUS Current Direction Setting": which way VBUS current counts as positive. OK leaves the choice
// in Reverse() and DoNotAskAgain(); the window stores them.
class CVbusCurrentDirCfg : public CSettingsDialog {
    Q_OBJECT

public:
    CVbusCurrentDirCfg(bool reverse, bool doNotAskAgain, QWidget* parent = nullptr);

    bool Reverse() const;
    bool DoNotAskAgain() const;

    QRadioButton* PlugToReceptacle() const { return plugToReceptacle; }
    QRadioButton* ReceptacleToPlug() const { return receptacleToPlug; }
    QAbstractButton* PlugToReceptaclePicture() const { return plugPicture; }
    QAbstractButton* ReceptacleToPlugPicture() const { return receptaclePicture; }
    QCheckBox* DoNotAskBox() const { return doNotAskBox; }

private:
    QRadioButton *plugToReceptacle = nullptr, *receptacleToPlug = nullptr;
    QAbstractButton *plugPicture = nullptr, *receptaclePicture = nullptr;
    QCheckBox* doNotAskBox = nullptr;
};

// "Ambrio Driver Install": OK is "Install Driver". The text is the platform's.
class CLaunchDriverInstallerDlg : public CSettingsDialog {
    Q_OBJECT

public:
    CLaunchDriverInstallerDlg(const QString& text, QWidget* parent = nullptr);

    bool DoNotAskAgain() const;

    QLabel* Text() const { return textLabel; }
    QPushButton* InstallButton() const { return okButton; }
    QCheckBox* DoNotAskBox() const { return doNotAskBox; }

private:
    QLabel* textLabel = nullptr;
    QCheckBox* doNotAskBox = nullptr;
};

// "About Ambrio": version, the analyzer's firmware and serial texts, and the way into its firmware
// update mode: once the user has agreed to the question, it closes the dialog as OK does with
// FirmwareUpdateRequested() set.
class CAboutDlg : public CSettingsDialog {
    Q_OBJECT

public:
    CAboutDlg(const std::string& fwVersionText, bool invalidFirmware, const std::string& serialText,
              QWidget* parent = nullptr);

    bool FirmwareUpdateRequested() const { return updateRequested; }

    QLabel* FirmwareText() const { return firmwareLabel; }
    QLineEdit* SerialText() const { return serialEdit; }
    QPushButton* FirmwareUpdateButton() const { return updateButton; }

private:
    QLabel* firmwareLabel = nullptr;
    QLineEdit* serialEdit = nullptr;
    QPushButton* updateButton = nullptr;
    bool updateRequested = false;
};
