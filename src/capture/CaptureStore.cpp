#include "CaptureStore.h"

#include "BmcDecoder.h"
#include "RecordFile.h"
#include "MessageTypes.h"
#include "Notify.h"
#include "PdConstants.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

int OtherPort(int p) { return p == 1 ? 2 : 1; }

// Number of bytes from p on, at most n, that equal b: the fillers of an idle channel, eight at a time.
int RunOf(const uint8_t* p, int n, uint8_t b) {
    int k = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = 0x0101010101010101ull * b;
        for (; k + 8 <= n; k += 8) {
            uint64_t w;
            std::memcpy(&w, p + k, 8);
            if (const uint64_t diff = w ^ pattern) return k + std::countr_zero(diff) / 8;
        }
    }
    while (k < n && p[k] == b) ++k;
    return k;
}

#if defined(__SSE2__)
// Edge bytes from..55 of a block whose byte from - 1 was a transition inside an open packet: the
// longest run of them from `from` on that goes on with the packet. That is transitions whose steps
// stay below closeGap, and lone fillers that only mark the counter's wrap between two transitions
// (as inside any packet); the run ends with a transition. Writes the run's entries to out (room for
// 55), their number to *entries and the sum of their steps to *steps; returns the run's end.
int InPacketRun(const uint8_t* bytes, int from, int64_t closeGap, EdgeEntry* out, int* entries, int64_t* steps) {
    static_assert(rec::kEdgeBytesPerBlock == 56 && sizeof(EdgeEntry) == 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi8(char(closeGap > 255 ? 255 : closeGap - 1));
    // Four loads cover bytes 1..55; the last one overlaps the third, whose bytes it repeats.
    constexpr int kAt[4] = {1, 17, 33, 40};
    __m128i step[4];
    uint64_t below = 0, fillers = 0; // bit i: about byte i
    for (int k = 0; k < 4; ++k) {
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + kAt[k]));
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + kAt[k] - 1));
        step[k] = _mm_sub_epi8(cur, prev); // modulo 256; 0 for a filler
        below |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(step[k], limit), limit)))) << kAt[k];
        fillers |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(cur, prev)))) << kAt[k];
    }
    // Bytes the run cannot take: a step too long, a filler before another or before a step too long,
    // a filler last. A filler between transitions at values a and b lasts 256 - a ticks (none when a
    // is 0) and the transition after it b more, which is the step from a to b unless b >= a > 0: then
    // a whole wrap more.
    uint64_t stop = ~below | (fillers & (fillers >> 1)) | (fillers & (~below >> 1)) | (uint64_t(1) << 55 & fillers);
    for (uint64_t f = fillers & ~stop; f; f &= f - 1) {
        const int at = std::countr_zero(f);
        if (bytes[at - 1] != 0 && bytes[at + 1] >= bytes[at - 1]) stop |= uint64_t(1) << at;
    }
    stop &= ~((uint64_t(1) << from) - 1);
    const int end = stop ? std::min(std::countr_zero(stop), 56) : 56;
    if (end <= from) {
        *entries = 0;
        *steps = 0;
        return from;
    }

    // Entry of byte i at base + 4 i: the step, a zero byte, then 0xFFFF. A run from byte 1 on is written
    // where it belongs, so that only fillers move entries; one from further on goes to a local array
    // first (raw bytes, so that nothing is cleared), as its first lanes would land on the packet's
    // earlier entries.
    alignas(16) uint8_t local[4 * 56];
    uint8_t* base = from == 1 ? reinterpret_cast<uint8_t*>(out) - sizeof(EdgeEntry) : local;
    const __m128i noBit = _mm_set1_epi16(-1);
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i sums = zero;
    for (int k = 0; k < 4; ++k) {
        uint8_t* to = base + 4 * kAt[k];
        const __m128i lo = _mm_unpacklo_epi8(step[k], zero);
        const __m128i hi = _mm_unpackhi_epi8(step[k], zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi16(lo, noBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm_unpackhi_epi16(lo, noBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32), _mm_unpacklo_epi16(hi, noBit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 48), _mm_unpackhi_epi16(hi, noBit));
        // Steps of the bytes in from..end - 1, the overlapping load counting only its bytes 49..55.
        const int lowest = k < 3 ? from : std::max(from, 49);
        const __m128i at = _mm_add_epi8(lanes, _mm_set1_epi8(char(kAt[k])));
        const __m128i inside = _mm_and_si128(_mm_cmpgt_epi8(at, _mm_set1_epi8(char(lowest - 1))),
                                             _mm_cmpgt_epi8(_mm_set1_epi8(char(end)), at));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(step[k], inside), zero));
    }
    *steps = _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));

    // A filler adds no entry of its own.
    int written = 0;
    int next = from;
    const uint64_t inRun = fillers & ((uint64_t(1) << end) - 1) & ~((uint64_t(1) << from) - 1);
    auto take = [&](int upTo) { // the entries of bytes next..upTo - 1
        const uint8_t* src = base + 4 * next;
        if (src != reinterpret_cast<const uint8_t*>(out + written))
            std::memmove(out + written, src, sizeof(EdgeEntry) * size_t(upTo - next));
        written += upTo - next;
    };
    for (uint64_t f = inRun; f; f &= f - 1) {
        const int at = std::countr_zero(f);
        take(at);
        next = at + 1;
    }
    take(end);
    *entries = written;
    return end;
}
#endif

