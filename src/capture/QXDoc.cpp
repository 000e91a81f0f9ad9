#include "QXDoc.h"

#include "Notify.h"
#include "TimeMath.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Status(IUserNotify* n, const std::string& text) {
    if (n) n->SetStatusText(text);
}

// Progress texts are for a file being read while nothing records.
void Progress(IUserNotify* n, int64_t percent) {
    if (!n || n->IsCapturing()) return;
    char text[64];
    std::snprintf(text, sizeof text, "Decoding... %d%%", int(percent));
    n->SetStatusText(text);
}

// Closes a stdio file on every path out of a step.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

CQXDoc::CQXDoc(IUserNotify* n, IDocumentHooks* h, const StoreLimits& limits)
    : store(n, limits), notify(n), hooks(h ? h : &noHooks) {}

bool CQXDoc::NewDocument() {
    ClearContents();
    modified = false;
    hooks->AttachGraph();
    return true;
}

bool CQXDoc::OpenDocument(const std::string& path) {
    ClearContents();
    // The framework's open step: the file must be there and readable.
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    f.reset();
    modified = false;
    docPath = path;
    DecodeFile(path);
    hooks->AttachGraph();
    return true;
}

void CQXDoc::ClearContents() {
    marksChanged = false;
    store.Reset();
    hooks->ForgetPacketRows();
    if (notify) notify->UpdateAllViews();
    docPath.clear();
}

void CQXDoc::OpenCaptureFile(const std::string& name) {
    std::string folder = hooks->RecordFolder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    docPath = folder + name;
    DecodeFile(docPath);
    hooks->SetPathName(docPath);
    if (notify) notify->UpdateAllViews();
}

bool CQXDoc::DecodeStep(bool* endReached) {
    *endReached = false;
    if (store.recordPath.empty()) return false;
    FilePtr f(std::fopen(store.recordPath.c_str(), "rb"));
    if (!f) return false;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0) return false;
    const int64_t length = int64_t(st.st_size);
    if (length == 0 || length == store.decodePosition) return false;
    // A file that shrank below what was decoded has nothing new to offer.
    if (length < store.decodePosition) return false;
    if (fseeko(f.get(), off_t(store.decodePosition), SEEK_SET) != 0) return false;
    const int64_t end = std::min(length, store.decodePosition + kStepSize);

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kStepSize]);
    if (!buffer) return false;

    Progress(notify, store.decodePosition * 100 / length);
    if (end - store.decodePosition < 64) {
        *endReached = true;
        return true;
    }
    const size_t n = std::fread(buffer.get(), 1, size_t(end - store.decodePosition), f.get());
    store.EnforceLimits();
    store.decodePosition += int64_t(store.DecodeChunk(buffer.get(), n, store.decodePosition));
    *endReached = n < size_t(kStepSize);
    return true;
}

bool CQXDoc::DecodeAvailable() {
    bool processed = false;
    for (;;) {
        bool endReached = false;
        const bool p = DecodeStep(&endReached);
        if (!p) break;
        processed = p;
        if (endReached) break;
    }
    // Each step tells where it starts; the end of what the file holds is all of it.
    if (processed) Progress(notify, 100);
    return processed;
}

void CQXDoc::DecodeFile(const std::string& path) {
    store.Reset();
    store.recordPath = path;
    store.loadedTimeOrigin = 0;
    store.bookmarkTimes.clear();
    store.loadedMarkerA = store.loadedMarkerB = store.loadedGraphO = store.loadedGraphX = -1;

    if (notify) notify->BeginWaitCursor();
    DecodeAvailable();
    store.SetTimeOrigin(store.loadedTimeOrigin);
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        CCCPacket* p = store.PacketAt(i);
        if (p->startTime == store.loadedMarkerA) store.markerAPacket = p;
        if (p->startTime == store.loadedMarkerB) store.markerBPacket = p;
        for (int64_t t : store.bookmarkTimes)
            if (p->startTime == t) {
                p->bookmarked = true;
                break;
            }
    }
    if (notify) notify->EndWaitCursor();
    Status(notify, "Decode completed.");
}

