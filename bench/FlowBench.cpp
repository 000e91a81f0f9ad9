// Transactions and exchanges: grouping the 60-second dense capture and a 100,000-packet capture (decoded
// once, outside the timing), the Transactions pane's share of a live capture's timer ticks, and laying
// out and painting the sequence diagram for a window of 1,000 messages. Runs on the offscreen platform.
//
//   flow_bench [--benchmark_filter=...]
//   AMBRIO_DENSE=/tmp/dense60.qxc and AMBRIO_DENSE100K=/tmp/dense100k.qxc (the defaults) name the
//   captures; `dense_capture /tmp/dense60.qxc` and `dense_capture /tmp/dense100k.qxc 90` write them.
#include "Analyzer.h"
#include "EmulatedAnalyzer.h"
#include "FlowDiagram.h"
#include "FlowDiagramView.h"
#include "FlowGrouper.h"
#include "MainFrame.h"
#include "QXDoc.h"
#include "Settings.h"
#include "TransactionsPane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

std::unique_ptr<CQXDoc> Open(const char* variable, const char* fallback) {
    const char* env = std::getenv(variable);
    const std::string path = env ? env : fallback;
    auto doc = std::make_unique<CQXDoc>();
    if (!doc->OpenDocument(path)) {
        std::fprintf(stderr, "flow_bench: %s cannot be opened (see the top of FlowBench.cpp)\n",
                     path.c_str());
        std::exit(1);
    }
    std::fprintf(stderr, "flow_bench: %s: %zu packets\n", path.c_str(), doc->store.PacketCount());
    return doc;
}

CQXDoc& Dense() {
    static std::unique_ptr<CQXDoc> doc = Open("AMBRIO_DENSE", "/tmp/dense60.qxc");
    return *doc;
}

CQXDoc& Dense100k() {
    static std::unique_ptr<CQXDoc> doc = Open("AMBRIO_DENSE100K", "/tmp/dense100k.qxc");
    return *doc;
}

// Grouping alone (arg 0), and with the analysis's findings attached (arg 1; the analysis itself is done
// once, outside the timing).
void Group(benchmark::State& state, const CCaptureStore& store) {
    const std::vector<analysis::Finding> findings =
        state.range(0) ? analysis::Analyze(store).findings : std::vector<analysis::Finding>{};
    size_t exchanges = 0;
    for (auto _ : state) {
        const flow::Flow f = flow::Group(store, findings);
        exchanges = f.exchanges.size();
        benchmark::DoNotOptimize(exchanges);
    }
    state.counters["packets"] = double(store.PacketCount());
    state.counters["exchanges"] = double(exchanges);
    state.counters["findings"] = double(findings.size());
}

void BM_GroupDense60s(benchmark::State& state) {
    Group(state, Dense().store);
}
BENCHMARK(BM_GroupDense60s)->ArgName("findings")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Group100kPackets(benchmark::State& state) {
    Group(state, Dense100k().store);
}
BENCHMARK(BM_Group100kPackets)->ArgName("findings")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A window of 1,000 messages of the dense capture (with their GoodCRCs), laid out and painted into an
// image as the pane paints its view: at the scale the pane opens at, where the window is many screens
// tall and the image takes its top 1080 rows (arg 0), and zoomed out until the whole window fits the
// image (arg 1).
void BM_PaintDiagram1000Messages(benchmark::State& state) {
    const CCaptureStore& store = Dense().store;
    static const std::vector<analysis::Finding> findings = analysis::Analyze(store).findings;
    static const flow::Flow f = flow::Group(store, findings);
    flow::DiagramOptions o;
    o.fontHeight = 13;
    o.fromPacket = 10000;
    o.toPacket = 10000 + 2000 - 1; // 1,000 messages and their GoodCRCs
    if (state.range(0)) o.scale = flow::kMinDiagramScale;
    QImage image(1920, state.range(0) ? 2400 : 1080, QImage::Format_ARGB32_Premultiplied);
    QFont font;
    font.setPixelSize(11);
    size_t shapes = 0, drawn = 0;
    int32_t height = 0;
    for (auto _ : state) {
        const flow::DiagramLayout layout = flow::LayoutDiagram(f, findings, o);
        image.fill(Qt::white);
        QPainter painter(&image);
        CFlowDiagramView::Paint(painter, layout, font, 0, image.height());
        shapes = layout.shapes.size();
        drawn = layout.arrows.size();
        height = layout.height;
    }
    state.counters["arrows"] = double(drawn);
    state.counters["shapes"] = double(shapes);
    state.counters["layout_height_px"] = double(height);
}
BENCHMARK(BM_PaintDiagram1000Messages)->ArgName("zoomed_out")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A live capture in real time, the analyzer at its fastest clock setting, the Transactions pane shown
// (and painted) or hidden: the longest share of a timer tick the pane took (reading on and its rows),
// on the wall clock and in CPU time of the window's thread.
void BM_LiveTickShare(benchmark::State& state) {
    const int seconds = int(state.range(0));
    const bool shown = state.range(1) != 0;
    synth::Scenario sc;
    synth::BuiltinScenario(state.range(2) ? "noisy" : "epr", &sc);
    EmulatorOptions eo;
    eo.clockSetting = 0x0100;
    CEmulatedAnalyzer analyzer(sc, eo);
    CSettings settings;
    settings.window.width = 1920;
    settings.window.height = 1080;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ambrio-flow-bench-live";
    std::filesystem::create_directories(folder);
    settings.recordFileFolder = folder.string();
    settings.recordDoNotAskAgain = true;
    FrameEnvironment env;
    env.settings = &settings;
    env.link = &analyzer;
    env.startTimer = false;
    auto frame = std::make_unique<CMainFrame>(env);
    frame->dialogs.message = [](const std::string&) {};
    frame->show();
    frame->TransactionsPane()->setVisible(shown);
    if (shown) frame->TransactionsPane()->raise();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        frame->Tick();
        frame->ExecuteCommand(32771);
        qint64 nextTick = 1000;
        while (clock.elapsed() < seconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (clock.elapsed() >= nextTick) {
                frame->Tick();
                nextTick += 1000;
            }
        }
        frame->ExecuteCommand(32772);
        for (int i = 0; i < 10 && (frame->Reader().capturing || frame->Reader().finalDecodePending); ++i)
            frame->Tick();
    }
    CTransactionsPane* pane = frame->TransactionsPane();
    state.counters["worst_pane_ms"] = double(pane->WorstUpdate().count()) / 1000.0;
    state.counters["worst_pane_cpu_ms"] = double(pane->WorstUpdateCpu().count()) / 1000.0;
    state.counters["worst_tick_ms"] = double(frame->WorstTick().count()) / 1000.0;
    state.counters["exchanges"] = double(pane->Shown().exchanges.size());
    state.counters["packets"] = double(frame->Doc().store.PacketCount());
    frame.reset();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LiveTickShare)
    ->ArgNames({"seconds", "shown", "noisy"})
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