std::string Percent(const char* fmt, int v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

} // namespace

CCaptureStore::CCaptureStore(IUserNotify* n, const StoreLimits& l) : limits(l), notify(n) {
    spareEdges.reserve(2);
    Reset();
}

CCaptureStore::~CCaptureStore() {
    // Open packets and reassembly buffers go with their owners; nothing to report.
    notify = nullptr;
}

void CCaptureStore::SetLimits(const StoreLimits& l) { limits = l; }

void CCaptureStore::ShowMessage(const char* text) const {
    if (notify) notify->ShowMessage(text);
}

void CCaptureStore::Reset() {
    if (notify) notify->BeginWaitCursor();
    decodePosition = 0;
    captureOrigin = -1;
    lastSampleTime = 0;
    channels[0].blockTime = channels[1].blockTime = 0;
    timeOrigin = 0;
    lastBlockCounter = lastSubCounter = -1;
    ResetChannel(0);
    ResetChannel(1);
    FlushOpenPackets(); // with the origin unset the open packets are dropped

    if (notify) {
        const size_t n = samples.size();
        for (size_t i = 0; i < n; i += 100)
            notify->SetStatusText(Percent("Deleting VBUS Info... %d%%", int(uint64_t(i) * 100 / n)));
    }
    samples.clear();
    std::deque<CVbusInfo>().swap(samples);
    if (notify) {
        const size_t n = packets.size();
        for (size_t i = 0; i < n; i += 100)
            notify->SetStatusText(Percent("Deleting PD Messages... %d%%", int(uint64_t(i) * 100 / n)));
    }
    packets.clear();
    packets.shrink_to_fit();

    extremes = CaptureExtremes{};
    tallies = CaptureTallies{};
    loadedTimeOrigin = 0;
    portState = PortState{};
    reassembly = ReassemblyState{};
    markerAPacket = markerBPacket = nullptr;
    vbusFull = packetsFull = false;
    packetsRemoved = false;
    bookmarkTimes.clear();
    loadedMarkerA = loadedMarkerB = loadedGraphO = loadedGraphX = -1;
    if (notify) notify->EndWaitCursor();
}

// ---------------------------------------------------------------------------------------------
// Packet assembly

void CCaptureStore::ResetChannel(int c) {
    ChannelAssembly& ch = channels[c];
    ch.edgeTime = -1;
    ch.ticks = -1;
    ch.lastByte = -1;
    ch.lastEdgeValue = -1;
    ch.repeatCount = 0;
    ch.gap = 0;
}

void CCaptureStore::FlushOpenPackets() {
    for (int c = 0; c < 2; ++c) ClosePacket(c, false);
}

// An idle end drops fragments of fewer than four intervals; any other close offers the packet.
void CCaptureStore::ClosePacket(int c, bool idleEnd) {
    std::unique_ptr<CCCPacket> p = std::move(channels[c].openPacket);
    if (!p) return;
    if (idleEnd && p->intervalCount < 4) {
        RecycleEdges(*p);
        return;
    }
    AddPacket(p);
}

void CCaptureStore::RecycleEdges(CCCPacket& p) {
    if (p.edges && spareEdges.size() < spareEdges.capacity()) spareEdges.push_back(std::move(p.edges));
    p.edges.reset();
}

bool CCaptureStore::ContinuesSequence(int lastCounter, int lastSub, int e, int f) {
    return rec::ContinuesSequence(lastCounter, lastSub, e, f);
}

void CCaptureStore::Resynchronise(ChannelAssembly& ch, int64_t t) {
    ch.edgeTime = t;
    ch.ticks = t * kClockTicksPerMicro / divisor;
}

