#include "RecordRange.h"

#include "CaptureStore.h"
#include "FileCopy.h"
#include "RecordStream.h"
#include "TimeMath.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int64_t kBlock = rec::kBlockSize;
constexpr int64_t kWrap = int64_t(1) << 32;
// Packets of each line a start must decode alike before it is taken. A start whose tick count is one
// tick off leaves a packet's µs as it was with a chance of 1 - divisor / 48; past this many packets
// that chance is gone even at divisor 1.
constexpr size_t kComparedPackets = 2048;
// Bytes read in search of a start near the range. Past them the copy begins where the recording
// begins, which always agrees.
constexpr int64_t kSearchBytes = int64_t(64) << 20;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Whole blocks of the record file, read through one window that follows the reads forward or back.
class CBlockFile {
public:
    bool Open(const std::string& path) {
        file.reset(OpenUnbuffered(path.c_str(), "rb"));
        if (!file || fseeko(file.get(), 0, SEEK_END) != 0) return false;
        end = int64_t(ftello(file.get())) / kBlock * kBlock;
        window.resize(kCopyPiece);
        return true;
    }
    // Offset past the last whole block.
    int64_t End() const { return end; }
    // The block at offset; nullptr past the end or once a read failed.
    const uint8_t* At(int64_t offset) {
        if (offset < 0 || offset + kBlock > end || failed) return nullptr;
        if (offset < base || offset + kBlock > base + size) {
            const int64_t span = int64_t(window.size());
            base = offset < base ? std::max<int64_t>(0, offset + kBlock - span) : offset;
            size = std::min(span, end - base);
            if (fseeko(file.get(), off_t(base), SEEK_SET) != 0 ||
                std::fread(window.data(), 1, size_t(size), file.get()) != size_t(size)) {
                failed = true;
                return nullptr;
            }
        }
        return window.data() + (offset - base);
    }
    bool Failed() const { return failed; }

private:
    File file{nullptr, &std::fclose};
    int64_t end = 0, base = 0, size = 0;
    std::vector<uint8_t> window;
    bool failed = false;
};

bool IsCcBlock(const uint8_t* b) { return rec::ClassifyBlock(b) == rec::BlockKind::CcEdges; }

bool IsLineStart(const uint8_t* b, int channel) {
    return IsCcBlock(b) && rec::CcChannel(b) == channel && rec::CcSubCounter(b) == 0;
}

uint32_t KeptOn(const CCaptureStore& s, int channel) { return channel == 0 ? s.tallies.cc1 : s.tallies.cc2; }

// The multiple of 2^32 nearest to d.
int64_t NearestWrap(int64_t d) { return (d >= 0 ? (d + kWrap / 2) / kWrap : -((kWrap / 2 - d) / kWrap)) * kWrap; }

bool SameDecode(const CCCPacket& a, const CCCPacket& b) {
    return a.channel == b.channel && a.kind == b.kind && a.crcGood == b.crcGood && a.hasCrc == b.hasCrc &&
           a.preambleFound == b.preambleFound && a.eopFound == b.eopFound && a.bitCount == b.bitCount &&
           a.messageByteCount == b.messageByteCount &&
           std::memcmp(a.messageBytes, b.messageBytes, size_t(std::max(a.messageByteCount, 0))) == 0;
}

// The range's packets on one CC line.
struct Line {
    std::vector<const CCCPacket*> head; // the first kComparedPackets of them
    size_t count = 0;
    const CCCPacket* last = nullptr;
};

struct Range {
    Line lines[2];
    const CVbusInfo* sample = nullptr; // the sample in force at the start, else the range's first
    int64_t start = 0, finish = 0;     // analyzer times (extended) of the range's start and end
    int64_t streamStart = 0;           // the record file's first block after its header block
    int64_t end = 0;                   // offset past the last block the copy needs
};

class CStartSearch {
public:
    CStartSearch(CBlockFile& f, const CCaptureStore& s, const Range& r, const std::atomic<bool>& a)
        : file(f), store(s), range(r), abort(a) {}

