// Column texts of typical packets: all 38 columns of 100,000 decoded packets, single thread.
#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"
#include "RecordEncoder.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

// SPR traffic with a dock's discovery: capabilities, request, accept, PS_RDY, VDMs, each with its GoodCRC.
std::unique_ptr<CCaptureStore> TypicalPackets(int messages) {
    std::vector<uint8_t> data;
    enc::CRecordEncoder e({}, enc::AppendTo(data));
    const std::vector<std::vector<uint8_t>> kinds = {
        {0xA1, 0x41, 0x2C, 0x91, 0x01, 0x26, 0x2C, 0xD1, 0x02, 0x00, 0x2C, 0xB1, 0x04, 0x00, 0x2C, 0x41, 0x06, 0x00},
        {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x43},
        {0xA3, 0x03},
        {0xA6, 0x05},
        {0xAF, 0x11, 0x01, 0xA0, 0x00, 0xFF},                   // Discover Identity request
        {0x8F, 0x52, 0x41, 0xA0, 0x00, 0xFF, 0xD1, 0x05, 0x00, 0x6C, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00},        // its answer
    };
    enc::VbusSample s;
    s.vbusVoltage = 20000;
    s.vbusCurrent = 2000;
    e.AddVbusSample(s);
    double t = 1000;
    auto endOf = [&](const enc::PlacedFrame& f) { return double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0; };
    for (int i = 0; i < messages; ++i) {
        const double end = endOf(e.AddMessage(0, t, kKindSop, kinds[size_t(i) % kinds.size()]));
        t = endOf(e.AddMessage(0, end + 150, kKindSop, {0x41, 0x00})) + 300;
        if (i % 20 == 0) {
            s.time = t;
            e.AddVbusSample(s);
        }
        e.AdvanceTo(t);
    }
    e.Finish(t + 1000);
    auto store = std::make_unique<CCaptureStore>();
    for (size_t off = 0; off < data.size(); off += 1048576)
        store->DecodeChunk(data.data() + off, std::min<size_t>(1048576, data.size() - off), int64_t(off));
    return store;
}

const CCaptureStore& Store() {
    static const auto store = TypicalPackets(50000);
    return *store;
}

void BM_AllColumnTexts(benchmark::State& state) {
    const CCaptureStore& store = Store();
    size_t chars = 0;
    for (auto _ : state)
        for (size_t i = 0; i < store.PacketCount(); ++i)
            for (int c = 0; c < kColumnCount; ++c) chars += store.PacketAt(i)->GetColumnText(c, false).size();
    benchmark::DoNotOptimize(chars);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(store.PacketCount()));
    state.counters["packets"] = double(store.PacketCount());
}
BENCHMARK(BM_AllColumnTexts)->Unit(benchmark::kMillisecond);

void BM_FieldRows(benchmark::State& state) {
    const CCaptureStore& store = Store();
    size_t rows = 0;
    for (auto _ : state)
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket& p = *store.PacketAt(i);
            rows += BuildFieldRows(p, false, 0, p.messageByteCount * 8).size();
        }
    benchmark::DoNotOptimize(rows);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(store.PacketCount()));
}
BENCHMARK(BM_FieldRows)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
