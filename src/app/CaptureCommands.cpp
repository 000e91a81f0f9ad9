// The capture commands: Run, Stop and Clear, the timer, the record settings dialogs, the analyzer's
// commands and the driver prompt. Run and the tick's decoding take the document from the gate inside
// the recording control.
#include "MainFrame.h"

#include "CommandTable.h"
#include "DeviceCommands.h"
#include "GraphView.h"
#include "FrameText.h"
#include "QXCtrlView.h"
#include "QXLogView.h"
#include "SettingsDialogs.h"

#include <QProcess>
#include <QSysInfo>

#include <cstdio>
#include <filesystem>

using frame::Q;

namespace {

#if defined(Q_OS_LINUX)

// Where `cmake --install` puts the analyzer's udev rule (set by the build from packaging/).
#ifndef AMBRIO_UDEV_RULE
#define AMBRIO_UDEV_RULE "/etc/udev/rules.d/70-ambrio-analyzer.rules"
#endif

constexpr char kInstallDriverTitle[] = "Install Ambrio Driver";

// Here the driver is the udev rule that lets the user open the analyzer: where the installation puts
// it, whether it is there, and how udev takes it up without a restart.
QString DriverRuleText() {
    std::error_code ec;
    const bool present = std::filesystem::exists(AMBRIO_UDEV_RULE, ec);
    return QStringLiteral("On this system the Ambrio driver is the udev rule\n"
                          "    %1\n"
                          "%2 Once it is there, let udev read it (as root):\n"
                          "    udevadm control --reload-rules && udevadm trigger")
        .arg(AMBRIO_UDEV_RULE, present ? "It is in place." : "\"cmake --install\" puts it in place.");
}

QString DriverPromptText() {
    return QStringLiteral("  Would you like to install Ambrio Driver?\n\n%1\n\n"
                          "\"Install Driver\" shows these steps in a box to copy them from.")
        .arg(DriverRuleText());
}

#else

// The driver installer in "driver" below the current folder, one per word size of the system.
std::string DriverInstallerPath() {
    return QSysInfo::currentCpuArchitecture().contains("64") ? cmd::kDriverInstaller64 : cmd::kDriverInstaller32;
}

QString DriverPromptText() {
    return QStringLiteral("  Would you like to install Ambrio Driver?");
}

#endif

} // namespace

#if defined(Q_OS_LINUX)

// No installer exists here: the command shows the rule and the command that loads it.
void CMainFrame::OnInstallDriver() {
    dialogs.titledMessage(kInstallDriverTitle, frame::S(DriverRuleText()));
}

#else

void CMainFrame::OnInstallDriver() {
    const std::string path = DriverInstallerPath();
    if (!std::filesystem::exists(path)) {
        char text[512];
        std::snprintf(text, sizeof text, cmd::kDriverNotFoundText, path.c_str());
        ShowMessage(text);
        return;
    }
    QProcess::startDetached(Q(path), {cmd::kDriverInstallerArgument});
}

#endif

// ---- settings dialogs --------------------------------------------------------------------------------

int CMainFrame::ExecSettingsDialog(CSettingsDialog& dialog) {
    dialog.hooks.message = [this](const std::string& title, const std::string& text) {
        dialogs.titledMessage(title, text);
    };
    dialog.hooks.askYesNo = [this](const std::string& text) { return dialogs.askYesNo(text); };
    dialog.hooks.chooseFolder = [this](const std::string& current) { return dialogs.chooseFolder(current); };
    return execSettingsDialog(dialog);
}

void CMainFrame::OnRecordSettings() {
    CConfigDlg dialog(settings, this);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return;
    if (settings.recordVbusSamplingIntervalMS != 0) SendSamplingInterval(connection, settings.recordVbusSamplingIntervalMS);
    doc.store.SetLimits(settings.CaptureLimits());
}

void CMainFrame::OnRecordFileSettings() {
    ExecSettingsDialog(*recordFileDlg);
}

void CMainFrame::OnVbusCurrentDirection() {
    CVbusCurrentDirCfg dialog(settings.vbusCurrDirReverse, settings.vbusCurrDirCfgDoNotAskAgain, this);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return;
    settings.vbusCurrDirReverse = dialog.Reverse();
    settings.vbusCurrDirCfgDoNotAskAgain = dialog.DoNotAskAgain();
    if (logView) logView->SetupColumns();
    // The graph draws the current the other way; its markers and window stay where the user put them.
    if (CGraphView* graph = GraphView()) graph->SetReverseCurrent(settings.vbusCurrDirReverse);
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(connection.fwVersionText, connection.invalidFirmware, connection.serialText, this);
    if (ExecSettingsDialog(dialog) == QDialog::Accepted && dialog.FirmwareUpdateRequested())
        ExecuteCommand(kIdEnterFirmwareUpdate);
}

