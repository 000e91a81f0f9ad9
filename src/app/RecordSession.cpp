#include "RecordSession.h"

#include "DeviceConnection.h"
#include "Notify.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordingControl.h"
#include "Settings.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace {

// The main window as far as a headless recording needs one: the status text is kept for printing,
// messages go to the error stream, no dialog is ever shown.
class CSessionUi : public IMainWindowUi, public IUserNotify {
public:
    CSessionUi(std::ostream& err, const CReaderThread& reader) : err(err), reader(reader) {}

    void SetStatusText(const std::string& text) override { status = text; }
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        err << text << '\n';
    }
    void UpdateAllViews() override {}
    bool SaveModified() override { return true; }
    bool RecordFileSettingsDialog(RecordFileChoice*) override { return false; }
    bool ConfirmReplaceRecordFiles(const std::vector<std::string>&) override { return true; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool IsCapturing() const override { return reader.capturing; }

    bool Said(const char* text) const {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }

    std::string status;
    std::vector<std::string> messages;

private:
    std::ostream& err;
    const CReaderThread& reader;
};

class CSessionHooks : public IDocumentHooks {
public:
    std::string RecordFolder() const override { return control ? control->RecordFolder() : std::string(); }
    CRecordingControl* control = nullptr;
};

enum class Phase { Waiting, Recording, Stopping };

} // namespace

const char* RecordSessionEndText(RecordSessionEnd end) {
    switch (end) {
    case RecordSessionEnd::Duration:
        return "The recording ran its time.";
    case RecordSessionEnd::Stopped:
        return "The recording was stopped.";
    case RecordSessionEnd::Finished:
        return "The recording stopped at its file or capture limit.";
    case RecordSessionEnd::AnalyzerLost:
        return "The analyzer was disconnected; the recording stopped.";
    case RecordSessionEnd::WriteFailed:
        return "Writing the record file failed; the recording stopped.";
    case RecordSessionEnd::NoAnalyzer:
        return "No analyzer was found.";
    case RecordSessionEnd::OldFirmware:
        return "The analyzer's firmware is too old (1.01 or newer is needed).";
    case RecordSessionEnd::CreateFailed:
        return "The record file could not be created.";
    }
    return "";
}

RecordSessionResult RunRecordSession(IAnalyzerLink& link, const RecordSessionOptions& options,
                                     const std::atomic<bool>& stop, std::ostream& out, std::ostream& err) {
    CSettings settings;
    settings.recordFileFolder = options.folder.empty() ? std::string(".") : options.folder;
    settings.recordFileCaption = options.caption;
    settings.recordAppendTimestamp = options.appendTimestamp;
    settings.recordMultiCaptureFile = options.multiFile;
    settings.recordMaxFileSizeMB = options.maxFileSizeMB;
    settings.recordVbusSamplingIntervalMS = options.samplingIntervalMs;
    settings.recordDoNotAskAgain = true; // nobody to ask

    CDeviceConnection connection(link);
    CReaderThread reader(connection);
    reader.SetCalibration(ReaderCalibrationFrom(settings.calibration));
    CSessionUi ui(err, reader);
    CSessionHooks hooks;
    CQXDoc doc(&ui, &hooks, settings.CaptureLimits());
    CRecordingControl control(settings, connection, reader, &doc, ui);
    hooks.control = &control;

    RecordSessionResult result;
    Phase phase = Phase::Waiting;
    uint32_t ticks = 0;
    reader.Start();
    for (;;) {
        control.OnTimer();
        out << ui.status << '\n';
        out.flush();
        ++ticks;

        if (phase == Phase::Waiting) {
            if (control.CanRun()) {
                if (!control.Run()) {
                    result.end = RecordSessionEnd::CreateFailed;
                    break;
                }
                phase = Phase::Recording;
                ticks = 0;
            } else if (stop || ticks >= options.connectTicks) {
                result.end =
                    connection.invalidFirmware ? RecordSessionEnd::OldFirmware : RecordSessionEnd::NoAnalyzer;
                break;
            }
        } else if (phase == Phase::Recording) {
            if (!reader.capturing || reader.captureStopRequest) {
                // Ended by itself, or by the tick (analyzer gone, store full).
                result.end = ui.Said(kRecordWriteFailedText) || reader.recordWriteFailed
                                 ? RecordSessionEnd::WriteFailed
                             : !connection.connected ? RecordSessionEnd::AnalyzerLost
                                                     : RecordSessionEnd::Finished;
                phase = Phase::Stopping;
            } else if (stop || (options.seconds != 0 && ticks >= options.seconds)) {
                result.end = stop ? RecordSessionEnd::Stopped : RecordSessionEnd::Duration;
                control.Stop();
                phase = Phase::Stopping;
            }
        }
        if (phase == Phase::Stopping && !reader.capturing && !reader.finalDecodePending) break;

        // Until the next tick; a stop, or the end of a stop, is acted on at once.
        const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.tickMs);
        while (std::chrono::steady_clock::now() < next) {
            if (phase == Phase::Recording && stop) break;
            if (phase == Phase::Stopping && !reader.capturing) break;
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(20), next - std::chrono::steady_clock::now()));
        }
    }
    reader.RequestExit();
    reader.WaitForExit();
    connection.Close();
    if (reader.recordWriteFailed.exchange(false) && result.end != RecordSessionEnd::WriteFailed) {
        err << kRecordWriteFailedText << '\n';
        result.end = RecordSessionEnd::WriteFailed;
    }

    if (phase != Phase::Waiting) {
        for (int32_t n = 1; n <= reader.fileNumber; ++n) {
            const std::string path = control.RecordFilePath(n);
            std::error_code ec;
            const uintmax_t size = std::filesystem::file_size(path, ec);
            if (ec) continue;
            result.files.push_back(path);
            result.bytes += size > uintmax_t(kHeaderBlockSize) ? uint64_t(size) - kHeaderBlockSize : 0;
        }
    }
    switch (result.end) {
    case RecordSessionEnd::Duration:
    case RecordSessionEnd::Stopped:
    case RecordSessionEnd::Finished:
        result.exitCode = 0;
        break;
    default:
        result.exitCode = 1;
        err << RecordSessionEndText(result.end) << '\n';
    }
    return result;
}
