// File > Import logic capture...: which of the capture's logic channels carry CC1 and CC2, the clock
// setting of the record stream, and where the record file goes (beside the capture by default). The
// channels are read when the dialog opens, and again with a format the user names (a raw binary file
// has no sample rate or channel names of its own).
#pragma once

#include "LogicImport.h"
#include "SettingsDialogs.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QSpinBox;

// The record file an import writes by default: the capture's name with the record extension.
std::string DefaultImportOutput(const std::string& input);

// The file dialog's filter for File > Import logic capture...: everything the formats name, then one
// entry per format with the library's description, then all files.
QString LogicCaptureFilter(const std::vector<imp::CaptureFormat>& formats = imp::ReadableCaptureFormats());

// What a clock setting makes of the record stream's tick: "divisor 20: a tick of 0.4167 µs (2.4 MHz)",
// with a note when the tick is too coarse for BMC traffic.
QString ClockTickText(uint16_t clockSetting);

class CImportLogicDlg : public CSettingsDialog {
    Q_OBJECT

public:
    CImportLogicDlg(const std::string& input, QWidget* parent = nullptr);

    // The save dialog for the output field's Browse button; empty when cancelled.
    std::function<std::string(const std::string& suggested)> chooseOutput;
    // Asked on OK when the output exists; true replaces it.
    std::function<bool(const std::string& text)> askReplace;

    // Reads the channel names with the format field's text into the two lists. false when the capture
    // cannot be read that way; the dialog then says why and OK stays disabled.
    bool ReadChannels();
    const std::vector<std::string>& Channels() const { return channels; }
    // After OK: what the import is asked to do.
    imp::ImportRequest Request() const;

    QLineEdit* FormatField() const { return format; }
    QPushButton* ReadButton() const { return readButton; }
    QComboBox* Cc1List() const { return cc1; }
    QComboBox* Cc2List() const { return cc2; }
    QSpinBox* ClockField() const { return clock; }
    QLabel* ClockTickLabel() const { return clockTick; }
    QLineEdit* OutputField() const { return output; }
    QPushButton* BrowseButton() const { return browse; }
    QLabel* ProblemLabel() const { return problem; }

protected:
    bool Validate() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnBrowse();
    std::string input;
    std::vector<std::string> channels;
    QLineEdit* format = nullptr;
    QPushButton* readButton = nullptr;
    QComboBox *cc1 = nullptr, *cc2 = nullptr;
    QSpinBox* clock = nullptr;
    QLabel* clockTick = nullptr;
    QLineEdit* output = nullptr;
    QPushButton* browse = nullptr;
    QLabel* problem = nullptr;
    bool replaceAgreed = false;
};
