#include "RecordingControl.h"

#include "PacketTexts.h"
#include "TimeMath.h"
#include "UsbDescriptors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

// Percent of count in max by unsigned integer division; a maximum of 0 counts as 1.
uint64_t Percent(uint64_t count, uint64_t max) {
    return count * 100 / std::max<uint64_t>(max, 1);
}

// The characters the Record File Settings dialog refuses in a caption.
constexpr char kNameForbidden[] = "\\/:*?\"<>|";
constexpr size_t kMaxNameLength = 64;

} // namespace

std::string RecordNameProblem(const std::string& name) {
    size_t characters = 0;
    for (unsigned char c : name) characters += (c & 0xC0) != 0x80;
    const bool forbidden = name.find_first_of(kNameForbidden) != std::string::npos;
    if (!forbidden && name.find("..") == std::string::npos && characters <= kMaxNameLength &&
        std::none_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20; }))
        return {};
    return "The record name \"" + name +
           "\" cannot be used: it must be a plain file name of at most 64 characters, without \\ / : * ? \" "
           "< > | and without \"..\".";
}

std::string RecordBaseName(const std::string& caption, bool appendTimestamp, std::time_t startTime) {
    if (!appendTimestamp) return caption;
    std::tm tm{};
    localtime_r(&startTime, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "_%d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return caption + stamp;
}

std::string RecordNames::FileName(int32_t n) const {
    std::string name = externalName.empty() ? baseName : externalName;
    if (multiFile || n > 1) {
        char number[16];
        std::snprintf(number, sizeof number, "_%04d", int(n));
        name += number;
    }
    return name + ".qxc";
}

std::string RecordNames::Path(int32_t n) const {
    if (folder.empty()) return FileName(n);
    return folder.back() == '/' ? folder + FileName(n) : folder + '/' + FileName(n);
}

std::vector<std::string> RecordNames::ExistingFiles() const {
    std::vector<std::string> existing;
    std::error_code ec;
    if (std::filesystem::exists(Path(1), ec)) existing.push_back(Path(1));
    if (!multiFile) return existing;
    // The reader thread creates the later files of a series afresh: a listing of the folder finds
    // those of an earlier recording under the same name.
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string stem = (externalName.empty() ? baseName : externalName) + '_';
        if (name.size() != stem.size() + 8 || name.compare(0, stem.size(), stem) != 0) continue;
        const int32_t n = std::atoi(name.c_str() + stem.size());
        if (n >= 2 && n <= kMaxRecordFileNumber && name == FileName(n)) existing.push_back(Path(n));
    }
    std::sort(existing.begin(), existing.end());
    return existing;
}

std::string LimitStopText(bool packets, uint32_t limit) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "The recording stopped: the %s limit of %u in memory was reached. Change it in Capture > "
                  "Record Settings, or turn on Multiple Record File in Capture > Record File Settings to "
                  "go on in a new file.",
                  packets ? "PD packet" : "VBUS sample", unsigned(limit));
    return text;
}

std::string RecordedFileText(const std::string& path, const int64_t* lengthMicros, uint64_t fileBytes,
                             int32_t fileCount, const std::string& firstFileName) {
    char size[64];
    if (fileBytes <= 10000000)
        std::snprintf(size, sizeof size, "%lluKB", static_cast<unsigned long long>(fileBytes / 1000));
    else
        std::snprintf(size, sizeof size, "%lluMB", static_cast<unsigned long long>(fileBytes / 1000 / 1000));
    std::string text = "Recorded to " + path + "  (";
    if (lengthMicros) {
        // The time text keeps columns for the list (a sign, padded digits); in a sentence they go.
        for (char c : FormatTimeText(*lengthMicros))
            if (c != ' ' || (text.back() != ' ' && text.back() != '(')) text += c;
        text += ", ";
    }
    text += size;
    if (fileCount > 1) text += "; the last of " + std::to_string(fileCount) + " files, from " + firstFileName;
    return text + ")";
}