    // Whether a copy from `from` decodes the range's packets as the record file does; *origin is the
    // capture origin it then needs.
    bool Agrees(int64_t from, int64_t* origin);
    // Bytes read so far, the cost of the search.
    int64_t Work() const { return work; }

private:
    bool ExtendedStamp(int64_t from, int64_t at, uint32_t stamp, int64_t* extended);
    bool ClockShift(int64_t from, int64_t* shift);

    CBlockFile& file;
    const CCaptureStore& store;
    const Range& range;
    const std::atomic<bool>& abort;
    int64_t work = 0;
};

// The extended time the decoder gives a stamp of the block at `at` when it reads the file from `from`
// on: a sample's stamp extended with the samples before it, a CC block's with its line's blocks.
bool CStartSearch::ExtendedStamp(int64_t from, int64_t at, uint32_t stamp, int64_t* extended) {
    const uint8_t* target = file.At(at);
    if (!target) return false;
    const bool samples = !IsCcBlock(target);
    const int channel = samples ? -1 : rec::CcChannel(target);
    int64_t t = 0;
    for (int64_t o = from; o <= at; o += kBlock) {
        const uint8_t* b = file.At(o);
        if (!b) return false;
        work += kBlock;
        if (samples && rec::ClassifyBlock(b) == rec::BlockKind::VbusSamples) {
            for (int k = 0; k < rec::SampleCount(b); ++k) {
                t = rec::ExtendTimeStamp(t, rec::ExtractSample(b, k).timeStamp);
                if (o == at && uint32_t(t) == stamp) break;
            }
        } else if (!samples && IsCcBlock(b) && rec::CcChannel(b) == channel) {
            t = rec::ExtendTimeStamp(t, rec::CcTimeStamp(b));
        }
    }
    *extended = t;
    return true;
}

// How far the record file's analyzer clock runs ahead of the copy's, which extends stamps from zero at
// `from`: whole wraps of the 32-bit clock, the same for the samples and every line with packets.
bool CStartSearch::ClockShift(int64_t from, int64_t* shift) {
    bool known = false;
    const auto agree = [&](int64_t s) {
        if (known && s != *shift) return false;
        *shift = s;
        known = true;
        return true;
    };
    int64_t t = 0;
    if (const CVbusInfo* s = range.sample) {
        const int64_t original = s->time + store.captureOrigin;
        if (!ExtendedStamp(from, s->fileOffset, uint32_t(original), &t) || !agree(original - t)) return false;
    }
    for (const Line& line : range.lines) {
        if (!line.count) continue;
        const CCCPacket& p = *line.head.front();
        if (!ExtendedStamp(from, p.startOffset, 0, &t) || !agree(NearestWrap(p.absStartTime - t))) return false;
    }
    return known && *shift % kWrap == 0;
}

bool CStartSearch::Agrees(int64_t from, int64_t* origin) {
    int64_t shift = 0;
    if (!ClockShift(from, &shift) || range.start - shift < 0) return false;
    CCaptureStore copy;
    copy.tolerantBits = store.tolerantBits;
    copy.captureOrigin = range.start - shift;
    // The copy's packets of each line in order must be the range's: a fragment, or a packet the range
    // does not hold, means the line was taken up differently. Packets after the range's end the copy
    // may close on its last blocks; no start changes them.
    size_t seen[2] = {0, 0};
    const auto sameSoFar = [&] {
        seen[0] = seen[1] = 0;
        for (size_t i = 0; i < copy.PacketCount(); ++i) {
            const CCCPacket& p = *copy.PacketAt(i);
            if (p.absStartTime + shift > range.finish) continue;
            const Line& line = range.lines[p.channel];
            const size_t k = seen[p.channel]++;
            if (k >= line.count) return false;
            if (k < line.head.size() &&
                (!SameDecode(p, *line.head[k]) || p.absStartTime + shift != line.head[k]->absStartTime))
                return false;
        }
        return true;
    };
    uint32_t checked[2] = {0, 0};
    bool wholeRange = true;
    for (int64_t o = from; o < range.end; o += kBlock) {
        const uint8_t* b = file.At(o);
        if (!b || (o % (kBlock * 4096) == 0 && abort.load(std::memory_order_relaxed))) return false;
        work += kBlock;
        if (!IsCcBlock(b)) continue;
        copy.ProcessCcBlock(b, o);
        bool enough = true;
        for (int c = 0; c < 2; ++c) {
            const Line& line = range.lines[c];
            const uint32_t kept = KeptOn(copy, c);
            // Most starts that disagree show it in a line's first packet already.
            if (kept > checked[c] && (checked[c] == 0 || !line.count) && !sameSoFar()) return false;
            checked[c] = kept;
            enough = enough && kept >= std::min(line.count, kComparedPackets);
        }
        if (enough) {
            wholeRange = o + kBlock >= range.end;
            break;
        }
    }
    if (!sameSoFar()) return false;
    for (int c = 0; c < 2; ++c)
        if (seen[c] < (wholeRange ? range.lines[c].count : std::min(range.lines[c].count, kComparedPackets)))
            return false;
    *origin = copy.captureOrigin;
    return true;
}

