// Stitching: file numbers, the series listing and its candidates, the contiguous selection, the output
// name, the copy, the rule that stops a stitch at a file of another recording, and recorded series that
// stitched hold the scenario's messages.
#include "CaptureStore.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "RecordStream.h"
#include "StitchWorker.h"
#include "device/SynthSupport.h"
#include "support/RunTool.h"
#include "support/Series.h"
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

// A series cut from one synthesized stream, its first file past the copy's 1 MiB piece and its last a
// header block alone (a recording stopped right after a switch), joins to the files' bytes in order.
TEST(StitchCopy, JoinsTheSeriesByteForByte) {
    TempDir d;
    const Bytes stream = testseries::Stream("pps", 45);
    ASSERT_GT(stream.size(), 1048576u + 64 * 100);
    const size_t blocks = stream.size() / 64;
    const testseries::Series series =
        testseries::WriteSeries(d.Path().string(), "a", stream, 3, 1, {1048576 / 64 + 17, blocks});
    ToolFlags flags;
    ASSERT_TRUE(StitchFiles(series.paths, d.File("out.qxc"), flags)) << flags.reason;
    EXPECT_EQ(flags.progress, 100);
    EXPECT_EQ(flags.reason, "");
    EXPECT_TRUE(ReadFile(d.File("out.qxc")) == series.stitched);
}

// The stitched file's header block counts what the file holds after it; the count is the only byte
// changed. A first file whose header block was never closed promises nothing, and its block stays so.
TEST(StitchCopy, TheHeaderBlockCountsTheWholeStitchedFile) {
    const Bytes stream = testseries::Stream("demo", 3);
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "closed header block" : "open header block");
        TempDir d;
        const testseries::Series series = testseries::WriteSeries(d.Path().string(), "h", stream, 3);
        Bytes joined;
        for (const std::string& path : series.paths) {
            Bytes file = ReadFile(path);
            if (!closed && joined.empty()) {
                std::fill(file.begin() + 2, file.begin() + 64, uint8_t(0));
                WriteFile(path, file);
            }
            joined.insert(joined.end(), file.begin(), file.end());
        }
        ToolFlags flags;
        ASSERT_TRUE(StitchFiles(series.paths, d.File("out.qxc"), flags)) << flags.reason;
        const Bytes out = ReadFile(d.File("out.qxc"));
        ASSERT_EQ(out.size(), joined.size());
        rec::RecordFileHead head;
        std::string reason;
        ASSERT_TRUE(rec::CheckRecordFile(d.File("out.qxc"), &head, &reason)) << reason;
        EXPECT_EQ(rec::HeaderBytesWritten(head), closed ? int64_t(out.size()) - 64 : -1);
        EXPECT_EQ(rec::MissingBytes(head), 0);
        // Entry 4 of a closed header block: type and length at 24, its value at 26..33.
        for (size_t i = 0; i < out.size(); ++i) {
            if (closed && i >= 26 && i < 34) continue;
            ASSERT_EQ(out[i], joined[i]) << "byte " << i;
        }
    }
}

