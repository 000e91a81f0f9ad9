// Numbered series of record files as the recorder leaves them, made from one synthesized stream: each
// file a closed header block and the next stretch of the stream, cut on block boundaries. What a stitch
// of them must give is built from the stream, not read back from the files.
#pragma once

#include "Scenario.h"
#include "Synthesizer.h"
#include "support/RecordFiles.h"
#include "support/TempFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testseries {

using Bytes = std::vector<uint8_t>;

// The stream (no header block) of `seconds` of a built-in scenario, starting at analyzer time baseTime.
inline Bytes Stream(const std::string& scenario, double seconds, uint32_t seed = 1, uint32_t baseTime = 0) {
    synth::Scenario sc;
    synth::BuiltinScenario(scenario, &sc);
    synth::SynthOptions o;
    o.seconds = seconds;
    o.seed = seed;
    o.baseTime = baseTime;
    return synth::SynthesizeStream(sc, o);
}

inline std::string SeriesName(const std::string& caption, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%04d", number);
    return caption + digits + ".qxc";
}

struct Series {
    std::vector<std::string> paths;
    // What a stitch of them gives: the files one after another (header block, stretch, header block,
    // stretch, ...), the first header block counting all that follows it.
    Bytes stitched;
};

// Cuts stream into parts of near-equal whole blocks (or at the block indexes given in cuts) and writes
// them as folder/caption_<first>.qxc, caption_<first+1>.qxc, ...
inline Series WriteSeries(const std::string& folder, const std::string& caption, const Bytes& stream, int parts,
                          int first = 1, std::vector<size_t> cuts = {}) {
    const size_t blocks = stream.size() / 64;
    if (cuts.empty())
        for (int i = 1; i < parts; ++i) cuts.push_back(blocks * size_t(i) / size_t(parts));
    cuts.insert(cuts.begin(), 0);
    cuts.push_back(blocks);
    Series s;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const Bytes stretch = testrec::Slice(stream, cuts[i] * 64, cuts[i + 1] * 64);
        Bytes file = testrec::ClosedHeader(stretch.size());
        file.insert(file.end(), stretch.begin(), stretch.end());
        s.paths.push_back((std::filesystem::path(folder) / SeriesName(caption, first + int(i))).string());
        WriteFile(s.paths.back(), file);
        s.stitched.insert(s.stitched.end(), file.begin(), file.end());
    }
    const Bytes head = testrec::ClosedHeader(s.stitched.size() - 64);
    std::copy(head.begin(), head.end(), s.stitched.begin());
    return s;
}

// Every entry of a folder with its bytes (a folder as "/"), to see that nothing was added or changed.
inline std::map<std::string, Bytes> FolderContents(const std::filesystem::path& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files[entry.path().filename().string()] = entry.is_regular_file() ? ReadFile(entry.path().string()) : Bytes{'/'};
    return files;
}

} // namespace testseries