// The last block with sub-counter 0 of the line at or before offset `at`; -1 when there is none.
int64_t LineStartBefore(CBlockFile& file, int channel, int64_t at, int64_t floor) {
    for (int64_t o = at; o >= floor; o -= kBlock) {
        const uint8_t* b = file.At(o);
        if (!b) return -1;
        if (IsLineStart(b, channel)) return o;
    }
    return -1;
}

// The last byte of the block whose decoding adds packet p: the decoder closes a packet only when its
// line has been quiet long enough after the last edge, or the block numbering breaks.
int64_t CloseEnd(CBlockFile& file, const CCaptureStore& store, const CCCPacket& p, int64_t floor) {
    int64_t o = LineStartBefore(file, p.channel, p.startOffset, floor);
    if (o < 0) return p.endOffset;
    const int64_t lastEdges = p.endOffset - (kBlock - 1);
    CCaptureStore scratch;
    scratch.tolerantBits = store.tolerantBits;
    scratch.captureOrigin = 0; // keeps every packet
    int blocksAfter = 0;
    for (; const uint8_t* b = file.At(o); o += kBlock) {
        if (!IsCcBlock(b)) continue;
        const uint32_t kept = KeptOn(scratch, p.channel);
        scratch.ProcessCcBlock(b, o);
        if (o < lastEdges) continue;
        if (KeptOn(scratch, p.channel) != kept)
            for (size_t i = scratch.PacketCount(); i-- > 0;) {
                const CCCPacket& q = *scratch.PacketAt(i);
                if (q.channel == p.channel && q.endOffset == p.endOffset) return o + kBlock - 1;
            }
        // Two more blocks of the line take more than a wrap of quiet: closed by then at the latest.
        if (o > lastEdges && rec::CcChannel(b) == p.channel && ++blocksAfter == 2) return o + kBlock - 1;
    }
    return file.End() - 1;
}

// Finds the range's packets per line and its samples; false when it holds none of either.
bool CollectRange(const CCaptureStore& store, int64_t start, int64_t end, Range* r, size_t* first, size_t* last) {
    int64_t at = -1;
    size_t i0 = 0;
    if (store.FindPacketAt(start, &at)) {
        i0 = size_t(at);
        while (i0 > 0 && store.DisplayTime(*store.PacketAt(i0 - 1)) >= start) --i0;
        if (store.DisplayTime(*store.PacketAt(i0)) < start) ++i0;
    }
    size_t i1 = 0;
    const bool packets = store.FindPacketAt(end, &at) && size_t(at) >= i0;
    if (packets) i1 = size_t(at);
    for (size_t i = i0; packets && i <= i1; ++i) {
        const CCCPacket* p = store.PacketAt(i);
        Line& line = r->lines[p->channel];
        if (line.head.size() < kComparedPackets) line.head.push_back(p);
        ++line.count;
        line.last = p;
    }
    r->sample = store.FindSampleAt(start);
    if (!r->sample && store.SampleCount() && store.DisplayTime(*store.SampleAt(0)) <= end) r->sample = store.SampleAt(0);
    if (!packets && !r->sample) return false;
    // Packets before the first one of the range start earlier on the analyzer clock: the copy's origin
    // leaves them out. A range without packets starts no earlier than the samples do.
    const int64_t rangeStart =
        packets ? store.PacketAt(i0)->startTime : std::max<int64_t>(0, TimeSum(start, store.timeOrigin));
    r->start = TimeSum(rangeStart, store.captureOrigin);
    r->finish = TimeSum(TimeSum(end, store.timeOrigin), store.captureOrigin);
    if (packets) r->finish = std::max(r->finish, store.PacketAt(i1)->absStartTime);
    *first = packets ? i0 : 1;
    *last = packets ? i1 : 0;
    return true;
}

} // namespace

