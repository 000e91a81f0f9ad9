#include "RecordEncoder.h"

#include "RecordStream.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace enc {

namespace {

constexpr int kEdgeBytes = rec::kEdgeBytesPerBlock;
// Ticks generated per round before finished blocks are merged and written: large enough to fill
// idle blocks in bulk, small enough to keep the queues short.
constexpr int64_t kChunkTicks = int64_t(32) * kEdgeBytes * 256;

void PushByteSymbols(std::vector<uint8_t>& out, uint8_t b) {
    out.push_back(b & 0x0F);
    out.push_back(b >> 4);
}

} // namespace

std::vector<uint8_t> FrameSymbols(int32_t kind, const uint8_t* bytes, size_t size,
                                  const FrameOptions& options) {
    uint8_t os[4];
    if (!sym::OrderedSetSymbols(kind, os)) return {};
    std::vector<uint8_t> out(os, os + 4);
    if (kind == 4 || kind == 5) return out;
    out.reserve(4 + 2 * (size + 4) + 1);
    for (size_t i = 0; i < size; ++i) PushByteSymbols(out, bytes[i]);
    uint32_t crc = sym::Crc32(bytes, size);
    if (options.corruptCrc) crc = ~crc;
    for (int i = 0; i < 4; ++i) PushByteSymbols(out, uint8_t(crc >> (8 * i)));
    if (options.appendEop) out.push_back(sym::kEop);
    return out;
}

std::vector<uint8_t> SymbolsToBits(const std::vector<uint8_t>& symbols, int preambleBits) {
    const int pre = std::max(preambleBits, 0);
    std::vector<uint8_t> bits;
    bits.reserve(size_t(pre) + 5 * symbols.size());
    // Alternating, so that the last preamble bit is a 1.
    for (int i = 0; i < pre; ++i) bits.push_back(uint8_t((pre - 1 - i) % 2 == 0 ? 1 : 0));
    for (uint8_t s : symbols) {
        uint8_t code = sym::CodeForSymbol(s);
        if (code == 0xFF) code = 0;
        for (int k = 0; k < 5; ++k) bits.push_back(uint8_t((code >> k) & 1));
    }
    return bits;
}

std::vector<double> BitsToTransitions(const std::vector<uint8_t>& bits, const BmcTiming& timing,
                                      std::mt19937& rng) {
    std::vector<double> times;
    if (bits.empty()) return times;
    const double ui = timing.unitInterval;
    times.reserve(bits.size() * 2 + 2);
    bool high = false;
    for (size_t i = 0; i < bits.size(); ++i) {
        const double t0 = double(i) * ui;
        times.push_back(t0);
        high = !high;
        if (bits[i]) {
            times.push_back(t0 + ui / 2);
            high = !high;
        }
    }
    const double end = double(bits.size()) * ui;
    times.push_back(end);
    high = !high;
    if (timing.end == FrameEnd::HoldLow && high) times.push_back(end + ui / 2);
    if (timing.jitter > 0) {
        for (size_t i = 1; i < times.size(); ++i) {
            const double u = (double(rng()) + 0.5) / 4294967296.0;
            times[i] += (2 * u - 1) * timing.jitter;
        }
    }
    return times;
}

std::vector<double> FrameTransitions(int32_t kind, const uint8_t* bytes, size_t size,
                                     const FrameOptions& options, const BmcTiming& timing,
                                     std::mt19937& rng) {
    const std::vector<uint8_t> symbols = FrameSymbols(kind, bytes, size, options);
    if (symbols.empty()) return {};
    return BitsToTransitions(SymbolsToBits(symbols, options.preambleBits), timing, rng);
}

int16_t CurrentToRaw(int32_t mA) {
    if (mA == 0) return 0;
    const int64_t m = mA < 0 ? -int64_t(mA) : int64_t(mA);
    // Smallest magnitude whose conversion reaches m; its conversion then is m exactly, as 1500 < 1598.
    int64_t r = m == 1 ? 3 : (m * 1598 + 1499) / 1500;
    if (mA > 0) return int16_t(std::min<int64_t>(r, 32767));
    return int16_t(-std::min<int64_t>(r, 32768));
}

void WriteOpenHeaderBlock(uint8_t* block) {
    std::memset(block, 0, rec::kBlockSize);
    rec::WriteU16(block, rec::kMarkerWord);
}

void WriteClosedHeaderBlock(uint8_t* block, uint16_t firmwareBcd, const uint8_t serial[12],
                            uint64_t bytesWritten) {
    WriteOpenHeaderBlock(block);
    const uint8_t entry1[] = {1, 2, 0x07, 0x01};
    std::memcpy(block + 2, entry1, 4);
    block[6] = 2;
    block[7] = 2;
    rec::WriteU16(block + 8, firmwareBcd);
    block[10] = 3;
    block[11] = 12;
    std::memcpy(block + 12, serial, 12);
    block[24] = 4;
    block[25] = 8;
    rec::WriteU64(block + 26, bytesWritten);
    block[34] = 255;
}

