// Export: output names and the extension follow-up, marker entries, range resolution, the CSV writer
// (merge order, value texts, quoting as a CSV reader sees it) and the record-file range, which must
// decode to the packets of its range.
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/TempFiles.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>

namespace {

std::string ReadText(const std::string& path) {
    const auto b = ReadFile(path);
    return {b.begin(), b.end()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// A synthesized demo capture on disk, opened as the window opens it.
class ExportFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        synth::Scenario sc;
        ASSERT_TRUE(synth::BuiltinScenario("demo", &sc));
        synth::SynthOptions o;
        o.seconds = 6;
        std::string error;
        ASSERT_TRUE(synth::WriteScenarioFile(dir->File("demo.qxc"), sc, o, &error)) << error;
        doc = new CQXDoc;
        ASSERT_TRUE(doc->OpenDocument(dir->File("demo.qxc")));
        ASSERT_GT(doc->store.PacketCount(), 20u);
        ASSERT_GT(doc->store.SampleCount(), 20u);
    }
    static void TearDownTestSuite() {
        delete doc;
        delete dir;
    }
    static const CCaptureStore& Store() { return doc->store; }
    static TempDir* dir;
    static CQXDoc* doc;
};
TempDir* ExportFixture::dir = nullptr;
CQXDoc* ExportFixture::doc = nullptr;

TEST(ExportNames, FileNameTakesTheFirstFreeNumber) {
    TempDir d;
    const std::string abc = d.File("abc.qxc");
    EXPECT_EQ(ExportFileName(abc, kExportCsv), d.File("abc_export.csv"));
    EXPECT_EQ(ExportFileName(abc, kExportQxc), d.File("abc_export.qxc"));
    WriteFile(d.File("abc_export.csv"), {});
    EXPECT_EQ(ExportFileName(abc, kExportCsv), d.File("abc_export (1).csv"));
    EXPECT_EQ(ExportFileName(abc, kExportQxc), d.File("abc_export.qxc"));
    WriteFile(d.File("abc_export (1).csv"), {});
    EXPECT_EQ(ExportFileName(abc, kExportCsv), d.File("abc_export (2).csv"));
    // The extension is dropped in any case, and only when something is left before it.
    EXPECT_EQ(ExportFileName(d.File("REC.QXC"), kExportCsv), d.File("REC_export.csv"));
    EXPECT_EQ(ExportFileName(d.File("rec"), kExportCsv), d.File("rec_export.csv"));
    EXPECT_EQ(ExportFileName(".qxc", kExportCsv), ".qxc_export.csv");
}

TEST(ExportNames, ExtensionFollowsTheType) {
    struct Case {
        const char* name;
        int type;
        const char* expected;
    } cases[] = {
        {"x_export.csv", kExportQxc, "x_export.qxc"}, {"x_export.qxc", kExportCsv, "x_export.csv"},
        {"x", kExportQxc, "x.qxc"},                   {"x", kExportCsv, "x.csv"},
        {"X.CSV", kExportQxc, "X.qxc"},               {"x.QXC", kExportQxc, "x.QXC"},
        {"x.txt", kExportCsv, "x.txt.csv"},           {"", kExportCsv, ".csv"},
    };
    for (const Case& c : cases) EXPECT_EQ(FollowExtension(c.name, c.type), c.expected) << c.name << " " << c.type;
}

TEST(ExportMarkers, EntriesStayInTimeOrderAndAtMostFive) {
    std::vector<MarkerEntry> e;
    InsertMarkerEntry(e, {1, 500});
    InsertMarkerEntry(e, {2, 100});
    InsertMarkerEntry(e, {3, 500}); // equal time: goes before the entry already there
    InsertMarkerEntry(e, {4, -20});
    EXPECT_EQ(e, (std::vector<MarkerEntry>{{4, -20}, {2, 100}, {3, 500}, {1, 500}}));
    InsertMarkerEntry(e, {1, 900});
    InsertMarkerEntry(e, {2, 1000}); // later than five entries: not added
    EXPECT_EQ(e.size(), 5u);
    EXPECT_EQ(e.back(), (MarkerEntry{1, 900}));
    InsertMarkerEntry(e, {3, 0}); // the last entry falls out
    EXPECT_EQ(e, (std::vector<MarkerEntry>{{4, -20}, {3, 0}, {2, 100}, {3, 500}, {1, 500}}));
    EXPECT_EQ(MarkerEntryText({1, 1234567}), "Marker A (  1s 234ms 567us)");
    EXPECT_EQ(MarkerEntryText({4, -61000001}), "Marker X (- 1min  1s 000ms 001us)");
}

TEST(ExportMarkers, GraphMarkersComeFromTheDocumentHook) {
    struct Hooks : IDocumentHooks {
        bool GraphMarkers(int64_t* o, int64_t* x) const override {
            *o = 700;
            *x = 50;
            return true;
        }
    } hooks;
    CCaptureStore store;
    traffic::Session s;
    s.Send(traffic::Header{3});
    s.Send(traffic::Header{3});
    s.DecodeInto(store);
    store.markerBPacket = store.PacketAt(0);
    const int64_t b = store.DisplayTime(*store.PacketAt(0));
    EXPECT_EQ(CollectMarkerEntries(store, &hooks), (std::vector<MarkerEntry>{{4, 50}, {3, 700}, {2, b}}));
    EXPECT_EQ(CollectMarkerEntries(store, nullptr), (std::vector<MarkerEntry>{{2, b}}));
}

TEST_F(ExportFixture, RangeResolvesFromNumbersMarkersAndTheCaptureEnds) {
    const CCaptureStore& st = Store();
    const int64_t p = int64_t(st.PacketCount());
    const auto at = [&](int64_t i) { return st.DisplayTime(*st.PacketAt(size_t(i))); };
    int64_t top = 0, end = 0;
    ASSERT_TRUE(CaptureTop(st, &top));
    ASSERT_TRUE(CaptureEnd(st, &end));
    EXPECT_EQ(top, 0); // the first sample is the origin
    EXPECT_EQ(end, std::max(st.DisplayTime(*st.SampleAt(st.SampleCount() - 1)), at(p - 1)));
    const std::vector<MarkerEntry> markers = {{1, at(3)}, {3, at(3) + 5}, {2, at(9)}};
    struct Case {
        int fromKind;
        int64_t from;
        int toKind;
        int64_t to;
        bool valid;
        int64_t start, end, toShown;
    } cases[] = {
        {kRangeCapture, 0, kRangeCapture, 0, true, top, end, 0},
        {kRangeNumber, 2, kRangeNumber, 7, true, at(2), at(7), 7},
        {kRangeNumber, 5, kRangeNumber, 5, true, at(5), at(5), 5},      // equal ends
        {kRangeNumber, 7, kRangeNumber, 2, false, 0, 0, 2},             // reversed
        {kRangeNumber, p, kRangeCapture, 0, false, 0, 0, 0},            // from past the last packet
        {kRangeNumber, -1, kRangeCapture, 0, false, 0, 0, 0},
        {kRangeNumber, 4, kRangeNumber, p + 50, true, at(4), at(p - 1), p - 1}, // shown as the last
        {kRangeMarker, 0, kRangeMarker, 2, true, at(3), at(9), 0},
        {kRangeMarker, 1, kRangeMarker, 0, false, 0, 0, 0},             // O after A
        {kRangeMarker, -1, kRangeMarker, 2, false, 0, 0, 0},            // none selected
        {kRangeMarker, 3, kRangeMarker, 2, false, 0, 0, 0},
        {kRangeCapture, 0, kRangeMarker, 1, true, top, at(3) + 5, 0},
    };
    for (const Case& c : cases) {
        ExportOptions o;
        o.fromKind = c.fromKind;
        o.toKind = c.toKind;
        if (c.fromKind == kRangeMarker) o.fromMarker = int(c.from);
        if (c.fromKind == kRangeNumber) o.fromNumber = c.from;
        if (c.toKind == kRangeMarker) o.toMarker = int(c.to);
        if (c.toKind == kRangeNumber) o.toNumber = c.to;
        int64_t s = -1, e = -1;
        const bool ok = ResolveRange(st, markers, o, &s, &e);
        SCOPED_TRACE(testing::Message() << "from " << c.fromKind << ":" << c.from << " to " << c.toKind << ":" << c.to);
        EXPECT_EQ(ok, c.valid);
        if (ok) {
            EXPECT_EQ(s, c.start);
            EXPECT_EQ(e, c.end);
        }
        if (c.toKind == kRangeNumber) {
            EXPECT_EQ(o.toNumber, c.toShown);
        }
    }
}

TEST(ExportRange, WithoutSamplesOnlyMarkersResolve) {
    CCaptureStore empty;
    ExportOptions o;
    int64_t s = 0, e = 0;
    EXPECT_FALSE(ResolveRange(empty, {}, o, &s, &e));
    o.fromKind = o.toKind = kRangeNumber;
    EXPECT_FALSE(ResolveRange(empty, {}, o, &s, &e));
    o.fromKind = o.toKind = kRangeMarker;
    o.fromMarker = 0;
    o.toMarker = 0;
    EXPECT_TRUE(ResolveRange(empty, {{3, 42}}, o, &s, &e));
    EXPECT_EQ(s, 42);
    EXPECT_EQ(e, 42);
}

TEST(ExportCsv, FixedTextsMatchPrintf) {
    char buf[64];
    std::string s;
    for (int v = 0; v <= 65535; ++v) {
        const float volts = float(v) / 1000.0f, amps = float(int16_t(v)) / 1000.0f;
        s.clear();
        AppendFixed(s, volts, 2);
        std::snprintf(buf, sizeof buf, "%2.2f", double(volts));
        ASSERT_EQ(s, buf) << v;
        s.clear();
        AppendFixed(s, amps, 3);
        std::snprintf(buf, sizeof buf, "%1.3f", double(amps));
        ASSERT_EQ(s, buf) << v;
    }
    std::mt19937 rng(7);
    for (int k = 0; k < 200000; ++k) {
        const float w = float(int16_t(rng())) * float(uint16_t(rng())) / 1000.0f / 1000.0f;
        s.clear();
        AppendFixed(s, w, 3);
        std::snprintf(buf, sizeof buf, "%.3f", double(w));
        ASSERT_EQ(s, buf) << w;
    }
    for (float w : {-0.0f, -0.0004f, 0.0005f, 0.0015f, -2.5e-9f, 1e30f}) {
        s.clear();
        AppendFixed(s, w, 3);
        std::snprintf(buf, sizeof buf, "%.3f", double(w));
        EXPECT_EQ(s, buf) << w;
    }
}

TEST_F(ExportFixture, PacketGoesFirstOnEqualTimesAndSamplesCarryOnlyValues) {
    // A store of its own whose packet 3 is moved onto a sample's time.
    CQXDoc d;
    ASSERT_TRUE(d.OpenDocument(dir->File("demo.qxc")));
    CCaptureStore& st = d.store;
    size_t k = 1;
    while (k + 1 < st.PacketCount() && !(st.PacketAt(k + 1)->startTime - st.PacketAt(k)->startTime > 20000)) ++k;
    ASSERT_LT(k + 1, st.PacketCount());
    // The first sample after packet k, before packet k+1 (samples come every 10 ms).
    const CVbusInfo* sample = nullptr;
    for (size_t i = 0; i < st.SampleCount() && !sample; ++i)
        if (st.SampleAt(i)->time > st.PacketAt(k)->startTime) sample = st.SampleAt(i);
    ASSERT_TRUE(sample && sample->time < st.PacketAt(k + 1)->startTime);
    CCCPacket& moved = *st.PacketAt(k);
    moved.startTime = sample->time;

    ExportOptions o;
    o.fileName = dir->File("equal.csv");
    o.exportItems = kItemsBoth;
    o.fromKind = o.toKind = kRangeNumber;
    o.fromNumber = o.toNumber = int64_t(k);
    int64_t s = 0, e = 0;
    ASSERT_TRUE(ResolveRange(st, {}, o, &s, &e));
    ToolFlags flags;
    ASSERT_TRUE(WriteCsv(st, o, s, e, flags));
    const auto lines = Lines(ReadText(o.fileName));
    ASSERT_EQ(lines.size(), 3u);
    const std::string time = "\"" + std::to_string(sample->time) + "\"";
    const std::string values = ",\"" + sample->VbusVoltageText() + "\",\"" + sample->VbusCurrentText(false) + "\",\"" +
                               sample->VbusPowerText(false) + "\"";
    EXPECT_EQ(lines[1].rfind(time + ",\"" + moved.GetColumnText(4, false) + "\"", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(",\"" + moved.GetColumnText(11, false) + "\""), std::string::npos);
    EXPECT_EQ(lines[2].rfind(time + values, 0), 0u) << lines[2];
    EXPECT_EQ(std::count(lines[2].begin(), lines[2].end(), ','), 7);
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), std::count(lines[1].begin(), lines[1].end(), ','));
}

