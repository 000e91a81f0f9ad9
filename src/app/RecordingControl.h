// The recording logic of the main window: Run, Stop and Clear, the names of record files, remote start
// and stop by other programs, and the one-second timer that polls the analyzer, feeds what the reader
// thread wrote to the document's decoder, watches the capture store's limits and writes the status
// text. Toolkit-free: the window supplies its dialogs, views and status bar through IMainWindowUi, and
// tests call OnTimer directly.
#pragma once

#include "DeviceConnection.h"
#include "DocumentGate.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "Settings.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint32_t kIdRun = 32771;
inline constexpr uint32_t kIdStop = 32772;
inline constexpr uint32_t kIdClear = 32800;

inline constexpr char kCreateRecordFileErrorText[] = "Creating a record file error. Please check the record "
                                                     "file folder is writable and has enough disk space.";
inline constexpr char kVbusSampleFullText[] = "VBUS Sample count full.";
inline constexpr char kPdMessageFullText[] = "PD messege count full.";
inline constexpr char kConnectedStatusText[] = "Connected.  (Push \"Run\" button to start capturing.)";
inline constexpr char kDisconnectedStatusText[] = "Disconnected.  (Connect Ambrio Device to USB port.)";
// Shown once when appending to the record file failed and the recording ended.
inline constexpr char kRecordWriteFailedText[] =
    "Writing the record file failed. The recording was stopped; the data recorded before the failure is "
    "kept in the record file.";

// What the Record File Settings dialog hands back on OK: the fields the base name is formed from.
struct RecordFileChoice {
    std::string caption;
    bool appendTimestamp = false;
    std::time_t startTime = 0; // when the dialog opened, or its timestamp box was last clicked
};

// The parts of the main window the recording logic drives. Called on the user-interface thread only.
class IMainWindowUi {
public:
    virtual ~IMainWindowUi() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    // A modal message box with an OK button; returns when it is closed.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void UpdateAllViews() = 0;
    // The document's prompt to save its changes; false when the user cancels (or saving failed).
    virtual bool SaveModified() = 0;
    // The Record File Settings dialog, modal. On OK it has stored its fields into the settings and
    // fills *choice; false when it was cancelled.
    virtual bool RecordFileSettingsDialog(RecordFileChoice* choice) = 0;
    virtual void SetDocumentTitle(const std::string& title) { (void)title; }
    // The graph draws itself again from the document.
    virtual void RedrawGraph() {}
    // The graph takes the document afresh: markers from the document (none after a reset), the whole
    // capture fitted, as for a file just opened.
    virtual void AttachGraph() {}
    // The graph scrolls to the newest sample (graph auto scroll).
    virtual void GraphFollowNewest() {}
    // The control view shows the live readings again.
    virtual void RefreshControlView() {}
    // The first tick's driver installer prompt of the main window.
    virtual void FirstTick(bool connected) { (void)connected; }
    // A Run by the user would replace record files that exist already (first file, or any file of a
    // numbered series): true when the user agrees. Remote runs never ask.
    virtual bool ConfirmReplaceRecordFiles(const std::vector<std::string>& existing) = 0;
};

// Why a record name given by another program cannot be used, or empty when it can: the caption rules
// of the Record File Settings dialog (none of \ / : * ? " < > |, at most 64 characters), and no "..",
// so that the name stays a file in the record folder.
std::string RecordNameProblem(const std::string& name);

// Base name of the record files: the caption, then the start time as _YYYYMMDD-hhmmss in local time
// when asked for.
std::string RecordBaseName(const std::string& caption, bool appendTimestamp, std::time_t startTime);

// The names of one recording's files, fixed when it starts, so that another program changing the
// external name or folder meanwhile cannot split a series.
struct RecordNames {
    std::string folder;
    std::string baseName;
    std::string externalName;
    bool multiFile = false;

    // File name of file number n. An external name stands alone when a recording keeps to one file;
    // in multiple-file mode it is numbered like a caption (ext_0001.qxc, ext_0002.qxc, ...), so that no
    // file overwrites the one before and the series can be stitched.
    std::string FileName(int32_t n) const;
    // Folder, a slash unless it ends with one, then the file name.
    std::string Path(int32_t n) const;
    // The files of this recording that exist already: the first file, and in multiple-file mode every
    // numbered file the reader thread may go on to.
    std::vector<std::string> ExistingFiles() const;
};

// Why a single-file recording stopped when the in-memory packets or samples reached their limit, naming
// the limit and where to change it.
std::string LimitStopText(bool packets, uint32_t limit);

// Where a stopped recording went: the record file's full path, its length (first to last VBUS sample;
// left out when it holds none) and its size on disk, and for a series which file it is and where the
// series starts.
std::string RecordedFileText(const std::string& path, const int64_t* lengthMicros, uint64_t fileBytes,
                             int32_t fileCount, const std::string& firstFileName);

