// The file commands: New, Open (a recent file, a drop), Import, Save and Save As, the tolerant re-read,
// Export, Stitch and the record file's folder. Each takes the document from the gate for as long as it
// uses it.
#include "MainFrame.h"

#include "CommandTable.h"
#include "ExportDlg.h"
#include "FrameText.h"
#include "ImportLogicDlg.h"
#include "RecordFile.h"
#include "StitchFileDlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

using namespace frame;

namespace {

// An import that takes longer than this shows its progress box with Cancel.
constexpr int kImportProgressDelayMs = 700;

// The recent-file list holds absolute, normalised paths, so one file has one entry.
std::string RecentFilePath(const std::string& path) {
    std::error_code ec;
    const std::string full = std::filesystem::absolute(path, ec).lexically_normal().string();
    return ec ? path : full;
}

} // namespace

void CMainFrame::OnNew() {
    CDocumentGate::CHold hold = EnterGate(DocUse::New);
    if (!hold || !SaveModified()) return;
    doc.NewDocument();
    titleName = cmd::kUntitled;
    UpdateTitle();
}

void CMainFrame::OnToggleTolerantDecoding() {
    CDocumentGate::CHold hold = EnterGate(DocUse::Open);
    if (!hold) return;
    doc.store.tolerantBits = !doc.store.tolerantBits;
    // The open file is read again the new way; when it cannot be (the user kept unsaved marks, the file
    // is gone) the setting stays as the list shows it.
    const std::string path = doc.docPath;
    if (!path.empty() && !OpenHeld(path)) doc.store.tolerantBits = !doc.store.tolerantBits;
}

void CMainFrame::OnOpenContainingFolder() {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(doc.store.recordPath, ec);
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(file.parent_path().string())));
}

void CMainFrame::OnOpen() {
    const std::string path = dialogs.openFileName();
    if (path.empty()) return;
    OpenFile(path);
}

bool CMainFrame::OpenFile(const std::string& path) {
    // From the save prompt to the last row the document is the open's: the progress painting serves
    // remote calls meanwhile, and they are refused.
    CDocumentGate::CHold hold = EnterGate(DocUse::Open);
    return hold && OpenHeld(path);
}

bool CMainFrame::OpenHeld(const std::string& path) {
    // The same check as qxtool's, before anything is asked or cleared: a file that is no record file
    // leaves the open document as it was.
    rec::RecordFileHead head;
    std::string reason;
    if (!rec::CheckRecordFile(path, &head, &reason)) {
        RemoveRecentFile(path);
        ShowMessage("Cannot open \"" + path + "\" (" + reason + ").");
        return false;
    }
    if (!SaveModified()) return false;
    // The wait cursor spans the decoding and the building of the rows.
    BeginWaitCursor();
    const bool ok = doc.OpenDocument(path);
    if (ok) {
        SetPathName(path);
        UpdateAllViews(nullptr, 0);
        SetStatusText("Decode completed.");
    }
    EndWaitCursor();
    if (!ok) {
        RemoveRecentFile(path);
        ShowMessage("The record file \"" + path + "\" cannot be opened.");
        titleName = cmd::kUntitled;
        UpdateTitle();
        UpdateCommandStates();
        return false;
    }
    if (const int64_t missing = rec::MissingBytes(head); missing > 0) {
        const std::string note = rec::MissingBytesText(missing, rec::HeaderBytesWritten(head));
        notePane->setText(Q(note));
        notePane->setToolTip(Q(note));
        SetStatusText(note);
    }
    return true;
}

void CMainFrame::OnImportLogic() {
    const std::string path = dialogs.openLogicCaptureName();
    if (!path.empty()) ImportLogicCapture(path);
}

