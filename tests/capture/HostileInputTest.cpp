// Damaged and hostile record streams: whatever the bytes, decoding ends, keeps what the whole blocks
// hold, and never reads or writes outside its buffers (the suite also runs under the sanitizers).
#include "ExportWorker.h"
#include "GraphAxes.h"
#include "GraphStrip.h"
#include "GraphTexts.h"
#include "GraphTraces.h"
#include "PacketTexts.h"
#include "QXDoc.h"
#include "support/Blocks.h"
#include "support/Series.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace testblocks;

TEST(HostileInput, RandomBytesDecodeWithoutHarm) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        const size_t size = rng() % (64 * 200);
        std::vector<uint8_t> data(size);
        for (auto& b : data) b = uint8_t(rng());
        // Bias some rounds towards plausible blocks: CC edge blocks in sequence, samples, markers.
        if (round % 2)
            for (size_t k = 0; k + 64 <= size; k += 64) {
                const unsigned pick = rng() % 8;
                uint16_t w = uint16_t(((k / 64) & 7) | (((k / 512) & 0xFF) << 4) | ((rng() & 1) << 14));
                if (pick == 0) w = 0xFFF0;
                if (pick == 1) w = uint16_t(0x2000 | (rng() & 0x0F));
                rec::WriteU16(data.data() + k, w);
                if (pick > 1) rec::WriteU16(data.data() + k + 6, uint16_t(rng() % 3 == 0 ? 0x100 : rng() & 0xFF));
            }
        CCaptureStore store;
        const size_t used = store.DecodeChunk(data.data(), data.size(), 0);
        EXPECT_EQ(used, size / 64 * 64);
        store.FlushOpenPackets();
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket* p = store.PacketAt(i);
            EXPECT_LE(p->messageByteCount, kMessageBytesCapacity - 4);
            EXPECT_LE(p->intervalCount, kMaxIntervals);
            EXPECT_EQ(p->edges, nullptr); // released after decoding
            (void)p->GetMessageTypeText();
        }
    }
}

TEST(HostileInput, SampleCountOf15ReadsThreeSamples) {
    std::vector<uint8_t> data;
    Append(data, VbusBlock({{10, 5000}, {20, 6000}, {30, 7000}}, 15));
    CCaptureStore store;
    store.DecodeChunk(data.data(), data.size(), 0);
    ASSERT_EQ(store.SampleCount(), 3u);
    EXPECT_EQ(store.SampleAt(2)->vbusVoltage, 7000);
}

TEST(HostileInput, EndlessFrameIsCappedAndClosed) {
    // Two thousand blocks of transitions five ticks apart, no idle gap: one packet, cut at 5000
    // intervals, closed by the break in the sequence at the end of the data (a reset).
    Stream s;
    int value = 0;
    for (int k = 0; k < 2000; ++k) {
        std::vector<uint8_t> edges;
        for (int i = 0; i < 56; ++i) edges.push_back(uint8_t(value += 5));
        s.Cc(0, 0, edges);
    }
    CCaptureStore store;
    s.Decode(store);
    EXPECT_EQ(store.PacketCount(), 0u); // still open
    store.ProcessCcBlock(CcBlock(99, 5, 0, 0, {0}).data(), 0); // a break hands it over
    ASSERT_EQ(store.PacketCount(), 1u);
    EXPECT_EQ(store.PacketAt(0)->intervalCount, kMaxIntervals);
    EXPECT_FALSE(store.PacketAt(0)->preambleFound);
}

TEST(HostileInput, TruncatedFileKeepsItsWholeBlocks) {
    TempDir dir;
    Stream s;
    s.Cc(0, 0, Concat({{0, 0}, Ramp(100, 10, 9)}));
    s.Cc(0, 0, {180});
    const std::vector<uint8_t> whole = s.bytes;
    for (size_t cut : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), whole.size() - 1}) {
        const std::string path = dir.File("cut.qxc");
        WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(path));
        EXPECT_EQ(doc.store.decodePosition, int64_t(cut / 64 * 64)) << cut;
        EXPECT_EQ(doc.store.SampleCount(), cut >= 64 ? 1u : 0u);
    }
}