void CCaptureStore::ProcessCcBlock(const uint8_t* block, int64_t fileOffset) {
    divisor = rec::ClockDivisor(rec::CcClockSetting(block));

    const int e = rec::CcBlockCounter(block);
    const int f = rec::CcSubCounter(block);
    const bool continues = ContinuesSequence(lastBlockCounter, lastSubCounter, e, f);
    lastBlockCounter = e;
    lastSubCounter = f;
    if (!continues) {
        FlushOpenPackets();
        ResetChannel(0);
        ResetChannel(1);
    }

    const int c = rec::CcChannel(block);
    ChannelAssembly& ch = channels[c];
    const int64_t t = rec::ExtendTimeStamp(ch.blockTime, rec::CcTimeStamp(block));
    ch.blockTime = t;

    if (ch.edgeTime < 0) {
        if (f != 0) return;
        Resynchronise(ch, t);
    } else if (f == 0 && !ch.openPacket && (t - ch.edgeTime > 500 || t - ch.edgeTime < -500)) {
        Resynchronise(ch, t);
    }

    // The byte loop works on local copies of the channel state, written back around every call out.
    const int64_t div = divisor;
    // gap × divisor ≥ 480 in whole ticks, without a multiply per byte.
    const int64_t closeGap = (480 + div - 1) / div;
    const int64_t endOffset = fileOffset + 63;
    const uint8_t* bytes = block + rec::kEdgeBytesOffset;
    int lastByte = ch.lastByte;
    int lastValue = ch.lastEdgeValue;
    int repeat = ch.repeatCount;
    int64_t gap = ch.gap;
    int64_t ticks = ch.ticks;
    // The open packet's edge array and count stay in registers too: written through the packet, every
    // interval would wait for the count stored by the one before.
    CCCPacket* open = ch.openPacket.get();
    EdgeEntry* edges = open ? open->edges.get() : nullptr;
    int32_t count = open ? open->intervalCount : 0;
    auto writeBack = [&] {
        ch.lastByte = lastByte;
        ch.lastEdgeValue = lastValue;
        ch.repeatCount = repeat;
        ch.gap = gap;
        ch.ticks = ticks;
        if (open) open->intervalCount = count;
    };

    // After a transition at byte i inside the open packet: the bytes after it that simply go on with
    // the packet, all at once. Returns the last byte taken.
    auto runInPacket = [&](int i) {
#if defined(__SSE2__)
        if (i + 1 < rec::kEdgeBytesPerBlock && edges && count <= kMaxIntervals - rec::kEdgeBytesPerBlock) {
            int entries = 0;
            int64_t steps = 0;
            const int end = InPacketRun(bytes, i + 1, closeGap, edges + count, &entries, &steps);
            if (end > i + 1) {
                count += entries;
                ticks += steps;
                lastByte = lastValue = bytes[end - 1];
                return end - 1;
            }
        }
#endif
        return i;
    };

    int i = 0;
    if (lastByte < 0) {
        // The first byte only gives the reference value; no time passes.
        lastByte = lastValue = bytes[0];
        i = 1;
    }
    for (; i < rec::kEdgeBytesPerBlock; ++i) {
        const int b = bytes[i];
        if (b != lastByte) {
            // A transition: the step from the latest one modulo the counter's 256 ticks.
            const int step = (b - lastValue) & 0xFF;
            repeat = 0;
            gap += step;
            ticks += step;
            lastByte = lastValue = b;
            if (open) {
                if (gap < closeGap) {
                    // As AppendInterval: the array is made on first use, and intervals past the
                    // capacity, or that found no array, are lost.
                    if (count < kMaxIntervals) {
                        if (!edges && open->AllocateEdges()) edges = open->edges.get();
                        if (edges) edges[count++] = EdgeEntry{uint8_t(gap & 0xFF), 0, 0xFFFF};
                    }
                    open->endOffset = endOffset;
                    gap = 0;
                    i = runInPacket(i);
                    continue;
                }
                writeBack();
                ClosePacket(c, true);
                open = nullptr;
            }
            auto p = std::unique_ptr<CCCPacket>(new (std::nothrow) CCCPacket);
            if (!p) {
                writeBack();
                ch.edgeTime = div * ticks / kClockTicksPerMicro;
                return;
            }
            if (!spareEdges.empty()) {
                p->edges = std::move(spareEdges.back());
                spareEdges.pop_back();
            }
            p->store = this;
            p->channel = c;
            p->divisor = int32_t(div);
            p->absStartTime = div * ticks / kClockTicksPerMicro;
            p->startOffset = fileOffset;
            p->intervalCount = 0;
            p->index = -1;
            p->endOffset = endOffset;
            open = p.get();
            edges = open->edges.get();
            count = 0;
            ch.openPacket = std::move(p);
            gap = 0;
            i = runInPacket(i);
            continue;
        }
        if (!open && lastValue == 0 && repeat >= 1) {
            // A run of fillers on an idle channel: each one is a full counter wrap.
            const int run = 1 + RunOf(bytes + i + 1, rec::kEdgeBytesPerBlock - i - 1, uint8_t(b));
            repeat += run;
            gap += int64_t(256) * run;
            ticks += int64_t(256) * run;
            i += run - 1;
            continue;
        }
        // A filler: time passes up to the counter's next wrap, or a whole wrap after the first.
        repeat += 1;
        const int step = lastValue > 0 ? 256 - lastValue : (repeat < 2 ? 0 : 256);
        gap += step;
        ticks += step;
        lastValue = 0;
        if (open && gap >= closeGap) {
            writeBack();
            ClosePacket(c, true);
            open = nullptr;
        }
    }
    writeBack();
    ch.edgeTime = div * ticks / kClockTicksPerMicro;
}

