// Export and stitch throughput on a one-hour capture with a VBUS sample every millisecond (the demo
// scenario, then its idle bus): the CSV writer with samples and packets, a record-file range of the
// middle 40 minutes, and stitching the capture cut into four numbered files. Each reports the bytes
// written per second ("bytes_per_second"); the files go to a scratch folder in the system's temporary
// folder, so the figures include the page cache, not the disk.
//
//   export_bench [--benchmark_filter=...]   (AMBRIO_BENCH_SECONDS overrides the 3600 s capture)
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "StitchWorker.h"
#include "Synthesizer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Capture {
    fs::path dir;
    CQXDoc doc;
    std::vector<std::string> series;
    Capture() {
        dir = fs::temp_directory_path() / ("ambrio-export-bench-" + std::to_string(getpid()));
        fs::create_directories(dir);
        synth::Scenario sc;
        synth::BuiltinScenario("demo", &sc);
        sc.analog.sampleIntervalMs = 1;
        synth::SynthOptions o;
        const char* env = std::getenv("AMBRIO_BENCH_SECONDS");
        o.seconds = env ? std::atof(env) : 3600;
        std::string error;
        const std::string path = (dir / "hour.qxc").string();
        if (!synth::WriteScenarioFile(path, sc, o, &error)) {
            std::fprintf(stderr, "export_bench: %s\n", error.c_str());
            std::exit(1);
        }
        doc.OpenDocument(path);
        std::fprintf(stderr, "export_bench: %.0f s capture, %.1f MB, %zu samples, %zu packets\n", o.seconds,
                     double(fs::file_size(path)) / 1e6, doc.store.SampleCount(), doc.store.PacketCount());
        // The same bytes as a numbered series of four files, cut on block boundaries.
        std::ifstream in(path, std::ios::binary);
        const uint64_t size = fs::file_size(path), quarter = size / 4 / 64 * 64;
        std::vector<char> buf;
        for (int i = 0; i < 4; ++i) {
            const uint64_t n = i < 3 ? quarter : size - 3 * quarter;
            buf.resize(n);
            in.read(buf.data(), std::streamsize(n));
            char name[32];
            std::snprintf(name, sizeof name, "part_%04d.qxc", i + 1);
            series.push_back((dir / name).string());
            std::ofstream(series.back(), std::ios::binary).write(buf.data(), std::streamsize(n));
        }
    }
    ~Capture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Capture& TheCapture() {
    static Capture c;
    return c;
}

void Report(benchmark::State& state, const std::string& path, int64_t bytes) {
    state.SetBytesProcessed(bytes);
    state.counters["MB_written"] = double(fs::file_size(path)) / 1e6;
}

void BM_ExportCsvBoth(benchmark::State& state) {
    Capture& c = TheCapture();
    ExportOptions o;
    o.fileName = (c.dir / "hour.csv").string();
    o.exportItems = kItemsBoth;
    int64_t start = 0, end = 0;
    if (!ResolveRange(c.doc.store, {}, o, &start, &end)) state.SkipWithError("range");
    int64_t bytes = 0;
    for (auto _ : state) {
        ToolFlags flags;
        if (!WriteCsv(c.doc.store, o, start, end, flags)) state.SkipWithError("csv");
        bytes += int64_t(fs::file_size(o.fileName));
    }
    Report(state, o.fileName, bytes);
}
BENCHMARK(BM_ExportCsvBoth)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ExportQxcRange(benchmark::State& state) {
    Capture& c = TheCapture();
    const std::string out = (c.dir / "range.qxc").string();
    int64_t end = 0;
    CaptureEnd(c.doc.store, &end);
    const int64_t from = end / 6, to = end * 5 / 6;
    int64_t bytes = 0;
    for (auto _ : state) {
        ToolFlags flags;
        if (!WriteRecordRange(c.doc.store, out, from, to, flags)) state.SkipWithError("qxc");
        bytes += int64_t(fs::file_size(out));
    }
    Report(state, out, bytes);
}
BENCHMARK(BM_ExportQxcRange)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_Stitch(benchmark::State& state) {
    Capture& c = TheCapture();
    const std::string out = (c.dir / "Stitched_part_0001-0004.qxc").string();
    int64_t bytes = 0;
    for (auto _ : state) {
        ToolFlags flags;
        if (!StitchFiles(c.series, out, flags)) state.SkipWithError("stitch");
        bytes += int64_t(fs::file_size(out));
    }
    Report(state, out, bytes);
}
BENCHMARK(BM_Stitch)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
