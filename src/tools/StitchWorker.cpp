#include "StitchWorker.h"

#include "FileCopy.h"
#include "RecordFile.h"
#include "RecordStream.h"
#include "WholeFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

bool HasQxcExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".qxc";
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr const char* kStitchStopped = "Stitch stopped; nothing was written.";

// The join's allowance when a file holds too few samples to show their spacing: twice the longest
// sampling interval the analyzer is given (1000 ms).
constexpr uint32_t kDefaultSampleGapUs = 2000000;
// Reads at each end of a file go in pieces of this many bytes, a multiple of the block size.
constexpr size_t kEndsPiece = 64 * 1024;

// A CC edge block's place in the analyzer's numbering of CC blocks: block counter and sub-counter.
struct CcPlace {
    int counter = -1, sub = -1;
    bool Known() const { return counter >= 0; }
    // The place that comes next: the sub-counter runs 0 to 7, then the block counter goes on by one.
    CcPlace Next() const { return sub >= 7 ? CcPlace{(counter + 1) % 256, 0} : CcPlace{counter, sub + 1}; }
    bool operator==(const CcPlace&) const = default;
};

CcPlace PlaceOf(const uint8_t* block) { return {rec::CcBlockCounter(block), rec::CcSubCounter(block)}; }

// What the two ends of a record file hold: the time stamps of its first and last two VBUS samples and
// its first and last CC edge blocks.
struct FileEnds {
    std::vector<uint32_t> head, tail; // in time order, up to two each
    CcPlace firstCc, lastCc;
    bool Empty() const { return head.empty() && !firstCc.Known(); }
};

// µs from a to b on the 32-bit analyzer clock, which wraps: negative when b comes first.
int64_t ClockDistance(uint32_t a, uint32_t b) { return int64_t(int32_t(b - a)); }

// Reads from the start until the first two samples and the first CC block are seen, then from the end
// back until the last ones are; a file without CC blocks is read once through.
bool ReadFileEnds(const std::string& path, FileEnds* e, std::string* reason) {
    File f(OpenUnbuffered(path.c_str(), "rb"), &std::fclose);
    if (!f || fseeko(f.get(), 0, SEEK_END) != 0) {
        *reason = CannotReadText(path);
        return false;
    }
    const int64_t size = int64_t(ftello(f.get())) / rec::kBlockSize * rec::kBlockSize;
    std::vector<uint8_t> buffer(kEndsPiece);
    const auto read = [&](int64_t from, size_t n) {
        if (fseeko(f.get(), off_t(from), SEEK_SET) == 0 && std::fread(buffer.data(), 1, n, f.get()) == n) return true;
        *reason = CannotReadText(path);
        return false;
    };
    int64_t at = 0;
    while (at < size && (e->head.size() < 2 || !e->firstCc.Known())) {
        const size_t n = size_t(std::min<int64_t>(size - at, int64_t(kEndsPiece)));
        if (!read(at, n)) return false;
        for (size_t b = 0; b < n; b += rec::kBlockSize) {
            const uint8_t* block = buffer.data() + b;
            switch (rec::ClassifyBlock(block)) {
            case rec::BlockKind::VbusSamples:
                for (int k = 0; k < rec::SampleCount(block); ++k) {
                    const uint32_t stamp = rec::ExtractSample(block, k).timeStamp;
                    if (e->head.size() < 2) e->head.push_back(stamp);
                    e->tail.push_back(stamp);
                    if (e->tail.size() > 2) e->tail.erase(e->tail.begin());
                }
                break;
            case rec::BlockKind::CcEdges:
                if (!e->firstCc.Known()) e->firstCc = PlaceOf(block);
                e->lastCc = PlaceOf(block);
                break;
            case rec::BlockKind::Marker: break;
            }
        }
        at += int64_t(n);
    }
    // Backwards over what the forward pass left, newest first.
    std::vector<uint32_t> last;
    CcPlace lastCc;
    for (int64_t to = size; to > at && (last.size() < 2 || !lastCc.Known());) {
        const int64_t from = std::max(at, to - int64_t(kEndsPiece));
        if (!read(from, size_t(to - from))) return false;
        for (int64_t b = to - from - rec::kBlockSize; b >= 0; b -= rec::kBlockSize) {
            const uint8_t* block = buffer.data() + b;
            switch (rec::ClassifyBlock(block)) {
            case rec::BlockKind::VbusSamples:
                for (int k = rec::SampleCount(block) - 1; k >= 0 && last.size() < 2; --k)
                    last.push_back(rec::ExtractSample(block, k).timeStamp);
                break;
            case rec::BlockKind::CcEdges:
                if (!lastCc.Known()) lastCc = PlaceOf(block);
                break;
            case rec::BlockKind::Marker: break;
            }
        }
        to = from;
    }
    for (auto it = last.rbegin(); it != last.rend(); ++it) e->tail.push_back(*it);
    if (e->tail.size() > 2) e->tail.erase(e->tail.begin(), e->tail.end() - 2);
    if (lastCc.Known()) e->lastCc = lastCc;
    return true;
}

