// Import of a 10-second logic capture at 6 MHz (60 million one-byte samples) with the CC lines of a
// busy PD link: a contract negotiation (Source_Capabilities, Request, Accept, PS_RDY, each answered by
// GoodCRC) every 10 ms on CC1, a glitch shorter than a tick after each, another channel toggling.
// The capture is written once as a session file (deflated zip, as the logic-analyzer suite saves it)
// and as raw binary; each benchmark is one whole import to a record file, library start-up included.
// Reports samples per second ("items_per_second").
//
//   import_bench [--benchmark_filter=...]
#include "LogicImport.h"
#include "RecordEncoder.h"

#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kRate = 6000000;
constexpr uint64_t kSamples = 10 * kRate;

std::vector<uint8_t> DrawCapture() {
    std::vector<uint8_t> s(kSamples, 0);
    const std::vector<std::vector<uint8_t>> exchange = {
        {0xA1, 0x51, 0x2C, 0x91, 0x01, 0x26, 0x2C, 0xD1, 0x02, 0x00}, // Source_Capabilities, 2 PDOs
        {0x41, 0x02},                                                 // GoodCRC
        {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x11},                         // Request
        {0x41, 0x03},
        {0xA3, 0x05}, // Accept
        {0x41, 0x04},
        {0xA6, 0x07}, // PS_RDY
        {0x41, 0x06}};
    std::mt19937 rng(5);
    std::vector<uint64_t> changes;
    for (double t = 1000; t < 9.99e6; t += 10000) {
        double at = t;
        for (const auto& m : exchange) {
            const auto tr = enc::FrameTransitions(1, m.data(), m.size(), {}, {}, rng);
            for (double x : tr) changes.push_back(uint64_t((at + x) * double(kRate) / 1e6));
            at += tr.back() + 150;
        }
        // A glitch shorter than a tick between exchanges.
        changes.push_back(uint64_t((at + 500) * double(kRate) / 1e6));
        changes.push_back(changes.back() + 1);
    }
    int level = 0;
    uint64_t from = 0;
    for (uint64_t n : changes) {
        if (n <= from) continue;
        std::memset(s.data() + from, level, n - from);
        from = n;
        level ^= 1;
    }
    std::memset(s.data() + from, level, kSamples - from);
    // Bit 2: a slow clock on another channel of the analyzer.
    for (uint64_t n = 0; n < kSamples; ++n)
        if ((n / 3000) & 1) s[n] |= 4;
    return s;
}

struct Files {
    fs::path dir, session, raw;
    Files() {
        dir = fs::temp_directory_path() / ("ambrio-import-bench-" + std::to_string(getpid()));
        fs::create_directories(dir);
        session = dir / "capture.sr";
        raw = dir / "capture.bin";
        const std::vector<uint8_t> s = DrawCapture();
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
        int err = 0;
        zip_t* z = zip_open(session.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        static const char version[] = "2";
        static const char metadata[] = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
                                       "total probes=3\nsamplerate=6 MHz\nprobe1=CC1\nprobe2=CC2\nprobe3=CLK\n"
                                       "unitsize=1\n";
        zip_file_add(z, "version", zip_source_buffer(z, version, 1, 0), 0);
        zip_file_add(z, "metadata", zip_source_buffer(z, metadata, sizeof metadata - 1, 0), 0);
        const size_t chunk = 4 << 20;
        for (size_t at = 0, k = 1; at < s.size(); at += chunk, ++k) {
            const std::string name = "logic-1-" + std::to_string(k);
            zip_file_add(z, name.c_str(), zip_source_buffer(z, s.data() + at, std::min(chunk, s.size() - at), 0), 0);
        }
        if (zip_close(z) != 0) {
            std::fprintf(stderr, "import_bench: cannot write %s\n", session.c_str());
            std::exit(1);
        }
        std::fprintf(stderr, "import_bench: %llu samples at 6 MHz; session file %.1f MB, raw %.1f MB\n",
                     (unsigned long long)kSamples, double(fs::file_size(session)) / 1e6,
                     double(fs::file_size(raw)) / 1e6);
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Files& TheFiles() {
    static Files f;
    return f;
}

void Import(benchmark::State& state, const fs::path& input, const std::string& format, const std::string& cc1) {
    imp::ImportRequest r;
    r.input = input.string();
    r.output = (TheFiles().dir / "out.qxc").string();
    r.cc1 = cc1;
    r.cc2 = cc1 == "CC1" ? "CC2" : "1";
    r.format = format;
    r.overwrite = true;
    imp::ImportReport rep;
    for (auto _ : state) {
        rep = imp::ImportLogicCapture(r);
        if (!rep.ok) state.SkipWithError(rep.error.c_str());
    }
    state.SetItemsProcessed(int64_t(state.iterations() * kSamples));
    state.counters["transitions"] = double(rep.tally[0].written + rep.tally[1].written);
    state.counters["record_MB"] = double(rep.bytes) / 1e6;
}

void BM_ImportSessionFile(benchmark::State& state) {
    Import(state, TheFiles().session, "", "CC1");
}
BENCHMARK(BM_ImportSessionFile)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ImportRawBinary(benchmark::State& state) {
    Import(state, TheFiles().raw, "binary:samplerate=6M:numchannels=3", "0");
}
BENCHMARK(BM_ImportRawBinary)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