TEST_F(ExportFixture, MessagesOnlyCarryEachPacketsReadingsAndProgressStaysAtZero) {
    ExportOptions o;
    o.fileName = dir->File("messages.csv");
    o.values[kVbusWattage] = false;
    o.invertCurrent = true;
    int64_t s = 0, e = 0;
    ASSERT_TRUE(ResolveRange(Store(), {}, o, &s, &e));
    ToolFlags flags;
    ASSERT_TRUE(WriteCsv(Store(), o, s, e, flags));
    EXPECT_EQ(flags.progress, 0);
    const auto lines = Lines(ReadText(o.fileName));
    ASSERT_EQ(lines.size(), Store().PacketCount() + 1);
    EXPECT_EQ(lines[0], "\"Timestamp[us]\",\"VBUS Voltage[V]\",\"VBUS Current[A]\",\"CC1 Voltage[V]\",\"CC1 "
                        "Current[A]\",\"CC2 Voltage[V]\",\"CC2 Current[A]\",\"#\",\"Timestamp\",\"CH\",\"OS\","
                        "\"Power\",\"Data\",\"Cable Plug\",\"Type\",\"Mes ID\",\"Description\"");
    const ColumnLayout layout = ColumnLayout::Defaults();
    for (size_t i = 0; i < Store().PacketCount(); ++i) {
        const CCCPacket& p = *Store().PacketAt(i);
        std::string expected = "\"" + std::to_string(Store().DisplayTime(p)) + "\"";
        for (int id : {4, 5, 28, 29, 30, 31}) expected += ",\"" + p.GetColumnText(id, true) + "\"";
        expected += GetCsvCells(p, layout, true, true);
        ASSERT_EQ(lines[i + 1], expected) << i;
    }
}