// ---------------------------------------------------------------------------------------------
// Samples

void CCaptureStore::AddSamples(const uint8_t* block, int64_t fileOffset) {
    const int n = rec::SampleCount(block);
    for (int k = 0; k < n; ++k) {
        const rec::RawSample r = rec::ExtractSample(block, k);
        lastSampleTime = rec::ExtendTimeStamp(lastSampleTime, r.timeStamp);
        if (captureOrigin < 0) captureOrigin = lastSampleTime;
        CVbusInfo s;
        s.time = lastSampleTime - captureOrigin;
        s.vbusVoltage = r.vbusVoltage;
        s.cc1Voltage = r.cc1Voltage;
        s.cc2Voltage = r.cc2Voltage;
        s.vbusCurrent = r.vbusCurrent;
        s.cc1Current = r.cc1Current;
        s.cc2Current = r.cc2Current;
        s.store = this;
        s.fileOffset = fileOffset;
        try {
            samples.push_back(s);
        } catch (const std::bad_alloc&) {
            return;
        }
        UpdateExtremes(s);
    }
}

void CCaptureStore::UpdateExtremes(const CVbusInfo& s) {
    CaptureExtremes& x = extremes;
    const int32_t volts[3] = {s.vbusVoltage, s.cc1Voltage, s.cc2Voltage};
    const int32_t amps[3] = {s.vbusCurrent, s.cc1Current, s.cc2Current};
    for (int i = 0; i < 3; ++i) {
        const int32_t w = PowerMilliwatts(volts[i], amps[i]);
        if (volts[i] > x.maxVoltage) x.maxVoltage = volts[i];
        if (amps[i] < x.minCurrent) x.minCurrent = amps[i];
        if (amps[i] > x.maxCurrent) x.maxCurrent = amps[i];
        if (w < x.minPower) x.minPower = w;
        if (w > x.maxPower) x.maxPower = w;
    }
    const int32_t vbusPower = PowerMilliwatts(volts[0], amps[0]);
    if (vbusPower > x.maxVbusPower) {
        x.maxVbusPower = vbusPower;
        x.maxVbusPowerVoltage = volts[0];
        x.maxVbusPowerCurrent = amps[0];
    }
    if (vbusPower < x.minVbusPower) {
        x.minVbusPower = vbusPower;
        x.minVbusPowerVoltage = volts[0];
        x.minVbusPowerCurrent = amps[0];
    }
}

// ---------------------------------------------------------------------------------------------
// Packets

bool CCaptureStore::AddPacket(std::unique_ptr<CCCPacket>& packet) {
    CCCPacket& p = *packet;
    if (captureOrigin < 0 || p.absStartTime < captureOrigin) {
        RecycleEdges(p);
        return false;
    }
    p.store = this;
    p.startTime = p.absStartTime - captureOrigin;
    p.ResetDecodedFields();

    DecodePacket(p);
    RecycleEdges(p); // later stages read only counts, bits and symbols

    AttributePort(p);
    Reassemble(p);
    TakeSnapshot(p);
    CountPacket(p);
    InsertPacket(std::move(packet));
    return true;
}

void CCaptureStore::DecodePacket(CCCPacket& p) {
    // The bit and symbol arrays come out no larger than what the packet holds; the edges go next.
    bmc::DecodePacketBitsDroppingEdges(p, notify,
                                       tolerantBits ? bmc::BitRecovery::Tolerant : bmc::BitRecovery::Standard);
}