std::string CapturingStatusText(int64_t elapsedMicros, uint64_t bytesWritten, uint32_t maxFileSizeMB,
                                uint64_t packetCount, uint32_t maxPacketCount, uint64_t sampleCount,
                                uint32_t maxSampleCount) {
    char part[128];
    std::snprintf(part, sizeof part, "Capturing... %s", FormatTimeText(elapsedMicros).c_str());
    std::string text = part;
    if (bytesWritten <= 10000000) {
        const uint64_t kb = bytesWritten / 1000;
        std::snprintf(part, sizeof part, "    [File Size=%dKB (%d%%) ]", int(kb),
                      int(Percent(kb, uint64_t(maxFileSizeMB) * 1000)));
    } else {
        const uint64_t mb = bytesWritten / 1000 / 1000;
        std::snprintf(part, sizeof part, "    [File Size=%dMB (%d%%) ]", int(mb),
                      int(Percent(mb, maxFileSizeMB)));
    }
    text += part;
    std::snprintf(part, sizeof part, "    [PD Packets=%d (%d%%) ]", int(packetCount),
                  int(Percent(packetCount, maxPacketCount)));
    text += part;
    std::snprintf(part, sizeof part, "     [VBUS Samples=%d (%d%%) ]", int(sampleCount),
                  int(Percent(sampleCount, maxSampleCount)));
    return text + part;
}

ReaderCalibration ReaderCalibrationFrom(const CalibrationRatios& r) {
    ReaderCalibration c;
    c.vbusVoltage = int32_t(r.vbusVoltage);
    c.vbusCurrent = int32_t(r.vbusCurrent);
    c.cc1Voltage = int32_t(r.cc1Voltage);
    c.cc1Current = int32_t(r.cc1Current);
    c.cc2Voltage = int32_t(r.cc2Voltage);
    c.cc2Current = int32_t(r.cc2Current);
    return c;
}

CRecordingControl::CRecordingControl(CSettings& s, CDeviceConnection& c, CReaderThread& r, CQXDoc* d,
                                     IMainWindowUi& u)
    : gate(r), graphAutoScroll(s.graphAutoScroll), settings(s), connection(c), reader(r), doc(d), ui(u) {}

bool CRecordingControl::SetExternalRecordName(const std::string& name, std::string* why) {
    std::string problem = RecordNameProblem(name);
    if (!problem.empty()) {
        if (why) *why = std::move(problem);
        return false;
    }
    externalRecordName = name;
    return true;
}

std::string CRecordingControl::RecordFolder() {
    return namesFixed ? names.folder : settings.RecordFolder();
}

bool CRecordingControl::RecordingActive() const {
    return connection.connected && reader.readerRunning && !reader.readerExitRequest && reader.capturing &&
           !reader.captureStopRequest;
}

bool CRecordingControl::CanRun() const {
    return connection.connected && !RecordingActive();
}

bool CRecordingControl::ResetDocument(bool prompt) {
    if (!doc) return false;
    if (prompt && !RecordingActive() && doc->modified && !ui.SaveModified()) return false;
    ui.SetDocumentTitle("Untitled");
    doc->ClearContents();
    doc->modified = false;
    // The previous document's markers and zoom do not belong to the new one.
    ui.AttachGraph();
    reader.rotatedForFull = false;
    return true;
}

bool CRecordingControl::StillStartable() const {
    // A stop still under way belongs to the reader thread, which clears the request once it is through;
    // clearing it here could swallow a Stop meant for the recording this Run starts.
    return reader.readerRunning && !reader.readerExitRequest && !reader.capturing && !reader.captureStopRequest;
}

bool CRecordingControl::Run(bool remote) {
    lastRunRefusal.clear();
    if (!StillStartable() || !doc) return false;
    // From the reset to the first byte the document is this Run's: the dialogs below run nested event
    // loops, and nothing that arrives in them may start, open or export meanwhile.
    CDocumentGate::CHold hold = gate.Enter(DocUse::Run, &lastRunRefusal);
    if (!hold) return false;
    return RunHeld(remote);
}