TEST_F(ExportFixture, AbortFailsAndAnUnwritableFileFails) {
    ExportOptions o;
    o.exportItems = kItemsBoth;
    int64_t s = 0, e = 0;
    ASSERT_TRUE(ResolveRange(Store(), {}, o, &s, &e));
    ToolFlags flags;
    o.fileName = dir->File("no-such-folder/x.csv");
    EXPECT_FALSE(WriteCsv(Store(), o, s, e, flags));
    EXPECT_FALSE(WriteRecordRange(Store(), o.fileName, s, e, flags));
    o.fileName = dir->File("aborted.csv");
    flags.abortRequest = true;
    EXPECT_FALSE(WriteCsv(Store(), o, s, e, flags));
    EXPECT_FALSE(WriteRecordRange(Store(), dir->File("aborted.qxc"), s, e, flags));
    // A record file that is gone fails the copy.
    CCaptureStore other;
    other.recordPath = dir->File("gone.qxc");
    flags.abortRequest = false;
    EXPECT_FALSE(WriteRecordRange(other, dir->File("x.qxc"), 0, 0, flags));
}

TEST_F(ExportFixture, CsvReadsBackWithAPythonCsvReader) {
    if (std::system("python3 -c 'import csv' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    // A message whose bytes hold a double quote and a comma, which the ASCII column shows as they are.
    CCaptureStore st;
    traffic::Session sess;
    sess.Send(traffic::Header{1, true, true}, {0x2C22222Cu, 0x0001912Cu});
    sess.Send(traffic::Header{1});
    sess.DecodeInto(st);
    ASSERT_EQ(st.PacketCount(), 2u);
    ASSERT_NE(st.PacketAt(0)->GetColumnText(36, false).find('"'), std::string::npos);
    ExportOptions o;
    o.fileName = dir->File("quoted.csv");
    o.exportItems = kItemsBoth;
    o.visibleColumnsOnly = false;
    int64_t s = 0, e = 0;
    ASSERT_TRUE(ResolveRange(st, {}, o, &s, &e));
    ToolFlags flags;
    ASSERT_TRUE(WriteCsv(st, o, s, e, flags));
    const std::string out = dir->File("quoted.txt");
    const std::string cmd = "python3 -c \"import csv,sys\nwith open(sys.argv[1], newline='') as f:\n"
                            " for row in csv.reader(f, strict=True): print(len(row), ' '.join(c.encode().hex() or '-' for c in row))\" " +
                            o.fileName + " > " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::istringstream in(ReadText(out));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream cells(line);
        size_t n = 0;
        cells >> n;
        std::vector<std::string> row;
        for (std::string hex; cells >> hex;) {
            std::string text;
            for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) text += char(std::stoi(hex.substr(i, 2), nullptr, 16));
            row.push_back(text);
        }
        ASSERT_EQ(row.size(), n);
        rows.push_back(row);
    }
    // Header, one sample (the origin), two packets; every row as wide as its kind says.
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].size(), 1u + 7u + 31u);
    EXPECT_EQ(rows[0][8], "#");
    EXPECT_EQ(rows[1].size(), 8u);
    for (int r : {2, 3}) {
        const CCCPacket& p = *st.PacketAt(size_t(r - 2));
        ASSERT_EQ(rows[size_t(r)].size(), rows[0].size());
        EXPECT_EQ(rows[size_t(r)][0], std::to_string(st.DisplayTime(p)));
        size_t c = 8;
        for (int position = 0; position < kColumnCount; ++position)
            for (int id = 0; id < kColumnCount; ++id)
                if (o.columns.position[id] == position && id != 4 && id != 5 && (id < 28 || id > 31) && id != 37) {
                    EXPECT_EQ(rows[size_t(r)][c++], p.GetColumnText(id, false)) << id;
                }
    }
}