TEST(StitchCopy, RunsOnTheWorkerThreadAndReportsThroughTheFlags) {
    TempDir d;
    const testseries::Series series = testseries::WriteSeries(d.Path().string(), "w", testseries::Stream("demo", 2), 2);
    CToolWorker worker;
    ASSERT_TRUE(worker.Start([&](ToolFlags& f) { return StitchFiles(series.paths, d.File("w.qxc"), f); }));
    worker.Join();
    EXPECT_TRUE(worker.flags.done);
    EXPECT_FALSE(worker.flags.failed);
    EXPECT_FALSE(worker.flags.running);
    EXPECT_EQ(worker.flags.reason, "");
    EXPECT_TRUE(ReadFile(d.File("w.qxc")) == series.stitched);
    ASSERT_TRUE(worker.Start([&](ToolFlags& f) { return StitchFiles({d.File("none_0001.qxc")}, d.File("x.qxc"), f); }));
    worker.Join();
    EXPECT_TRUE(worker.flags.done);
    EXPECT_TRUE(worker.flags.failed);
    EXPECT_EQ(worker.flags.reason, d.File("none_0001.qxc") + ": cannot be read: No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(d.File("x.qxc")));
}

// A series recorded anew over an older, longer one leaves the older one's later files under the same
// names. Stitching the base takes only the files of its own recording: the first old file is named
// with the reason, and a stitch that includes it writes nothing.
TEST(StitchContinuity, StopsAtAFileOfAnotherRecordingUnderTheSameName) {
    TempDir d;
    const std::string folder = d.Path().string();
    testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 8, 1), 4);
    const testseries::Series again = testseries::WriteSeries(folder, "rec", testseries::Stream("demo", 3, 2), 2);
    std::vector<std::string> files = {d.File("rec_0001.qxc")};
    for (const SeriesFile& f : ListCandidates(folder, files[0])) files.push_back(f.path);
    ASSERT_EQ(files.size(), 4u);

    std::string reason;
    EXPECT_EQ(ContinuingFiles(files, &reason), 2u);
    EXPECT_EQ(reason.rfind("rec_0003.qxc does not continue rec_0002.qxc: its first VBUS sample comes ", 0), 0u)
        << reason;
    ToolFlags flags;
    EXPECT_FALSE(StitchFiles(files, d.File("all.qxc"), flags));
    EXPECT_EQ(flags.reason, reason);
    EXPECT_FALSE(std::filesystem::exists(d.File("all.qxc")));

    files.resize(2);
    EXPECT_EQ(ContinuingFiles(files, &reason), 2u);
    EXPECT_EQ(reason, "");
    ASSERT_TRUE(StitchFiles(files, d.File("own.qxc"), flags)) << flags.reason;
    EXPECT_TRUE(ReadFile(d.File("own.qxc")) == again.stitched);
}

