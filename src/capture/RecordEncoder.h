// Record-stream encoder: the inverse of the capture decoder. Turns PD messages into line symbols, BMC
// bits and transition times, and transition times into the analyzer's CC edge blocks, interleaved
// with VBUS sample blocks. Used by tests, benchmarks and the emulated analyzer.
#pragma once

#include "PdConstants.h"
#include "SymbolDecoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace enc {

constexpr int kPreambleBits = 64;
constexpr double kDefaultUnitInterval = 3.33; // µs

// Symbols, their line codes, ordered sets and the CRC are the decoder's own (SymbolDecoder.h).

struct FrameOptions {
    bool corruptCrc = false; // send the complement of the right CRC
    bool appendEop = true;   // message kinds only; resets never carry one
    int preambleBits = kPreambleBits;
};

// Symbols of one frame. Message kinds: the ordered set, two symbols per byte (low nibble first), the
// CRC-32 of the bytes appended little-endian, then EOP. Hard Reset and Cable Reset: only their four
// K-codes; bytes are ignored. Any other kind gives no symbols.
std::vector<uint8_t> FrameSymbols(int32_t kind, const uint8_t* bytes, size_t size,
                                  const FrameOptions& options = {});

// Bits on the line (one byte 0 or 1 each): an alternating preamble 0101...01 of preambleBits bits
// (starting with 0, ending with 1), then five bits per symbol, least significant code bit first. A
// symbol value without a code is sent as the invalid code 00000.
std::vector<uint8_t> SymbolsToBits(const std::vector<uint8_t>& symbols, int preambleBits = kPreambleBits);

enum class FrameEnd {
    Edge,    // one transition at the end of the last bit
    HoldLow, // that transition, plus a half-UI pulse when it left the line high (the PD trailing edge)
};

struct BmcTiming {
    double unitInterval = kDefaultUnitInterval; // µs
    double jitter = 0.0;                        // each transition but the first moves by up to ±jitter µs
    FrameEnd end = FrameEnd::HoldLow;
};

// Transition times in µs from the first one (which is 0). Every bit starts with a transition and a 1
// has another one in its middle; the line is taken as low before the frame. Jitter is drawn uniformly
// from rng (only its raw 32-bit output is used, so results are the same on every standard library)
// and must stay well below a quarter UI to keep the order of transitions.
std::vector<double> BitsToTransitions(const std::vector<uint8_t>& bits, const BmcTiming& timing,
                                      std::mt19937& rng);

// FrameSymbols, SymbolsToBits and BitsToTransitions in one.
std::vector<double> FrameTransitions(int32_t kind, const uint8_t* bytes, size_t size,
                                     const FrameOptions& options, const BmcTiming& timing, std::mt19937& rng);

// Raw current value that converts back to mA (the inverse of r × 1500 / 1598 truncated). ±1 mA has no
// raw value (raw ±2 reads as 0, ±3 as ±2 mA) and gives ±3; values beyond the 16-bit range are clamped.
int16_t CurrentToRaw(int32_t mA);

// Header block as the recorder writes it when it opens a record file.
void WriteOpenHeaderBlock(uint8_t* block);
// Header block as rewritten on closing: entries 1, 2, 3, 4 and the end mark.
void WriteClosedHeaderBlock(uint8_t* block, uint16_t firmwareBcd, const uint8_t serial[12],
                            uint64_t bytesWritten);

// Marker blocks holding saved marks, laid out the way Save appends them: entries packed from offset 2,
// an end mark after each entry while it fits, a new block when the next entry does not fit.
class CMarkerBlockWriter {
public:
    void AddEntry(uint8_t type, const uint8_t* value, uint8_t length);
    void AddTime(uint8_t type, int64_t value); // types 5, 17, 18, 19, 24, 25
    void AddClear() { AddEntry(16, nullptr, 0); }
    // The blocks written so far, the last one included unless it is still empty.
    std::vector<uint8_t> Blocks() const;

private:
    std::vector<uint8_t> blocks;
    int position = 0; // write position in the last block; 0 = no block started
};

struct VbusSample {
    double time = 0;          // µs, encoder time
    uint16_t vbusVoltage = 0; // mV
    int32_t vbusCurrent = 0;  // mA, stored as its raw value
    int16_t cc1Voltage = 0;
    int32_t cc1Current = 0;
    int16_t cc2Voltage = 0;
    int32_t cc2Current = 0;
};

struct EncoderConfig {
    uint16_t clockSetting = 0; // divisor 20
    // Analyzer clock (µs) at encoder time 0. Stamps are its low 32 bits; keep it below 2^32 − 1000 so
    // that the channels' reference bytes get stamps before the wrap.
    uint32_t baseTime = 0;
    int samplesPerVbusBlock = 1; // 1..3; a block is written when full, and at Finish
    uint32_t seed = 1;           // jitter source
};

// Where a frame's transitions went on the analyzer's tick scale.
struct PlacedFrame {
    int64_t firstTick = 0;   // absolute analyzer tick of the first transition
    int64_t lastTick = 0;    // and of the last one
    int64_t startMicros = 0; // analyzer time of the first transition, µs truncated (a packet's absStartTime)
    int32_t count = 0;       // transitions
    int32_t moved = 0;       // transitions that could not stay on their own tick
};

