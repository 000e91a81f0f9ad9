// Small stores for the graph's tests: samples given in µs, mV and mA, turned into VBUS sample blocks and
// decoded by the store itself, so that times, values and extremes are what a record file would give;
// and the ranges of a few captures with every way of showing the areas, for fitted models.
#pragma once

#include "CaptureStore.h"
#include "GraphModel.h"
#include "RecordEncoder.h"
#include "support/Blocks.h"

#include <array>
#include <cstdint>
#include <random>
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

// A capture with what traces must survive: flat stretches, steps, single-sample spikes up and down, a
// current that changes direction, noise, and gaps without samples; 1 ms apart where there are samples.
inline std::vector<Reading> RoughCapture(size_t count, uint32_t seed = 3) {
    std::mt19937 random(seed);
    std::vector<Reading> r;
    int64_t t = 0;
    for (size_t i = 0; i < count; ++i) {
        Reading s;
        s.time = t;
        const size_t phase = (i / 5000) % 4;
        s.vbus = uint16_t(phase == 0 ? 5000 : phase == 1 ? 9000 : phase == 2 ? 20000 : 15000);
        s.vbus = uint16_t(s.vbus + int(random() % 40) - 20);
        s.vbusMa = phase == 3 ? -800 + int(random() % 50) : 1500 + int(random() % 200);
        if (i % 997 == 0) s.vbusMa = 4800; // spikes
        if (i % 1733 == 0) s.vbusMa = -4000;
        if (i % 2221 == 0) s.vbus = 28000;
        s.cc1 = int16_t(phase == 1 ? 400 : 1650);
        s.cc1Ma = int(random() % 30);
        s.cc2 = int16_t(random() % 100);
        s.cc2Ma = -int(random() % 30);
        r.push_back(s);
        t += 1000;
        if (i % 7919 == 7918) t += 3000000; // a gap of three seconds
    }
    return r;
}

// The ranges of three captures: the demo's (28 V, 4.2 A, 117 W), one without samples (the least ranges
// there are), and one whose current runs backwards (shown flipped).
struct CaptureRanges {
    const char* name;
    GraphRanges ranges;
    bool flip;
};
inline std::vector<CaptureRanges> SomeCaptures() {
    GraphRanges demo;
    demo.voltageMax = 28000;
    demo.currentMax = 4205;
    demo.wattageMax = 117060;
    GraphRanges backwards;
    backwards.voltageMax = 20000;
    backwards.currentMin = -3000;
    backwards.wattageMin = -60000;
    return {{"demo", demo, false}, {"no samples", GraphRanges{}, false}, {"backwards", backwards, true}};
}

// Every way of showing the voltage, current and wattage areas.
inline constexpr std::array<std::array<bool, 3>, 7> kAreaSets = {{{true, true, true},
                                                                  {false, true, true},
                                                                  {true, false, true},
                                                                  {true, true, false},
                                                                  {true, false, false},
                                                                  {false, true, false},
                                                                  {false, false, true}}};

// A plot `plotHeight` px high with the PD strip shown, the capture's ranges, the areas `on` and every
// area fitted.
inline CGraphModel FittedWithStrip(const CaptureRanges& capture, int32_t plotHeight,
                                   const std::array<bool, 3>& on) {
    CGraphModel m;
    m.SetClientSize(1200, CGraphModel::kTopMargin + plotHeight + 74);
    m.SetStripShown(true);
    m.SetRanges(capture.ranges);
    m.SetCurrentFlip(capture.flip);
    for (GraphArea a : {GraphArea::Voltage, GraphArea::Current, GraphArea::Wattage})
        m.SetAreaOn(a, on[size_t(a)]);
    m.FitAreas();
    return m;
}

} // namespace graphtest
