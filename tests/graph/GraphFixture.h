// Small stores for the graph's tests: samples given in µs, mV and mA, turned into VBUS sample blocks and
// decoded by the store itself, so that times, values and extremes are what a record file would give.
#pragma once

#include "CaptureStore.h"
#include "RecordEncoder.h"
#include "support/Blocks.h"

#include <cstdint>
#include <vector>

namespace graphtest {

struct Reading {
    int64_t time = 0; // µs from the first sample; must grow by less than 2^32 from one to the next
    uint16_t vbus = 5000;
    int32_t vbusMa = 0;
    int16_t cc1 = 0;
    int32_t cc1Ma = 0;
    int16_t cc2 = 0;
    int32_t cc2Ma = 0;
};

inline void Add(CCaptureStore& store, const Reading& r) {
    const testblocks::Block b = testblocks::VbusBlock(
        {{uint32_t(uint64_t(r.time) & 0xFFFFFFFFu), r.vbus, enc::CurrentToRaw(r.vbusMa), r.cc1,
          enc::CurrentToRaw(r.cc1Ma), r.cc2, enc::CurrentToRaw(r.cc2Ma)}});
    store.AddSamples(b.data(), 0);
}

inline void AddAll(CCaptureStore& store, const std::vector<Reading>& readings) {
    for (const Reading& r : readings) Add(store, r);
}

} // namespace graphtest
