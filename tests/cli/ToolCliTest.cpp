// `qxtool export` and `qxtool stitch` run as a user runs them: the CSV and record-file ranges they
// write, saved markers as range ends, the stitched series and its name, and every bad input ending in
// one line on stderr and status 1 (2 for a wrong command line) with nothing lost.
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/RunTool.h"
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

    r = RunQxtool("export " + file + " -o " + dir.File("r.qxc") + " --qxc --from 3 --to 8");
    ASSERT_EQ(r.status, 0) << r.err;
    CQXDoc part;
    ASSERT_TRUE(part.OpenDocument(dir.File("r.qxc")));
    EXPECT_GE(part.store.PacketCount(), 6u);
    EXPECT_LT(ReadFile(dir.File("r.qxc")).size(), ReadFile(file).size());

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
    const Bytes original = ReadFile(file);
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
        {"export " + file + " -o " + file + " --qxc --overwrite", 1, "input file"},
        {"export " + file + " -o " + dir.File("x.csv"), 2, "--csv"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --from first", 2, "first"},
        {"export " + file + " -o " + dir.File("x.csv") + " --csv --items all", 2, "--items"},
        {"stitch " + dir.File("none_0001.qxc"), 1, "no such file"},
        {"stitch " + file, 1, "numbered series"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ExpectOneLineError(RunQxtool(c.args), c.status, c.what);
        EXPECT_FALSE(std::filesystem::exists(dir.File("x.csv")));
    }
    EXPECT_TRUE(ReadFile(file) == original);
    EXPECT_EQ(ReadFile(dir.File("taken.csv")), (Bytes{1, 2, 3}));
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
    Bytes joined;
    for (int i = 1; i <= 3; ++i) {
        const std::string path = Synth(d.File("Rec_000" + std::to_string(i) + ".qxc"), 1, uint32_t(i));
        const Bytes b = ReadFile(path);
        joined.insert(joined.end(), b.begin(), b.end());
    }
    WriteFile(d.File("Other_0002.qxc"), {1});
    RunResult r = RunQxtool("stitch " + d.File("Rec_0001.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Stitched file\t" + d.File("Stitched_Rec_0001-0003.qxc") + "\n", 0), 0u) << r.out;
    EXPECT_TRUE(ReadFile(d.File("Stitched_Rec_0001-0003.qxc")) == joined);

    // The name is taken now: the next free one, or the given output only with --overwrite.
    r = RunQxtool("stitch " + d.File("Rec_0001.qxc") + " --last 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Stitched_Rec_0001-0002.qxc"), std::string::npos);
    r = RunQxtool("stitch " + d.File("Rec_0001.qxc"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Stitched_Rec_0001-0003 (1).qxc"), std::string::npos);
    ExpectOneLineError(RunQxtool("stitch " + d.File("Rec_0001.qxc") + " -o " + d.File("Rec_0002.qxc") + " --overwrite"), 1,
                       "input file");
    ExpectOneLineError(RunQxtool("stitch " + d.File("Rec_0003.qxc")), 1, "no later file");
    WriteFile(d.File("Other_0001.qxc"), Bytes(4096, 'a'));
    ExpectOneLineError(RunQxtool("stitch " + d.File("Other_0001.qxc")), 1, "not a record file");
}

} // namespace
