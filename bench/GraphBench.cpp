// The graph under load, on the offscreen platform: painting the whole view for a capture at the store's
// sample limit (9,999,999 samples, 100,000 packets) fitted to a full-screen window, with the column
// summary and, for comparison, with the plain walk; painting a window of 1,000 samples; building the
// summary; and the longest timer tick and paint of a live capture from the emulated analyzer at its
// fastest clock setting with 1 ms sampling, the graph following the newest samples.
#include "CaptureStore.h"
#include "DockableGraph.h"
#include "EmulatedAnalyzer.h"
#include "GraphView.h"
#include "MainFrame.h"
#include "RecordStream.h"
#include "Settings.h"
#include "Synthesizer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr size_t kSamples = 9999999; // the store's sample limit
constexpr size_t kSamplesPerPacket = 100;

void PutSample(uint8_t* p, uint32_t stamp, uint16_t vbus, int16_t vbusRaw, int16_t cc1, int16_t cc2) {
    rec::WriteU32(p, stamp);
    rec::WriteU16(p + 4, vbus);
    rec::WriteU16(p + 6, uint16_t(vbusRaw));
    rec::WriteU16(p + 8, uint16_t(cc1));
    rec::WriteU16(p + 10, 0);
    rec::WriteU16(p + 12, uint16_t(cc2));
    rec::WriteU16(p + 14, 0);
}

// A sample every millisecond (2.8 hours): VBUS stepping through 5, 9, 15 and 20 V, a current with a slow
// swing, noise and spikes; a packet every 100 samples, added as they would arrive.
void FillLargeCapture(CCaptureStore& store) {
    uint8_t block[rec::kBlockSize] = {};
    uint32_t noise = 7;
    size_t inBlock = 0;
    for (size_t i = 0; i < kSamples; ++i) {
        noise = noise * 1103515245u + 12345u;
        const int jitter = int((noise >> 16) % 40) - 20;
        static const uint16_t kLevels[] = {5000, 9000, 15000, 20000};
        const uint16_t vbus = uint16_t(kLevels[(i / 600000) % 4] + jitter);
        int raw = int(1600 + 900 * std::sin(double(i) / 90000.0)) + jitter;
        if (i % 9973 == 0) raw = 5000;
        PutSample(block + 2 + 16 * inBlock, uint32_t(i * 1000), vbus, int16_t(raw), 1680, int16_t(40 + jitter));
        if (++inBlock == 3 || i + 1 == kSamples || (i + 1) % kSamplesPerPacket == 0) {
            rec::WriteU16(block, uint16_t(0x2000 | inBlock));
            store.AddSamples(block, int64_t(i) * 22);
            inBlock = 0;
        }
        if ((i + 1) % kSamplesPerPacket == 0) {
            auto p = std::make_unique<CCCPacket>();
            p->absStartTime = int64_t(i) * 1000 + 300;
            for (int k = 0; k < 24; ++k) p->AppendInterval(40);
            store.AddPacket(p);
        }
    }
}