bool CRecordingControl::RunHeld(bool remote) {
    // The name is the one set when Run began, whatever another program sets while a dialog is open.
    const std::string external = externalRecordName;
    if (!ResetDocument() || !StillStartable()) return false;

    RecordFileChoice choice;
    if (!external.empty() || settings.recordDoNotAskAgain) {
        choice.caption = settings.recordFileCaption;
        choice.appendTimestamp = settings.recordAppendTimestamp;
        choice.startTime = clock();
    } else if (!ui.RecordFileSettingsDialog(&choice) || !StillStartable()) {
        return false;
    }
    recordBaseName = RecordBaseName(choice.caption, choice.appendTimestamp, choice.startTime);

    // The names are fixed for the whole recording; the reader thread numbers its files from them.
    const RecordNames next{settings.RecordFolder(), recordBaseName, external, settings.recordMultiCaptureFile};
    const std::vector<std::string> existing = next.ExistingFiles();
    if (!existing.empty() && !remote && !replaceUnasked &&
        (!ui.ConfirmReplaceRecordFiles(existing) || !StillStartable()))
        return false;
    // Nothing of the reader's is touched before this point: only now is it sure that no recording runs.
    names = next;
    namesFixed = true;
    reader.fileNumber = 1;
    shownFileNumber = 1;
    reader.rotatedForFull = false;
    reader.rotationRequest = false;
    // The new recording replaces the old series whole: a later file of the old one left behind would
    // read as part of the new series.
    for (const std::string& path : existing) {
        std::error_code ec;
        if (std::filesystem::remove(path, ec); ec && std::filesystem::exists(path)) {
            ui.ShowMessage(kCreateRecordFileErrorText);
            return false;
        }
    }
    reader.SetRecordFiles([n = names](int32_t number) { return n.Path(number); },
                          settings.recordMaxFileSizeMB, names.multiFile);
    if (!reader.OpenRecordFile(names.Path(1))) {
        ui.ShowMessage(kCreateRecordFileErrorText);
        // A remote caller gets its answer at once; nobody at the window asked for the dialog.
        if (!remote) {
            RecordFileChoice ignored;
            ui.RecordFileSettingsDialog(&ignored);
        }
        return false;
    }
    doc->OpenCaptureFile(names.FileName(1));

    restartAfterStop = false;
    storeFullMessageShown = false;
    limitStopText.clear();
    limitStopSaid = false;
    reader.finalDecodePending = false;
    recordedText.clear();
    recordedNoteDue = true;
    reader.capturing = true; // last: from now on the file belongs to the reader thread
    reader.Wake();
    return true;
}

bool CRecordingControl::RunCommand() {
    // The restart after Clear (or a Run right after it) replaces the files of the recording the user
    // just cleared, without asking.
    const bool restart = std::exchange(clearedRestart, false);
    if (!CanRun()) return false;
    replaceUnasked = restart;
    const bool ok = Run();
    replaceUnasked = false;
    return ok;
}

void CRecordingControl::Stop() {
    if (!reader.readerRunning || !reader.capturing) return;
    restartAfterStop = false;
    clearedRestart = false;
    reader.RequestCaptureStop();
}

void CRecordingControl::Clear() {
    if (reader.readerRunning && reader.capturing) {
        restartAfterStop = true;
        clearedRestart = true;
        reader.RequestCaptureStop();
    } else if (CDocumentGate::CHold hold = gate.Enter(DocUse::New)) {
        ResetDocument();
    }
}

void CRecordingControl::OnCopyData(uint64_t dwData, std::u16string_view text) {
    if (dwData == 1)
        SetExternalRecordName(usbdesc::Utf16ToUtf8(text));
    else if (dwData == 2)
        SetExternalRecordFolder(usbdesc::Utf16ToUtf8(text));
}

bool CRecordingControl::RemoteRun() {
    return !externalRecordName.empty() && Run(true);
}

void CRecordingControl::RemoteStop() {
    externalRecordName.clear();
    settings.externalRecordFolder.clear();
    Stop();
}

// The reader thread has moved on to another file of the series: the document follows it and shows
// that file only.
void CRecordingControl::FollowFileNumber() {
    const int32_t n = reader.fileNumber;
    if (n == shownFileNumber) return;
    shownFileNumber = n;
    ResetDocument(false);
    doc->OpenCaptureFile(names.FileName(n));
}

void CRecordingControl::UpdateStatus() {
    const int64_t elapsed = reader.live.lastLiveTime - reader.live.firstLiveTime;
    ui.SetStatusText(CapturingStatusText(elapsed, reader.bytesWritten, settings.recordMaxFileSizeMB,
                                         doc->store.PacketCount(), settings.maxPDPacketCount,
                                         doc->store.SampleCount(), settings.maxVbusInfoCount));
}

void CRecordingControl::NoteRecordedFile() {
    recordedNoteDue = false;
    const int32_t n = reader.fileNumber;
    const std::string path = names.Path(n);
    if (doc->docPath != path) return;
    std::error_code ec;
    const uintmax_t bytes = std::filesystem::file_size(path, ec);
    if (ec) return;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    const CCaptureStore& store = doc->store;
    const int64_t length = TimeDifference(store.lastSampleTime, store.captureOrigin);
    recordedText = RecordedFileText(ec ? path : full.string(), store.SampleCount() != 0 ? &length : nullptr,
                                    bytes, n, names.FileName(1));
    recordedPath = doc->docPath;
}