// Produces a record stream in time order and hands every 64-byte block to the sink as soon as it is
// final. Events must come with non-decreasing times; a transition earlier than what was already
// written, or not after the channel's previous transition, is moved to the first tick still free.
//
// Both channels start at the origin tick (the first tick at or after baseTime whose time is a whole
// µs) with a reference byte, and stream one filler byte per 256-tick wrap from then on. Blocks of both
// channels share one sequence number and go out in the order of their last byte, except that a
// channel's first block waits until the sequence reaches sub-counter 0.
class CRecordEncoder {
public:
    using BlockSink = std::function<void(const uint8_t* block)>;

    CRecordEncoder(const EncoderConfig& config, BlockSink sink);
    CRecordEncoder(const CRecordEncoder&) = delete;
    CRecordEncoder& operator=(const CRecordEncoder&) = delete;

    int Divisor() const { return divisor; }
    int64_t OriginTick() const { return originTick; }
    // Nearest tick to encoder time t (µs), and the last tick at or before it.
    int64_t TickAt(double t) const;
    int64_t TickFloor(double t) const;
    // Analyzer time of a tick in µs, truncated, as the decoder computes it.
    int64_t MicrosOfTick(int64_t tick) const { return tick * divisor / kClockTicksPerMicro; }

    void AddVbusSample(const VbusSample& sample);
    // Transitions at start + offsets[i] µs on a channel (0 = CC1, 1 = CC2).
    PlacedFrame AddTransitions(int channel, double start, const double* offsets, size_t count);
    PlacedFrame AddTransitions(int channel, double start, const std::vector<double>& offsets) {
        return AddTransitions(channel, start, offsets.data(), offsets.size());
    }
    // Transitions at absolute ticks, for exact layouts.
    PlacedFrame AddTransitionTicks(int channel, const int64_t* ticks, size_t count);
    // A whole frame (FrameTransitions) starting at time start, jitter drawn from the encoder's generator.
    PlacedFrame AddMessage(int channel, double start, int32_t kind, const uint8_t* bytes, size_t size,
                           const FrameOptions& options = {}, const BmcTiming& timing = {});
    PlacedFrame AddMessage(int channel, double start, int32_t kind, const std::vector<uint8_t>& bytes,
                           const FrameOptions& options = {}, const BmcTiming& timing = {}) {
        return AddMessage(channel, start, kind, bytes.data(), bytes.size(), options, timing);
    }

    // Everything before time t (tick) is final and written.
    void AdvanceTo(double t) { AdvanceToTick(TickFloor(t)); }
    void AdvanceToTick(int64_t tick);
    // Streams on to t and at least 10 µs past each channel's last transition (so every packet closes),
    // completes the last block of each channel and the open VBUS block, and writes them. Nothing can
    // be added afterwards.
    void Finish(double t);

    std::mt19937& Random() { return rng; }
    uint64_t BlocksWritten() const { return blocksWritten; }
    uint64_t BytesWritten() const { return blocksWritten * 64; }
    uint64_t MovedTransitions() const { return movedTransitions; }

private:
    struct Block {
        int64_t key; // tick of the block's last byte
        uint8_t data[64];
    };
    // FIFO of finished blocks that reuses its storage.
    struct BlockQueue {
        std::vector<Block> items;
        size_t head = 0;
        bool Empty() const { return head == items.size(); }
        Block& Front() { return items[head]; }
        void Pop();
    };
    struct Channel {
        // The decoder's view of the channel, mirrored to choose the bytes it will read correctly.
        int lastByte = 0;
        int lastValue = 0;
        int repeat = 0;
        int64_t position = 0;
        int64_t nextWrap = 0;
        int64_t lastQueued = 0; // latest transition accepted (the reference byte at first)
        bool hasTransitions = false;
        std::vector<int64_t> pending; // transitions not yet written, from pendingHead on
        size_t pendingHead = 0;
        Block current{};
        int fill = 0;
        int64_t firstTick = 0;
        BlockQueue done;
        bool started = false; // its first block went out
    };

    int64_t Place(Channel& ch, int64_t tick, int32_t* moved);
    void Generate(int c, int64_t horizon);
    void GenerateBoth(int64_t horizon);
    void PutByte(int c, uint8_t b, int64_t tick);
    void CompleteBlock(int c, int64_t tick);
    void FillerStep(Channel& ch);
    void EmitTransition(int c, int64_t tick);
    void EmitReady();
    void EmitBlock(int c);
    void FlushVbus();
    void Deliver(const uint8_t* block);

    EncoderConfig config;
    BlockSink sink;
    std::mt19937 rng;
    int divisor = 20;
    int64_t baseNumerator = 0; // baseTime × kClockTicksPerMicro
    int64_t originTick = 0;
    int64_t genTick = 0; // ticks below this are written
    Channel channels[2];
    uint32_t sequence = 0;
    uint8_t vbusBlock[64] = {};
    int vbusCount = 0;
    bool finished = false;
    uint64_t blocksWritten = 0;
    uint64_t movedTransitions = 0;
};

// Sink that appends every block to a byte vector.
inline CRecordEncoder::BlockSink AppendTo(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* block) { out.insert(out.end(), block, block + 64); };
}

} // namespace enc
