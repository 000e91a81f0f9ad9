// Remote control by other programs (the D-Bus service): the record name and folder, Run, Stop and the
// automatic export. A remote call arrives whenever the event loop runs, inside a dialog or a progress
// repaint too: it answers at once, and what the gate refuses is refused with the reason.
#include "MainFrame.h"

#include "ExportDlg.h"

#include <QTimer>

bool CMainFrame::RemoteSetRecordName(const std::string& name, std::string* reason) {
    return control.SetExternalRecordName(name, reason);
}

void CMainFrame::RemoteSetRecordFolder(const std::string& folder) {
    control.SetExternalRecordFolder(folder);
}

bool CMainFrame::RemoteRun(std::string* reason) {
    std::string why;
    bool ok = false;
    if (control.externalRecordName.empty()) {
        why = "No record name is set (SetRecordName first).";
    } else if (!reader.readerRunning || reader.capturing || reader.captureStopRequest) {
        why = "A recording is running or stopping.";
    } else if (why = control.gate.Refusal(DocUse::Run); !why.empty()) {
    } else if (!RecordingActive() && doc.modified) {
        // The save prompt would keep the caller waiting: the user decides at the window first.
        why = "The open document has unsaved changes; save or discard them in the window first.";
        SetStatusText(why);
    } else {
        // Messages of the attempt are shown once the caller has its answer.
        inRemoteCall = true;
        remoteMessages.clear();
        ok = control.RemoteRun();
        inRemoteCall = false;
        if (!ok)
            why = !control.lastRunRefusal.empty() ? control.lastRunRefusal
                  : remoteMessages.empty()        ? std::string("The recording did not start.")
                                                  : remoteMessages.front();
        for (const std::string& text : remoteMessages)
            QTimer::singleShot(0, this, [this, text] { dialogs.message(text); });
        remoteMessages.clear();
    }
    if (reason) *reason = why;
    UpdateCommandStates();
    return ok;
}

void CMainFrame::RemoteStop() {
    // Stop only asks the reader thread; it needs nothing of the document.
    control.RemoteStop();
    UpdateCommandStates();
}

void CMainFrame::ConnStateChanged(int32_t vbusMv, int32_t cc1Mv, int32_t cc2Mv) {
    // Reader thread: hand the values to the user-interface thread.
    QMetaObject::invokeMethod(
        this, [this, vbusMv, cc1Mv, cc2Mv] { emit connStateChanged(vbusMv, cc1Mv, cc2Mv); }, Qt::QueuedConnection);
}

// The export another program asks for: one modeless dialog, kept, that exports at once and closes. It
// holds the document from Prepare to its worker's end, so nothing resets or fills it meanwhile.
bool CMainFrame::RemoteExport(std::string* reason, RemoteExportDone done) {
    std::string why;
    CDocumentGate::CHold hold;
    if (doc.store.recordPath.empty())
        why = "No record file is open.";
    else if (autoExportHold)
        why = "Exporting is not possible now: the export asked for before is still running.";
    else
        hold = control.gate.Enter(DocUse::Export, &why);
    if (!hold) {
        SetStatusText("Remote export refused: " + why);
        if (reason) *reason = why;
        return false;
    }
    autoExportHold = std::move(hold);
    autoExportDone = std::move(done);
    if (!autoExport) {
        autoExport = std::make_unique<CExportDlg>(this);
        autoExport->finished = [this](bool ok, const std::string& failure) { EndRemoteExport(ok, failure); };
        // A range that does not resolve leaves the dialog open for the user; it reads the document until
        // it closes.
        connect(autoExport.get(), &QDialog::finished, this, [this] {
            if (autoExport && !autoExport->Exporting()) autoExportHold.Release();
            UpdateCommandStates();
        });
    }
    autoExport->Prepare(doc, this, settings.Columns(), settings.vbusCurrDirReverse);
    autoExport->SetAutomatic(true);
    autoExport->hide();
    autoExport->show();
    UpdateCommandStates();
    if (autoExport->Exporting()) {
        SetStatusText("Exporting for another program...");
        return true;
    }
    autoExportDone = nullptr;
    why = "The capture has no range to export; the Export dialog is open in the window.";
    SetStatusText("Remote export: " + why);
    if (reason) *reason = why;
    return false;
}

void CMainFrame::EndRemoteExport(bool ok, const std::string& failure) {
    autoExportHold.Release();
    const std::string file = autoExport ? autoExport->Options().fileName : std::string();
    SetStatusText(ok ? "Export completed: \"" + file + "\"." : "Export failed: " + failure);
    if (auto done = std::exchange(autoExportDone, nullptr)) done(ok, ok ? file : failure);
    UpdateCommandStates();
}

// The window closes: a remote export still running is stopped, and its caller told.
void CMainFrame::FinishAutomaticExport() {
    if (autoExport && autoExport->Exporting()) {
        autoExport->OnAbort();
        autoExport->FinishExport();
    }
    autoExportHold.Release();
}
