#include "DocumentGate.h"

#include "ReaderThread.h"

#include <algorithm>

namespace {

// What each use is called in a refusal: "<what> is not possible now: <holder>."
const char* UseName(DocUse use) {
    switch (use) {
    case DocUse::Open: return "Opening a file";
    case DocUse::Import: return "Importing a logic capture";
    case DocUse::New: return "Clearing the document";
    case DocUse::Save: return "Saving";
    case DocUse::Run: return "Starting a recording";
    case DocUse::Export: return "Exporting";
    case DocUse::Stitch: return "Stitching";
    case DocUse::Decode: return "Decoding";
    }
    return "";
}

// Who holds the document, as the rest of the sentence.
const char* HolderName(DocUse use) {
    switch (use) {
    case DocUse::Open: return "a record file is being opened";
    case DocUse::Import: return "a logic capture is being imported";
    case DocUse::New: return "the document is being cleared";
    case DocUse::Save: return "the document is being saved";
    case DocUse::Run: return "a recording is being started (its dialog or question is open)";
    case DocUse::Export: return "an export is using the document";
    case DocUse::Stitch: return "the Stitch Record Files dialog is open";
    case DocUse::Decode: return "the recording is being decoded";
    }
    return "";
}

// Uses that only read: they go together, and with nothing else.
bool Reads(DocUse use) {
    return use == DocUse::Export || use == DocUse::Stitch;
}

} // namespace

CDocumentGate::CHold& CDocumentGate::CHold::operator=(CHold&& other) noexcept {
    if (this != &other) {
        Release();
        gate = other.gate;
        use = other.use;
        other.gate = nullptr;
    }
    return *this;
}

void CDocumentGate::CHold::Release() {
    if (!gate) return;
    auto& h = gate->holders;
    if (const auto it = std::find(h.begin(), h.end(), use); it != h.end()) h.erase(it);
    gate = nullptr;
}

bool CDocumentGate::Holds(DocUse use) const {
    return std::find(holders.begin(), holders.end(), use) != holders.end();
}

std::string CDocumentGate::RecordingText() const {
    if (reader.capturing && !reader.captureStopRequest) return "a recording is running";
    if (reader.capturing || reader.captureStopRequest || reader.finalDecodePending)
        return "the recording is stopping and its last data is not decoded yet";
    return {};
}

std::string CDocumentGate::HolderText() const {
    if (!holders.empty()) return HolderName(holders.front());
    return RecordingText();
}

std::string CDocumentGate::Refusal(DocUse use) const {
    std::string holder;
    for (DocUse h : holders) {
        if (Reads(use) && Reads(h)) continue;
        holder = HolderName(h);
        break;
    }
    if (holder.empty()) {
        // A recording owns the document while it runs, and until its last data is decoded for those who
        // read it whole. Save ends a running recording itself; the decoder is the recording's own.
        switch (use) {
        case DocUse::Export:
        case DocUse::Stitch:
            holder = RecordingText();
            break;
        case DocUse::Open:
        case DocUse::Import:
        case DocUse::New:
        case DocUse::Run:
            if (reader.capturing || reader.captureStopRequest) holder = RecordingText();
            break;
        case DocUse::Save:
        case DocUse::Decode:
            break;
        }
    }
    if (holder.empty()) return {};
    return std::string(UseName(use)) + " is not possible now: " + holder + ".";
}

CDocumentGate::CHold CDocumentGate::Enter(DocUse use, std::string* why) {
    std::string refusal = Refusal(use);
    if (!refusal.empty()) {
        if (why) *why = std::move(refusal);
        return {};
    }
    holders.push_back(use);
    return CHold(this, use);
}
