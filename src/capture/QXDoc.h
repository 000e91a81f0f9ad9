// The single document: one record file and its capture store, decoded in 1 MB steps.
#pragma once

#include "CaptureStore.h"

#include <cstdint>
#include <string>

// What the document needs from the views and the application around it. Every hook has a quiet
// default so that the command-line tool and tests need only override what they watch.
class IDocumentHooks {
public:
    virtual ~IDocumentHooks() = default;
    // The packet list forgets its selection, markers and built rows (content cleared or re-timed).
    virtual void ForgetPacketRows() {}
    // The graph view attaches to the document again after New and Open.
    virtual void AttachGraph() {}
    // The graph's markers O and X in display times; false when there is no graph view.
    virtual bool GraphMarkers(int64_t* o, int64_t* x) const {
        (void)o;
        (void)x;
        return false;
    }
    // The graph shifts its stored display times after a change of time origin.
    virtual void ShiftGraphTimes(int64_t delta) { (void)delta; }
    // The folder new record files are written to.
    virtual std::string RecordFolder() const { return {}; }
    // The framework's path name (title, recent-file list).
    virtual void SetPathName(const std::string& path) { (void)path; }
};

class CQXDoc {
public:
    explicit CQXDoc(IUserNotify* notify = nullptr, IDocumentHooks* hooks = nullptr,
                    const StoreLimits& limits = {});

    bool NewDocument();
    bool OpenDocument(const std::string& path);
    bool SaveDocument(const std::string& newPath);
    void ClearContents();
    void OpenCaptureFile(const std::string& name);
    bool DecodeAvailable();
    bool DecodeStep(bool* endReached);
    void DecodeFile(const std::string& path);
    // False when the marks did not all reach the file (which then ends where it ended before).
    bool AppendMarks(const std::string& path);
    void SetTimeOrigin(int64_t t, bool relative);

    // Marks changed by a view command: sets both the marks flag and the modified flag.
    void SetMarksChanged() {
        marksChanged = true;
        modified = true;
    }

    CCaptureStore store;
    std::string docPath;
    bool marksChanged = false;
    bool modified = false; // the framework's modified flag

    static constexpr int64_t kStepSize = 1048576;

private:
    IUserNotify* notify;
    IDocumentHooks* hooks;
    IDocumentHooks noHooks;
};
