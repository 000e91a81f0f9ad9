#include "ToolCommands.h"

#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "StitchWorker.h"
#include "WholeFile.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;

bool Fail(const std::string& what) {
    std::fprintf(stderr, "qxtool: %s\n", what.c_str());
    return false;
}

// The output must not be one of the inputs, must not replace a file unless asked to, and its folder
// must take a file; checked here so that the error names its cause before any work is done.
bool CheckOutput(const std::string& out, const std::vector<std::string>& inputs, bool overwrite) {
    for (const std::string& in : inputs)
        if (SameFile(out, in)) return Fail(InputFileText(out));
    std::error_code ec;
    const bool exists = fs::exists(out, ec);
    if (exists && fs::is_directory(out, ec)) return Fail(out + ": is a folder");
    if (exists && !overwrite) return Fail(out + ": exists already (--overwrite replaces it)");
    // The output is written under a temporary name beside it: one is made and taken away again.
    CWholeFile probe;
    return probe.Open(out) || Fail(probe.Error());
}

// Runs job on the worker thread; on a terminal the progress line is updated every second, as the
// dialogs do. A job that fails is reported with its reason.
bool RunWorker(const char* verb, std::function<bool(ToolFlags&)> job) {
    CToolWorker worker;
    worker.Start(std::move(job));
    const bool terminal = isatty(STDERR_FILENO);
    bool shown = false;
    auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!worker.flags.done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (terminal && std::chrono::steady_clock::now() >= next) {
            std::fprintf(stderr, "\r%s... %d%%", verb, worker.flags.progress.load());
            std::fflush(stderr);
            shown = true;
            next += std::chrono::seconds(1);
        }
    }
    worker.Join();
    if (shown) std::fprintf(stderr, "\r%*s\r", 24, "");
    return !worker.flags.failed.load() || Fail(worker.flags.reason);
}

bool OpenRecord(CQXDoc& doc, const std::string& path) {
    rec::RecordFileHead head;
    std::string reason;
    if (!rec::CheckRecordFile(path, &head, &reason)) return Fail(path + ": " + reason);
    if (!doc.OpenDocument(path)) return Fail(path + ": cannot be opened");
    if (const int64_t missing = rec::MissingBytes(head); missing > 0)
        std::fprintf(stderr, "qxtool: warning: %s: %s\n", path.c_str(),
                     rec::MissingBytesText(missing, rec::HeaderBytesWritten(head)).c_str());
    return true;
}

// The marks saved in the file stand in for the window's markers: A and B, then the graph's O and X.
class CSavedMarks : public IDocumentHooks {
public:
    explicit CSavedMarks(const CCaptureStore& s) : store(s) {}
    bool GraphMarkers(int64_t* o, int64_t* x) const override {
        if (store.loadedGraphO == -1 && store.loadedGraphX == -1) return false;
        *o = store.loadedGraphO == -1 ? 0 : store.DisplayTime(store.loadedGraphO);
        *x = store.loadedGraphX == -1 ? 0 : store.DisplayTime(store.loadedGraphX);
        return true;
    }

private:
    const CCaptureStore& store;
};

// One range end: "" the capture's end, digits a packet number, A, B, O or X a saved marker.
bool ParseEnd(const std::string& text, const std::vector<MarkerEntry>& markers, const std::string& file,
              int* kind, int64_t* number, int* marker, bool* usage) {
    *usage = false;
    if (text.empty()) {
        *kind = kRangeCapture;
        return true;
    }
    if (text.size() == 1 && std::strchr("ABOXabox", text[0])) {
        const int want = int(std::strchr("ABOX", std::toupper(static_cast<unsigned char>(text[0]))) - "ABOX") + 1;
        for (size_t i = 0; i < markers.size(); ++i)
            if (markers[i].kind == want) {
                *kind = kRangeMarker;
                *marker = int(i);
                return true;
            }
        return Fail(file + ": marker " + std::string(1, char(std::toupper(static_cast<unsigned char>(text[0])))) +
                    " is not set in the file");
    }
    if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 12) {
        *usage = true;
        return Fail("a range end is a packet number or a marker A, B, O or X, not \"" + text + "\"");
    }
    *kind = kRangeNumber;
    *number = std::stoll(text);
    return true;
}

} // namespace