bool CMainFrame::ImportLogicCapture(const std::string& path, bool dropped) {
    CDocumentGate::CHold hold = EnterGate(DocUse::Import);
    if (!hold) return false;
    CImportLogicDlg dialog(path, this);
    dialog.chooseOutput = [this](const std::string& suggested) { return dialogs.saveFileName(suggested); };
    dialog.askReplace = [this](const std::string& text) { return dialogs.askYesNo(text); };
    BeginWaitCursor();
    const bool readable = dialog.ReadChannels();
    EndWaitCursor();
    // A dropped file that is neither a record file nor a capture the library recognises gets the open
    // message; from the menu the dialog says why and takes a format.
    if (!readable && dropped) return OpenHeld(path);
    if (ExecSettingsDialog(dialog) != QDialog::Accepted) return false;
    imp::ImportRequest request = dialog.Request();
    // Replacing the open document's own file: its unsaved marks are asked for first.
    std::error_code ec;
    if (!doc.docPath.empty() && std::filesystem::equivalent(request.output, doc.docPath, ec) && !SaveModified())
        return false;

    // The import runs beside the window, which keeps painting meanwhile. A long one shows a modal
    // progress box whose Cancel stops it (nothing is left of the output then); until that box is up,
    // the user's input waits.
    BeginWaitCursor();
    SetStatusText("Importing \"" + path + "\"...");
    imp::ImportReport report;
    std::atomic<bool> done = false, cancel = false;
    request.cancel = &cancel;
    QProgressDialog progress(Q("Importing \"" + path + "\"..."), "Cancel", 0, 0, this);
    progress.setWindowTitle("Import Logic Capture");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kImportProgressDelayMs);
    progress.setAutoReset(false);
    progress.setMinimumWidth(420);
    connect(&progress, &QProgressDialog::canceled, &progress, [&cancel] { cancel = true; });
    std::thread worker([&] {
        report = imp::ImportLogicCapture(request);
        done = true;
    });
    while (!done) {
        progress.setValue(0); // shows the box once the delay has passed
        QCoreApplication::processEvents(progress.isVisible() ? QEventLoop::AllEvents
                                                             : QEventLoop::ExcludeUserInputEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    progress.hide();
    EndWaitCursor();
    if (!report.ok) {
        if (cancel) {
            SetStatusText("Import stopped; nothing was written.");
            return false;
        }
        SetStatusText("Import failed.");
        ShowMessage("Cannot import \"" + path + "\": " + report.error);
        return false;
    }
    if (!OpenHeld(request.output)) return false;
    SetStatusText("Imported " + std::to_string(report.samples) + " samples into \"" + request.output + "\".");
    return true;
}

std::string CMainFrame::DocumentNote() const {
    return notePane ? S(notePane->text()) : std::string();
}

void CMainFrame::OnSave(bool askName) {
    // The name is asked with the document held: the file dialog serves remote calls too.
    if (CDocumentGate::CHold hold = EnterGate(DocUse::Save)) SaveHeld(askName);
}

void CMainFrame::SaveHeld(bool askName) {
    std::string path = doc.docPath;
    if (askName || path.empty()) {
        path = dialogs.saveFileName(path);
        if (path.empty()) return;
        // Without the extension the Open dialog would not show the file.
        if (!HasRecordExtension(path)) {
            path += kRecordExtension;
            std::error_code ec;
            if (std::filesystem::exists(path, ec) &&
                !dialogs.askYesNo("\"" + path + "\" already exists.\nDo you want to replace it?"))
                return;
        }
    }
    if (!FinishRecordingBeforeSave()) return;
    BeginWaitCursor();
    const bool ok = doc.SaveDocument(path);
    EndWaitCursor();
    if (ok) SetPathName(path);
    UpdateCommandStates();
}

bool CMainFrame::FinishRecordingBeforeSave() {
    if (!reader.capturing) return true;
    // Closing with unsaved marks during a recording: the reader thread would go on writing at its own
    // offset over marker blocks appended behind its back. It closes the file first, header block
    // included; the rest of the stream is decoded, then the marks go to the end of the finished file.
    control.Stop();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reader.capturing && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (reader.capturing) {
        ShowMessage("The recording could not be stopped; the marks were not saved.");
        return false;
    }
    doc.DecodeAvailable();
    return true;
}

bool CMainFrame::SaveModified() {
    if (!doc.modified) return true;
    // Asked by a command that holds the document already (open, new, run, import, close).
    switch (dialogs.askSave(titleName)) {
    case FrameDialogs::SaveAnswer::Yes:
        SaveHeld(false);
        return !doc.modified;
    case FrameDialogs::SaveAnswer::No:
        return true;
    case FrameDialogs::SaveAnswer::Cancel:
        break;
    }
    return false;
}

void CMainFrame::SetPathName(const std::string& path) {
    titleName = std::filesystem::path(path).filename().string();
    AddRecentFile(path);
    UpdateTitle();
}

std::vector<std::string> CMainFrame::RecentFiles() const {
    return *recentFiles;
}

void CMainFrame::AddRecentFile(const std::string& path) {
    const std::string full = RecentFilePath(path);
    auto& list = *recentFiles;
    list.erase(std::remove(list.begin(), list.end(), full), list.end());
    list.insert(list.begin(), full);
    if (list.size() > kRecentFileCount) list.resize(kRecentFileCount);
    UpdateRecentMenu();
}

void CMainFrame::RemoveRecentFile(const std::string& path) {
    const std::string full = RecentFilePath(path);
    auto& list = *recentFiles;
    list.erase(std::remove(list.begin(), list.end(), full), list.end());
    UpdateRecentMenu();
}

void CMainFrame::UpdateRecentMenu() {
    for (size_t i = 0; i < recentActions.size(); ++i) {
        QAction* a = recentActions[i];
        if (i < recentFiles->size()) {
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(Q((*recentFiles)[i])));
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
    if (recentMenu) recentMenu->setEnabled(!recentFiles->empty());
}

// ---- record file tools ------------------------------------------------------------------------------

void CMainFrame::OnExport() {
    if (doc.store.recordPath.empty()) return;
    // The dialog reads the document from Prepare to its worker's end: nothing resets it meanwhile.
    CDocumentGate::CHold hold = EnterGate(DocUse::Export);
    if (!hold) return;
    CExportDlg dialog(this);
    dialog.Prepare(doc, this, settings.Columns(), settings.vbusCurrDirReverse);
    execToolDialog(dialog);
}

void CMainFrame::OnStitch() {
    if (doc.store.recordPath.empty()) return;
    std::string stitched;
    {
        CDocumentGate::CHold hold = EnterGate(DocUse::Stitch);
        if (!hold) return;
        CStitchFileDlg dialog(settings.recordFileFolder, doc.store.recordPath, this);
        if (execToolDialog(dialog) == QDialog::Accepted && dialog.OpenRequested()) stitched = dialog.StitchedPath();
    }
    // Asked for when the stitch finished: the stitched file opens as with File Open, once the stitch has
    // let go of the document.
    if (!stitched.empty()) OpenFile(stitched);
}

// ---- enabling and dispatch -------------------------------------------------------------------------

std::optional<bool> CMainFrame::FileCommandEnabled(uint32_t id) const {
    const bool active = RecordingActive();
    const bool hasFile = !doc.store.recordPath.empty();
    switch (id) {
    case cmd::kNew:
        return !active && Free(DocUse::New);
    case cmd::kOpen:
        return !active && Free(DocUse::Open);
    case cmd::kSave:
    case cmd::kSaveAs:
        return !active && hasFile && Free(DocUse::Save);
    case cmd::kExport:
        return !active && hasFile && Free(DocUse::Export);
    case cmd::kStitch:
        return !active && hasFile && Free(DocUse::Stitch);
    case cmd::kImportLogic:
        return !active && Free(DocUse::Import);
    case cmd::kTolerantDecoding: // the open file is decoded again, which a recording must not see
        return !active && Free(DocUse::Open);
    case cmd::kOpenContainingFolder: {
        std::error_code ec;
        return hasFile && std::filesystem::is_regular_file(doc.store.recordPath, ec);
    }
    case cmd::kExit:
        return true;
    default:
        return std::nullopt;
    }
}

bool CMainFrame::ExecuteFileCommand(uint32_t id) {
    switch (id) {
    case cmd::kNew:
        OnNew();
        return true;
    case cmd::kOpen:
        OnOpen();
        return true;
    case cmd::kImportLogic:
        OnImportLogic();
        return true;
    case cmd::kSave:
        OnSave(false);
        return true;
    case cmd::kSaveAs:
        OnSave(true);
        return true;
    case cmd::kExport:
        OnExport();
        return true;
    case cmd::kStitch:
        OnStitch();
        return true;
    case cmd::kTolerantDecoding:
        OnToggleTolerantDecoding();
        return true;
    case cmd::kOpenContainingFolder:
        OnOpenContainingFolder();
        return true;
    case cmd::kExit:
        close();
        return true;
    default:
        return false;
    }
}

