// Export: output names and the extension follow-up, marker entries, range resolution, the CSV writer
// (merge order, value texts, quoting as a CSV reader sees it) and the record-file range, a record file
// of its own that must decode to the packets and samples of its range at their times.
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/DecodedPackets.h"
#include "support/RecordFiles.h"
#include "support/RunTool.h"
#include "support/Series.h"
#include "support/TempFiles.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
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

// Every packet the copy holds is one of the range's, in the same order, decoded alike and shown at
// the same time with the same readings; every sample of the range is there with its time and values;
// and the copy is a whole record file of its own.
void ExpectCopyOfRange(const CCaptureStore& original, int64_t start, int64_t end, const std::string& path) {
    rec::RecordFileHead head;
    std::string why;
    ASSERT_TRUE(rec::CheckRecordFile(path, &head, &why)) << why;
    EXPECT_EQ(head.size % 64, 0);
    EXPECT_GT(rec::HeaderBytesWritten(head), 0) << "a closed header block first";
    EXPECT_EQ(rec::MissingBytes(head), 0);
    // It names the analyzer the recording's header block names (entries 1 to 3).
    const auto source = ReadFile(original.recordPath);
    EXPECT_TRUE(std::equal(head.head.begin(), head.head.begin() + 24, source.begin()));
    CQXDoc copy;
    ASSERT_TRUE(copy.OpenDocument(path));
    const CCaptureStore& c = copy.store;
    std::vector<const CCCPacket*> want;
    for (size_t i = 0; i < original.PacketCount(); ++i) {
        const CCCPacket* p = original.PacketAt(i);
        if (original.DisplayTime(*p) >= start && original.DisplayTime(*p) <= end) want.push_back(p);
    }
    ASSERT_EQ(c.PacketCount(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "packet " << want[k]->index);
        CCCPacket& got = *c.PacketAt(k);
        EXPECT_EQ(got.GetColumnText(kColumnTimestamp, false), want[k]->GetColumnText(kColumnTimestamp, false));
        EXPECT_EQ(got.GetColumnText(kColumnVbusVoltage, false), want[k]->GetColumnText(kColumnVbusVoltage, false));
        got.startTime = want[k]->startTime; // capture-relative times count from the copy's own origin
        testdecoded::ExpectSameDecode(*want[k], got);
    }
    for (size_t i = 0; i < original.SampleCount(); ++i) {
        const CVbusInfo& s = *original.SampleAt(i);
        const int64_t t = original.DisplayTime(s);
        if (t < start || t > end) continue;
        const CVbusInfo* got = c.FindSampleAt(t);
        ASSERT_TRUE(got && c.DisplayTime(*got) == t) << "sample at " << t;
        EXPECT_EQ(got->vbusVoltage, s.vbusVoltage) << t;
        EXPECT_EQ(got->vbusCurrent, s.vbusCurrent) << t;
        EXPECT_EQ(got->cc1Voltage, s.cc1Voltage) << t;
    }
}