void CMarkerBlockWriter::AddEntry(uint8_t type, const uint8_t* value, uint8_t length) {
    length = std::min<uint8_t>(length, rec::kBlockSize - 2 - 2);
    const int size = 2 + length;
    if (position == 0 || position + size > rec::kBlockSize) {
        blocks.resize(blocks.size() + rec::kBlockSize, 0);
        rec::WriteU16(&blocks[blocks.size() - rec::kBlockSize], rec::kMarkerWord);
        position = 2;
    }
    uint8_t* block = &blocks[blocks.size() - rec::kBlockSize];
    block[position] = type;
    block[position + 1] = length;
    if (length) std::memcpy(block + position + 2, value, length);
    position += size;
    if (position < rec::kBlockSize) block[position] = 255;
}

void CMarkerBlockWriter::AddTime(uint8_t type, int64_t value) {
    uint8_t v[8];
    rec::WriteU64(v, uint64_t(value));
    AddEntry(type, v, 8);
}

std::vector<uint8_t> CMarkerBlockWriter::Blocks() const {
    return blocks;
}

void CRecordEncoder::BlockQueue::Pop() {
    if (++head == items.size()) {
        items.clear();
        head = 0;
    }
}

CRecordEncoder::CRecordEncoder(const EncoderConfig& cfg, BlockSink blockSink)
    : config(cfg), sink(std::move(blockSink)), rng(cfg.seed) {
    config.samplesPerVbusBlock = std::clamp(config.samplesPerVbusBlock, 1, rec::kSamplesPerBlock);
    divisor = rec::ClockDivisor(config.clockSetting);
    baseNumerator = int64_t(config.baseTime) * kClockTicksPerMicro;
    // The decoder takes a channel's tick count from the stamp of its first block (stamp × 48 /
    // divisor), so the reference byte sits on a tick whose time is a whole µs.
    const int64_t firstTick = (baseNumerator + divisor - 1) / divisor;
    const int64_t step = kClockTicksPerMicro / std::gcd(divisor, kClockTicksPerMicro);
    originTick = (firstTick + step - 1) / step * step;
    for (int c = 0; c < 2; ++c) {
        Channel& ch = channels[c];
        ch.lastByte = ch.lastValue = int(originTick & 0xFF);
        ch.position = ch.lastQueued = originTick;
        ch.nextWrap = (originTick / 256 + 1) * 256;
        PutByte(c, uint8_t(ch.lastByte), originTick);
    }
    genTick = originTick + 1;
    rec::WriteU16(vbusBlock, 0x2000);
}

int64_t CRecordEncoder::TickAt(double t) const {
    const int64_t q = baseNumerator / divisor, r = baseNumerator % divisor;
    return q + int64_t(std::floor((double(r) + t * kClockTicksPerMicro) / divisor + 0.5));
}

int64_t CRecordEncoder::TickFloor(double t) const {
    const int64_t q = baseNumerator / divisor, r = baseNumerator % divisor;
    return q + int64_t(std::floor((double(r) + t * kClockTicksPerMicro) / divisor));
}

int64_t CRecordEncoder::Place(Channel& ch, int64_t tick, int32_t* moved) {
    int64_t k = tick;
    bool shifted = false;
    const int64_t lowest = std::max(ch.lastQueued + 1, genTick);
    if (k < lowest) {
        k = lowest;
        shifted = true;
    }
    // Same low byte as the previous transition: it would read as a filler. One tick early, unless that
    // tick is already written.
    if ((k - ch.lastQueued) % 256 == 0) {
        k = k - 1 >= genTick ? k - 1 : k + 1;
        shifted = true;
    }
    if (shifted) {
        ++*moved;
        ++movedTransitions;
    }
    ch.lastQueued = k;
    ch.hasTransitions = true;
    ch.pending.push_back(k);
    return k;
}

PlacedFrame CRecordEncoder::AddTransitionTicks(int channel, const int64_t* ticks, size_t count) {
    PlacedFrame f;
    if (finished || channel < 0 || channel > 1 || count == 0) return f;
    // Leave the tick before the frame free, for a first transition that has to move early.
    AdvanceToTick(ticks[0] - 1);
    Channel& ch = channels[channel];
    for (size_t i = 0; i < count; ++i) {
        const int64_t k = Place(ch, ticks[i], &f.moved);
        if (i == 0) f.firstTick = k;
        f.lastTick = k;
    }
    f.count = int32_t(count);
    f.startMicros = MicrosOfTick(f.firstTick);
    return f;
}