// "Capturing... %s" with the elapsed time, the file size part and the two store counts. A maximum of 0
// counts as 1 in the percentages (the dialogs allow it; the store then reports itself full).
std::string CapturingStatusText(int64_t elapsedMicros, uint64_t bytesWritten, uint32_t maxFileSizeMB,
                                uint64_t packetCount, uint32_t maxPacketCount, uint64_t sampleCount,
                                uint32_t maxSampleCount);

// The settings' calibration ratios in the form the reader thread takes.
ReaderCalibration ReaderCalibrationFrom(const CalibrationRatios& ratios);

class CRecordingControl {
public:
    // The document's IDocumentHooks::RecordFolder must answer RecordFolder() of this object, so that the
    // document and the reader thread name the same files. doc may be null (no document: nothing runs).
    CRecordingControl(CSettings& settings, CDeviceConnection& connection, CReaderThread& reader, CQXDoc* doc,
                      IMainWindowUi& ui);

    // Commands. Run, Stop and Clear are the handlers; RunCommand and the enabling tests are for the menu,
    // the toolbar and the restart after Clear.
    // Run by the user: asks before replacing existing record files. A remote Run (remote = true) keeps
    // writing the name its caller set.
    bool Run(bool remote = false);
    void Stop();
    void Clear();
    bool RunCommand();
    // `connected`, the reader runs, no exit request, `capturing`, no stop request.
    bool RecordingActive() const;
    bool CanRun() const;

    // Empties the document for a new recording: asks to save unsaved changes unless a recording is
    // active (or prompt is false); false when the user cancels.
    bool ResetDocument(bool prompt = true);

    // Remote control by other programs (the D-Bus service): the record name and folder, start, stop.
    // A name that is no plain file name is refused with the reason (the name stays as it was).
    bool SetExternalRecordName(const std::string& name, std::string* why = nullptr);
    void SetExternalRecordFolder(const std::string& folder) { settings.externalRecordFolder = folder; }
    // The copy-data message: dwData 1 names the record file, 2 the folder; other values are ignored.
    void OnCopyData(uint64_t dwData, std::u16string_view text);
    // Run without dialog, only when an external record name is set.
    bool RemoteRun();
    // Forgets the external name and folder, then Stop.
    void RemoteStop();

    // The one-second timer tick.
    void OnTimer();

    // Who may use the document now; Run, Clear and the tick's decoding go through it, as every command
    // of the window does.
    CDocumentGate gate;
    // Why the last Run did not start; empty when it was cancelled by the user or started.
    std::string lastRunRefusal;

    // The folder of the current (or last) recording's files; the settings' record folder before the
    // first recording.
    std::string RecordFolder();
    std::string RecordFileName(int32_t n) const { return names.FileName(n); }
    std::string RecordFilePath(int32_t n) const { return names.Path(n); }
    const RecordNames& Names() const { return names; }

    // The clock Run takes the start time from (local time zone applies when formatting).
    std::function<std::time_t()> clock = [] { return std::time(nullptr); };

    // Main window state of the recording.
    std::string recordBaseName;
    std::string externalRecordName;
    int32_t shownFileNumber = 0;
    bool restartAfterStop = false;
    bool graphAutoScroll = true;
    bool firstTickDone = false;
    // A store-full message was shown (or is open) for this recording; the message box may let later
    // ticks run while it waits for OK, and they must not show it again.
    bool storeFullMessageShown = false;
    // Why a single-file recording ended at the in-memory limit (the store full, no full-stop message);
    // said once in a message when the stop is through and kept in the status bar until the next Run.
    std::string limitStopText;
    std::string limitStopPath; // the recording's file; another document drops the note
    bool limitStopSaid = false;
    // Where the last recording went (RecordedFileText), kept in the status bar while the document shows
    // that file, until the next Run.
    std::string recordedText;
    std::string recordedPath;

private:
    bool RunHeld(bool remote);
    // The recording could start after a dialog: nothing else started one meanwhile.
    bool StillStartable() const;
    void FollowFileNumber();
    void UpdateStatus();
    // Once a recording has stopped: the note on its file, when the document shows that file.
    void NoteRecordedFile();
    // The status while nothing records: the notes on the stopped recording's file, else the connection.
    std::string IdleStatusText();

    CSettings& settings;
    CDeviceConnection& connection;
    CReaderThread& reader;
    CQXDoc* doc;
    IMainWindowUi& ui;
    RecordNames names;
    bool namesFixed = false;
    // Clear during a recording: its restart may replace that recording's files without asking.
    bool clearedRestart = false;
    // A recording started and its stop has not been noted yet.
    bool recordedNoteDue = false;
    bool replaceUnasked = false;
};
