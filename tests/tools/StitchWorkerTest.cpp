// Stitching: file numbers, the series listing and its candidates, the contiguous selection, the output
// name, the copy and its failures, and a recorded series that stitched decodes like the unsplit stream.
#include "CaptureStore.h"
#include "QXDoc.h"
#include "StitchWorker.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> Names(const std::vector<SeriesFile>& files) {
    std::vector<std::string> names;
    for (const SeriesFile& f : files) names.push_back(f.name);
    return names;
}

TEST(StitchNames, FileNumbersReadTheFourDigitsAsNibbles) {
    struct Case {
        const char* name;
        int number; // -1: no file number
    } cases[] = {
        {"rec_0001.qxc", 1},  {"rec_0012.QXC", 0x12}, {"_9999.qxc", 0x9999}, {"a_b_0100.Qxc", 0x100},
        {"rec_001.qxc", -1},  {"rec-0001.qxc", -1},   {"rec_00a1.qxc", -1},  {"rec_0001.csv", -1},
        {"rec0001.qxc", -1},  {"0001.qxc", -1},       {"rec_0001.qxc.bak", -1},
    };
    for (const Case& c : cases) {
        int n = -1;
        EXPECT_EQ(FileNumber(c.name, &n), c.number >= 0) << c.name;
        if (c.number >= 0) {
            EXPECT_EQ(n, c.number) << c.name;
        }
    }
}

TEST(StitchNames, ListsTheSeriesFilesAndTheCandidatesAfterTheBase) {
    TempDir d;
    for (const char* name : {"rec_0003.qxc", "rec_0001.qxc", "rec_0002.qxc", "other_0002.qxc", "rec.qxc",
                             "rec_0004.txt", "recX0005.qxc"})
        WriteFile(d.File(name), {1});
    std::filesystem::create_directory(d.File("rec_0006.qxc"));
    const std::string folder = d.Path().string();
    EXPECT_EQ(Names(ListSeriesFiles(folder)),
              (std::vector<std::string>{"other_0002.qxc", "rec_0001.qxc", "rec_0002.qxc", "rec_0003.qxc"}));
    EXPECT_EQ(Names(ListCandidates(folder, d.File("rec_0001.qxc"))),
              (std::vector<std::string>{"rec_0002.qxc", "rec_0003.qxc"}));
    EXPECT_EQ(Names(ListCandidates(folder, d.File("rec_0002.qxc"))), (std::vector<std::string>{"rec_0003.qxc"}));
    EXPECT_TRUE(ListCandidates(folder, d.File("rec_0003.qxc")).empty());
    EXPECT_TRUE(ListCandidates(folder, d.File("other_0002.qxc")).empty());
    EXPECT_TRUE(ListCandidates(folder, d.File("rec.qxc")).empty());
    EXPECT_TRUE(ListSeriesFiles(d.File("no-such-folder")).empty());
}

TEST(StitchNames, SelectionStaysContiguous) {
    struct Case {
        std::vector<bool> before; // after the click's own toggle
        size_t clicked;
        std::vector<bool> after;
    } cases[] = {
        {{false, true, false, false}, 1, {true, true, false, false}},   // the second selects the first
        {{false, false, false, true}, 3, {true, true, true, true}},
        {{false, true, true, false}, 0, {false, false, false, false}},  // deselecting the first clears all
        {{true, true, false, true}, 2, {true, true, false, false}},
        {{true, false}, 5, {true, false}},                              // no such item
    };
    for (Case c : cases) {
        KeepContiguous(c.before, c.clicked);
        EXPECT_EQ(c.before, c.after) << c.clicked;
    }
}

TEST(StitchNames, OutputNameCarriesTheLastNumberAndAFreeSuffix) {
    TempDir d;
    const std::string folder = d.Path().string();
    const auto file = [&](const char* name, int number) { return SeriesFile{name, d.File(name), number}; };
    const std::vector<SeriesFile> c = {file("rec_0002.qxc", 2), file("rec_0003.qxc", 3), file("rec_0012.qxc", 0x12)};
    EXPECT_EQ(StitchOutputPath(folder, "rec_0001.qxc", c, {true, true, false}), d.File("Stitched_rec_0001-0003.qxc"));
    EXPECT_EQ(StitchOutputPath(folder, "rec_0001.QXC", c, {true, true, true}), d.File("Stitched_rec_0001-0012.qxc"));
    EXPECT_EQ(StitchOutputPath(folder, "rec_0001.qxc", c, {false, false, false}), "");
    EXPECT_EQ(StitchOutputPath(folder, "rec_0000.qxc", {file("rec_0001.qxc", 1)}, {true}), ""); // below 2
    WriteFile(d.File("Stitched_rec_0001-0003.qxc"), {});
    EXPECT_EQ(StitchOutputPath(folder, "rec_0001.qxc", c, {true, true, false}),
              d.File("Stitched_rec_0001-0003 (1).qxc"));
    WriteFile(d.File("Stitched_rec_0001-0003 (1).qxc"), {});
    EXPECT_EQ(StitchOutputPath(folder, "rec_0001.qxc", c, {true, true, false}),
              d.File("Stitched_rec_0001-0003 (2).qxc"));
}

