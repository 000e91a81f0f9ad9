#include "LogicToRecord.h"

#include "PdConstants.h"

#include <cstring>
#include <limits>

namespace imp {

namespace {

enc::EncoderConfig ConfigFor(const LogicLayout& layout) {
    enc::EncoderConfig c;
    c.clockSetting = layout.clockSetting;
    return c; // base time 0: the first sample is tick 0 and time 0
}

} // namespace

CLogicToRecord::CLogicToRecord(const LogicLayout& l, enc::CRecordEncoder::BlockSink sink)
    : layout(l), encoder(ConfigFor(l), std::move(sink)) {}

int64_t CLogicToRecord::TickOfSample(uint64_t n, uint64_t sampleRate, int divisor) {
    const unsigned __int128 num = (unsigned __int128)n * (kClockTicksPerMicro * 1000000ull);
    const unsigned __int128 den = (unsigned __int128)divisor * sampleRate;
    return int64_t((num + den - 1) / den);
}

void CLogicToRecord::Change(int channel, uint64_t sample) {
    ++tally[channel].changes;
    const int64_t t = TickOfSample(sample, layout.sampleRate, encoder.Divisor());
    std::vector<int64_t>& v = ticks[channel];
    // Two changes on one tick leave the line as it was: a pulse shorter than the tick resolution.
    if (!v.empty() && v.back() == t) {
        v.pop_back();
        tally[channel].cancelled += 2;
    } else {
        v.push_back(t);
    }
}

void CLogicToRecord::AddSamples(const uint8_t* data, size_t bytes, unsigned unitSize) {
    if (unitSize == 0) return;
    const size_t count = bytes / unitSize;
    const int bit[2] = {layout.cc1Bit, layout.cc2Bit};
    auto levelAt = [&](size_t i) {
        int v = 0;
        for (int c = 0; c < 2; ++c)
            if (bit[c] >= 0 && unsigned(bit[c]) / 8 < unitSize)
                v |= ((data[i * unitSize + bit[c] / 8] >> (bit[c] % 8)) & 1) << c;
        return v;
    };
    size_t i = 0;
    if (level < 0 && count > 0) {
        level = levelAt(0); // the level before the first change is not a transition
        i = 1;
    }
    // One byte per sample (the usual case): skip eight samples at a time while the CC bits hold.
    uint64_t mask = 0;
    for (int c = 0; c < 2; ++c)
        if (bit[c] >= 0 && bit[c] < 8) mask |= uint64_t(1) << bit[c];
    const bool wordSkip = unitSize == 1;
    mask *= 0x0101010101010101ull;
    while (i < count) {
        if (wordSkip) {
            uint64_t same = 0;
            for (int c = 0; c < 2; ++c)
                if (bit[c] >= 0 && bit[c] < 8 && ((level >> c) & 1)) same |= uint64_t(1) << bit[c];
            same *= 0x0101010101010101ull;
            while (i + 8 <= count) {
                uint64_t w;
                std::memcpy(&w, data + i, 8);
                if ((w ^ same) & mask) break;
                i += 8;
            }
            if (i >= count) break;
        }
        const int v = levelAt(i);
        if (v != level) {
            const int changed = v ^ level;
            for (int c = 0; c < 2; ++c)
                if (changed & (1 << c)) Change(c, samples + i);
            level = v;
        }
        ++i;
    }
    samples += count;
    Feed(false);
}

void CLogicToRecord::Feed(bool all) {
    // A change still to come lies at or after this tick, so it can only cancel a transition there.
    const int64_t limit = all ? std::numeric_limits<int64_t>::max()
                              : TickOfSample(samples, layout.sampleRate, encoder.Divisor());
    std::vector<int64_t>& a = ticks[0];
    std::vector<int64_t>& b = ticks[1];
    size_t i = 0, j = 0;
    // Both channels in one time order: the encoder writes what lies before each transition it gets.
    auto run = [&](int c, std::vector<int64_t>& v, size_t& k, int64_t upTo, bool inclusive) {
        const size_t from = k;
        while (k < v.size() && v[k] < limit && (v[k] < upTo || (inclusive && v[k] == upTo))) ++k;
        if (k > from) {
            encoder.AddTransitionTicks(c, v.data() + from, k - from);
            tally[c].written += k - from;
        }
    };
    const int64_t none = std::numeric_limits<int64_t>::max();
    for (;;) {
        const bool moreA = i < a.size() && a[i] < limit;
        const bool moreB = j < b.size() && b[j] < limit;
        if (!moreA && !moreB) break;
        if (moreA && (!moreB || a[i] <= b[j]))
            run(0, a, i, moreB ? b[j] : none, true);
        else
            run(1, b, j, moreA ? a[i] : none, false);
    }
    a.erase(a.begin(), a.begin() + ptrdiff_t(i));
    b.erase(b.begin(), b.begin() + ptrdiff_t(j));
}

void CLogicToRecord::Finish() {
    Feed(true);
    encoder.Finish(double(samples) * 1e6 / double(layout.sampleRate));
}

} // namespace imp
