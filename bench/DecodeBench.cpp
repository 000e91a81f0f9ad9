// Decoder throughput and memory: a mostly idle stream (fillers and a VBUS sample every 10 ms), a stream
// dense with PD traffic, and the memory the store keeps per packet and per sample.
#include "CaptureStore.h"
#include "RecordEncoder.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <random>
#include <vector>

namespace {

constexpr size_t kStep = 1048576; // the decoder reads 1 MB at a time

void DecodeInSteps(CCaptureStore& store, const std::vector<uint8_t>& data) {
    for (size_t off = 0; off < data.size(); off += kStep) {
        store.EnforceLimits();
        store.DecodeChunk(data.data() + off, std::min(kStep, data.size() - off), int64_t(off));
    }
}

enc::VbusSample Sample(double t, uint16_t mV, int32_t mA) {
    enc::VbusSample s;
    s.time = t;
    s.vbusVoltage = mV;
    s.vbusCurrent = mA;
    s.cc1Voltage = 1700;
    return s;
}

// `seconds` of an idle link: no PD traffic, one VBUS sample every 10 ms.
const std::vector<uint8_t>& IdleStream(int seconds) {
    static std::vector<uint8_t> data;
    if (!data.empty()) return data;
    enc::CRecordEncoder e({}, enc::AppendTo(data));
    for (int i = 0; i <= seconds * 100; ++i) {
        e.AddVbusSample(Sample(i * 10000.0, 5000, 100));
        e.AdvanceTo(i * 10000.0);
    }
    e.Finish(seconds * 1e6);
    return data;
}

// Typical SPR traffic back to back: a message and its GoodCRC, the messages going round a
// Source_Capabilities, a Request, an Accept and a PS_RDY. With highStretch (µs) every high level lasts
// that much longer than a low one, as some logic analyzers see the line: the rules then read none of it.
const std::vector<uint8_t>& DenseStream(int messages, int* packets, double highStretch = 0) {
    static std::vector<uint8_t> streams[2];
    static int counts[2] = {0, 0};
    std::vector<uint8_t>& data = streams[highStretch != 0];
    int& count = counts[highStretch != 0];
    *packets = count;
    if (!data.empty()) return data;
    enc::CRecordEncoder e({}, enc::AppendTo(data));
    std::mt19937 rng(1);
    auto send = [&](double at, const std::vector<uint8_t>& bytes) {
        std::vector<double> offsets =
            enc::FrameTransitions(kKindSop, bytes.data(), bytes.size(), {}, enc::BmcTiming{}, rng);
        // The line is low before a frame: the odd transitions fall.
        for (size_t k = 1; k < offsets.size(); k += 2) offsets[k] += highStretch / 2;
        return e.AddTransitions(0, at, offsets);
    };
    const std::vector<std::vector<uint8_t>> kinds = {
        {0xA1, 0x61, 0x2C, 0x91, 0x01, 0x08, 0x2C, 0xD1, 0x02, 0x00, 0x2C, 0xB1, 0x04, 0x00, 0x45, 0x41, 0x06, 0x00},
        {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x13},
        {0x63, 0x03},
        {0x66, 0x05},
    };
    const std::vector<uint8_t> goodCrc = {0x41, 0x00};
    double t = 1000;
    e.AddVbusSample(Sample(0, 5000, 0));
    auto endOf = [&](const enc::PlacedFrame& f) { return double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0; };
    for (int i = 0; i < messages; ++i) {
        const double end = endOf(send(t, kinds[size_t(i) % kinds.size()]));
        t = endOf(send(end + 150, goodCrc)) + 300;
        count += 2;
        if (i % 10 == 0) e.AddVbusSample(Sample(t, 20000, 3000));
        e.AdvanceTo(t);
    }
    e.Finish(t + 1000);
    *packets = count;
    return data;
}

void BM_DecodeIdle(benchmark::State& state) {
    const auto& data = IdleStream(3600);
    for (auto _ : state) {
        CCaptureStore store;
        DecodeInSteps(store, data);
        benchmark::DoNotOptimize(store.SampleCount());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["MB"] = double(data.size()) / 1e6;
}
BENCHMARK(BM_DecodeIdle)->Unit(benchmark::kMillisecond);

// Arguments: tolerant bit recovery (0, 1), and the high-level stretch in ns.
void BM_DecodeDense(benchmark::State& state) {
    int packets = 0;
    const auto& data = DenseStream(50000, &packets, double(state.range(1)) / 1000);
    for (auto _ : state) {
        CCaptureStore store;
        store.tolerantBits = state.range(0) != 0;
        DecodeInSteps(store, data);
        if (store.PacketCount() != size_t(packets) || (store.tolerantBits && store.tallies.badCrc != 0))
            state.SkipWithError("stream did not decode cleanly");
        benchmark::DoNotOptimize(store.PacketCount());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * packets);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["packets"] = packets;
}
BENCHMARK(BM_DecodeDense)
    ->ArgNames({"tolerant", "stretch_ns"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1000})
    ->Args({1, 1000})
    ->Unit(benchmark::kMillisecond);

// The heap in use and the packet pool's blocks.
size_t HeapInUse() {
    malloc_trim(0);
    return mallinfo2().uordblks + packetpool::BytesHeld();
}

// Heap the store keeps after decoding, divided by what it holds.
void BM_MemoryPerPacket(benchmark::State& state) {
    int packets = 0;
    const auto& data = DenseStream(50000, &packets);
    for (auto _ : state) {
        const size_t before = HeapInUse();
        auto store = std::make_unique<CCaptureStore>();
        DecodeInSteps(*store, data);
        const size_t after = HeapInUse();
        state.counters["bytes_per_packet"] =
            double(after - before - store->SampleCount() * sizeof(CVbusInfo)) / double(store->PacketCount());
    }
}
BENCHMARK(BM_MemoryPerPacket)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MemoryPerSample(benchmark::State& state) {
    const auto& data = IdleStream(3600);
    for (auto _ : state) {
        const size_t before = HeapInUse();
        auto store = std::make_unique<CCaptureStore>();
        DecodeInSteps(*store, data);
        const size_t after = HeapInUse();
        state.counters["samples"] = double(store->SampleCount());
        state.counters["bytes_per_sample"] = double(after - before) / double(store->SampleCount());
    }
}
BENCHMARK(BM_MemoryPerSample)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
