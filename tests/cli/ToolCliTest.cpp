// `qxtool export` and `qxtool stitch` run as a user runs them: the CSV and record-file ranges they
// write, saved markers as range ends, the stitched series and its name, and every bad input ending in
// one line on stderr and status 1 (2 for a wrong command line) with nothing lost.
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "RecordRange.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/DecodedPackets.h"
#include "support/FileSizeLimit.h"
#include "support/RunTool.h"
#include "support/Series.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

std::string Synth(const std::string& path, double seconds, uint32_t seed = 1) {
    synth::Scenario sc;
    synth::BuiltinScenario("demo", &sc);
    synth::SynthOptions o;
    o.seconds = seconds;
    o.seed = seed;
    std::string error;
    EXPECT_TRUE(synth::WriteScenarioFile(path, sc, o, &error)) << error;
    return path;
}

std::vector<std::string> CsvLines(const std::string& path) {
    const Bytes b = ReadFile(path);
    std::vector<std::string> lines;
    std::string text(b.begin(), b.end());
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find("\r\n", at);
        if (end == std::string::npos) break;
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

void ExpectOneLineError(const RunResult& r, int status, const std::string& what) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}

class ToolCli : public ::testing::Test {
protected:
    void SetUp() override {
        file = Synth(dir.File("cap.qxc"), 4);
        ASSERT_TRUE(doc.OpenDocument(file));
        ASSERT_GT(doc.store.PacketCount(), 10u);
    }
    TempDir dir;
    std::string file;
    CQXDoc doc;
};

TEST_F(ToolCli, ExportsAPacketRangeAsCsvAndAsARecordFile) {
    RunResult r = RunQxtool("export " + file + " -o " + dir.File("r.csv") + " --csv --from 3 --to 8 --items messages");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = CsvLines(dir.File("r.csv"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].rfind("\"Timestamp[us]\",\"VBUS Voltage[V]\"", 0), 0u);
    for (int i = 3; i <= 8; ++i) {
        const CCCPacket& p = *doc.store.PacketAt(size_t(i));
        EXPECT_EQ(lines[size_t(i - 2)].rfind("\"" + std::to_string(doc.store.DisplayTime(p)) + "\"", 0), 0u);
        EXPECT_NE(lines[size_t(i - 2)].find(",\"" + std::to_string(i) + "\","), std::string::npos) << lines[size_t(i - 2)];
    }

    // Every column, and samples: as wide as the header, the sample lines only 8 cells.
    r = RunQxtool("export " + file + " -o " + dir.File("all.csv") + " --csv --all-columns");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto all = CsvLines(dir.File("all.csv"));
    EXPECT_EQ(all.size(), 1 + doc.store.PacketCount() + doc.store.SampleCount());
    EXPECT_EQ(std::count(all[0].begin(), all[0].end(), ','), 7 + 31);

    // The record blocks of the range unchanged behind a header block of the copy's own: exactly the
    // source's packets 3 to 8, decoded alike and shown at their times.
    r = RunQxtool("export " + file + " -o " + dir.File("r.qxc") + " --qxc --from 3 --to 8");
    ASSERT_EQ(r.status, 0) << r.err;
    ExportOptions o;
    o.fromKind = o.toKind = kRangeNumber;
    o.fromNumber = 3;
    o.toNumber = 8;
    int64_t start = 0, end = 0;
    ASSERT_TRUE(ResolveRange(doc.store, {}, o, &start, &end));
    RecordRangePlan plan;
    std::string why;
    const std::atomic<bool> running{false};
    ASSERT_TRUE(PlanRecordRange(doc.store, start, end, running, &plan, &why)) << why;
    const Bytes source = ReadFile(file), range = ReadFile(dir.File("r.qxc"));
    const int64_t copied = plan.last - plan.first + 1;
    ASSERT_GE(int64_t(range.size()), 64 + copied);
    EXPECT_TRUE(std::equal(range.begin() + 64, range.begin() + 64 + copied, source.begin() + plan.first));
    CQXDoc part;
    ASSERT_TRUE(part.OpenDocument(dir.File("r.qxc")));
    ASSERT_EQ(part.store.PacketCount(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        const CCCPacket& want = *doc.store.PacketAt(3 + i);
        SCOPED_TRACE(testing::Message() << "packet " << want.index);
        CCCPacket& got = *part.store.PacketAt(i);
        EXPECT_EQ(part.store.DisplayTime(got), doc.store.DisplayTime(want));
        got.startTime = want.startTime;
        testdecoded::ExpectSameDecode(want, got);
    }

    // Past the last packet: exported up to it, with a note.
    r = RunQxtool("export " + file + " -o " + dir.File("tail.csv") + " --csv --from 5 --to 99999 --items messages");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("note"), std::string::npos);
    EXPECT_EQ(CsvLines(dir.File("tail.csv")).size(), doc.store.PacketCount() - 5 + 1);
}