// The spacing of two samples in a row, when there are two and they are in order.
uint32_t Spacing(const std::vector<uint32_t>& two) {
    if (two.size() < 2) return 0;
    const int64_t d = ClockDistance(two[0], two[1]);
    return d > 0 ? uint32_t(d) : 0;
}

std::string Seconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(us) / 1e6);
    return text;
}

std::string CcPlaceText(const CcPlace& p) { return std::to_string(p.counter) + "/" + std::to_string(p.sub); }

// Reads the first block of a file about to be copied and goes back to its start; where its header
// block keeps the count of the bytes after it in *place (-1 for none: no header block, or never closed).
bool FindBytesWrittenPlace(std::FILE* f, int* place) {
    uint8_t block[rec::kBlockSize];
    const bool whole = std::fread(block, 1, sizeof block, f) == sizeof block;
    *place = whole ? rec::BytesWrittenPlace(block) : -1;
    return fseeko(f, 0, SEEK_SET) == 0;
}

} // namespace

bool FileNumber(const std::string& name, int* number) {
    if (name.size() < 9 || !HasQxcExtension(name)) return false;
    const char* tail = name.data() + name.size() - 9;
    if (tail[0] != '_') return false;
    int n = 0;
    for (int i = 1; i <= 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(tail[i]))) return false;
        n = n << 4 | (tail[i] - '0');
    }
    *number = n;
    return true;
}

std::vector<SeriesFile> ListSeriesFiles(const std::string& folder) {
    std::vector<SeriesFile> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), endIt; !ec && it != endIt; it.increment(ec)) {
        std::error_code ec2;
        if (it->is_directory(ec2)) continue;
        SeriesFile f;
        f.name = it->path().filename().string();
        if (!FileNumber(f.name, &f.number)) continue;
        f.path = it->path().string();
        files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(), [](const SeriesFile& a, const SeriesFile& b) { return a.name < b.name; });
    return files;
}

std::vector<SeriesFile> ListCandidates(const std::string& folder, const std::string& basePath) {
    std::vector<SeriesFile> out;
    int baseNumber = 0;
    if (!FileNumber(fs::path(basePath).filename().string(), &baseNumber)) return out;
    const std::string stem = basePath.substr(0, basePath.size() - 9);
    for (SeriesFile& f : ListSeriesFiles(folder))
        if (f.path != basePath && f.path.size() >= 9 && f.path.compare(0, f.path.size() - 9, stem) == 0 &&
            f.path.size() - 9 == stem.size() && f.number > baseNumber)
            out.push_back(std::move(f));
    return out;
}

void KeepContiguous(std::vector<bool>& selected, size_t k) {
    if (k >= selected.size()) return;
    if (selected[k])
        std::fill(selected.begin(), selected.begin() + std::ptrdiff_t(k), true);
    else
        std::fill(selected.begin() + std::ptrdiff_t(k), selected.end(), false);
}

std::string StitchOutputPath(const std::string& folder, const std::string& baseName,
                             const std::vector<SeriesFile>& candidates, const std::vector<bool>& selected) {
    int last = -1;
    for (size_t i = 0; i < candidates.size() && i < selected.size(); ++i)
        if (selected[i]) last = candidates[i].number;
    if (last < 2) return {};
    std::string base = baseName;
    if (HasQxcExtension(base)) base.resize(base.size() - 4);
    char number[16];
    std::snprintf(number, sizeof number, "-%04X", unsigned(last));
    const std::string stem = (fs::path(folder) / ("Stitched_" + base + number)).string();
    if (!Exists(stem + ".qxc")) return stem + ".qxc";
    for (int n = 1; n <= 9999; ++n) {
        const std::string name = stem + " (" + std::to_string(n) + ").qxc";
        if (!Exists(name)) return name;
    }
    return {};
}

