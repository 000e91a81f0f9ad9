// How many samples the capture library's VCD reader makes of a file: it repeats the levels once per
// unit of the time scale from one time stamp to the next, so a few bytes can stand for any number of
// samples. Counted from the text before the library is given it, so that a file that would expand
// past what an import can take is refused before the work starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace imp {

// The most samples an import lets a VCD make: a few seconds of the reader's work. A VCD at a far finer
// time scale than BMC needs (1 ns, 1 ps) gets there within a second of capture; it imports with the
// reader's downsample option.
constexpr uint64_t kMaxVcdSamples = 1000000000;

// The reader's options that change the count, as a format's options give them.
struct VcdOptions {
    int64_t skip = -1;      // < 0: from the first time stamp; 0: from time 0; else from that time stamp
    int64_t downsample = 1; // time stamps divided by this
    uint64_t compress = 0;  // a longer stretch between two time stamps counts this many; 0: no limit
};

class CVcdSpan {
public:
    explicit CVcdSpan(const VcdOptions& options);

    // The file's text, in pieces in order; a piece may end anywhere.
    void Add(const char* text, size_t size);
    // The samples of the whole tokens so far (at most 2^64 - 1); never fewer than the reader makes of
    // the same text.
    uint64_t Samples() const { return samples; }

private:
    void Token();

    VcdOptions options;
    bool header = true, endDefinitions = false;
    bool inToken = false, keep = false; // within a token; one that may count (kept in token)
    std::string token;
    uint64_t previous = 0, samples = 0;
};

} // namespace imp
