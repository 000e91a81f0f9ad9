#include "RecordSession.h"

#include "DeviceConnection.h"
#include "HeadlessUi.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordingControl.h"
#include "Settings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Phase { Waiting, Recording, Stopping };

// Why the folder cannot take record files, or empty when it can.
std::string FolderProblem(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return "not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

// "A exists already", "A, B and C exist already", with at most three names.
std::string ExistingFilesText(const std::vector<std::string>& files) {
    std::string text;
    const size_t shown = std::min<size_t>(files.size(), 3);
    for (size_t i = 0; i < shown; ++i)
        text += (i == 0 ? "" : i + 1 == shown && shown == files.size() ? " and " : ", ") + files[i];
    if (shown < files.size()) text += " and " + std::to_string(files.size() - shown) + " more files";
    text += files.size() == 1 ? " exists already" : " exist already";
    text += files.size() == 1 ? "; --overwrite replaces it" : "; --overwrite replaces them";
    return text;
}

// The status line of a tick: while the recording runs the window's text, which says that; otherwise what
// the session does, never the window's idle hints.
std::string TerminalStatus(const CHeadlessUi& ui, const CRecordingControl& control, const CReaderThread& reader,
                           const CDeviceConnection& connection, Phase phase) {
    if (reader.capturing) return ui.status;
    if (phase == Phase::Waiting)
        return connection.connected ? kStartingRecordingText : kWaitingForAnalyzerText;
    std::string text = control.recordedText;
    if (!control.limitStopText.empty()) text += (text.empty() ? "" : "    ") + control.limitStopText;
    return text.empty() ? "The recording ended." : text;
}

} // namespace

const char* RecordSessionEndText(RecordSessionEnd end) {
    switch (end) {
    case RecordSessionEnd::Duration:
        return "The recording ran its time.";
    case RecordSessionEnd::Stopped:
        return "The recording was stopped.";
    case RecordSessionEnd::FileSizeLimit:
        return "The record file reached its size limit; the recording stopped early.";
    case RecordSessionEnd::LastFileFull:
        return "The last file of the series is full; the recording stopped early.";
    case RecordSessionEnd::NextFileFailed:
        return "The next file of the series could not be created; the recording stopped early.";
    case RecordSessionEnd::AnalyzerLost:
        return "The analyzer was disconnected; the recording stopped.";
    case RecordSessionEnd::WriteFailed:
        return "Writing the record file failed; the recording stopped.";
    case RecordSessionEnd::NoAnalyzer:
        return "No analyzer was found.";
    case RecordSessionEnd::OldFirmware:
        return "The analyzer's firmware is too old (1.01 or newer is needed).";
    case RecordSessionEnd::FolderUnusable:
        return "The record folder cannot be used.";
    case RecordSessionEnd::FileExists:
        return "The record file exists already.";
    case RecordSessionEnd::CreateFailed:
        return "The record file could not be created.";
    }
    return "";
}