size_t ContinuingFiles(const std::vector<std::string>& files, std::string* reason) {
    reason->clear();
    // The latest samples and CC block seen so far, and the names of the files that held them.
    std::vector<uint32_t> tail;
    std::string tailName, ccName, dataName;
    CcPlace lastCc;
    for (size_t i = 0; i < files.size(); ++i) {
        FileEnds e;
        if (!ReadFileEnds(files[i], &e, reason)) return i;
        if (e.Empty()) continue; // a header block alone: nothing to join, nothing to compare
        const std::string name = fs::path(files[i]).filename().string();
        const auto breaks = [&](const std::string& before, const std::string& why) {
            *reason = name + " does not continue " + before + ": " + why;
            return i;
        };
        bool compared = false;
        if (!e.head.empty() && !tail.empty()) {
            compared = true;
            const int64_t gap = ClockDistance(tail.back(), e.head.front());
            const uint32_t spacing = std::max(Spacing(tail), Spacing(e.head));
            const int64_t allowed = spacing > 0 ? 2 * int64_t(spacing) : kDefaultSampleGapUs;
            if (gap <= 0)
                return breaks(tailName, "its first VBUS sample does not come after the last one of " + tailName + " (" +
                                            Seconds(-gap) + " before it)");
            if (gap > allowed)
                return breaks(tailName, "its first VBUS sample comes " + Seconds(gap) + " after the last one of " +
                                            tailName +
                                            (spacing > 0 ? " (the samples are " + Seconds(spacing) + " apart)" : ""));
        }
        if (e.firstCc.Known() && lastCc.Known()) {
            compared = true;
            if (!(e.firstCc == lastCc.Next()))
                return breaks(ccName, "its first CC block is " + CcPlaceText(e.firstCc) + " where " +
                                          CcPlaceText(lastCc.Next()) + " follows the last one of " + ccName);
        }
        if (!compared && !dataName.empty())
            return breaks(dataName, "the two hold no blocks of one kind (VBUS samples, CC blocks) to compare");
        if (!e.tail.empty()) {
            tail = e.tail;
            tailName = name;
        }
        if (e.lastCc.Known()) {
            lastCc = e.lastCc;
            ccName = name;
        }
        dataName = name;
    }
    return files.size();
}

bool StitchFiles(const std::vector<std::string>& files, const std::string& out, ToolFlags& flags) {
    for (const std::string& path : files)
        if (SameFile(out, path)) return Failed(flags, InputFileText(out));
    CopyProgress progress;
    std::vector<int64_t> sizes;
    for (const std::string& path : files) {
        File f(OpenUnbuffered(path.c_str(), "rb"), &std::fclose);
        if (!f || fseeko(f.get(), 0, SEEK_END) != 0) return Failed(flags, CannotReadText(path));
        sizes.push_back(int64_t(ftello(f.get())));
        progress.total += sizes.back();
    }
    std::string reason;
    if (ContinuingFiles(files, &reason) < files.size()) return Failed(flags, reason);
    CWholeFile o;
    if (!o.Open(out)) return Failed(flags, o.Error());
    std::vector<char> buffer(kCopyPiece);
    const auto changed = [&](const std::string& path) { return path + ": changed its size while it was stitched"; };
    int countPlace = -1; // of the first file's header block
    for (size_t i = 0; i < files.size(); ++i) {
        File f(OpenUnbuffered(files[i].c_str(), "rb"), &std::fclose);
        if (!f || (i == 0 && !FindBytesWrittenPlace(f.get(), &countPlace))) return Failed(flags, CannotReadText(files[i]));
        switch (CopyPieces(f.get(), o, sizes[i], buffer, progress, flags)) {
        case CopyEnd::Copied: break;
        case CopyEnd::Aborted: return Failed(flags, kStitchStopped);
        case CopyEnd::WriteFailed: return Failed(flags, o.Error());
        case CopyEnd::InputEnded: return Failed(flags, std::ferror(f.get()) ? CannotReadText(files[i]) : changed(files[i]));
        }
        // A file that grew since it was measured would lose its tail.
        if (std::fgetc(f.get()) != EOF) return Failed(flags, changed(files[i]));
    }
    // The first header block counted its own file's stream; the stitched file's counts all it holds
    // after that block. No other byte changes.
    if (countPlace >= 0) {
        uint8_t count[8];
        rec::WriteU64(count, uint64_t(progress.total - rec::kBlockSize));
        if (!o.WriteAt(countPlace, count, sizeof count)) return Failed(flags, o.Error());
    }
    if (!o.Commit()) return Failed(flags, o.Error());
    flags.progress = 100;
    return true;
}
