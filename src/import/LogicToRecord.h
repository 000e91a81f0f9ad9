// Logic samples of the CC lines to a record stream: every level change of a CC channel becomes a
// transition in that channel's CC edge blocks, on the analyzer's tick scale of the chosen clock
// setting. Knows nothing of file formats; the importer feeds it whatever the capture library reads.
#pragma once

#include "RecordEncoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace imp {

// Below this a sample lasts more than the decoder's tolerance on a half bit (0.6 to 1.3 half-UI of
// about 1.67 µs), so BMC cannot be recovered from the samples.
constexpr uint64_t kMinSampleRate = 2000000; // Hz

struct LogicLayout {
    uint64_t sampleRate = 0; // Hz
    int cc1Bit = -1;         // bit index of CC1 in a sample; -1: not imported
    int cc2Bit = -1;
    uint16_t clockSetting = 0;
};

struct ChannelTally {
    uint64_t changes = 0;   // level changes seen
    uint64_t cancelled = 0; // changes dropped in pairs because they fell on one tick
    uint64_t written = 0;   // transitions handed to the encoder
};

class CLogicToRecord {
public:
    CLogicToRecord(const LogicLayout& layout, enc::CRecordEncoder::BlockSink sink);

    // Tick of a level change at sample n: the first tick at or after the sample's time.
    static int64_t TickOfSample(uint64_t n, uint64_t sampleRate, int divisor);

    // Samples of unitSize bytes each, little-endian bit order (bit k of the sample = bit k % 8 of
    // byte k / 8), continuing the samples fed before.
    void AddSamples(const uint8_t* data, size_t bytes, unsigned unitSize);
    // Writes everything to the end of the samples fed (and 10 µs past the last transition).
    void Finish();

    uint64_t Samples() const { return samples; }
    const ChannelTally& Tally(int channel) const { return tally[channel]; }
    uint64_t MovedTransitions() const { return encoder.MovedTransitions(); }
    uint64_t BytesWritten() const { return encoder.BytesWritten(); }

private:
    void Change(int channel, uint64_t sample);
    void Feed(bool all);

    LogicLayout layout;
    enc::CRecordEncoder encoder;
    uint64_t samples = 0;
    int level = -1; // CC1 in bit 0, CC2 in bit 1 of the last sample; -1 before the first
    ChannelTally tally[2];
    // Transition ticks per channel not yet handed to the encoder, strictly rising; the last one may
    // still be cancelled by a change on the same tick.
    std::vector<int64_t> ticks[2];
};

} // namespace imp