// ---- the timer ---------------------------------------------------------------------------------------

void CMainFrame::Tick() {
    // A tick inside a long operation (its progress painting lets timers through) waits for the next;
    // in a dialog's loop it runs, and its decoding asks the gate.
    if (control.gate.LongOperation()) return;
    const auto start = std::chrono::steady_clock::now();
    control.OnTimer();
    UpdateCommandStates();
    const auto spent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    worstTick = std::max(worstTick, spent);
}

void CMainFrame::RefreshControlView() {
    if (ctrlView) ctrlView->Refresh();
}

void CMainFrame::FirstTick(bool connected) {
    // An analyzer works, so its driver is in place: the installer prompt is not needed any more.
    if (connected) {
        settings.launchDriverInstaller = false;
        return;
    }
    if (!settings.launchDriverInstaller) return;
    // No tick runs while the prompt is open.
    const bool ticking = timer.isActive();
    timer.stop();
    CLaunchDriverInstallerDlg prompt(DriverPromptText(), this);
    if (ExecSettingsDialog(prompt) == QDialog::Accepted) ExecuteCommand(cmd::kInstallDriver);
    if (prompt.DoNotAskAgain()) settings.launchDriverInstaller = false;
    if (ticking) timer.start();
}

bool CMainFrame::RecordFileSettingsDialog(RecordFileChoice* choice) {
    if (ExecSettingsDialog(*recordFileDlg) != QDialog::Accepted) return false;
    choice->caption = recordFileDlg->Caption();
    choice->appendTimestamp = recordFileDlg->AppendTimestamp();
    choice->startTime = recordFileDlg->StartTime();
    return true;
}

bool CMainFrame::ConfirmReplaceRecordFiles(const std::vector<std::string>& existing) {
    std::string text;
    if (existing.size() == 1) {
        text = "The record file \"" + existing.front() + "\" already exists.\n\nReplace it with the new recording?";
    } else {
        text = "The record files \"" + existing.front() + "\" and " + std::to_string(existing.size() - 1) +
               " more of the same series already exist.\n\nReplace them with the new recording?";
    }
    return dialogs.askYesNo(text);
}


// ---- enabling and dispatch -------------------------------------------------------------------------

std::optional<bool> CMainFrame::CaptureCommandEnabled(uint32_t id) const {
    const bool active = control.RecordingActive();
    switch (id) {
    case cmd::kRun:
        return control.CanRun() && Free(DocUse::Run);
    case cmd::kStop:
        return active;
    case cmd::kClear: // during a recording it only asks the reader to stop and start anew
        return doc.store.SampleCount() != 0 && (reader.capturing || Free(DocUse::New));
    case cmd::kRecordSettings:
    case cmd::kRecordFileSettings:
        return !active;
    case cmd::kCalibration:
        return false;
    case cmd::kInstallDriver:
        return !connection.connected;
    case cmd::kVbusCurrentDirection:
    case cmd::kAbout:
    case kIdEnterFirmwareUpdate:
        return true;
    default:
        if (FindCcInjectionCommand(id)) return true;
        return std::nullopt;
    }
}

bool CMainFrame::ExecuteCaptureCommand(uint32_t id) {
    switch (id) {
    case cmd::kRun:
        control.RunCommand();
        if (!control.lastRunRefusal.empty()) SetStatusText(control.lastRunRefusal);
        return true;
    case cmd::kStop:
        control.Stop();
        return true;
    case cmd::kClear:
        control.Clear();
        return true;
    case cmd::kInstallDriver:
        OnInstallDriver();
        return true;
    case cmd::kRecordSettings:
        OnRecordSettings();
        return true;
    case cmd::kRecordFileSettings:
        OnRecordFileSettings();
        return true;
    case cmd::kVbusCurrentDirection:
        OnVbusCurrentDirection();
        return true;
    case cmd::kAbout:
        OnAbout();
        return true;
    default:
        if (id != kIdEnterFirmwareUpdate && !FindCcInjectionCommand(id)) return false;
        RunDeviceCommand(connection, id);
        return true;
    }
}