namespace {

// The graph of the extreme-origin test: its markers are the document's graph marks.
struct GraphHooks : IDocumentHooks {
    const CGraphModel* model = nullptr;
    bool GraphMarkers(int64_t* o, int64_t* x) const override {
        *o = model->MarkerTime(GraphMarker::O);
        *x = model->MarkerTime(GraphMarker::X);
        return true;
    }
};

// A display time as exact arithmetic gives it, held at +-INT64_MAX.
int64_t HeldDifference(int64_t t, int64_t origin) {
    const __int128 d = __int128(t) - origin;
    return int64_t(std::clamp<__int128>(d, -INT64_MAX, INT64_MAX));
}

} // namespace

TEST(HostileInput, ExtremeTimeOriginsGiveHeldDisplayTimes) {
    // A saved time origin (marker entry 5) is any 64-bit value a damaged file holds. Display times are
    // then held at the ends of the range: the packet texts, the lookups, the export and the graph work
    // with them, and nothing overflows on the way (the suite also runs under the sanitizers).
    const std::vector<uint8_t> stream = testseries::Stream("demo", 2);
    const int64_t p62 = int64_t(1) << 62;
    const int64_t graphX = 500000; // capture-relative, as saved
    for (const int64_t origin : {int64_t(1234), p62, -p62, INT64_MAX, INT64_MIN, INT64_MIN + 1}) {
        SCOPED_TRACE(origin);
        TempDir dir;
        std::vector<uint8_t> file = testrec::ClosedHeader(stream.size());
        file.insert(file.end(), stream.begin(), stream.end());
        Block marks{};
        rec::WriteU16(marks.data(), rec::kMarkerWord);
        marks[2] = 5, marks[3] = 8;
        rec::WriteU64(marks.data() + 4, uint64_t(origin));
        marks[12] = 16, marks[13] = 0;
        marks[14] = 24, marks[15] = 8; // graph marker O at capture time 0
        marks[24] = 25, marks[25] = 8;
        rec::WriteU64(marks.data() + 26, uint64_t(graphX));
        marks[34] = 255;
        Append(file, marks);
        WriteFile(dir.File("o.qxc"), file);

        CGraphModel model;
        GraphHooks hooks;
        hooks.model = &model;
        CQXDoc doc(nullptr, &hooks);
        ASSERT_TRUE(doc.OpenDocument(dir.File("o.qxc")));
        const CCaptureStore& s = doc.store;
        ASSERT_EQ(s.timeOrigin, origin);
        ASSERT_GT(s.PacketCount(), 2u);
        ASSERT_GT(s.SampleCount(), 2u);
        const auto shown = [&](int64_t t) { return HeldDifference(t, origin); };

        for (size_t i = 0; i < s.PacketCount(); ++i) {
            const CCCPacket& p = *s.PacketAt(i);
            EXPECT_EQ(s.DisplayTime(p), shown(p.startTime));
            EXPECT_EQ(p.GetColumnText(kColumnTimestamp, false), FormatTimeText(shown(p.startTime)));
            for (int c = 0; c < kColumnCount; ++c) (void)p.GetColumnText(c, false);
            const CCCPacket* found = s.FindPacketAt(shown(p.startTime));
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(s.DisplayTime(*found), shown(p.startTime));
        }
        // The first packet's idle time counts from the origin.
        EXPECT_EQ(s.PacketAt(0)->GetColumnText(kColumnIdleTime, false), FormatTimeText(shown(s.PacketAt(0)->startTime)));
        if (origin == INT64_MIN) {
            EXPECT_EQ(s.PacketAt(0)->GetColumnText(kColumnTimestamp, false), " 2562047788h  0min 54s 775ms 807us");
        }
        for (size_t i = 0; i < s.SampleCount(); ++i) {
            const CVbusInfo& v = *s.SampleAt(i);
            const CVbusInfo* found = s.FindSampleAt(shown(v.time));
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(s.DisplayTime(*found), shown(v.time));
        }
        const int64_t firstSample = shown(s.SampleAt(0)->time);
        const int64_t lastSample = shown(s.SampleAt(s.SampleCount() - 1)->time);

        // Export: the whole capture, as CSV and as a record range.
        ExportOptions o;
        o.fileName = dir.File("o.csv");
        o.exportItems = kItemsBoth;
        const std::vector<MarkerEntry> markers = CollectMarkerEntries(s, &hooks);
        int64_t start = 0, end = 0;
        ASSERT_TRUE(ResolveRange(s, markers, o, &start, &end));
        EXPECT_EQ(start, std::min(firstSample, shown(s.PacketAt(0)->startTime)));
        EXPECT_EQ(end, std::max(lastSample, shown(s.PacketAt(s.PacketCount() - 1)->startTime)));
        ToolFlags flags;
        ASSERT_TRUE(WriteCsv(s, o, start, end, flags)) << flags.reason;
        const std::vector<uint8_t> csv = ReadFile(o.fileName);
        EXPECT_EQ(size_t(std::count(csv.begin(), csv.end(), '\n')), 1 + s.SampleCount() + s.PacketCount());
        ASSERT_TRUE(WriteRecordRange(s, dir.File("range.qxc"), start, end, flags)) << flags.reason;

        // The graph: saved markers, the data span fitted into the window, and what it draws from them.
        model.Attach(s, false);
        EXPECT_EQ(model.MarkerTime(GraphMarker::O), shown(0));
        EXPECT_EQ(model.MarkerTime(GraphMarker::X), shown(graphX));
        EXPECT_EQ(model.DataFirstTime(), firstSample);
        EXPECT_EQ(model.DataLastTime(), lastSample);
        EXPECT_TRUE(model.IsVisible(firstSample) && model.IsVisible(lastSample));
        EXPECT_GE(model.XOfTime(firstSample), 0);
        EXPECT_LE(model.XOfTime(lastSample), model.Plot().width);
        const std::vector<GraphText> lines = MeasurementTexts(model, &s);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].text.rfind("O to X : " + FormatTimeText(HeldDifference(shown(graphX), shown(0))), 0), 0u)
            << lines[0].text;
        for (GraphMarker m : {GraphMarker::O, GraphMarker::X}) (void)model.PlaceOf(m);
        CPacketStripIndex strip;
        strip.Sync(s);
        CSampleSummary summary;
        summary.Sync(s);
        for (int step = 0; step < 4; ++step) {
            EXPECT_LE(TimeTicks(model, true).size(), size_t(model.Plot().width) + 1);
            (void)StripBoxes(s, nullptr, model, nullptr);
            (void)StripBoxes(s, &strip, model, nullptr);
            const SampleSpan span = TraceSpan(s, model.ViewStart(), model.ViewEnd());
            const TraceGeometry g = TraceGeometryOf(model, GraphValue::VbusVoltage);
            EXPECT_EQ(TraceColumns(s, g, span).size(), TraceColumns(s, g, span, &summary).size());
            (void)model.TimeAtX(model.Plot().left + model.Plot().width);
            model.ZoomTime(false);
            model.ScrollLeft();
            model.ScrollRight();
            model.Drag(-200, 0, {false, false, false});
        }

        // Saved again and reopened, the origin is the same; a relative origin moves it without wrapping.
        doc.SetMarksChanged();
        ASSERT_TRUE(doc.SaveDocument(dir.File("saved.qxc")));
        CQXDoc reopened;
        ASSERT_TRUE(reopened.OpenDocument(dir.File("saved.qxc")));
        EXPECT_EQ(reopened.store.timeOrigin, origin);
        doc.SetTimeOrigin(s.DisplayTime(*s.PacketAt(1)), true);
        EXPECT_EQ(doc.store.timeOrigin, int64_t(std::clamp<__int128>(__int128(origin) + shown(s.PacketAt(1)->startTime),
                                                                     -INT64_MAX, INT64_MAX)));
    }
}