bool CQXDoc::SaveDocument(const std::string& newPath) {
    if (store.recordPath.empty()) {
        FilePtr f(std::fopen(newPath.c_str(), "wb"));
        if (!f) return false;
        modified = false;
        return true;
    }
    if (store.recordPath != newPath) {
        std::error_code ec;
        std::filesystem::copy_file(store.recordPath, newPath, std::filesystem::copy_options::overwrite_existing,
                                   ec);
        if (ec) {
            if (notify) notify->ShowMessage("Save File Error");
            return false;
        }
    }
    // Marks that did not reach the disk are not saved: the document keeps them, and stays modified.
    if (marksChanged && !AppendMarks(newPath)) {
        if (notify) notify->ShowMessage("Save File Error");
        return false;
    }
    marksChanged = false;
    // From now on the document stands for the saved file, as its title says: the next Save appends
    // to it instead of copying the old file over it (which would also wipe the marks just saved).
    store.recordPath = newPath;
    if (!docPath.empty()) docPath = newPath;
    modified = false;
    return true;
}

bool CQXDoc::AppendMarks(const std::string& path) {
    if (docPath.empty()) return true;
    FilePtr f(std::fopen(path.c_str(), "r+b"));
    if (!f) return false;
    // Unbuffered: a block that failed must not be written later by the close, past the truncation.
    std::setvbuf(f.get(), nullptr, _IONBF, 0);
    if (fseeko(f.get(), 0, SEEK_END) != 0) return false;
    // Marker blocks only count on the block grid. A file cut inside a block (a copy cut short, a writer
    // killed) ends in a fragment that can never decode; it goes, so that the marks land on the grid and
    // are found again on reopen.
    const off_t length = ftello(f.get());
    if (length < 0) return false;
    const off_t tail = length % rec::kBlockSize;
    if (tail != 0) {
        std::fflush(f.get());
        if (::ftruncate(fileno(f.get()), length - tail) != 0) return false;
        if (fseeko(f.get(), length - tail, SEEK_SET) != 0) return false;
        if (notify) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "The record file ended in an incomplete block; its last %d bytes were dropped.",
                          int(tail));
            Status(notify, text);
        }
    }

    uint8_t block[rec::kBlockSize] = {};
    int pos = 0;
    bool written = true;
    auto writeBlock = [&] { written = std::fwrite(block, 1, sizeof block, f.get()) == sizeof block && written; };
    auto startBlock = [&] {
        std::fill(std::begin(block), std::end(block), 0);
        rec::WriteU16(block, rec::kMarkerWord);
        pos = 2;
    };
    auto writeEntry = [&](uint8_t type, int64_t value) {
        block[pos] = type;
        block[pos + 1] = 8;
        rec::WriteU64(block + pos + 2, uint64_t(value));
        if (pos + 10 < rec::kBlockSize) block[pos + 10] = 255;
        pos += 10;
        if (pos > 54) {
            writeBlock();
            startBlock();
        }
    };

    startBlock();
    block[2] = 5;
    block[3] = 8;
    rec::WriteU64(block + 4, uint64_t(store.timeOrigin));
    block[12] = 16;
    block[13] = 0;
    pos = 14;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket* p = store.PacketAt(i);
        uint8_t type = 0;
        if (p == store.markerBPacket)
            type = 19;
        else if (p == store.markerAPacket)
            type = 18;
        else if (p->bookmarked)
            type = 17;
        if (type) writeEntry(type, p->startTime);
    }
    int64_t o = 0, x = 0;
    if (hooks->GraphMarkers(&o, &x)) {
        writeEntry(24, TimeSum(o, store.timeOrigin));
        writeEntry(25, TimeSum(x, store.timeOrigin));
    }
    if (pos > 2) writeBlock();
    written = std::fflush(f.get()) == 0 && written;
    // A group of marks cut short would be applied in part on reopen: the file goes back to its end.
    if (!written) {
        std::clearerr(f.get());
        if (::ftruncate(fileno(f.get()), length - tail) != 0) return false;
    }
    return std::fclose(f.release()) == 0 && written;
}

void CQXDoc::SetTimeOrigin(int64_t t, bool relative) {
    const int64_t old = store.timeOrigin;
    const int64_t origin = relative ? TimeSum(old, t) : t;
    const int64_t delta = TimeDifference(origin, old);
    store.SetTimeOrigin(origin);
    hooks->ShiftGraphTimes(-delta);
    hooks->ForgetPacketRows();
    if (notify) notify->UpdateAllViews();
}