int ExportCommand(const ExportArgs& a) {
    if (a.csv == a.qxc) {
        Fail("export needs one of --csv and --qxc");
        return kUsageError;
    }
    CQXDoc doc;
    doc.store.tolerantBits = a.tolerant;
    if (!OpenRecord(doc, a.file)) return kInputError;
    const CCaptureStore& store = doc.store;
    const CSavedMarks marks(store);
    const std::vector<MarkerEntry> markers = CollectMarkerEntries(store, &marks);

    ExportOptions o;
    o.fileName = a.out;
    o.exportType = a.qxc ? kExportQxc : kExportCsv;
    o.visibleColumnsOnly = !a.allColumns;
    o.invertCurrent = a.invertCurrent;
    const bool packets = store.PacketCount() > 0;
    if (a.items.empty()) o.exportItems = packets ? kItemsBoth : kItemsSamples;
    else if (a.items == "messages") o.exportItems = kItemsMessages;
    else if (a.items == "samples") o.exportItems = kItemsSamples;
    else if (a.items == "both") o.exportItems = kItemsBoth;
    else {
        Fail("--items takes messages, samples or both, not \"" + a.items + "\"");
        return kUsageError;
    }
    if (o.exportType == kExportCsv && o.exportItems != kItemsSamples && !packets) {
        Fail(a.file + ": holds no PD messages to export (--items samples exports the samples)");
        return kInputError;
    }
    bool usage = false;
    if (!ParseEnd(a.from, markers, a.file, &o.fromKind, &o.fromNumber, &o.fromMarker, &usage) ||
        !ParseEnd(a.to, markers, a.file, &o.toKind, &o.toNumber, &o.toMarker, &usage))
        return usage ? kUsageError : kInputError;
    const int64_t asked = o.toNumber;
    int64_t start = 0, end = 0;
    if (!ResolveRange(store, markers, o, &start, &end)) {
        Fail(a.file + ": the range " + (a.from.empty() ? "top" : a.from) + " to " + (a.to.empty() ? "end" : a.to) +
             " holds nothing (" + std::to_string(store.PacketCount()) + " packets, " +
             std::to_string(store.SampleCount()) + " samples)");
        return kInputError;
    }
    if (o.toKind == kRangeNumber && o.toNumber != asked)
        std::fprintf(stderr, "qxtool: note: --to %lld is past the last packet; exporting up to packet %lld\n",
                     static_cast<long long>(asked), static_cast<long long>(o.toNumber));
    if (!CheckOutput(a.out, {a.file}, a.overwrite)) return kInputError;
    if (!RunWorker("Exporting", [&](ToolFlags& f) { return RunExport(store, o, start, end, f); })) return kInputError;
    return 0;
}

int StitchCommand(const StitchArgs& a) {
    std::error_code ec;
    if (!fs::exists(a.base, ec)) {
        Fail(a.base + ": no such file");
        return kInputError;
    }
    const fs::path base = fs::absolute(a.base, ec);
    const std::string name = base.filename().string();
    int number = 0;
    if (!FileNumber(name, &number)) {
        Fail(a.base + ": not part of a numbered series (names end in _0001.qxc, _0002.qxc, ...)");
        return kInputError;
    }
    const std::string folder = base.parent_path().string();
    const std::vector<SeriesFile> candidates = ListCandidates(folder, base.string());
    std::vector<bool> selected;
    for (const SeriesFile& f : candidates) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", unsigned(f.number));
        selected.push_back(a.last < 0 || std::stoi(digits) <= a.last);
    }
    std::vector<std::string> files = {base.string()};
    for (size_t i = 0; i < candidates.size(); ++i)
        if (selected[i]) files.push_back(candidates[i].path);
    if (files.size() < 2) {
        Fail(a.base + ": no later file of its series " + (a.last < 0 ? "is in " + folder : "is within --last"));
        return kInputError;
    }
    for (const std::string& f : files) {
        rec::RecordFileHead head;
        std::string reason;
        if (!rec::CheckRecordFile(f, &head, &reason)) {
            Fail(f + ": " + reason);
            return kInputError;
        }
    }
    // A series recorded anew over an older, longer one leaves the older one's later files under the
    // same names: the stitch stops at the first file that does not continue the one before it.
    std::string reason;
    if (const size_t continuing = ContinuingFiles(files, &reason); continuing < files.size()) {
        if (continuing < 2) {
            Fail(reason + "; nothing to stitch");
            return kInputError;
        }
        const std::string left = fs::path(files[continuing]).filename().string();
        if (a.last >= 0) {
            Fail(reason + "; --last " + std::to_string(a.last) + " asks for " + left + " too");
            return kInputError;
        }
        std::fprintf(stderr, "qxtool: note: %s; %s and the files after it are left out\n", reason.c_str(), left.c_str());
        files.resize(continuing);
        for (size_t i = continuing - 1; i < selected.size(); ++i) selected[i] = false;
    }
    std::string out = a.out;
    if (out.empty()) {
        out = StitchOutputPath(folder, name, candidates, selected);
        if (out.empty()) {
            Fail(a.base + ": no output name: the last file number is below 2 or every numbered name is taken");
            return kInputError;
        }
    }
    if (!CheckOutput(out, files, a.overwrite)) return kInputError;
    if (!RunWorker("Stitching", [&](ToolFlags& f) { return StitchFiles(files, out, f); })) return kInputError;
    std::printf("Stitched file\t%s\n", out.c_str());
    for (const std::string& f : files) std::printf("Joined\t%s\n", f.c_str());
    return 0;
}