void CCaptureStore::AttributePort(CCCPacket& p) {
    PortState& s = portState;
    const bool bit8 = p.PowerRoleBit(); // Cable Plug on SOP' and SOP''
    const bool bit5 = p.DataRoleBit();
    if (p.kind == kKindSopPrime || p.kind == kKindSopDoublePrime) {
        if (bit8)
            p.port = 3;
        else if (s.dfpPort == 0 || s.dfpPort == s.sourcePort)
            p.port = s.sourcePort;
        return;
    }
    if (p.kind != kKindSop) return;

    if (s.swapActive && s.ufpPort != 0)
        p.port = bit5 ? s.dfpPort : s.ufpPort;
    else
        p.port = bit8 ? s.sourcePort : s.sinkPort;
    if (s.ufpPort == 0) {
        if (bit5) {
            s.dfpPort = p.port;
            s.ufpPort = OtherPort(p.port);
        } else {
            s.ufpPort = p.port;
            s.dfpPort = OtherPort(p.port);
        }
    }

    // Named by the type code of the packet's own revision: from 3.0 on it has five bits, and FR_Swap,
    // Get_PPS_Status or Get_Sink_Cap_Extended must not pass for Accept, Reject or PS_RDY.
    using enum MessageTypeId;
    const MessageTypeInfo* m = FindPacketMessageType(p);
    const MessageTypeId type = m ? m->id : Count;
    if (type == PrSwap) {
        s.swapActive = true;
        s.swapInitiator = p.port;
        s.swapAccepted = false;
        s.initiatorReady = s.otherReady = false;
    }
    if (s.swapActive) {
        if (type == Accept) {
            s.swapAccepted = true;
        } else if (type == Reject || type == Wait) {
            s.swapActive = false;
        } else if (type == PsRdy && s.swapAccepted) {
            if (bit8) {
                s.sourcePort = OtherPort(s.sourcePort);
                p.port = s.sourcePort;
            } else {
                s.sinkPort = OtherPort(s.sinkPort);
                p.port = s.sinkPort;
            }
            if (p.port == s.swapInitiator)
                s.initiatorReady = true;
            else
                s.otherReady = true;
            if (s.initiatorReady && s.otherReady) s.swapActive = false;
        }
    }
    if (type == SourceCapabilities && p.port == s.sourcePort) s.lastSourceCaps = &p;
    if (type == Request && p.port == s.sinkPort) p.sourceCapsRef = s.lastSourceCaps;
}

void CCaptureStore::AbandonReassembly() {
    reassembly.buffer.reset();
    reassembly.expectedChunk = -1;
    reassembly.total = reassembly.assembled = 0;
}

// A chunk sent again lands on its own copy, in the buffer it joined the first time.
bool CCaptureStore::JoinAgain(CCCPacket& p) {
    const JoinedChunk& c = reassembly.lastChunk;
    if (!c.buffer || p.kind != c.kind || p.Header() != c.header || p.ExtendedHeader() != c.extendedHeader)
        return false;
    std::memcpy(c.buffer.get() + c.offset, p.messageBytes + 4, size_t(c.length));
    p.extBuffer = c.buffer;
    p.extData = c.buffer.get();
    p.extDataSize = c.total;
    p.extChunkOffset = c.offset;
    p.extChunkLength = c.length;
    p.ownsExtData = false;
    return true;
}

void CCaptureStore::Reassemble(CCCPacket& p) {
    ReassemblyState& r = reassembly;
    if (p.IsResetMessage()) {
        AbandonReassembly();
        r.lastChunk = {};
        return;
    }
    if (!IsMessageKind(p.kind)) return;
    if (p.crcGood) {
        if (p.IsExtendedMessage() && JoinAgain(p)) return;
        // A chunk is sent again only before anything but a GoodCRC has been said.
        const MessageTypeInfo* m = FindPacketMessageType(p);
        if (!m || m->id != MessageTypeId::GoodCrc) r.lastChunk = {};
    }
    if (!p.IsExtendedMessage()) return;

    const int32_t size = p.DataSizeField();
    const uint8_t* data = p.messageBytes + 4;
    const bool chunked = p.ChunkedBit();
    const int chunkNumber = p.ChunkNumberField();

    if (chunked && p.RequestChunkBit()) return;
    if (p.HoldsWholeExtendedMessage()) {
        // Only the bytes that came are data: past them lie the CRC and whatever the buffer held before.
        const int32_t carried = std::min(size, p.CarriedDataBytes());
        if (carried > 0) {
            p.extData = data;
            p.extDataSize = carried;
            p.extChunkLength = carried;
            p.extChunkOffset = 0;
            p.ownsExtData = false;
        }
        AbandonReassembly();
        return;
    }
    // A damaged chunk never enters the buffer; the good copy sent after it does.
    if (!p.crcGood) return;

    int32_t chunkLen = 4 * p.DataObjectCount() - 2;
    if (size > kMaxExtendedDataBytes || size < chunkLen) {
        AbandonReassembly();
        return;
    }
    if (r.buffer && (chunkNumber != r.expectedChunk || size != r.total)) {
        r.buffer.reset();
        r.total = r.assembled = 0;
    }
    if (r.buffer) {
        chunkLen = std::min(chunkLen, r.total - r.assembled);
        // A chunk without data (no data objects) cannot advance the message either.
        if (chunkLen <= 0) {
            AbandonReassembly();
            return;
        }
        p.ownsExtData = false;
    } else {
        if (chunkNumber != 0) return;
        if (chunkLen <= 0) {
            AbandonReassembly();
            return;
        }
        std::shared_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[size_t(size)]());
        if (!buf) return;
        r.buffer = std::move(buf);
        r.total = size;
        r.assembled = 0;
        r.expectedChunk = 0;
        p.ownsExtData = true;
    }
    chunkLen = std::min(chunkLen, r.total - r.assembled);
    p.extBuffer = r.buffer;
    p.extData = r.buffer.get();
    p.extDataSize = r.total;
    p.extChunkOffset = r.assembled;
    p.extChunkLength = chunkLen;
    std::memcpy(r.buffer.get() + r.assembled, data, size_t(chunkLen));
    r.lastChunk = {r.buffer, p.kind, p.Header(), p.ExtendedHeader(), r.total, r.assembled, chunkLen};
    r.assembled += chunkLen;
    if (r.assembled >= r.total) {
        AbandonReassembly();
    } else if (++r.expectedChunk > 9) {
        AbandonReassembly();
    }
}