RecordSessionResult RunRecordSession(IAnalyzerLink& link, const RecordSessionOptions& options,
                                     const std::atomic<bool>& stop, std::ostream& out, std::ostream& err) {
    RecordSessionResult result;
    const auto finish = [&](RecordSessionEnd end, std::string message) {
        result.end = end;
        result.exitCode = end == RecordSessionEnd::Duration || end == RecordSessionEnd::Stopped ? 0 : 1;
        if (result.exitCode != 0) {
            result.message = message.empty() ? RecordSessionEndText(end) : std::move(message);
            err << result.message << '\n';
        }
        return result;
    };

    const std::string folder = options.folder.empty() ? std::string(".") : options.folder;
    // Told before any analyzer is waited for, rather than as a file that cannot be created.
    if (const std::string problem = FolderProblem(folder); !problem.empty())
        return finish(RecordSessionEnd::FolderUnusable,
                      "Cannot write to the record folder " + folder + ": " + problem + ".");

    CSettings settings;
    settings.recordFileFolder = folder;
    settings.recordFileCaption = options.caption;
    settings.recordAppendTimestamp = options.appendTimestamp;
    settings.recordMultiCaptureFile = options.multiFile;
    settings.recordMaxFileSizeMB = options.maxFileSizeMB;
    settings.recordVbusSamplingIntervalMS = options.samplingIntervalMs;
    settings.recordDoNotAskAgain = true; // nobody to ask
    // A headless recording runs for the time asked: the store forgets its oldest data rather than
    // report itself full, which would end a single-file recording.
    settings.maxPDPacketCount = options.packetLimit;
    settings.maxVbusInfoCount = options.sampleLimit;
    settings.pdPacketAutoRemove = true;
    settings.vbusInfoAutoRemove = true;
    settings.recordCaptureFullStop = false;

    CDeviceConnection connection(link);
    CReaderThread reader(connection);
    reader.SetCalibration(ReaderCalibrationFrom(settings.calibration));
    CHeadlessUi ui(reader);
    // No dialog is ever shown: messages go to the error stream, except the one about the first record
    // file, which the session's own end line names; existing files are replaced only when asked to.
    ui.onMessage = [&err](const std::string& text) {
        if (text != kCreateRecordFileErrorText) err << text << '\n';
    };
    ui.replaceAnswer = options.overwrite;
    CRecordFolderHooks hooks;
    CQXDoc doc(&ui, &hooks, settings.CaptureLimits());
    CRecordingControl control(settings, connection, reader, &doc, ui);
    hooks.control = &control;

    RecordSessionEnd end = RecordSessionEnd::NoAnalyzer;
    std::string message;
    Phase phase = Phase::Waiting;
    uint32_t ticks = 0;
    // The end of a timed recording, in real time: the ticks run late on a busy machine.
    using Clock = std::chrono::steady_clock;
    Clock::time_point endsAt = Clock::time_point::max();
    const auto timeIsUp = [&] { return Clock::now() >= endsAt; };
    reader.Start();
    for (;;) {
        control.OnTimer();
        out << TerminalStatus(ui, control, reader, connection, phase) << '\n';
        out.flush();
        ++ticks;

        if (phase == Phase::Waiting) {
            if (control.CanRun()) {
                if (!control.Run()) {
                    if (!options.overwrite && !ui.replaceAsked.empty()) {
                        end = RecordSessionEnd::FileExists;
                        message = ExistingFilesText(ui.replaceAsked.back());
                    } else {
                        end = RecordSessionEnd::CreateFailed;
                        message = "The record file " + control.RecordFilePath(1) + " could not be created.";
                    }
                    break;
                }
                phase = Phase::Recording;
                // Beyond some thirty years the clock could not say; such a length is no limit.
                if (options.seconds > 0 && options.seconds < 1e9)
                    endsAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(options.seconds));
            } else if (stop || ticks >= options.connectTicks) {
                end = connection.invalidFirmware ? RecordSessionEnd::OldFirmware : RecordSessionEnd::NoAnalyzer;
                break;
            }
        } else if (phase == Phase::Recording) {
            if (!reader.capturing || reader.captureStopRequest) {
                // Ended by itself, or by the tick (analyzer gone).
                const int32_t n = reader.fileNumber;
                char limit[160];
                if (ui.Said(kRecordWriteFailedText) || reader.recordWriteFailed) {
                    end = RecordSessionEnd::WriteFailed;
                } else if (!connection.connected) {
                    end = RecordSessionEnd::AnalyzerLost;
                } else if (!options.multiFile) {
                    end = RecordSessionEnd::FileSizeLimit;
                    std::snprintf(limit, sizeof limit, " reached its size limit of %u MB",
                                  unsigned(options.maxFileSizeMB));
                    message = "The record file " + control.RecordFilePath(n) + limit +
                              "; the recording stopped early (--multi goes on in a numbered series).";
                } else if (n >= kMaxRecordFileNumber) {
                    end = RecordSessionEnd::LastFileFull;
                    message = "The last file of the series, " + control.RecordFilePath(n) +
                              ", is full; the recording stopped early.";
                } else {
                    end = RecordSessionEnd::NextFileFailed;
                    message = "The next file of the series, " + control.RecordFilePath(n + 1) +
                              ", could not be created; the recording stopped early.";
                }
                phase = Phase::Stopping;
            } else if (stop || timeIsUp()) {
                end = stop ? RecordSessionEnd::Stopped : RecordSessionEnd::Duration;
                control.Stop();
                phase = Phase::Stopping;
            }
        }
        if (phase == Phase::Stopping && !reader.capturing && !reader.finalDecodePending) break;

        // Until the next tick; a stop, the end of the recording's time, or the end of a stop is acted on
        // at once.
        auto next = Clock::now() + std::chrono::milliseconds(options.tickMs);
        if (phase == Phase::Recording) next = std::min(next, endsAt);
        while (Clock::now() < next) {
            if (phase == Phase::Recording && stop) break;
            if (phase == Phase::Stopping && !reader.capturing) break;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(std::chrono::milliseconds(20), next - Clock::now()));
        }
    }
    reader.RequestExit();
    reader.WaitForExit();
    connection.Close();
    if (reader.recordWriteFailed.exchange(false) && end != RecordSessionEnd::WriteFailed) {
        err << kRecordWriteFailedText << '\n';
        end = RecordSessionEnd::WriteFailed;
        message.clear();
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
    return finish(end, std::move(message));
}
