#include "VcdSpan.h"

#include <cstdlib>

namespace imp {

namespace {

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

CVcdSpan::CVcdSpan(const VcdOptions& o) : options(o) {
    if (options.downsample < 1) options.downsample = 1;
    // The reader divides the skip too, truncating: with downsampling the default of -1 becomes 0.
    options.skip /= options.downsample;
}

void CVcdSpan::Add(const char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (Space(c)) {
            if (inToken && keep) Token();
            inToken = keep = false;
            token.clear();
            continue;
        }
        if (!inToken) {
            inToken = true;
            // Past the header only time stamps count; in it, only its end.
            keep = header ? c == '$' : c == '#';
        }
        if (keep) token += c;
    }
}

void CVcdSpan::Token() {
    if (header) {
        if (token.starts_with("$enddefinitions")) endDefinitions = true;
        if (endDefinitions && token.ends_with("$end") && token != "$enddefinitions") header = false;
        return;
    }
    if (token.size() < 2 || token[1] < '0' || token[1] > '9') return;
    uint64_t t = std::strtoull(token.c_str() + 1, nullptr, 10) / uint64_t(options.downsample);
    if (options.skip < 0) {
        options.skip = int64_t(t);
        previous = t;
    } else if (options.skip > 0 && t < uint64_t(options.skip)) {
        previous = uint64_t(options.skip);
    } else if (t > previous) { // the reader skips a repeated time stamp and refuses one that goes back
        if (options.compress != 0 && t - previous > options.compress) previous = t - options.compress;
        const uint64_t more = t - previous;
        samples = samples + more < samples ? UINT64_MAX : samples + more;
        previous = t;
    }
}

} // namespace imp
