// The outputs of the export (CSV and record-file range) and of the stitch are there whole or not at
// all: a disk that fills up, an abort, an input that cannot be read or an output that is one of the
// inputs leaves the folder exactly as it was (no partial output, no temporary file, a file already at
// the output name untouched) and says why in one line; a run that succeeds leaves its output and
// nothing else.
#include "CaptureStore.h"
#include "ExportWorker.h"
#include "QXDoc.h"
#include "StitchWorker.h"
#include "support/FileSizeLimit.h"
#include "support/Series.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace {

namespace fs = std::filesystem;
using testseries::Bytes;
using testseries::FolderContents;

enum class Writer { Csv, Qxc, Stitch };
enum class Fault { None, FullDisk, Abort, SamePath, SymbolicLink, HardLink, InputGone };

const char* WriterName(Writer w) { return w == Writer::Csv ? "CSV" : w == Writer::Qxc ? "QXC range" : "stitch"; }

// One folder: a record file rec.qxc, the same stream cut into the series s_0001..s_0003, and a file of
// an earlier run at the output name.
struct Folder {
    TempDir dir;
    CQXDoc doc;
    std::vector<std::string> series;
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

    Folder() {
        const Bytes stream = testseries::Stream("demo", 3);
        Bytes file = testrec::ClosedHeader(stream.size());
        file.insert(file.end(), stream.begin(), stream.end());
        WriteFile(dir.File("rec.qxc"), file);
        series = testseries::WriteSeries(dir.Path().string(), "s", stream, 3).paths;
        EXPECT_TRUE(doc.OpenDocument(dir.File("rec.qxc")));
        EXPECT_GT(doc.store.PacketCount(), 5u);
    }
    // The input the output may not be: the record file, or the middle file of the series.
    std::string Input(Writer w) const { return w == Writer::Stitch ? series[1] : dir.File("rec.qxc"); }
};

bool RunWriter(Writer w, const Folder& f, const std::string& out, ToolFlags& flags) {
    const CCaptureStore& store = f.doc.store;
    ExportOptions o;
    o.fileName = out;
    o.exportType = w == Writer::Qxc ? kExportQxc : kExportCsv;
    o.exportItems = kItemsBoth;
    int64_t start = 0, end = 0;
    EXPECT_TRUE(ResolveRange(store, {}, o, &start, &end));
    switch (w) {
    case Writer::Csv: return WriteCsv(store, o, start, end, flags);
    case Writer::Qxc: return WriteRecordRange(store, out, start, end, flags);
    case Writer::Stitch: return StitchFiles(f.series, out, flags);
    }
    return false;
}

TEST(ToolOutput, AFailureLeavesTheFolderAsItWas) {
    struct Case {
        Writer writer;
        Fault fault;
        const char* reason; // a part of the reason given; nullptr: the run succeeds
    } cases[] = {
        {Writer::Csv, Fault::None, nullptr},
        {Writer::Qxc, Fault::None, nullptr},
        {Writer::Stitch, Fault::None, nullptr},
        {Writer::Csv, Fault::FullDisk, "out: cannot be written: File too large"},
        {Writer::Qxc, Fault::FullDisk, "out: cannot be written: File too large"},
        {Writer::Stitch, Fault::FullDisk, "out: cannot be written: File too large"},
        {Writer::Csv, Fault::Abort, "Export stopped; nothing was written."},
        {Writer::Qxc, Fault::Abort, "Export stopped; nothing was written."},
        {Writer::Stitch, Fault::Abort, "Stitch stopped; nothing was written."},
        {Writer::Csv, Fault::SamePath, "is an input file"},
        {Writer::Qxc, Fault::SamePath, "is an input file"},
        {Writer::Stitch, Fault::SamePath, "is an input file"},
        {Writer::Csv, Fault::SymbolicLink, "is an input file"},
        {Writer::Qxc, Fault::SymbolicLink, "is an input file"},
        {Writer::Stitch, Fault::SymbolicLink, "is an input file"},
        {Writer::Csv, Fault::HardLink, "is an input file"},
        {Writer::Qxc, Fault::HardLink, "is an input file"},
        {Writer::Stitch, Fault::HardLink, "is an input file"},
        {Writer::Qxc, Fault::InputGone, "rec.qxc: cannot be read: No such file or directory"},
        {Writer::Stitch, Fault::InputGone, "s_0002.qxc: cannot be read: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << WriterName(c.writer) << ", fault " << int(c.fault));
        Folder f;
        std::string out = f.dir.File("out");
        WriteFile(out, f.earlier);
        switch (c.fault) {
        case Fault::SamePath: // the same file by another spelling of its path
            out = (f.dir.Path() / "." / fs::path(f.Input(c.writer)).filename()).string();
            break;
        case Fault::SymbolicLink:
            fs::remove(out);
            fs::create_symlink(f.Input(c.writer), out);
            break;
        case Fault::HardLink:
            fs::remove(out);
            fs::create_hard_link(f.Input(c.writer), out);
            break;
        case Fault::InputGone: fs::remove(f.Input(c.writer)); break;
        default: break;
        }
        const auto before = FolderContents(f.dir.Path());
        ToolFlags flags;
        flags.abortRequest = c.fault == Fault::Abort;
        bool ok = false;
        {
            std::optional<CFileSizeLimit> fullDisk;
            if (c.fault == Fault::FullDisk) fullDisk.emplace(4096);
            ok = RunWriter(c.writer, f, out, flags);
        }
        const auto after = FolderContents(f.dir.Path());
        if (!c.reason) {
            EXPECT_TRUE(ok) << flags.reason;
            EXPECT_EQ(flags.reason, "");
            // The output replaced the earlier file; nothing else came or went.
            auto expected = before;
            expected.erase("out");
            auto got = after;
            ASSERT_TRUE(got.count("out"));
            EXPECT_GT(got["out"].size(), 1000u);
            got.erase("out");
            EXPECT_EQ(got, expected);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_TRUE(after == before) << after.size() << " entries, " << before.size() << " before";
        EXPECT_NE(flags.reason.find(c.reason), std::string::npos) << flags.reason;
        EXPECT_EQ(flags.reason.find('\n'), std::string::npos) << flags.reason;
    }
}

} // namespace
