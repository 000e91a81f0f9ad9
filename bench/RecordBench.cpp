// Recording throughput: the reader thread records the emulated analyzer, unpaced, into a record file
// while the timer decodes the file as it grows, as a recording does in the application. The time runs
// from Run until the last byte of the stream is in the file; afterwards the file is checked to hold every
// byte the analyzer sent and to decode to every frame it played.
#include "CaptureStore.h"
#include "DeviceConnection.h"
#include "EmulatedAnalyzer.h"
#include "HeadlessUi.h"
#include "QXDoc.h"
#include "ReaderThread.h"
#include "RecordingControl.h"
#include "Settings.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <stdlib.h>

namespace {

constexpr double kStreamSeconds = 1200; // of the epr scenario: about 37 MB
constexpr double kTargetMBps = 20;

// The decoded packets against the frames as played, in the order the decoder lists them.
bool SamePackets(const CCaptureStore& store, std::vector<synth::ExpectedPacket> sent, std::string* why) {
    std::stable_sort(sent.begin(), sent.end(), [](const auto& a, const auto& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.channel < b.channel;
    });
    if (store.PacketCount() != sent.size()) {
        *why =
            "decoded " + std::to_string(store.PacketCount()) + " packets of " + std::to_string(sent.size());
        return false;
    }
    for (size_t i = 0; i < sent.size(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        const synth::ExpectedPacket& x = sent[i];
        bool same = p.startTime == x.startTime && p.channel == x.channel;
        if (x.outcome == synth::Outcome::Good && IsMessageKind(x.kind))
            same = same && p.crcGood &&
                   std::equal(x.bytes.begin(), x.bytes.end(), p.messageBytes,
                              p.messageBytes + p.messageByteCount);
        if (!same) {
            *why = "packet " + std::to_string(i) + " differs from the frame sent";
            return false;
        }
    }
    return true;
}

void BM_RecordEmulatedStream(benchmark::State& state) {
    synth::Scenario scenario;
    synth::BuiltinScenario("epr", &scenario);
    char pattern[] = "/tmp/ambrio-record-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string folder = pattern;
    uint64_t bytes = 0;
    size_t packets = 0;
    double seconds = 0;
    for (auto _ : state) {
        EmulatorOptions eo;
        eo.pace = EmulatorPace::Unpaced;
        eo.seconds = kStreamSeconds;
        CEmulatedAnalyzer analyzer(scenario, eo);
        std::vector<synth::ExpectedPacket> sent; // filled on the reader thread, read once it has ended
        analyzer.SetPacketSink([&sent](const synth::ExpectedPacket& p) { sent.push_back(p); });

        CSettings settings;
        settings.recordFileFolder = folder;
        settings.recordFileCaption = "Bench";
        settings.recordDoNotAskAgain = true;
        CDeviceConnection connection(analyzer);
        CReaderThread reader(connection);
        CHeadlessUi ui(reader);
        CRecordFolderHooks hooks;
        CQXDoc doc(&ui, &hooks, settings.CaptureLimits());
        CRecordingControl control(settings, connection, reader, &doc, ui);
        hooks.control = &control;
        reader.Start();

        // Connected and recording before the first byte comes.
        analyzer.SetStalled(true);
        control.OnTimer();
        if (!connection.connected || !control.RunCommand()) {
            state.SkipWithError("no recording");
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        analyzer.SetStalled(false);
        // The timer ticks while the stream comes; it decodes what the file gained since the last tick.
        do {
            control.OnTimer();
        } while (!analyzer.WaitCaughtUp(std::chrono::milliseconds(10)));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();

        control.Stop();
        while (reader.capturing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        control.OnTimer(); // the rest is decoded
        reader.RequestExit();
        reader.WaitForExit();

        bytes = analyzer.BytesDelivered();
        packets = doc.store.PacketCount();
        std::error_code ec;
        const uint64_t fileSize = std::filesystem::file_size(control.RecordFilePath(1), ec);
        std::string why;
        if (!ui.messages.empty() || reader.fileNumber != 1 || ec || fileSize != bytes + 64 ||
            uint64_t(doc.store.decodePosition) != fileSize) {
            state.SkipWithError("the file does not hold the whole stream");
            break;
        }
        if (!SamePackets(doc.store, sent, &why)) {
            state.SkipWithError(why.c_str());
            break;
        }
    }
    std::filesystem::remove_all(folder);
    const double mbps = seconds > 0 ? double(bytes) * double(state.iterations()) / 1e6 / seconds : 0;
    state.SetBytesProcessed(int64_t(bytes) * int64_t(state.iterations()));
    state.counters["stream_MB"] = double(bytes) / 1e6;
    state.counters["packets"] = double(packets);
    state.counters["MB_per_s"] = mbps;
    state.counters["meets_20MB_per_s"] = mbps >= kTargetMBps ? 1 : 0;
}
BENCHMARK(BM_RecordEmulatedStream)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