PlacedFrame CRecordEncoder::AddTransitions(int channel, double start, const double* offsets, size_t count) {
    PlacedFrame f;
    if (finished || channel < 0 || channel > 1 || count == 0) return f;
    AdvanceToTick(TickFloor(start) - 1);
    Channel& ch = channels[channel];
    for (size_t i = 0; i < count; ++i) {
        const int64_t k = Place(ch, TickAt(start + offsets[i]), &f.moved);
        if (i == 0) f.firstTick = k;
        f.lastTick = k;
    }
    f.count = int32_t(count);
    f.startMicros = MicrosOfTick(f.firstTick);
    return f;
}

PlacedFrame CRecordEncoder::AddMessage(int channel, double start, int32_t kind, const uint8_t* bytes,
                                       size_t size, const FrameOptions& options, const BmcTiming& timing) {
    const std::vector<double> times = FrameTransitions(kind, bytes, size, options, timing, rng);
    return AddTransitions(channel, start, times.data(), times.size());
}

void CRecordEncoder::AddVbusSample(const VbusSample& s) {
    if (finished) return;
    AdvanceTo(s.time);
    uint8_t* p = vbusBlock + 2 + rec::kSampleSize * vbusCount;
    rec::WriteU32(p, uint32_t(int64_t(config.baseTime) + std::llround(s.time)));
    rec::WriteU16(p + 4, s.vbusVoltage);
    rec::WriteU16(p + 6, uint16_t(CurrentToRaw(s.vbusCurrent)));
    rec::WriteU16(p + 8, uint16_t(s.cc1Voltage));
    rec::WriteU16(p + 10, uint16_t(CurrentToRaw(s.cc1Current)));
    rec::WriteU16(p + 12, uint16_t(s.cc2Voltage));
    rec::WriteU16(p + 14, uint16_t(CurrentToRaw(s.cc2Current)));
    ++vbusCount;
    rec::WriteU16(vbusBlock, uint16_t(0x2000 | vbusCount));
    if (vbusCount >= config.samplesPerVbusBlock) FlushVbus();
}

void CRecordEncoder::FlushVbus() {
    if (vbusCount == 0) return;
    Deliver(vbusBlock);
    std::memset(vbusBlock, 0, sizeof vbusBlock);
    rec::WriteU16(vbusBlock, 0x2000);
    vbusCount = 0;
}

void CRecordEncoder::AdvanceToTick(int64_t tick) {
    if (!finished) GenerateBoth(tick);
}

void CRecordEncoder::GenerateBoth(int64_t horizon) {
    while (genTick < horizon) {
        const int64_t step = std::min(horizon, genTick + kChunkTicks);
        Generate(0, step);
        Generate(1, step);
        genTick = step;
        EmitReady();
    }
}

// Writes channel c's bytes for every transition and counter wrap below the horizon.
void CRecordEncoder::Generate(int c, int64_t horizon) {
    Channel& ch = channels[c];
    for (;;) {
        const int64_t next = ch.pendingHead < ch.pending.size() ? ch.pending[ch.pendingHead]
                                                                : std::numeric_limits<int64_t>::max();
        if (next < horizon && next <= ch.nextWrap) {
            EmitTransition(c, next);
            ++ch.pendingHead;
            // A transition on the wrap tick stands in for that wrap's filler.
            if (next == ch.nextWrap) ch.nextWrap += 256;
            continue;
        }
        const int64_t limit = std::min(horizon, next);
        if (ch.nextWrap >= limit) break;
        if (ch.lastValue == 0 && ch.repeat >= 1) {
            // Steady idle: every filler adds a full 256 ticks, one per wrap.
            int64_t n = (limit - 1 - ch.nextWrap) / 256 + 1;
            while (n > 0) {
                if (ch.fill == 0) ch.firstTick = ch.nextWrap;
                const int m = int(std::min<int64_t>(n, kEdgeBytes - ch.fill));
                std::memset(ch.current.data + rec::kEdgeBytesOffset + ch.fill, ch.lastByte, size_t(m));
                ch.fill += m;
                n -= m;
                ch.nextWrap += int64_t(256) * m;
                if (ch.fill == kEdgeBytes) CompleteBlock(c, ch.nextWrap - 256);
            }
            ch.position = ch.nextWrap - 256;
            ch.repeat = 2;
        } else {
            // The first wrap after a transition; after a transition at tick value 0 the decoder reads
            // the first filler as 0 ticks, so that wrap takes two.
            const int64_t w = ch.nextWrap;
            while (ch.position < w) {
                FillerStep(ch);
                PutByte(c, uint8_t(ch.lastByte), w);
            }
            ch.nextWrap += 256;
        }
    }
    if (ch.pendingHead == ch.pending.size()) {
        ch.pending.clear();
        ch.pendingHead = 0;
    } else if (ch.pendingHead > 4096 && ch.pendingHead * 2 > ch.pending.size()) {
        ch.pending.erase(ch.pending.begin(), ch.pending.begin() + std::ptrdiff_t(ch.pendingHead));
        ch.pendingHead = 0;
    }
}

