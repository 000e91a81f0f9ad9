// Arbitrary record streams decoded in two pieces, the analysis following the growing store as the window's
// does; its result must be the one of a read of the finished store, and every summary and finding text
// must come out. The bytes past the last whole block choose where the stream is cut and the bit recovery.
#include "AnalysisTexts.h"
#include "Analyzer.h"
#include "CaptureStore.h"
#include "RecordStream.h"

#include <cstdio>
#include <cstdlib>

namespace {

// What differs, for the one reading a reproducer.
void Explain(const char* name, const CCaptureStore& store, const analysis::Results& r) {
    std::fprintf(stderr, "%s: %lld packets, %lld samples, analog %d, %zu connections, %zu findings\n", name,
                 static_cast<long long>(r.packetsRead), static_cast<long long>(r.samplesRead), r.analogSeen,
                 r.connections.size(), r.findings.size());
    size_t n = 0;
    for (const analysis::Connection& c : r.connections) {
        std::fprintf(stderr, " connection %lld %s .. %lld %s\n", static_cast<long long>(c.startTime),
                     c.startReason.c_str(), static_cast<long long>(c.endTime), c.endReason.c_str());
        for (const analysis::SummaryLine& line : analysis::ConnectionLines(store, c, ++n))
            std::fprintf(stderr, "  %s\n", line.Text().c_str());
    }
    for (const analysis::Finding& f : r.findings)
        std::fprintf(stderr, "  %lld..%lld %s [%s] %s %s\n", static_cast<long long>(f.time),
                     static_cast<long long>(f.endTime), f.text.c_str(), analysis::PacketsText(f).c_str(),
                     analysis::MeasuredText(f).c_str(), analysis::LimitText(f).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t blocks = size / rec::kBlockSize;
    const uint8_t* tail = data + blocks * rec::kBlockSize;
    const size_t tailSize = size - blocks * rec::kBlockSize;
    const size_t cut = (tailSize > 0 ? tail[0] * (blocks + 1) / 256 : blocks / 2) * rec::kBlockSize;
    const size_t whole = blocks * rec::kBlockSize;

    CCaptureStore store;
    store.tolerantBits = tailSize > 1 && (tail[1] & 1);
    analysis::CAnalyzer live;
    store.DecodeChunk(data, cut, 0);
    live.Feed(store);
    store.DecodeChunk(data + cut, whole - cut, int64_t(cut));
    live.Feed(store);
    store.FlushOpenPackets();
    live.Finish(store);

    const analysis::Results once = analysis::Analyze(store);
    if (!(live.Current() == once)) {
        Explain("in two pieces", store, live.Current());
        Explain("at once", store, once);
        std::abort();
    }

    size_t n = 0;
    for (const analysis::Connection& c : once.connections)
        for (const analysis::SummaryLine& line : analysis::ConnectionLines(store, c, ++n)) (void)line.Text();
    for (const analysis::Finding& f : once.findings) {
        (void)analysis::MeasuredText(f);
        (void)analysis::LimitText(f);
        (void)analysis::PacketsText(f);
        for (const analysis::PacketRef& r : f.packets) (void)analysis::AtText(store, r);
    }
    return 0;
}