TEST_F(ToolCli, SavedMarkersAreRangeEnds) {
    doc.store.markerAPacket = doc.store.PacketAt(2);
    doc.store.markerBPacket = doc.store.PacketAt(6);
    doc.SetMarksChanged();
    const std::string marked = dir.File("marked.qxc");
    ASSERT_TRUE(doc.SaveDocument(marked));
    RunResult r = RunQxtool("export " + marked + " -o " + dir.File("ab.csv") + " --csv --from a --to B --items messages");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CsvLines(dir.File("ab.csv")).size(), 1u + 5u);
    r = RunQxtool("export " + marked + " -o " + dir.File("o.csv") + " --csv --from O");
    ExpectOneLineError(r, 1, "marker O is not set");
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.csv")));
}

TEST_F(ToolCli, BadInputsEndInOneLineAndLoseNothing) {
    WriteFile(dir.File("text.qxc"), Bytes(4096, 'a'));
    WriteFile(dir.File("taken.csv"), {1, 2, 3});
    std::filesystem::create_symlink(file, dir.File("link.qxc"));
    const auto before = testseries::FolderContents(dir.Path());
    struct Case {
        std::string args;
        int status;
        std::string what;
    } cases[] = {
        {"export " + dir.File("none.qxc") + " -o " + dir.File("x.csv") + " --csv", 1, "none.qxc"},
        {"export " + dir.File("text.qxc") + " -o " + dir.File("x.csv") + " --csv", 1, "not a record file"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --from 100000", 1, "holds nothing"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --from 8 --to 3", 1, "holds nothing"},
        {"export " + file + " -o " + dir.File("no/x.csv") + " --csv", 1, "cannot be written"},
        {"export " + file + " -o " + dir.File("taken.csv") + " --csv", 1, "--overwrite"},
        {"export " + file + " -o " + file + " --qxc --overwrite", 1, file + ": is an input file; choose another output"},
        {"export " + file + " -o " + file + " --csv --overwrite", 1, "is an input file"},
        {"export " + file + " -o " + dir.File("link.qxc") + " --qxc --overwrite", 1, "is an input file"},
        {"export " + file + " -o " + dir.File("x.csv"), 2, "--csv"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --from first", 2, "first"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --items all", 2, "--items"},
        {"stitch " + dir.File("none_0001.qxc"), 1, "no such file"},
        {"stitch " + file, 1, "numbered series"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ExpectOneLineError(RunQxtool(c.args), c.status, c.what);
        EXPECT_TRUE(testseries::FolderContents(dir.Path()) == before);
    }
    // A disk that fills up while the output is written: the reason, and no output or temporary file.
    for (const char* type : {" --csv", " --qxc"}) {
        SCOPED_TRACE(type);
        RunResult r;
        {
            CFileSizeLimit fullDisk(4096);
            r = RunQxtool("export " + file + " -o " + dir.File("x.csv") + type);
        }
        ExpectOneLineError(r, 1, dir.File("x.csv") + ": cannot be written: File too large");
        EXPECT_TRUE(testseries::FolderContents(dir.Path()) == before);
    }
}

// --tolerant decodes the file as the window's tolerant mode does, so an export of traffic whose high
// half-bits are stretched holds its messages; without it the rules read next to none of them.
TEST(ToolCliExport, TolerantDecodingGivesTheStretchedMessages) {
    TempDir dir;
    synth::Scenario sc;
    synth::BuiltinScenario("demo", &sc);
    synth::SynthOptions o;
    o.seconds = 4;
    std::string error;
    ASSERT_TRUE(synth::WriteScenarioFile(dir.File("plain.qxc"), sc, o, &error)) << error;
    o.highStretch = 1.0;
    ASSERT_TRUE(synth::WriteScenarioFile(dir.File("stretched.qxc"), sc, o, &error)) << error;
    // Rows naming a message type (the Type cell is the CSV's 16th).
    const auto typedRows = [&](const std::string& input, const std::string& flags) {
        const std::string out = dir.File("out.csv");
        const RunResult r = RunQxtool("export " + dir.File(input) + " -o " + out + " --csv --items messages --overwrite" + flags);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> types;
        for (const std::string& line : CsvLines(out)) {
            std::vector<std::string> cells;
            std::stringstream in(line);
            for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
            if (cells.size() > 15 && cells[15] != "\"\"" && cells[15] != "\"Type\"") types.push_back(cells[15]);
        }
        return types;
    };
    const std::vector<std::string> plain = typedRows("plain.qxc", "");
    ASSERT_GT(plain.size(), 20u);
    EXPECT_EQ(typedRows("plain.qxc", " --tolerant"), plain) << "what the rules read stays as it is";
    EXPECT_LT(typedRows("stretched.qxc", "").size(), plain.size() / 4);
    EXPECT_EQ(typedRows("stretched.qxc", " --tolerant"), plain);
}

TEST(ToolCliStitch, JoinsTheSeriesUnderItsNumberedName) {
    TempDir d;
    const Bytes joined = testseries::WriteSeries(d.Path().string(), "Rec", testseries::Stream("demo", 3), 3).stitched;
    WriteFile(d.File("Other_0002.qxc"), {1});
    RunResult r = RunQxtool("stitch " + d.File("Rec_0001.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Stitched file\t" + d.File("Stitched_Rec_0001-0003.qxc") + "\n", 0), 0u) << r.out;
    EXPECT_TRUE(ReadFile(d.File("Stitched_Rec_0001-0003.qxc")) == joined);
    // Its header block counts all the stitched file holds: no bytes are said to be missing.
    r = RunQxtool("info " + d.File("Stitched_Rec_0001-0003.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Bytes written\t" + std::to_string(joined.size() - 64) + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");

    // The name is taken now: the next free one, or the given output only with --overwrite.
    r = RunQxtool("stitch " + d.File("Rec_0001.qxc") + " --last 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Stitched_Rec_0001-0002.qxc"), std::string::npos);
    r = RunQxtool("stitch " + d.File("Rec_0001.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Stitched_Rec_0001-0003 (1).qxc"), std::string::npos);
    ExpectOneLineError(RunQxtool("stitch " + d.File("Rec_0001.qxc") + " -o " + d.File("Rec_0002.qxc") + " --overwrite"), 1,
                       d.File("Rec_0002.qxc") + ": is an input file; choose another output");
    ExpectOneLineError(RunQxtool("stitch " + d.File("Rec_0003.qxc")), 1, "no later file");
    WriteFile(d.File("Other_0001.qxc"), Bytes(4096, 'a'));
    ExpectOneLineError(RunQxtool("stitch " + d.File("Other_0001.qxc")), 1, "not a record file");
}

// A series recorded anew over an older, longer one: the older one's later files are left out with a
// note naming the first and why, and asking for them with --last is refused without writing anything.
TEST(ToolCliStitch, StopsAtAFileOfAnotherRecording) {
    TempDir d;
    const std::string folder = d.Path().string();
    testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 8, 1), 4);
    const Bytes own = testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 3, 2), 2).stitched;
    const auto before = testseries::FolderContents(d.Path());

    for (const char* last : {" --last 3", " --last 4"}) {
        SCOPED_TRACE(last);
        ExpectOneLineError(RunQxtool("stitch " + d.File("rec_0001.qxc") + last), 1,
                           "rec_0003.qxc does not continue rec_0002.qxc: its first VBUS sample comes ");
        EXPECT_TRUE(testseries::FolderContents(d.Path()) == before);
    }
    ExpectOneLineError(RunQxtool("stitch " + d.File("rec_0002.qxc")), 1, "rec_0003.qxc does not continue rec_0002.qxc");
    EXPECT_TRUE(testseries::FolderContents(d.Path()) == before);

    RunResult r = RunQxtool("stitch " + d.File("rec_0001.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.rfind("qxtool: note: rec_0003.qxc does not continue rec_0002.qxc: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; rec_0003.qxc and the files after it are left out\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "Stitched file\t" + d.File("Stitched_rec_0001-0002.qxc") + "\nJoined\t" + d.File("rec_0001.qxc") +
                         "\nJoined\t" + d.File("rec_0002.qxc") + "\n");
    EXPECT_TRUE(ReadFile(d.File("Stitched_rec_0001-0002.qxc")) == own);

    r = RunQxtool("stitch " + d.File("rec_0001.qxc") + " --last 2 -o " + d.File("two.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(ReadFile(d.File("two.qxc")) == own);
}

} // namespace