// The rule on the joins of series made from synthesized streams: the analyzer's clock and its CC block
// numbering must run on from one file to the next.
TEST(StitchContinuity, TheClockAndTheBlockNumberingRunOnAcrossEachJoin) {
    const Bytes stream = testseries::Stream("demo", 4);
    const size_t blocks = stream.size() / 64;
    const auto kind = [&](size_t block) { return rec::ClassifyBlock(stream.data() + block * 64); };
    // A CC edge block that follows a VBUS block and comes before the next one: leaving it out keeps the
    // samples regular but breaks the numbering.
    size_t lone = blocks / 2;
    while (lone + 2 < blocks && !(kind(lone - 1) == rec::BlockKind::VbusSamples && kind(lone) == rec::BlockKind::CcEdges))
        ++lone;
    ASSERT_LT(lone + 2, blocks);
    const auto part = [&](const Bytes& s, size_t from, size_t to) { return testrec::Slice(s, from * 64, to * 64); };

    struct Case {
        const char* name;
        std::vector<Bytes> files; // streams, each written as one file of the series
        size_t continuing;
        const char* reason;
    } cases[] = {
        {"one stream cut in three", {part(stream, 0, 100), part(stream, 100, 300), part(stream, 300, blocks)}, 3, ""},
        {"a header block alone in between", {part(stream, 0, 200), {}, part(stream, 200, blocks)}, 3, ""},
        {"the clock wraps at the join",
         [] {
             const Bytes w = testseries::Stream("demo", 4, 1, 0xFFFFFFFFu - 2000000u);
             return std::vector<Bytes>{testrec::Slice(w, 0, w.size() / 128 * 64), testrec::Slice(w, w.size() / 128 * 64, w.size())};
         }(),
         2, ""},
        {"a stretch of the stream is missing", {part(stream, 0, 200), part(stream, 300, blocks)}, 1,
         "x_0002.qxc does not continue x_0001.qxc: its first VBUS sample comes "},
        {"the next file starts before the last one ends",
         {part(stream, 0, 300), testseries::Stream("demo", 1, 2)}, 1,
         "x_0002.qxc does not continue x_0001.qxc: its first VBUS sample does not come after the last one of "
         "x_0001.qxc"},
        {"one CC block is missing", {part(stream, 0, lone), part(stream, lone + 1, blocks)}, 1,
         "x_0002.qxc does not continue x_0001.qxc: its first CC block is "},
        {"the third file is of another recording",
         {part(stream, 0, 100), part(stream, 100, 200), testseries::Stream("demo", 1, 3, 900000000u)}, 2,
         "x_0003.qxc does not continue x_0002.qxc: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir d;
        std::vector<std::string> files;
        for (const Bytes& s : c.files) {
            files.push_back(d.File(testseries::SeriesName("x", int(files.size()) + 1)));
            Bytes file = testrec::ClosedHeader(s.size());
            file.insert(file.end(), s.begin(), s.end());
            WriteFile(files.back(), file);
        }
        std::string reason = "not set";
        EXPECT_EQ(ContinuingFiles(files, &reason), c.continuing);
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
        if (c.continuing == files.size()) {
            EXPECT_EQ(reason, "");
        }
    }
}

// A series the emulated analyzer records at the shortest, the default and the longest sampling
// interval stitches whole, and the stitched file holds the scenario's messages in the order sent, none
// lost or repeated at a join.
TEST(StitchContinuity, RecordedSeriesStitchesIntoTheScenariosMessages) {
    synth::SynthOptions o;
    o.seconds = 400;
    const std::vector<synth::ExpectedPacket> sent = synthtest::Play(synthtest::Builtin("pps"), o).sent;
    for (const int interval : {1, 10, 1000}) {
        SCOPED_TRACE(interval);
        TempDir d;
        const RunResult r = RunQxtool("record --emulate=pps --seconds 150 --speed 100 --multi --max-file-size 1 "
                                      "--caption Rec --interval " + std::to_string(interval) + " --folder " +
                                      d.Path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<SeriesFile> series = ListSeriesFiles(d.Path().string());
        // A slower machine records less in the same real time; one join is enough to judge.
        ASSERT_GE(series.size(), 2u);
        const std::vector<SeriesFile> candidates = ListCandidates(d.Path().string(), series[0].path);
        ASSERT_EQ(candidates.size(), series.size() - 1);
        std::vector<bool> selected(candidates.size(), false);
        selected.back() = true;
        KeepContiguous(selected, candidates.size() - 1);
        const std::string out = StitchOutputPath(d.Path().string(), series[0].name, candidates, selected);
        char expected[64];
        std::snprintf(expected, sizeof expected, "Stitched_Rec_0001-%04d.qxc", int(series.size()));
        ASSERT_EQ(out, d.File(expected));

        std::vector<std::string> files;
        for (const SeriesFile& f : series) files.push_back(f.path);
        std::string reason;
        EXPECT_EQ(ContinuingFiles(files, &reason), files.size()) << reason;
        ToolFlags flags;
        ASSERT_TRUE(StitchFiles(files, out, flags)) << flags.reason;

        CQXDoc stitched;
        ASSERT_TRUE(stitched.OpenDocument(out));
        const size_t n = stitched.store.PacketCount();
        ASSERT_GT(n, 100u);
        ASSERT_LE(n, sent.size());
        // The recording ends anywhere, so its last packet may be cut.
        for (size_t i = 0; i + 1 < n; ++i) {
            const CCCPacket& p = *stitched.store.PacketAt(i);
            ASSERT_EQ(p.GetMessageTypeText(), sent[i].name) << i;
            ASSERT_EQ(p.crcGood, sent[i].outcome == synth::Outcome::Good) << i;
            ASSERT_TRUE(std::equal(p.messageBytes, p.messageBytes + p.messageByteCount, sent[i].bytes.begin(),
                                   sent[i].bytes.end()))
                << i;
        }
    }
}

} // namespace