namespace {
void CopySnapshot(const CCCPacket& p, const CVbusInfo& s) {
    p.snapVbusVoltage = s.vbusVoltage;
    p.snapVbusCurrent = s.vbusCurrent;
    p.snapCc1Voltage = s.cc1Voltage;
    p.snapCc2Voltage = s.cc2Voltage;
    p.snapCc1Current = s.cc1Current;
    p.snapCc2Current = s.cc2Current;
    p.hasSnapshot = true;
}

// Position after the last sample at or before t (samples are in time order).
std::deque<CVbusInfo>::const_iterator AfterSampleAt(const std::deque<CVbusInfo>& samples, int64_t t) {
    return std::upper_bound(samples.begin(), samples.end(), t,
                            [](int64_t v, const CVbusInfo& s) { return v < s.time; });
}
} // namespace

void CCaptureStore::TakeSnapshot(CCCPacket& p) {
    if (samples.empty() || p.absStartTime >= lastSampleTime) return;
    // The sample in force at the packet's start, or the first one when the packet precedes them all.
    // Packets come in time order on each channel, so their samples are usually at or just after the
    // previous packet's.
    const size_t n = samples.size();
    size_t h = std::min(snapshotHint, n - 1);
    if (samples[h].time <= p.startTime) {
        for (int steps = 0; steps < 16 && h + 1 < n && samples[h + 1].time <= p.startTime; ++steps) ++h;
        if (h + 1 == n || samples[h + 1].time > p.startTime) {
            snapshotHint = h;
            CopySnapshot(p, samples[h]);
            return;
        }
    }
    const auto it = AfterSampleAt(samples, p.startTime);
    snapshotHint = it == samples.begin() ? 0 : size_t(it - samples.begin()) - 1;
    CopySnapshot(p, it == samples.begin() ? samples.front() : *(it - 1));
}

void CCaptureStore::EnsureSnapshot(const CCCPacket& p) const {
    if (p.hasSnapshot) return;
    const auto it = AfterSampleAt(samples, p.startTime);
    if (it != samples.begin()) CopySnapshot(p, *(it - 1));
}

void CCaptureStore::CountPacket(const CCCPacket& p) {
    CaptureTallies& t = tallies;
    ++t.all;
    ++(p.channel == 0 ? t.cc1 : t.cc2);
    if (!p.preambleFound) ++t.noPreamble;
    if (IsMessageKind(p.kind) && !p.crcGood) ++t.badCrc;
    if (!p.eopFound) ++t.noEop;
    const double ui = p.unitInterval;
    if (ui < kMinUnitIntervalUs || ui > kMaxUnitIntervalUs) ++t.uiOutOfRange;
    switch (p.kind) {
    case kKindSop: ++t.sop; break;
    case kKindSopPrime: ++t.sopPrime; break;
    case kKindSopDoublePrime: ++t.sopDoublePrime; break;
    case kKindHardReset: ++t.hardReset; break;
    case kKindCableReset: ++t.cableReset; break;
    case kKindSopPrimeDebug: ++t.sopPrimeDebug; break;
    case kKindSopDoublePrimeDebug: ++t.sopDoublePrimeDebug; break;
    default: ++t.otherKind; break;
    }
    if (p.kind == kKindSop) {
        ++(p.PowerRoleBit() ? t.sopFromSource : t.sopFromSink);
        ++(p.DataRoleBit() ? t.sopFromDfp : t.sopFromUfp);
    }
    if (p.crcGood) {
        const int code = p.GetMessageTypeCode() & 31;
        if (p.IsExtendedMessage())
            ++t.extendedByType[code];
        else if (p.IsControlMessage())
            ++t.controlByType[code];
        else if (p.IsDataMessage())
            ++t.dataByType[code];
    }
}