// Ranges that begin in the middle of traffic, between packets, at one packet, and the whole capture:
// each copy decodes to its range.
TEST_F(ExportFixture, RecordRangeDecodesToThePacketsOfItsRange) {
    const CCaptureStore& st = Store();
    const auto at = [&](size_t i) { return st.DisplayTime(*st.PacketAt(i)); };
    // A packet that follows the one before it closely (a reply), well into the capture.
    size_t reply = 8;
    while (reply + 4 < st.PacketCount() && at(reply) - at(reply - 1) > 1000) ++reply;
    ASSERT_LT(reply + 4, st.PacketCount());
    int64_t top = 0, bottom = 0;
    ASSERT_TRUE(CaptureTop(st, &top));
    ASSERT_TRUE(CaptureEnd(st, &bottom));
    const size_t late = st.PacketCount() * 2 / 3;
    struct Case {
        const char* what;
        int64_t start, end;
    } cases[] = {
        {"from a reply on", at(reply), at(reply + 3)},
        {"one packet", at(reply + 1), at(reply + 1)},
        {"between packets", at(late) - 1, at(late + 5) + 1},
        {"the whole capture", top, bottom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir->File("range.qxc");
        ToolFlags flags;
        ASSERT_TRUE(WriteRecordRange(st, out, c.start, c.end, flags)) << flags.reason;
        EXPECT_EQ(flags.progress, 100);
        ExpectCopyOfRange(st, c.start, c.end, out);
    }
    // The whole capture's stream comes over byte for byte from its first block, behind a header block
    // of the copy's own that counts it.
    const auto whole = ReadFile(dir->File("range.qxc")), original = ReadFile(st.recordPath);
    const int64_t copied = rec::HeaderBytesWritten({int64_t(whole.size()), whole});
    ASSERT_GT(copied, 0);
    ASSERT_LE(64 + copied, int64_t(original.size()));
    EXPECT_TRUE(std::equal(whole.begin() + 64, whole.begin() + 64 + copied, original.begin() + 64));
}

// Record files where a start near the range seldom agrees: the analyzer clock passes 2^32 µs before
// the range (a copy from there extends its stamps from zero), the block numbering breaks before the
// range (the recording took both lines up afresh there), and the finest clock, divisor 1, where a
// start agrees on one tick in 48 only. Each copy still decodes to its range.
TEST(ExportRange, AwkwardRecordFilesStillCopyTheirRange) {
    struct Case {
        const char* what;
        uint16_t clock;
        uint32_t baseTime;
        bool dropBlock;
    } cases[] = {
        {"clock wraps", 0, 0xFFFFFFFFu - 1500000, false},
        {"numbering breaks", 0, 0, true},
        {"divisor 1", 0x100, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir d;
        synth::Scenario sc;
        ASSERT_TRUE(synth::BuiltinScenario("demo", &sc));
        synth::SynthOptions o;
        o.seconds = 4;
        o.clockSetting = c.clock;
        o.baseTime = c.baseTime;
        testseries::Bytes stream = synth::SynthesizeStream(sc, o);
        // The break: a CC block at two fifths of the stream goes missing.
        size_t cut = stream.size() * 2 / 5 / 64 * 64;
        while (c.dropBlock && (stream[cut + 1] & 0x20)) cut += 64;
        if (c.dropBlock) stream.erase(stream.begin() + std::ptrdiff_t(cut), stream.begin() + std::ptrdiff_t(cut + 64));
        testseries::Bytes file = testrec::ClosedHeader(stream.size());
        file.insert(file.end(), stream.begin(), stream.end());
        WriteFile(d.File("awkward.qxc"), file);
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(d.File("awkward.qxc")));
        const CCaptureStore& st = doc.store;
        // The first packet well past the wrap or the break, or at half the capture.
        size_t i = 0;
        while (i + 3 < st.PacketCount() &&
               (c.baseTime ? st.PacketAt(i)->absStartTime < (int64_t(1) << 32) + 500000
                           : st.PacketAt(i)->startOffset < int64_t(c.dropBlock ? cut + 64 * 40 : file.size() / 2)))
            ++i;
        ASSERT_LT(i + 3, st.PacketCount());
        const int64_t start = st.DisplayTime(*st.PacketAt(i)), end = st.DisplayTime(*st.PacketAt(i + 3));
        ToolFlags flags;
        ASSERT_TRUE(WriteRecordRange(st, d.File("range.qxc"), start, end, flags)) << flags.reason;
        ExpectCopyOfRange(st, start, end, d.File("range.qxc"));
    }
}

// Rule findings of `qxtool check` that a packet is invalid, by the time shown.
std::set<std::string> InvalidPacketTimes(const std::string& file) {
    const RunResult r = RunQxtool("check " + file);
    std::set<std::string> times;
    for (const std::string& line : Split(r.out, '\n')) {
        const std::vector<std::string> cells = Split(line, '\t');
        if (cells.size() > 2 && cells[1] == "invalid-packet") times.insert(cells[2]);
    }
    return times;
}

// qxtool's range between the saved markers A and B of a recording, which begins with a reply: the
// copy checks as the original does, and carries the marks that lie in the range (A, B and a bookmark)
// and none of those outside it.
TEST_F(ExportFixture, MarkerRangeKeepsItsMarksAndChecksAsTheOriginal) {
    CQXDoc d;
    ASSERT_TRUE(d.OpenDocument(dir->File("demo.qxc")));
    CCaptureStore& st = d.store;
    const auto at = [&](size_t i) { return st.DisplayTime(*st.PacketAt(i)); };
    size_t a = 12;
    while (a + 8 < st.PacketCount() && at(a) - at(a - 1) > 1000) ++a;
    ASSERT_LT(a + 8, st.PacketCount());
    const size_t b = a + 6;
    st.markerAPacket = st.PacketAt(a);
    st.markerBPacket = st.PacketAt(b);
    for (size_t i : {a - 1, a + 2, b + 1}) st.PacketAt(i)->bookmarked = true;
    d.SetMarksChanged();
    const std::string marked = dir->File("marked.qxc"), copy = dir->File("marked_range.qxc");
    ASSERT_TRUE(d.SaveDocument(marked));
    const RunResult r = RunQxtool("export " + marked + " -o " + copy + " --qxc --from A --to B --overwrite");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ExpectCopyOfRange(st, at(a), at(b), copy);

    CQXDoc c;
    ASSERT_TRUE(c.OpenDocument(copy));
    ASSERT_TRUE(c.store.markerAPacket && c.store.markerBPacket);
    EXPECT_EQ(c.store.DisplayTime(*c.store.markerAPacket), at(a));
    EXPECT_EQ(c.store.DisplayTime(*c.store.markerBPacket), at(b));
    std::vector<int64_t> bookmarks;
    for (size_t i = 0; i < c.store.PacketCount(); ++i)
        if (c.store.PacketAt(i)->bookmarked) bookmarks.push_back(c.store.DisplayTime(*c.store.PacketAt(i)));
    EXPECT_EQ(bookmarks, std::vector<int64_t>{at(a + 2)});

    const std::set<std::string> original = InvalidPacketTimes(marked), copied = InvalidPacketTimes(copy);
    for (const std::string& t : copied) EXPECT_TRUE(original.count(t)) << "invalid packet at " << t << " only in the copy";
}

// A capture without VBUS samples, as an import of a logic capture makes it (the origin entry of its
// header block times the packets): n messages on CC1, each 200 µs after the one before.
std::string WriteCaptureWithoutSamples(const TempDir& d, int n) {
    std::vector<uint8_t> stream;
    enc::CRecordEncoder e({}, enc::AppendTo(stream));
    double t = 50;
    for (int i = 0; i < n; ++i) {
        const traffic::Header h{i % 2 ? 1 : 3, i % 2 == 0, i % 2 == 0, 2, i % 8};
        const enc::PlacedFrame f = e.AddMessage(0, t, kKindSop, traffic::Bytes(h.Word()));
        t = double(f.lastTick - e.OriginTick()) * e.Divisor() / 48.0 + 200;
        e.AdvanceTo(t);
    }
    e.Finish(t + 100);
    std::vector<uint8_t> file = testrec::ClosedHeader(stream.size());
    rec::AddCaptureOriginEntry(file.data(), 0);
    file.insert(file.end(), stream.begin(), stream.end());
    WriteFile(d.File("nosamples.qxc"), file);
    return d.File("nosamples.qxc");
}

TEST(ExportRange, CaptureWithoutSamplesCopiesOnlyItsRange) {
    TempDir d;
    const std::string file = WriteCaptureWithoutSamples(d, 40);
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(file));
    const CCaptureStore& st = doc.store;
    ASSERT_EQ(st.PacketCount(), 40u);
    ASSERT_EQ(st.SampleCount(), 0u);
    const RunResult r = RunQxtool("export " + file + " -o " + d.File("range.qxc") + " --qxc --from 30 --to 33");
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectCopyOfRange(st, st.DisplayTime(*st.PacketAt(30)), st.DisplayTime(*st.PacketAt(33)), d.File("range.qxc"));
    const RunResult read = RunQxtool("packets " + d.File("range.qxc"));
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.err, "") << "the copy reads without a warning";
    EXPECT_EQ(Split(read.out, '\n').size(), 1u + 4u);
}

// Shared real captures: a copy from each packet on, three packets long, decodes to its range.
TEST(ExportRange, EveryStartInRealCapturesDecodesToItsRange) {
    const std::filesystem::path folder = AMBRIO_CAPTURES_DIR;
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no captures folder";
    TempDir d;
    for (const char* name : {"macbook_2015-apple_power_brick.qxc", "pixel_2015-power_supply_20V-clock4.qxc"}) {
        SCOPED_TRACE(name);
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument((folder / name).string()));
        const CCaptureStore& st = doc.store;
        ASSERT_GT(st.PacketCount(), 20u);
        for (size_t i = 0; i < st.PacketCount(); ++i) {
            SCOPED_TRACE(testing::Message() << "from packet " << i);
            const int64_t start = st.DisplayTime(*st.PacketAt(i));
            const int64_t end = st.DisplayTime(*st.PacketAt(std::min(i + 2, st.PacketCount() - 1)));
            ToolFlags flags;
            ASSERT_TRUE(WriteRecordRange(st, d.File("range.qxc"), start, end, flags)) << flags.reason;
            ExpectCopyOfRange(st, start, end, d.File("range.qxc"));
            if (HasFailure()) return;
        }
    }
}

} // namespace
