#include "StitchWorker.h"

#include "FileCopy.h"

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

bool StitchFiles(const std::vector<std::string>& files, const std::string& out, ToolFlags& flags) {
    CopyProgress progress;
    std::vector<int64_t> sizes;
    for (const std::string& path : files) {
        File f(OpenUnbuffered(path.c_str(), "rb"), &std::fclose);
        if (!f || fseeko(f.get(), 0, SEEK_END) != 0) return false;
        sizes.push_back(int64_t(ftello(f.get())));
        progress.total += sizes.back();
    }
    File o(OpenUnbuffered(out.c_str(), "wb"), &std::fclose);
    if (!o) return false;
    std::vector<char> buffer(kCopyPiece);
    for (size_t i = 0; i < files.size(); ++i) {
        File f(OpenUnbuffered(files[i].c_str(), "rb"), &std::fclose);
        if (!f || !CopyPieces(f.get(), o.get(), sizes[i], buffer, progress, flags)) return false;
        // A file that grew since it was measured would lose its tail.
        if (std::fgetc(f.get()) != EOF) return false;
    }
    if (std::fclose(o.release()) != 0) return false;
    flags.progress = 100;
    return progress.copied == progress.total;
}