TEST(StitchCopy, JoinsTheFilesByteForByteAndFailsOnWhatItCannotRead) {
    TempDir d;
    Bytes a(3 * 1048576 + 17), b(64 * 3);
    for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i * 7 + (i >> 20));
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(255 - i);
    WriteFile(d.File("a_0001.qxc"), a);
    WriteFile(d.File("a_0002.qxc"), b);
    WriteFile(d.File("a_0003.qxc"), {});
    ToolFlags flags;
    ASSERT_TRUE(StitchFiles({d.File("a_0001.qxc"), d.File("a_0002.qxc"), d.File("a_0003.qxc")}, d.File("out.qxc"), flags));
    EXPECT_EQ(flags.progress, 100);
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    EXPECT_TRUE(ReadFile(d.File("out.qxc")) == joined);

    EXPECT_FALSE(StitchFiles({d.File("a_0001.qxc"), d.File("gone_0002.qxc")}, d.File("out2.qxc"), flags));
    EXPECT_FALSE(std::filesystem::exists(d.File("out2.qxc"))); // measured before the output is made
    EXPECT_FALSE(StitchFiles({d.File("a_0001.qxc")}, d.File("no-folder/out.qxc"), flags));
    flags.abortRequest = true;
    EXPECT_FALSE(StitchFiles({d.File("a_0001.qxc"), d.File("a_0002.qxc")}, d.File("aborted.qxc"), flags));
    EXPECT_TRUE(std::filesystem::exists(d.File("aborted.qxc"))); // the partial output stays
}

TEST(StitchCopy, RunsOnTheWorkerThreadAndReportsThroughTheFlags) {
    TempDir d;
    WriteFile(d.File("w_0001.qxc"), Bytes(5000, 1));
    WriteFile(d.File("w_0002.qxc"), Bytes(64, 2));
    CToolWorker worker;
    const std::vector<std::string> files = {d.File("w_0001.qxc"), d.File("w_0002.qxc")};
    ASSERT_TRUE(worker.Start([&](ToolFlags& f) { return StitchFiles(files, d.File("w.qxc"), f); }));
    worker.Join();
    EXPECT_TRUE(worker.flags.done);
    EXPECT_FALSE(worker.flags.failed);
    EXPECT_FALSE(worker.flags.running);
    EXPECT_EQ(ReadFile(d.File("w.qxc")).size(), 5064u);
    ASSERT_TRUE(worker.Start([&](ToolFlags& f) { return StitchFiles({d.File("none")}, d.File("x.qxc"), f); }));
    worker.Join();
    EXPECT_TRUE(worker.flags.done);
    EXPECT_TRUE(worker.flags.failed);
}

// A recording split into a series of 1 MB files and stitched decodes to the packets and samples of the
// unsplit stream; the header blocks of the appended files lie in it as marker blocks.
TEST(StitchCopy, StitchedSeriesDecodesLikeTheUnsplitStream) {
    TempDir d;
    const RunResult r = RunQxtool("record --emulate=pps --seconds 90 --speed 100 --multi --max-file-size 1 "
                                  "--caption Rec --folder " + d.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<SeriesFile> series = ListSeriesFiles(d.Path().string());
    ASSERT_GE(series.size(), 3u);
    const std::vector<SeriesFile> candidates = ListCandidates(d.Path().string(), series[0].path);
    ASSERT_EQ(candidates.size(), series.size() - 1);
    std::vector<bool> selected(candidates.size(), false);
    selected.back() = true;
    KeepContiguous(selected, candidates.size() - 1);
    const std::string out = StitchOutputPath(d.Path().string(), series[0].name, candidates, selected);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Stitched_Rec_0001-%04d.qxc", int(series.size()));
    ASSERT_EQ(out, d.File(expected));

    std::vector<std::string> files = {series[0].path};
    Bytes unsplit = ReadFile(series[0].path);
    for (const SeriesFile& f : candidates) {
        files.push_back(f.path);
        const Bytes b = ReadFile(f.path);
        unsplit.insert(unsplit.end(), b.begin() + 64, b.end());
    }
    ToolFlags flags;
    ASSERT_TRUE(StitchFiles(files, out, flags));
    const std::string unsplitPath = d.File("unsplit.bin");
    WriteFile(unsplitPath, unsplit);

    CQXDoc stitched, whole;
    ASSERT_TRUE(stitched.OpenDocument(out));
    ASSERT_TRUE(whole.OpenDocument(unsplitPath));
    ASSERT_GT(whole.store.PacketCount(), 50u);
    ASSERT_EQ(stitched.store.PacketCount(), whole.store.PacketCount());
    ASSERT_EQ(stitched.store.SampleCount(), whole.store.SampleCount());
    for (size_t i = 0; i < whole.store.PacketCount(); ++i) {
        const CCCPacket& a = *stitched.store.PacketAt(i);
        const CCCPacket& b = *whole.store.PacketAt(i);
        ASSERT_EQ(a.startTime, b.startTime) << i;
        ASSERT_EQ(a.GetColumnText(35, false), b.GetColumnText(35, false)) << i;
        ASSERT_EQ(a.crcGood, b.crcGood) << i;
    }
    for (size_t i = 0; i < whole.store.SampleCount(); ++i) {
        const CVbusInfo& a = *stitched.store.SampleAt(i);
        const CVbusInfo& b = *whole.store.SampleAt(i);
        ASSERT_TRUE(a.time == b.time && a.vbusVoltage == b.vbusVoltage && a.vbusCurrent == b.vbusCurrent &&
                    a.cc1Voltage == b.cc1Voltage && a.cc2Current == b.cc2Current)
            << i;
    }
}

} // namespace
