// Which blocks of a record file a range export copies so that the copy, read on its own, gives exactly
// the packets of the range, decoded alike and at the same displayed times. The decoder takes up a CC
// line only on a block with sub-counter 0 and counts that line's edge ticks from the block's stamp,
// while the recording counted them from where it first took the line up: the copy has to begin on a
// block where the two counts agree, and go on until the range's last packet on each line has closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;

struct RecordRangePlan {
    int64_t first = 0, last = 0; // first and last byte of the record file copied, whole blocks
    // The copy's capture origin (its header block's entry): the range start on the analyzer clock as
    // the copy extends it. Packets that start before it, the range's predecessors, are not kept.
    int64_t captureOrigin = 0;
    // The copy's time origin (its saved marks): display times come out as in the record file.
    int64_t timeOrigin = 0;
    // Marks of packets in the range, as saved marks (type 17 bookmark, 18 marker A, 19 marker B) with
    // the packets' times in the copy.
    struct Mark {
        uint8_t type;
        int64_t time;
        bool operator==(const Mark&) const = default;
    };
    std::vector<Mark> marks;
};

// Plans the copy of the display-time range start..end of the store's record file. False, with *reason
// in one line, when the range holds neither packet nor sample, the record file cannot be read, or
// abort is set.
bool PlanRecordRange(const CCaptureStore& store, int64_t start, int64_t end, const std::atomic<bool>& abort,
                     RecordRangePlan* plan, std::string* reason);
