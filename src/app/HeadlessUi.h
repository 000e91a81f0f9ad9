// The main window as far as a recording without a window needs one, for `qxtool record`, the benchmarks
// and the tests: it keeps the status text, the title and every message, answers each question as it is
// told to (no dialog is ever shown), and asks the reader thread whether a recording fills the document.
#pragma once

#include "Notify.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordingControl.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CHeadlessUi : public IMainWindowUi, public IUserNotify {
public:
    explicit CHeadlessUi(const CReaderThread& reader) : reader(reader) {}

    void SetStatusText(const std::string& text) override { status = text; }
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        // One nested level: a message shown while onMessage runs is kept, but runs nothing.
        if (onMessage && !messageOpen) {
            messageOpen = true;
            onMessage(text);
            messageOpen = false;
        }
    }
    void UpdateAllViews() override {}
    bool SaveModified() override {
        ++saveAsked;
        WhileOpen("save prompt");
        return saveAnswer;
    }
    bool RecordFileSettingsDialog(RecordFileChoice* choice) override {
        ++dialogs;
        WhileOpen("Record File Settings");
        if (!dialogAnswer) return false;
        *choice = *dialogAnswer;
        return true;
    }
    bool ConfirmReplaceRecordFiles(const std::vector<std::string>& existing) override {
        replaceAsked.push_back(existing);
        WhileOpen("replace question");
        return replaceAnswer;
    }
    void SetDocumentTitle(const std::string& text) override { title = text; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool IsCapturing() const override { return reader.capturing; }

    bool Said(const std::string& text) const {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }

    std::string status, title;
    std::vector<std::string> messages;
    // Runs with each message while its box would be open; a message box runs the event loop, the
    // window's timer included.
    std::function<void(const std::string&)> onMessage;
    // Runs while a dialog or question would be open (named as the argument): a modal dialog runs the
    // event loop, in which remote calls and the timer arrive.
    std::function<void(const std::string& dialog)> whileDialogOpen;
    // The Save prompt's answer, and how often it came.
    bool saveAnswer = true;
    int saveAsked = 0;
    // The Record File Settings dialog: how often it came, and its fields on OK (none: cancelled).
    int dialogs = 0;
    std::optional<RecordFileChoice> dialogAnswer;
    // Whether existing record files may be replaced, and the files of each time it was asked.
    bool replaceAnswer = true;
    std::vector<std::vector<std::string>> replaceAsked;

private:
    void WhileOpen(const std::string& dialog) {
        if (whileDialogOpen) whileDialogOpen(dialog);
    }

    const CReaderThread& reader;
    bool messageOpen = false;
};

// The document's hooks of a recording without a window: the record folder is the recording control's.
class CRecordFolderHooks : public IDocumentHooks {
public:
    std::string RecordFolder() const override { return control ? control->RecordFolder() : std::string(); }
    CRecordingControl* control = nullptr;
};
