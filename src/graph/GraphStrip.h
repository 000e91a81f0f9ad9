// The PD strip's boxes: one per packet of more than one interval, in store order, placed by its start
// and length, coloured by the first rule that applies (marker A, marker B, selected, bookmarked,
// invalid, reset, port). CPacketStripIndex keeps what the strip needs of each packet in a compact array,
// so that a strip of a hundred thousand packets is laid out without visiting every packet; boxes that
// the next box covers exactly are left out, which paints the same picture.
#pragma once

#include "GraphModel.h"

#include <cstdint>
#include <vector>

class CCaptureStore;
class CCCPacket;

enum class StripColour : uint8_t { MarkerA, MarkerB, Selected, Bookmark, Invalid, Reset, Port0, Port1, Port2, Port3 };

class CPacketStripIndex {
public:
    struct Entry {
        const CCCPacket* packet = nullptr;
        int64_t startTime = 0; // from the capture origin
        int32_t length = 0;    // µs
        bool drawn = false;    // more than one interval
        StripColour fixed = StripColour::Port0; // invalid, reset or port: what no user command changes
    };

    // Brings the index up to the store's packets; from the first packet that is not the one indexed at
    // its position (an insertion, packets removed from the front, a reset), it is indexed anew.
    void Sync(const CCaptureStore& store);
    bool InSync(const CCaptureStore& store) const;
    const std::vector<Entry>& Entries() const { return entries; }

private:
    const CCaptureStore* store = nullptr;
    std::vector<Entry> entries;
};

struct StripBox {
    int32_t x = 0;     // window column of the box's left edge
    int32_t width = 1; // at least one pixel
    StripColour colour = StripColour::Port0;
    const CCCPacket* packet = nullptr;
    bool label = false;  // wider than 50 px: "#%d %s" above the box
    bool marked = false; // marker A, marker B or the selection: a label of its own, placed first
};

// The boxes to paint, in painting order. With an index in step with the store the boxes come from it,
// and a box the next one covers exactly (without a label or mark of its own) is left out; without one
// every packet is visited as it stands.
std::vector<StripBox> StripBoxes(const CCaptureStore& store, const CPacketStripIndex* index,
                                 const CGraphModel& model, const CCCPacket* selected);

// One label in the row above the strip: the box it names, and where it stands.
struct StripLabel {
    size_t box = 0;
    int32_t left = 0; // window column
    int32_t width = 0;
    bool operator==(const StripLabel&) const = default;
};

// The labels of the row above the strip, none overlapping another (kStripLabelGap apart at least) or a
// leader line. The marked boxes' labels come first, in the order A, B, selection when not all fit: each
// stands over its box, or is pushed right of the one before it (and left from the plot's right edge),
// a leader line rising from its box through the row. Then the names of boxes wider than 50 px, left to
// right, where they have room; a box's name starts at its left edge, or at the plot's left edge for a
// box that begins before it. `widths` holds each box's label width.
inline constexpr int32_t kStripLabelGap = 6;
std::vector<StripLabel> PlaceStripLabels(const std::vector<StripBox>& boxes,
                                         const std::vector<int32_t>& widths, const CCaptureStore& store,
                                         int32_t plotLeft, int32_t plotRight);