// The gap from the end of the packet before this one in the store, or for the first packet its start
// from the time origin: what the packet list shows, kept here so that every reader has it.
void CCaptureStore::UpdateIdleTime(size_t i) {
    CCCPacket& p = *packets[i];
    if (i == 0) {
        p.idleTime = DisplayTime(p);
        return;
    }
    const CCCPacket& before = *packets[i - 1];
    p.idleTime = p.startTime - (before.startTime + before.LengthMicros());
}

void CCaptureStore::SetTimeOrigin(int64_t origin) {
    timeOrigin = origin;
    if (!packets.empty()) UpdateIdleTime(0);
}

void CCaptureStore::InsertPacket(std::unique_ptr<CCCPacket> p) {
    const int64_t t = p->startTime;
    if (packets.empty() || packets.back()->startTime <= t) {
        p->index = int32_t(packets.size());
        packets.push_back(std::move(p));
        UpdateIdleTime(packets.size() - 1);
        return;
    }
    size_t pos = packets.size();
    while (pos > 0 && packets[pos - 1]->startTime > t) --pos;
    packets.insert(packets.begin() + std::ptrdiff_t(pos), std::move(p));
    for (size_t i = pos; i < packets.size(); ++i) packets[i]->index = int32_t(i);
    // The packet now after the inserted one measures its gap from the inserted one.
    UpdateIdleTime(pos);
    UpdateIdleTime(pos + 1);
}