// A main window the size of a full-HD screen, with the graph pane floating over all of it.
struct CGraphWindow {
    explicit CGraphWindow(IAnalyzerLink& link, int samplingMs = 10) {
        settings.window.width = 1920;
        settings.window.height = 1080;
        settings.recordVbusSamplingIntervalMS = uint32_t(samplingMs);
        FrameEnvironment env;
        env.settings = &settings;
        env.link = &link;
        env.startTimer = false;
        frame = std::make_unique<CMainFrame>(env);
        frame->dialogs.message = [](const std::string&) {};
        frame->show();
        CDockableGraph* pane = frame->GraphPane();
        pane->setFloating(true);
        pane->resize(1920, 1080);
        pane->show();
        QCoreApplication::processEvents();
    }
    CGraphView* View() const { return frame->GraphView(); }
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

// One window holding the large capture for every paint benchmark.
CGraphWindow& LargeWindow() {
    static auto link = NoAnalyzer();
    static CGraphWindow* window = [] {
        auto* w = new CGraphWindow(*link);
        FillLargeCapture(w->frame->Doc().store);
        w->View()->Attach();
        return w;
    }();
    return *window;
}

void Paint(benchmark::State& state, CGraphView* v) {
    QImage image(v->size(), QImage::Format_RGB32);
    v->render(&image); // the first paint syncs the summary
    for (auto _ : state) v->render(&image);
    state.counters["plot_width"] = v->Model().Plot().width;
    state.counters["plot_height"] = v->Model().Plot().height;
}

void BM_GraphPaintFitted(benchmark::State& state) {
    CGraphWindow& w = LargeWindow();
    CGraphView* v = w.View();
    v->SetTraceMethod(state.range(0) ? TraceMethod::Walk : TraceMethod::Auto);
    v->Model().FitAll();
    Paint(state, v);
    state.counters["samples"] = double(w.frame->Doc().store.SampleCount());
    state.counters["packets"] = double(w.frame->Doc().store.PacketCount());
    v->SetTraceMethod(TraceMethod::Auto);
}
BENCHMARK(BM_GraphPaintFitted)->ArgName("walk")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GraphPaintThousandSamples(benchmark::State& state) {
    CGraphWindow& w = LargeWindow();
    CGraphView* v = w.View();
    CGraphModel& m = v->Model();
    // 1,000 samples a millisecond apart across the plot, in the middle of the capture.
    m.SetTimeScale(float(m.Plot().width) / 1.0e6f);
    v->CenterOn(int64_t(kSamples / 2) * 1000);
    const SampleSpan span = TraceSpan(w.frame->Doc().store, m.ViewStart(), m.ViewEnd());
    Paint(state, v);
    state.counters["samples_in_window"] = double(span.Count());
    m.FitAll();
}
BENCHMARK(BM_GraphPaintThousandSamples)->Unit(benchmark::kMillisecond)->UseRealTime();

// The one-time cost of a fresh summary of the whole capture (opening a file, or after the store was
// trimmed from the front).
void BM_GraphSummaryBuild(benchmark::State& state) {
    const CCaptureStore& store = LargeWindow().frame->Doc().store;
    for (auto _ : state) {
        CSampleSummary summary;
        summary.Sync(store);
        benchmark::DoNotOptimize(summary.Count());
    }
}
BENCHMARK(BM_GraphSummaryBuild)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// A live capture in real time from the analyzer at its fastest clock setting (divisor 1) sampling every
// millisecond; the timer runs at its normal period and the graph follows with auto scroll on.
void BM_GraphLiveWorstTick(benchmark::State& state) {
    const int seconds = int(state.range(0));
    synth::Scenario sc;
    synth::BuiltinScenario("epr", &sc);
    EmulatorOptions eo;
    eo.clockSetting = 0x0100;
    CEmulatedAnalyzer analyzer(sc, eo);
    CGraphWindow w(analyzer, 1);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ambrio-graph-bench-live";
    std::filesystem::create_directories(folder);
    w.settings.recordFileFolder = folder.string();
    w.settings.recordDoNotAskAgain = true;
    CGraphView* v = w.View();
    int followed = 0, ticks = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        w.frame->Tick();
        w.frame->ExecuteCommand(32771);
        v->ResetWorstPaint();
        qint64 nextTick = 1000;
        while (clock.elapsed() < seconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (clock.elapsed() >= nextTick) {
                w.frame->Tick();
                nextTick += 1000;
                ++ticks;
                const CCaptureStore& store = w.frame->Doc().store;
                if (store.SampleCount() &&
                    v->Model().IsVisible(store.lastSampleTime - store.captureOrigin - store.timeOrigin))
                    ++followed;
            }
        }
        w.frame->ExecuteCommand(32772);
        for (int i = 0; i < 10 && (w.frame->Reader().capturing || w.frame->Reader().finalDecodePending); ++i)
            w.frame->Tick();
    }
    const CCaptureStore& store = w.frame->Doc().store;
    state.counters["worst_tick_ms"] = double(w.frame->WorstTick().count()) / 1000.0;
    state.counters["worst_paint_ms"] = double(v->WorstPaint().count()) / 1000.0;
    state.counters["samples"] = double(store.SampleCount());
    state.counters["packets"] = double(store.PacketCount());
    state.counters["ticks_following"] = followed;
    state.counters["ticks"] = ticks;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_GraphLiveWorstTick)->Arg(30)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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
