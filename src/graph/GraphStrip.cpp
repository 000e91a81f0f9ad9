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

std::vector<StripLabel> PlaceStripLabels(const std::vector<StripBox>& boxes,
                                         const std::vector<int32_t>& widths, const CCaptureStore& store,
                                         int32_t plotLeft, int32_t plotRight) {
    auto rank = [&](size_t i) {
        const CCCPacket* p = boxes[i].packet;
        return p == store.markerAPacket ? 0 : p == store.markerBPacket ? 1 : 2;
    };
    std::vector<size_t> marked;
    for (size_t i = 0; i < boxes.size(); ++i)
        if (boxes[i].marked) marked.push_back(i);
    std::stable_sort(marked.begin(), marked.end(), [&](size_t a, size_t b) { return rank(a) < rank(b); });

    // The marked labels, as many as the row holds by rank: left to right, each pushed past the one
    // before it, then drawn back from the plot's right edge.
    std::vector<StripLabel> labels;
    for (size_t count = marked.size();; --count) {
        std::vector<size_t> chosen(marked.begin(), marked.begin() + std::ptrdiff_t(count));
        std::sort(chosen.begin(), chosen.end());
        labels.clear();
        int32_t nextFree = plotLeft;
        for (size_t i : chosen) {
            const int32_t left = std::max({boxes[i].x, plotLeft, nextFree});
            labels.push_back({i, left, widths[i]});
            nextFree = left + widths[i] + kStripLabelGap;
        }
        int32_t bound = plotRight;
        for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
            it->left = std::min(it->left, bound - it->width);
            bound = it->left - kStripLabelGap;
        }
        if (count == 0 || labels.front().left >= plotLeft) break;
    }
    // What the marked labels take of the row: themselves, and the column of a leader line.
    struct Span {
        int32_t left, right;
    };
    std::vector<Span> taken;
    for (const StripLabel& l : labels) {
        taken.push_back({l.left, l.left + l.width});
        const int32_t boxX = std::clamp(boxes[l.box].x, plotLeft, plotRight - 1);
        if (boxX < l.left || boxX >= l.left + l.width) taken.push_back({boxX, boxX + 1});
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (!boxes[i].label || boxes[i].marked) continue;
        const int32_t left = std::max(boxes[i].x, plotLeft);
        const Span span{left, left + widths[i]};
        if (left >= plotRight) continue;
        const bool crowded = std::any_of(taken.begin(), taken.end(), [&](const Span& t) {
            return span.left < t.right + kStripLabelGap && t.left < span.right + kStripLabelGap;
        });
        if (crowded) continue;
        labels.push_back({i, left, widths[i]});
        taken.push_back(span);
    }
    return labels;
}
