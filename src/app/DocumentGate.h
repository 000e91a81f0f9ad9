// One owner for the document. Every command, remote call and worker that replaces, fills or reads the
// document asks here first: what cannot run now is refused at once with the reason, nothing waits.
// Dialogs and progress painting run nested event loops, in which remote calls and timer ticks arrive in
// the middle of a command; the hold a command takes keeps them off until it gives the document back.
// Toolkit-free, on the user-interface thread only.
#pragma once

#include <string>
#include <vector>

class CReaderThread;

enum class DocUse {
    Open,   // a record file replaces the document (Open, a recent file, a drop, a re-read)
    Import, // a logic capture is converted, then opened
    New,    // the document is emptied (New, Clear while no recording runs)
    Save,   // the record file is copied and the marks appended
    Run,    // the document is reset and a recording starts, the dialogs of Run included
    Export, // the complete document is read: the Export dialog, a remote export and their worker
    Stitch, // the Stitch dialog and its worker read the record files of a series
    Decode, // the timer decodes what the recording wrote, or the rest of it after a stop
};

class CDocumentGate {
public:
    // The recording state comes from the reader thread's flags: a running or stopping recording owns
    // the document until its last data is decoded.
    explicit CDocumentGate(const CReaderThread& reader) : reader(reader) {}

    // Gives the document back when it goes; empty when the use was refused.
    class CHold {
    public:
        CHold() = default;
        CHold(CHold&& other) noexcept : gate(other.gate), use(other.use) { other.gate = nullptr; }
        CHold& operator=(CHold&& other) noexcept;
        CHold(const CHold&) = delete;
        CHold& operator=(const CHold&) = delete;
        ~CHold() { Release(); }
        explicit operator bool() const { return gate != nullptr; }
        void Release();

    private:
        friend class CDocumentGate;
        CHold(CDocumentGate* g, DocUse u) : gate(g), use(u) {}
        CDocumentGate* gate = nullptr;
        DocUse use = DocUse::Decode;
    };

    // Why use cannot start now, as one sentence; empty when it can.
    std::string Refusal(DocUse use) const;
    // Takes the document for use, or refuses with *why.
    CHold Enter(DocUse use, std::string* why = nullptr);

    // Something holds the document.
    bool Held() const { return !holders.empty(); }
    bool Holds(DocUse use) const;
    // A long operation of this thread holds it (opening, importing, saving): the window paints its
    // progress meanwhile, and the timer's tick waits for the next.
    bool LongOperation() const { return Holds(DocUse::Open) || Holds(DocUse::Import) || Holds(DocUse::Save); }
    // What holds the document, or the recording that owns it; empty when it is free.
    std::string HolderText() const;

private:
    std::string RecordingText() const;

    const CReaderThread& reader;
    std::vector<DocUse> holders;
};