void CCaptureStore::EnforceLimits() {
    const size_t pc = packets.size();
    if (limits.packetAutoRemove && double(pc) > double(limits.packetLimit) * 1.1) {
        const size_t drop = pc - limits.packetLimit;
        // Clear every reference into the removed range before the packets go.
        for (size_t i = 0; i < drop; ++i) packets[i]->index = -2;
        auto gone = [](const CCCPacket* q) { return q && q->index == -2; };
        for (size_t i = drop; i < pc; ++i)
            if (gone(packets[i]->sourceCapsRef)) packets[i]->sourceCapsRef = nullptr;
        if (gone(portState.lastSourceCaps)) portState.lastSourceCaps = nullptr;
        if (gone(markerAPacket)) markerAPacket = nullptr;
        if (gone(markerBPacket)) markerBPacket = nullptr;
        packets.erase(packets.begin(), packets.begin() + std::ptrdiff_t(drop));
        for (size_t i = 0; i < packets.size(); ++i) packets[i]->index = int32_t(i);
        // The oldest one left is the first now, as the packet list counts after a removal.
        if (!packets.empty()) UpdateIdleTime(0);
        packetsRemoved = true;
    } else if (!limits.packetAutoRemove && pc > limits.packetLimit) {
        packetsFull = true;
    }

    const size_t sc = samples.size();
    if (limits.sampleAutoRemove && double(sc) > double(limits.sampleLimit) * 1.1) {
        samples.erase(samples.begin(), samples.begin() + std::ptrdiff_t(sc - limits.sampleLimit));
    } else if (!limits.sampleAutoRemove && sc > limits.sampleLimit) {
        vbusFull = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Record chunks and marker blocks

size_t CCaptureStore::DecodeChunk(const uint8_t* data, size_t size, int64_t fileOffset) {
    const size_t m = size / rec::kBlockSize;
    for (size_t k = 0; k < m; ++k) {
        const uint8_t* b = data + k * rec::kBlockSize;
        const uint16_t w = rec::ReadU16(b);
        if (w == rec::kMarkerWord)
            ApplyMarkerBlock(b);
        else if (w & 0x2000)
            AddSamples(b, fileOffset + int64_t(k) * rec::kBlockSize);
    }
    for (size_t k = 0; k < m; ++k) {
        const uint8_t* b = data + k * rec::kBlockSize;
        if (!(rec::ReadU16(b) & 0x2000)) ProcessCcBlock(b, fileOffset + int64_t(k) * rec::kBlockSize);
    }
    return m * rec::kBlockSize;
}

void CCaptureStore::ApplyMarkerBlock(const uint8_t* block) {
    rec::ForEachMarkerEntry(block, [this](const rec::MarkerEntry& e) {
        switch (e.type) {
        case 5: loadedTimeOrigin = e.TimeValue(); break;
        case 16:
            bookmarkTimes.clear();
            loadedMarkerA = loadedMarkerB = loadedGraphO = loadedGraphX = -1;
            break;
        case 17: bookmarkTimes.push_back(e.TimeValue()); break;
        case 18: loadedMarkerA = e.TimeValue(); break;
        case 19: loadedMarkerB = e.TimeValue(); break;
        case 24: loadedGraphO = e.TimeValue(); break;
        case 25: loadedGraphX = e.TimeValue(); break;
        case rec::kCaptureOriginEntry:
            // The header block comes before any sample or CC block; the first origin given wins.
            if (captureOrigin < 0 && e.TimeValue() >= 0) captureOrigin = e.TimeValue();
            break;
        default: break;
        }
        return true;
    });
}

// ---------------------------------------------------------------------------------------------
// Lookups and energy

namespace {
template <class Arr, class Key> int64_t FindLastAtOrBefore(const Arr& a, int64_t t, Key key) {
    if (a.empty()) return -1;
    size_t lo = 0, hi = a.size() - 1;
    if (key(a[hi]) <= t) return int64_t(hi);
    for (;;) {
        const size_t mid = (lo + hi) / 2;
        if (mid == lo) break;
        if (key(a[mid]) <= t)
            lo = mid;
        else
            hi = mid;
    }
    return key(a[lo]) > t ? -1 : int64_t(lo);
}
} // namespace

CCCPacket* CCaptureStore::FindPacketAt(int64_t t, int64_t* position) const {
    const int64_t i = FindLastAtOrBefore(packets, t, [this](const auto& p) { return DisplayTime(*p); });
    if (position) *position = i;
    return i < 0 ? nullptr : packets[size_t(i)].get();
}

const CVbusInfo* CCaptureStore::FindSampleAt(int64_t t, int64_t* position) const {
    const int64_t i = FindLastAtOrBefore(samples, t, [this](const CVbusInfo& s) { return DisplayTime(s); });
    if (position) *position = i;
    return i < 0 ? nullptr : &samples[size_t(i)];
}

bool CCaptureStore::Energy(int64_t t0, int64_t t1, float* forward, float* reverse) const {
    int64_t pos = -1;
    const CVbusInfo* s = FindSampleAt(t0, &pos);
    if (!s) return false;
    int64_t T = DisplayTime(*s);
    int64_t I = s->vbusCurrent;
    int64_t P = int64_t(s->vbusVoltage) * s->vbusCurrent;
    size_t next = size_t(pos) + 1;
    if (next < samples.size()) {
        const CVbusInfo& r = samples[next];
        const int64_t delta = DisplayTime(r) - T;
        if (delta != 0) {
            const int64_t pr = int64_t(r.vbusVoltage) * r.vbusCurrent;
            I = I + int64_t(float(r.vbusCurrent - I) / float(delta) * float(TimeDifference(t0, T)));
            P = P + int64_t(float(pr - P) / float(delta) * float(TimeDifference(t0, T)));
            T = t0;
        }
    }
    // µW·µs pass 2^63 after about 10.7 hours at 48 V and 5 A: the products and sums are kept in 128
    // bits, which hold any run exactly; where 64 bits held the sum, the result is the same.
    __int128 fwd = 0, rev = 0;
    for (; next < samples.size() && T < t1; ++next) {
        const CVbusInfo& r = samples[next];
        int64_t Tn = DisplayTime(r);
        int64_t In = r.vbusCurrent;
        int64_t Pn = int64_t(r.vbusVoltage) * In;
        if (Tn > t1) {
            In = I + int64_t(double(In - I) * double(TimeDifference(t1, T)) / double(Tn - T));
            Pn = P + int64_t(double(Pn - P) * double(TimeDifference(t1, T)) / double(Tn - T));
            Tn = t1;
        }
        const int64_t dt = Tn - T;
        const auto wide = [](int64_t v) { return __int128(v); };
        if (I >= 0 && In >= 0) {
            fwd += (wide(P + Pn) * dt) >> 1;
        } else if (I <= 0 && In <= 0) {
            rev += (wide(std::abs(P) + std::abs(Pn)) * dt) >> 1;
        } else if (I < 0 && In > 0) {
            const int64_t u = In * dt / (In - I);
            fwd += (wide(Pn) * u) >> 1;
            rev += (wide(std::abs(P)) * (dt - u)) >> 1;
        } else { // I > 0 > In
            const int64_t v = I * dt / (I - In);
            fwd += (wide(P) * v) >> 1;
            rev += (wide(std::abs(Pn)) * (dt - v)) >> 1;
        }
        T = Tn;
        I = In;
        P = Pn;
    }
    *forward = float(fwd) / 1000.0f / 1000.0f / 1000.0f;
    *reverse = float(rev) / 1000.0f / 1000.0f / 1000.0f;
    return true;
}