// The decoder's step for a filler byte.
void CRecordEncoder::FillerStep(Channel& ch) {
    ch.repeat = ch.repeat < 2 ? ch.repeat + 1 : 2;
    const int step = ch.lastValue != 0 ? 256 - ch.lastValue : (ch.repeat < 2 ? 0 : 256);
    ch.position += step;
    ch.lastValue = 0;
}

void CRecordEncoder::EmitTransition(int c, int64_t tick) {
    Channel& ch = channels[c];
    const int b = int(tick & 0xFF);
    // At most one filler is needed first: a transition at tick value 0 on a wrap that follows an
    // idle wrap would otherwise read as 0 ticks.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (b != ch.lastByte) {
            const int step = b == ch.lastValue ? 0 : ((b - ch.lastValue) & 0xFF);
            if (ch.position + step == tick) {
                PutByte(c, uint8_t(b), tick);
                ch.lastByte = ch.lastValue = b;
                ch.repeat = 0;
                ch.position = tick;
                return;
            }
        }
        FillerStep(ch);
        PutByte(c, uint8_t(ch.lastByte), tick);
    }
    assert(false && "transition cannot be expressed");
}

void CRecordEncoder::PutByte(int c, uint8_t b, int64_t tick) {
    Channel& ch = channels[c];
    if (ch.fill == 0) ch.firstTick = tick;
    ch.current.data[rec::kEdgeBytesOffset + ch.fill++] = b;
    if (ch.fill == kEdgeBytes) CompleteBlock(c, tick);
}

// Stamps are the time of the block's first byte. The decoder re-bases a channel on a sub-counter 0
// block whose stamp is more than 500 µs off its running time (the time of the channel's previous
// byte) while no packet is open. Consecutive bytes of a channel are at most one wrap (256 ticks)
// apart, so this never happens while 256 × divisor / 48 ≤ 500 µs: divisor up to 93, i.e. clock
// setting 0 (divisor 20) and settings whose low byte is 0..92.
void CRecordEncoder::CompleteBlock(int c, int64_t tick) {
    Channel& ch = channels[c];
    rec::WriteU32(ch.current.data + 2, uint32_t(MicrosOfTick(ch.firstTick)));
    rec::WriteU16(ch.current.data + 6, config.clockSetting);
    ch.current.key = tick;
    ch.done.items.push_back(ch.current);
    ch.fill = 0;
}

void CRecordEncoder::EmitReady() {
    for (;;) {
        int pick = -1;
        for (int c = 0; c < 2; ++c) {
            Channel& ch = channels[c];
            if (ch.done.Empty()) continue;
            // A channel's time base starts only with a sub-counter 0 block.
            if (!ch.started && (sequence & 7) != 0) continue;
            if (pick < 0 || ch.done.Front().key < channels[pick].done.Front().key) pick = c;
        }
        if (pick < 0) return;
        EmitBlock(pick);
    }
}

void CRecordEncoder::EmitBlock(int c) {
    Channel& ch = channels[c];
    Block& b = ch.done.Front();
    const uint16_t word0 = uint16_t((sequence & 7) | (((sequence >> 3) & 0xFF) << 4) | (uint32_t(c) << 14));
    rec::WriteU16(b.data, word0);
    ++sequence;
    ch.started = true;
    Deliver(b.data);
    ch.done.Pop();
}

void CRecordEncoder::Deliver(const uint8_t* block) {
    ++blocksWritten;
    if (sink) sink(block);
}

void CRecordEncoder::Finish(double t) {
    if (finished) return;
    AdvanceTo(t);
    FlushVbus();
    // A filler at least 10 µs after a channel's last transition closes its packet; fillers come at
    // wraps, so go one wrap further.
    const int64_t closeTicks = (480 + divisor - 1) / divisor;
    int64_t end = genTick;
    for (const Channel& ch : channels)
        if (ch.hasTransitions) end = std::max(end, ch.lastQueued + closeTicks + 257);
    GenerateBoth(end);
    // Complete each channel's last block. A channel whose first block still waits for sub-counter 0
    // keeps the other channel streaming until it may go.
    int64_t horizon = genTick;
    for (;;) {
        bool held[2], active[2];
        for (int c = 0; c < 2; ++c) held[c] = !channels[c].started && !channels[c].done.Empty();
        for (int c = 0; c < 2; ++c) active[c] = channels[c].fill != 0 || held[1 - c];
        if (!active[0] && !active[1] && !held[0] && !held[1]) break;
        horizon += 256;
        for (int c = 0; c < 2; ++c)
            if (active[c]) Generate(c, horizon);
        EmitReady();
    }
    genTick = horizon;
    finished = true;
}

} // namespace enc