bool PlanRecordRange(const CCaptureStore& store, int64_t start, int64_t end, const std::atomic<bool>& abort,
                     RecordRangePlan* plan, std::string* reason) {
    CBlockFile file;
    if (!file.Open(store.recordPath)) {
        *reason = CannotReadText(store.recordPath);
        return false;
    }
    Range r;
    size_t i0 = 0, i1 = 0;
    if (store.captureOrigin < 0 || !CollectRange(store, start, end, &r, &i0, &i1)) {
        *reason = "The range holds no record blocks.";
        return false;
    }
    const auto unreadable = [&] {
        *reason = file.Failed() ? CannotReadText(store.recordPath) : store.recordPath + ": ends before the range does";
        return false;
    };
    const uint8_t* head = file.At(0);
    if (!head) return unreadable();
    r.streamStart = rec::ClassifyBlock(head) == rec::BlockKind::Marker ? kBlock : 0;

    // The copy must hold the sample in force at the start, each line's first packet from the block
    // where the decoder takes the line up, and each line's last packet until it closes.
    int64_t from = r.sample ? r.sample->fileOffset : INT64_MAX;
    const CVbusInfo* lastSample = store.FindSampleAt(end);
    r.end = lastSample ? lastSample->fileOffset + kBlock : 0;
    for (int c = 0; c < 2; ++c) {
        Line& line = r.lines[c];
        if (!line.count) continue;
        const int64_t first = line.head.front()->startOffset;
        const int64_t takenUp = LineStartBefore(file, c, first, r.streamStart);
        from = std::min(from, takenUp >= 0 ? takenUp : first);
        r.end = std::max(r.end, CloseEnd(file, store, *line.last, r.streamStart) + 1);
    }
    if (file.Failed() || r.end <= from) return unreadable();

    // Starts from the nearest on back: each block with sub-counter 0 moves where one line is taken up.
    // Past a break in the block numbering every start agrees, as the recording took the lines up
    // afresh there too; so it does at the recording's own start.
    CStartSearch search(file, store, r, abort);
    int64_t origin = r.start, chosen = r.streamStart;
    for (int64_t o = from; o > r.streamStart && search.Work() < kSearchBytes; o -= kBlock) {
        if (abort.load(std::memory_order_relaxed)) return false;
        const uint8_t* b = file.At(o);
        if (!b) return unreadable();
        if ((o == from || (IsCcBlock(b) && rec::CcSubCounter(b) == 0)) && search.Agrees(o, &origin)) {
            chosen = o;
            break;
        }
    }
    if (abort.load(std::memory_order_relaxed)) return false;
    if (file.Failed()) return unreadable();

    plan->first = chosen;
    plan->last = r.end - 1;
    plan->captureOrigin = origin;
    const int64_t rangeStart = TimeDifference(r.start, store.captureOrigin);
    plan->timeOrigin = TimeDifference(store.timeOrigin, rangeStart);
    plan->marks.clear();
    for (size_t i = i0; i <= i1; ++i) {
        const CCCPacket* p = store.PacketAt(i);
        const int64_t t = p->startTime - rangeStart;
        if (p == store.markerAPacket) plan->marks.push_back({18, t});
        if (p == store.markerBPacket) plan->marks.push_back({19, t});
        if (p->bookmarked) plan->marks.push_back({17, t});
    }
    return true;
}
