// "Export": a time range of the open capture as CSV or as a record file, written on a worker thread
// while a 1000 ms timer shows the progress. Modal from the Export command; modeless and automatic for
// a remote export request.
#pragma once

#include "ExportWorker.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class CCaptureStore;
class CQXDoc;
class IDocumentHooks;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CExportDlg : public QDialog {
    Q_OBJECT

public:
    explicit CExportDlg(QWidget* parent = nullptr);
    ~CExportDlg() override;

    // Output name and marker entries from the document; columns and current direction from the settings.
    void Prepare(CQXDoc& doc, const IDocumentHooks* hooks, const ColumnLayout& columns, bool invertCurrent);
    void SetAutomatic(bool on) { automatic = on; }
    bool Automatic() const { return automatic; }
    bool Exporting() const { return exporting; }

    // Answered by message boxes and a save-file dialog; tests answer them themselves.
    std::function<void(const std::string& text)> message;
    std::function<std::string(int exportType)> chooseFile;
    // Called once for every export that was started, when it has ended: after the timer (or
    // FinishExport) has completed it, in either mode, or when Cancel or closing stopped it. ok and the
    // worker's one-line reason of a failure.
    std::function<void(bool ok, const std::string& reason)> finished;
    // Why the last export failed; empty after one that succeeded.
    const std::string& LastReason() const { return lastReason; }

    // One tick of the 1000 ms timer (tests call it rather than wait).
    void OnTimer();
    void OnExport();
    void OnAbort();
    void OnFile();
    // Waits for a running export to end, then completes it as the next timer tick would.
    void FinishExport();

    // Parts, for tests.
    const ExportOptions& Options() const { return options; }
    const std::vector<MarkerEntry>& Markers() const { return markers; }
    const ToolFlags& Flags() const { return worker.flags; }
    QString StatusText() const;
    QWidget* Control(int id) const; // by the resource's control id

    static constexpr int kFileName = 1089, kFile = 1090, kExport = 1106, kAbort = 1113, kStatus = 1114;
    static constexpr int kVisibleOnly = 1112, kFromTop = 1107, kFromNumber = 1099, kFromMarker = 1100;
    static constexpr int kToEnd = 1108, kToNumber = 1102, kToMarker = 1104, kFromEdit = 1087, kToEdit = 1103;
    static constexpr int kFromCombo = 1101, kToCombo = 1105, kCsv = 1088, kQxc = 1098;
    static constexpr int kMessages = 1109, kSamples = 1110, kBoth = 1111;
    static constexpr int kValueIds[kExportValueCount] = {1092, 1093, 1115, 1094, 1095, 1096, 1097};

    // Cancel: a running worker is asked to stop and waited for, then the dialog closes.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnInitDialog();
    void ReadControls();
    bool Resolve();
    void ApplyEnabling();
    void OnRadio();
    void StopWorker(bool report);

    CCaptureStore* store = nullptr;
    ExportOptions options;
    std::vector<MarkerEntry> markers;
    int64_t rangeStart = 0, rangeEnd = 0;
    std::string lastReason;
    bool automatic = false;
    bool exporting = false;
    bool initialised = false;
    CToolWorker worker;
    QTimer timer;

    QLabel* fileName = nullptr;
    QLabel* status = nullptr;
    QCheckBox* values[kExportValueCount] = {};
    QCheckBox* visibleOnly = nullptr;
    QRadioButton *fromTop = nullptr, *fromNumber = nullptr, *fromMarker = nullptr;
    QRadioButton *toEnd = nullptr, *toNumber = nullptr, *toMarker = nullptr;
    QLineEdit *fromEdit = nullptr, *toEdit = nullptr;
    QComboBox *fromCombo = nullptr, *toCombo = nullptr;
    QRadioButton *csv = nullptr, *qxc = nullptr;
    QRadioButton *messages = nullptr, *samples = nullptr, *both = nullptr;
    QPushButton *fileButton = nullptr, *exportButton = nullptr, *abortButton = nullptr, *cancelButton = nullptr;
};