std::string CRecordingControl::IdleStatusText() {
    if (doc->docPath != limitStopPath) limitStopText.clear();
    if (doc->docPath != recordedPath) recordedText.clear();
    if (recordedText.empty() && limitStopText.empty())
        return connection.connected ? kConnectedStatusText : kDisconnectedStatusText;
    // The notes first; a lost analyzer is still said, the hint to push Run is not needed.
    const std::string lost = connection.connected ? "" : kDisconnectedStatusText;
    std::string text;
    const std::string* parts[] = {&recordedText, &limitStopText, &lost};
    for (const std::string* part : parts)
        if (!part->empty()) text += (text.empty() ? "" : "    ") + *part;
    return text;
}

void CRecordingControl::OnTimer() {
    if (!doc) return;

    const bool wasConnected = connection.connected;
    connection.Poll(settings.recordVbusSamplingIntervalMS);
    if (connection.connected != wasConnected) {
        ui.UpdateAllViews();
        reader.Wake(); // a fresh analyzer is read at once, not after the thread's idle second
    }
    if (!firstTickDone) {
        firstTickDone = true;
        ui.FirstTick(connection.connected);
    }
    if (reader.viewsDirty.exchange(false)) ui.UpdateAllViews();
    if (reader.recordWriteFailed.exchange(false)) ui.ShowMessage(kRecordWriteFailedText);

    if (reader.capturing) {
        // While something else holds the document (an export being refused is not one of them) this
        // tick decodes nothing; the next one reads what was added.
        if (CDocumentGate::CHold hold = gate.Enter(DocUse::Decode)) {
            doc->store.SetLimits(settings.CaptureLimits());
            FollowFileNumber();
            doc->DecodeAvailable();
            if (graphAutoScroll) ui.GraphFollowNewest();
            ui.UpdateAllViews();
        }
        UpdateStatus();
    } else if (reader.finalDecodePending) {
        if (restartAfterStop) {
            // Until the thread is through with the stop, Run cannot start: the restart waits a tick.
            if (!reader.captureStopRequest) {
                restartAfterStop = false;
                reader.finalDecodePending = false;
                RunCommand();
            }
        } else if (CDocumentGate::CHold hold = gate.Enter(DocUse::Decode)) {
            // The final decode waits for a tick on which the document is free; it is never skipped.
            reader.finalDecodePending = false;
            doc->store.SetLimits(settings.CaptureLimits());
            FollowFileNumber();
            doc->DecodeAvailable();
            ui.RedrawGraph();
            ui.UpdateAllViews();
            NoteRecordedFile();
            ui.SetStatusText(IdleStatusText());
        }
    } else {
        // A Clear whose recording wrote nothing only stopped it: no restart follows, and the next Run
        // asks again before it replaces files.
        if (!reader.capturing && !reader.captureStopRequest && restartAfterStop) {
            restartAfterStop = false;
            clearedRestart = false;
        }
        // A recording that wrote nothing ends here, with no final decode.
        if (recordedNoteDue && !reader.captureStopRequest) NoteRecordedFile();
        ui.SetStatusText(IdleStatusText());
        if (!limitStopText.empty() && !limitStopSaid) {
            limitStopSaid = true;
            ui.ShowMessage(limitStopText);
        }
    }

    if (reader.capturing && !reader.captureStopRequest) {
        const CCaptureStore& store = doc->store;
        if (!connection.connected) {
            Stop();
        } else if (settings.recordCaptureFullStop && (store.vbusFull || store.packetsFull)) {
            if (!storeFullMessageShown) {
                storeFullMessageShown = true;
                ui.ShowMessage(store.vbusFull ? kVbusSampleFullText : kPdMessageFullText);
                Stop();
            }
        } else if (!reader.rotatedForFull && (store.vbusFull || store.packetsFull)) {
            // One file only: the reader stops the recording rather than switch; the user learns why.
            if (!names.multiFile && limitStopText.empty()) {
                limitStopText = store.packetsFull ? LimitStopText(true, settings.maxPDPacketCount)
                                                  : LimitStopText(false, settings.maxVbusInfoCount);
                limitStopPath = doc->docPath;
            }
            reader.rotationRequest = true;
        }
    }

    ui.RefreshControlView();
}
