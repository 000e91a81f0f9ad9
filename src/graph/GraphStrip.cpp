#include "GraphStrip.h"

#include "CaptureStore.h"
#include "FindCriteria.h"
#include "TimeMath.h"

#include <algorithm>

namespace {

// Boxes are cut to this far beyond the plot.
constexpr float kFar = 4096.0f;

StripColour FixedColour(const CCCPacket& p) {
    if (IsInvalidPacket(p)) return StripColour::Invalid;
    if (p.IsResetMessage()) return StripColour::Reset;
    switch (p.port) {
    case 1:
        return StripColour::Port1;
    case 2:
        return StripColour::Port2;
    case 3:
        return StripColour::Port3;
    default:
        return StripColour::Port0;
    }
}

StripColour ColourOf(const CCaptureStore& store, const CCCPacket* p, const CCCPacket* selected, StripColour fixed) {
    if (p == store.markerAPacket) return StripColour::MarkerA;
    if (p == store.markerBPacket) return StripColour::MarkerB;
    if (p == selected) return StripColour::Selected;
    if (p->bookmarked) return StripColour::Bookmark;
    return fixed;
}

int32_t LengthOf(const CCCPacket& p) {
    return int32_t(int64_t(p.tickSum) * p.divisor / 48);
}

} // namespace

void CPacketStripIndex::Sync(const CCaptureStore& s) {
    if (store != &s) {
        store = &s;
        entries.clear();
    }
    const size_t n = s.PacketCount();
    size_t keep = std::min(entries.size(), n);
    for (size_t i = 0; i < keep; ++i)
        if (entries[i].packet != s.PacketAt(i)) {
            keep = i;
            break;
        }
    entries.resize(keep);
    entries.reserve(n);
    for (size_t i = keep; i < n; ++i) {
        const CCCPacket& p = *s.PacketAt(i);
        entries.push_back({&p, p.startTime, LengthOf(p), p.intervalCount > 1, FixedColour(p)});
    }
}

bool CPacketStripIndex::InSync(const CCaptureStore& s) const {
    if (store != &s || entries.size() != s.PacketCount()) return false;
    return entries.empty() || (entries.front().packet == s.PacketAt(0) && entries.back().packet == s.PacketAt(entries.size() - 1));
}

std::vector<StripBox> StripBoxes(const CCaptureStore& store, const CPacketStripIndex* index, const CGraphModel& m,
                                 const CCCPacket* selected) {
    std::vector<StripBox> boxes;
    const int64_t viewStart = m.ViewStart(), viewEnd = m.ViewEnd();
    const float scale = m.TimeScale();
    const int32_t left = m.Plot().left;
    const float width = float(m.Plot().width);
    // Places a packet's box; false when the packet lies before the window.
    auto place = [&](const CCCPacket* packet, int64_t start, int32_t length, StripBox* b) {
        if (TimeSum(start, length) < viewStart) return false;
        b->packet = packet;
        b->x = left + int32_t(std::clamp(float(TimeDifference(start, viewStart)) * scale, -kFar, width + kFar));
        b->width = std::max(1, int32_t(std::min(float(length) * scale, width + 2 * kFar)));
        b->label = b->width > 50;
        b->marked = packet == store.markerAPacket || packet == store.markerBPacket || packet == selected;
        return true;
    };

    if (!index || !index->InSync(store)) {
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket* p = store.PacketAt(i);
            if (p->intervalCount <= 1) continue;
            const int64_t start = store.DisplayTime(*p);
            if (start > viewEnd) break;
            StripBox b;
            if (!place(p, start, LengthOf(*p), &b)) continue;
            b.colour = ColourOf(store, p, selected, FixedColour(*p));
            boxes.push_back(b);
        }
        return boxes;
    }

    // A box waits for the next one: covered by it exactly, and with nothing of its own above the strip,
    // it is not painted. Only the boxes painted have their colours looked up.
    bool pending = false;
    StripBox waiting;
    StripColour waitingFixed = StripColour::Port0;
    auto flush = [&] {
        waiting.colour = ColourOf(store, waiting.packet, selected, waitingFixed);
        boxes.push_back(waiting);
    };
    for (const CPacketStripIndex::Entry& e : index->Entries()) {
        if (!e.drawn) continue;
        const int64_t start = store.DisplayTime(e.startTime);
        if (start > viewEnd) break;
        StripBox b;
        if (!place(e.packet, start, e.length, &b)) continue;
        if (pending && !(waiting.x == b.x && waiting.width == b.width && !waiting.label && !waiting.marked)) flush();
        waiting = b;
        waitingFixed = e.fixed;
        pending = true;
    }
    if (pending) flush();
    return boxes;
}
