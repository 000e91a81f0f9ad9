// The analysis (summary and findings in one walk) of a decoded capture: the 60-second dense capture
// (bench/dense_capture writes it) and a one-hour capture sampled every millisecond (the demo scenario,
// then its idle bus). Decoding is done once, outside the timing; each iteration analyses the whole store,
// and a second benchmark feeds it in pieces as a live capture grows. Reports packets and samples per
// second besides the time per run.
//
//   analysis_bench [--benchmark_filter=...]
//   AMBRIO_DENSE=/tmp/dense60.qxc (the default) names the dense capture; AMBRIO_BENCH_SECONDS overrides
//   the 3600 s of the synthesized one.
#include "Analyzer.h"
#include "CaptureStore.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "Synthesizer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<CQXDoc> Open(const std::string& path) {
    auto doc = std::make_unique<CQXDoc>();
    if (!doc->OpenDocument(path)) {
        std::fprintf(stderr, "analysis_bench: %s cannot be opened\n", path.c_str());
        std::exit(1);
    }
    std::fprintf(stderr, "analysis_bench: %s: %zu packets, %zu samples\n", path.c_str(), doc->store.PacketCount(),
                 doc->store.SampleCount());
    return doc;
}

CQXDoc& Dense() {
    static std::unique_ptr<CQXDoc> doc = [] {
        const char* env = std::getenv("AMBRIO_DENSE");
        return Open(env ? env : "/tmp/dense60.qxc");
    }();
    return *doc;
}

CQXDoc& Hour() {
    static std::unique_ptr<CQXDoc> doc = [] {
        const fs::path path = fs::temp_directory_path() / ("ambrio-analysis-bench-" + std::to_string(getpid()) + ".qxc");
        synth::Scenario sc;
        synth::BuiltinScenario("demo", &sc);
        sc.analog.sampleIntervalMs = 1;
        synth::SynthOptions o;
        const char* env = std::getenv("AMBRIO_BENCH_SECONDS");
        o.seconds = env ? std::atof(env) : 3600;
        std::string error;
        if (!synth::WriteScenarioFile(path.string(), sc, o, &error)) {
            std::fprintf(stderr, "analysis_bench: %s\n", error.c_str());
            std::exit(1);
        }
        auto d = Open(path.string());
        fs::remove(path);
        return d;
    }();
    return *doc;
}

void Count(benchmark::State& state, const CCaptureStore& store) {
    state.counters["packets_per_second"] = benchmark::Counter(double(store.PacketCount()) * double(state.iterations()),
                                                              benchmark::Counter::kIsRate);
    state.counters["samples_per_second"] = benchmark::Counter(double(store.SampleCount()) * double(state.iterations()),
                                                              benchmark::Counter::kIsRate);
}

void BM_AnalyzeDense60s(benchmark::State& state) {
    const CCaptureStore& store = Dense().store;
    for (auto _ : state) benchmark::DoNotOptimize(analysis::Analyze(store).findings.size());
    Count(state, store);
}
BENCHMARK(BM_AnalyzeDense60s)->Unit(benchmark::kMillisecond);

void BM_AnalyzeHour1ms(benchmark::State& state) {
    const CCaptureStore& store = Hour().store;
    for (auto _ : state) benchmark::DoNotOptimize(analysis::Analyze(store).findings.size());
    Count(state, store);
}
BENCHMARK(BM_AnalyzeHour1ms)->Unit(benchmark::kMillisecond);

// The same store read 1000 times as it would grow: each Feed finds where it stopped and reads on.
void BM_FeedDense60sInSteps(benchmark::State& state) {
    const CCaptureStore& store = Dense().store;
    for (auto _ : state) {
        analysis::CAnalyzer a;
        for (int i = 0; i < 1000; ++i) a.Feed(store);
        a.Finish(store);
        benchmark::DoNotOptimize(a.Current().findings.size());
    }
    Count(state, store);
}
BENCHMARK(BM_FeedDense60sInSteps)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