TEST_F(ExportFixture, RangeBeforeTheFirstSampleStartsAtTheFileStart) {
    int64_t first = -1, last = -1;
    ASSERT_TRUE(RecordRangeOffsets(Store(), -100, 0, &first, &last));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last % 64, 63);
    const CCCPacket& p = *Store().PacketAt(10);
    ASSERT_TRUE(RecordRangeOffsets(Store(), Store().DisplayTime(p), Store().DisplayTime(p), &first, &last));
    EXPECT_EQ(first, std::min(Store().FindSampleAt(Store().DisplayTime(p))->fileOffset, p.startOffset));
    EXPECT_EQ(last, std::max(Store().FindSampleAt(Store().DisplayTime(p))->fileOffset + 63, p.endOffset));
}

// The range between two quiet moments decodes to the same packets, and the capture-top range to the
// whole file byte for byte.
TEST_F(ExportFixture, RecordRangeDecodesToThePacketsOfItsRange) {
    const CCaptureStore& st = Store();
    const auto quietBefore = [&](size_t i) { return st.PacketAt(i)->startTime - st.PacketAt(i - 1)->startTime > 5000; };
    size_t a = 5;
    while (a < st.PacketCount() && !quietBefore(a)) ++a;
    size_t b = a + 3;
    while (b + 1 < st.PacketCount() && !quietBefore(b + 1)) ++b;
    ASSERT_LT(b + 1, st.PacketCount());

    ExportOptions o;
    o.exportType = kExportQxc;
    o.fileName = dir->File("range.qxc");
    o.fromKind = o.toKind = kRangeNumber;
    o.fromNumber = int64_t(a);
    o.toNumber = int64_t(b);
    int64_t s = 0, e = 0;
    ASSERT_TRUE(ResolveRange(st, {}, o, &s, &e));
    ToolFlags flags;
    ASSERT_TRUE(RunExport(st, o, s, e, flags));
    EXPECT_EQ(flags.progress, 100);
    const auto bytes = ReadFile(o.fileName);
    ASSERT_EQ(bytes.size() % 64, 0u);

    CQXDoc part;
    ASSERT_TRUE(part.OpenDocument(o.fileName));
    // The file starts with the block of the sample at or before the start (or the start packet's first
    // block); its first sample is the new origin, and the packets from there on are in it.
    int64_t first = 0, last = 0;
    ASSERT_TRUE(RecordRangeOffsets(st, s, e, &first, &last));
    EXPECT_EQ(int64_t(bytes.size()), last - first + 1);
    const CVbusInfo* origin = nullptr;
    for (size_t i = 0; i < st.SampleCount() && !origin; ++i)
        if (st.SampleAt(i)->fileOffset >= first) origin = st.SampleAt(i);
    ASSERT_TRUE(origin);
    EXPECT_EQ(part.store.SampleAt(0)->vbusVoltage, origin->vbusVoltage);
    size_t from = a;
    while (from > 0 && st.PacketAt(from - 1)->startTime >= origin->time) --from;
    ASSERT_EQ(part.store.PacketCount(), b - from + 1);
    for (size_t i = 0; i < part.store.PacketCount(); ++i) {
        const CCCPacket& got = *part.store.PacketAt(i);
        const CCCPacket& want = *st.PacketAt(from + i);
        EXPECT_EQ(got.GetColumnText(35, false), want.GetColumnText(35, false)) << i;
        EXPECT_EQ(got.crcGood, want.crcGood) << i;
        EXPECT_EQ(got.channel, want.channel) << i;
        // Edge times run on from the first CC block the decoder takes up, which resynchronises only on a
        // drift of 500 µs: the packets keep their distances to one another (to the microsecond's rounding),
        // not necessarily to the sample origin.
        const int64_t gotSince = got.startTime - part.store.PacketAt(0)->startTime;
        const int64_t wantSince = want.startTime - st.PacketAt(from)->startTime;
        EXPECT_NEAR(double(gotSince), double(wantSince), 1.0) << i;
        EXPECT_NEAR(double(got.startTime), double(want.startTime - origin->time), 500.0) << i;
    }

    o.fromKind = o.toKind = kRangeCapture;
    o.fileName = dir->File("whole.qxc");
    ASSERT_TRUE(ResolveRange(st, {}, o, &s, &e));
    ASSERT_TRUE(RunExport(st, o, s, e, flags));
    const auto whole = ReadFile(o.fileName), original = ReadFile(st.recordPath);
    // From the first sample's block (the header block before it stays out) to the last item's block.
    ASSERT_TRUE(RecordRangeOffsets(st, s, e, &first, &last));
    EXPECT_EQ(first, st.SampleAt(0)->fileOffset);
    ASSERT_EQ(int64_t(whole.size()), last - first + 1);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), original.begin() + first));
    EXPECT_GE(whole.size() + 64 * 64, original.size() - size_t(first)); // at most the tail past the last item
}

} // namespace
