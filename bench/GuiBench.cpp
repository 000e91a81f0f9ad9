// The window under load: opening a large record file until the packet list is complete (time and
// resident memory), repainting a screenful of list rows, and the longest timer tick of a live capture
// from the emulated analyzer at its fastest clock setting. Runs on the offscreen platform.
#include "EmulatedAnalyzer.h"
#include "AnalysisPane.h"
#include "MainFrame.h"
#include "QXLogView.h"
#include "RecordEncoder.h"
#include "RecordStream.h"
#include "Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QTreeWidgetItemIterator>

#include <benchmark/benchmark.h>

#include <chrono>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kPackets = 100000;
constexpr int kSamples = 1000000;

// 100,000 packets (a message and its GoodCRC, 50,000 times) and 1,000,000 VBUS samples, one every
// millisecond, so 1000 s of record stream.
std::string LargeFile() {
    static std::string path;
    if (!path.empty()) return path;
    path = (std::filesystem::temp_directory_path() / "ambrio-gui-bench.qxc").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    std::vector<uint8_t> header(64, 0);
    enc::WriteOpenHeaderBlock(header.data());
    std::fwrite(header.data(), 1, header.size(), f);
    std::vector<uint8_t> buffer;
    enc::EncoderConfig config;
    config.samplesPerVbusBlock = 3;
    enc::CRecordEncoder e(config, [&](const uint8_t* block) {
        buffer.insert(buffer.end(), block, block + 64);
        if (buffer.size() >= (1u << 20)) {
            std::fwrite(buffer.data(), 1, buffer.size(), f);
            buffer.clear();
        }
    });
    const std::vector<std::vector<uint8_t>> messages = {
        {0xA1, 0x61, 0x2C, 0x91, 0x01, 0x08, 0x2C, 0xD1, 0x02, 0x00, 0x2C, 0xB1, 0x04, 0x00, 0x45, 0x41, 0x06, 0x00},
        {0x82, 0x10, 0x2C, 0xB1, 0x04, 0x13},
        {0x63, 0x03},
        {0x66, 0x05},
    };
    const std::vector<uint8_t> goodCrc = {0x41, 0x00};
    // Samples every millisecond; every 20th is followed by a message and its GoodCRC, and the next
    // sample waits until they are over, since the encoder takes events in time order.
    int pairs = 0;
    double t = 0;
    for (int i = 0; i < kSamples; ++i) {
        enc::VbusSample s;
        s.time = t;
        s.vbusVoltage = uint16_t(5000 + (i / 1000) % 15000);
        s.vbusCurrent = 500 + (i % 2000);
        s.cc1Voltage = 1700;
        e.AddVbusSample(s);
        double next = t + 1000;
        if (i % 20 == 5 && pairs < kPackets / 2) {
            const enc::PlacedFrame m = e.AddMessage(0, t + 50, kKindSop, messages[size_t(pairs) % messages.size()]);
            const double end = double(m.lastTick - e.OriginTick()) * e.Divisor() / 48.0;
            const enc::PlacedFrame g = e.AddMessage(0, end + 150, kKindSop, goodCrc);
            const double last = double(g.lastTick - e.OriginTick()) * e.Divisor() / 48.0;
            while (next < last + 50) next += 1000;
            ++pairs;
        }
        e.AdvanceTo(next - 1);
        t = next;
    }
    e.Finish(t);
    std::fwrite(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    return path;
}

double MaxRssMB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

struct CWindow {
    explicit CWindow(IAnalyzerLink& link, bool allColumns = false) {
        // A full-screen window with the packet list given most of it.
        settings.window.width = 1920;
        settings.window.height = 1080;
        settings.window.listPaneHeight = 700;
        if (allColumns)
            for (ColumnRecord& c : settings.columns) c.visible = true;
        FrameEnvironment env;
        env.settings = &settings;
        env.link = &link;
        env.startTimer = false;
        frame = std::make_unique<CMainFrame>(env);
        frame->dialogs.message = [](const std::string&) {};
        frame->show();
    }
    CSettings settings;
    std::unique_ptr<CMainFrame> frame;
};

std::unique_ptr<CEmulatedAnalyzer> NoAnalyzer() {
    synth::Scenario sc;
    synth::BuiltinScenario("demo", &sc);
    auto a = std::make_unique<CEmulatedAnalyzer>(sc);
    a->Unplug();
    return a;
}

void BM_OpenLargeFile(benchmark::State& state) {
    const std::string path = LargeFile();
    auto link = NoAnalyzer();
    CWindow w(*link, state.range(0) != 0);
    for (auto _ : state) {
        if (!w.frame->OpenFile(path)) state.SkipWithError("open failed");
    }
    CQXLogView* list = w.frame->LogView();
    state.counters["packets"] = double(w.frame->Doc().store.PacketCount());
    state.counters["samples"] = double(w.frame->Doc().store.SampleCount());
    state.counters["rows"] = double(list->RowCount());
    state.counters["max_rss_MB"] = MaxRssMB();
    if (list->RowCount() != int32_t(w.frame->Doc().store.PacketCount())) state.SkipWithError("list incomplete");
}
// Resident memory is the process's peak: run one variant per process (--benchmark_filter).
BENCHMARK(BM_OpenLargeFile)->ArgName("all_columns")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The Analysis pane shown while the large file opens: the whole analysis and the lists built once (its
// 12,500 contracts, requests and offers are tree rows), then an update with nothing new.
void BM_AnalysisPaneLargeFile(benchmark::State& state) {
    const std::string path = LargeFile();
    auto link = NoAnalyzer();
    CWindow w(*link);
    w.frame->AnalysisPane()->setVisible(true);
    for (auto _ : state) {
        if (!w.frame->OpenFile(path)) state.SkipWithError("open failed");
    }
    const auto opened = w.frame->AnalysisPane()->WorstUpdate();
    const auto start = std::chrono::steady_clock::now();
    w.frame->UpdateAllViews(nullptr, 0);
    const auto idle = std::chrono::steady_clock::now() - start;
    int items = 0;
    for (QTreeWidgetItemIterator it(w.frame->AnalysisPane()->Summary()); *it; ++it) ++items;
    state.counters["open_analysis_ms"] = double(opened.count()) / 1000.0;
    state.counters["update_all_views_unchanged_ms"] = std::chrono::duration<double, std::milli>(idle).count();
    state.counters["summary_rows"] = double(items);
    state.counters["max_rss_MB"] = MaxRssMB();
}
BENCHMARK(BM_AnalysisPaneLargeFile)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RepaintScreenful(benchmark::State& state) {
    auto link = NoAnalyzer();
    CWindow w(*link, state.range(0) != 0);
    w.frame->OpenFile(LargeFile());
    CQXLogView* list = w.frame->LogView();
    QCoreApplication::processEvents();
    QScrollBar* bar = list->verticalScrollBar();
    // Painting into an image of the list's size: the whole paint path, independent of the platform's
    // window exposure.
    QImage image(list->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    std::mt19937 random(7);
    for (auto _ : state) {
        bar->setValue(int(random() % uint32_t(bar->maximum() + 1)));
        list->viewport()->render(&image);
    }
    state.counters["visible_rows"] = double(list->viewport()->height() / std::max(1, list->rowHeight(0)));
    state.counters["rows"] = double(list->RowCount());
}
BENCHMARK(BM_RepaintScreenful)->ArgName("all_columns")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A live capture in real time, the analyzer at its fastest clock setting (divisor 1); the timer runs
// at its normal period. Reports the longest tick, with the Analysis pane hidden or shown, and the
// longest update of the pane within a tick (feeding the analysis and rebuilding its lists).
void BM_LiveWorstTick(benchmark::State& state) {
    const int seconds = int(state.range(0));
    const bool analysisShown = state.range(1) != 0;
    synth::Scenario sc;
    // The EPR scenario, or a bad link whose every broken frame is a finding.
    synth::BuiltinScenario(state.range(2) ? "noisy" : "epr", &sc);
    EmulatorOptions eo;
    eo.clockSetting = 0x0100;
    CEmulatedAnalyzer analyzer(sc, eo);
    CWindow w(analyzer);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ambrio-gui-bench-live";
    std::filesystem::create_directories(folder);
    w.settings.recordFileFolder = folder.string();
    w.settings.recordDoNotAskAgain = true;
    w.frame->AnalysisPane()->setVisible(analysisShown);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        w.frame->Tick();
        w.frame->ExecuteCommand(32771);
        qint64 nextTick = 1000;
        while (clock.elapsed() < seconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (clock.elapsed() >= nextTick) {
                w.frame->Tick();
                nextTick += 1000;
            }
        }
        w.frame->ExecuteCommand(32772);
        for (int i = 0; i < 10 && (w.frame->Reader().capturing || w.frame->Reader().finalDecodePending); ++i)
            w.frame->Tick();
    }
    state.counters["worst_tick_ms"] = double(w.frame->WorstTick().count()) / 1000.0;
    state.counters["worst_analysis_ms"] = double(w.frame->AnalysisPane()->WorstUpdate().count()) / 1000.0;
    state.counters["findings"] = double(w.frame->AnalysisPane()->Shown().findings.size());
    state.counters["packets"] = double(w.frame->Doc().store.PacketCount());
    state.counters["stream_MB"] = double(analyzer.BytesDelivered()) / 1e6;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LiveWorstTick)
    ->ArgNames({"seconds", "analysis_shown", "noisy"})
    ->Args({30, 0, 0})
    ->Args({30, 1, 0})
    ->Args({30, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
