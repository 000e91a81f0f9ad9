// Scenario synthesis: a one-hour capture (default clock setting, 10 ms samples) written to a record file,
// the synthesis alone for every built-in scenario, and the heap the synthesizer holds while it streams.
#include "Scenario.h"
#include "Synthesizer.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr double kHour = 3600;

synth::Scenario Builtin(const std::string& name) {
    synth::Scenario s;
    synth::BuiltinScenario(name, &s);
    return s;
}

double MaxRssMegabytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

// The file qxtool writes for `synth demo --seconds 3600`.
void BM_HourOfDemoToFile(benchmark::State& state) {
    char path[] = "/tmp/ambrio-synth-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    close(fd);
    const synth::Scenario demo = Builtin("demo");
    synth::SynthOptions o;
    o.seconds = kHour;
    uint64_t bytes = 0;
    for (auto _ : state) {
        std::string error;
        if (!synth::WriteScenarioFile(path, demo, o, &error, &bytes)) state.SkipWithError(error.c_str());
    }
    std::remove(path);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes + 64));
    state.counters["file_MB"] = double(bytes + 64) / 1e6;
    state.counters["process_max_rss_MB"] = MaxRssMegabytes();
}
BENCHMARK(BM_HourOfDemoToFile)->Unit(benchmark::kMillisecond);

// Synthesis alone, blocks counted and dropped, for each built-in scenario played for an hour.
void BM_HourOfScenario(benchmark::State& state) {
    const std::string name = synth::BuiltinScenarioNames().at(size_t(state.range(0)));
    state.SetLabel(name);
    const synth::Scenario s = Builtin(name);
    synth::SynthOptions o;
    o.seconds = kHour;
    uint64_t bytes = 0, packets = 0;
    for (auto _ : state) {
        bytes = packets = 0;
        synth::CSynthesizer sy(
            s, o, [&](const uint8_t*) { bytes += 64; }, [&](const synth::ExpectedPacket&) { ++packets; });
        sy.Finish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["stream_MB"] = double(bytes) / 1e6;
    state.counters["frames"] = double(packets);
}
BENCHMARK(BM_HourOfScenario)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

// Heap in use while an hour streams out a minute at a time: it stays flat, the stream is never held.
void BM_HeapWhileStreaming(benchmark::State& state) {
    const synth::Scenario s = Builtin("pps");
    synth::SynthOptions o;
    o.seconds = kHour;
    size_t peak = 0, start = 0;
    for (auto _ : state) {
        malloc_trim(0);
        start = mallinfo2().uordblks;
        peak = start;
        uint64_t bytes = 0;
        synth::CSynthesizer sy(s, o, [&](const uint8_t*) { bytes += 64; });
        for (double t = 0; t < sy.EndTime(); t += 60e6) {
            sy.RunUntil(t);
            peak = std::max(peak, size_t(mallinfo2().uordblks));
        }
        sy.Finish();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["peak_heap_KB"] = double(peak - start) / 1024.0;
}
BENCHMARK(BM_HeapWhileStreaming)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
