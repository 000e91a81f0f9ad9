// `qxtool import` run as a user runs it: the four logic captures behind the shared record files give
// the same packets, the formats the capture library reads give the same transitions, and every bad
// input ends in one line on stderr and status 1 with nothing left behind.
#include "GraphModel.h"
#include "LogicImport.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "import/ImportSupport.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace imptest;
namespace fs = std::filesystem;

const fs::path kCaptures = AMBRIO_CAPTURES_DIR;

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectOneLineError(const RunResult& r, const std::string& what) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}

// qxtool runs under LeakSanitizer know of libsigrok's own leaks (see lsan.supp) while one lives; the
// full unwind finds the library in stacks that pass through code built without frame pointers.
struct LibraryLeaksKnown {
    LibraryLeaksKnown() {
        const std::string supp = (fs::path(__FILE__).parent_path() / "lsan.supp").string();
        ::setenv("LSAN_OPTIONS", ("suppressions=" + supp + ":fast_unwind_on_malloc=0:print_suppressions=0").c_str(), 1);
    }
    ~LibraryLeaksKnown() { ::unsetenv("LSAN_OPTIONS"); }
};

TEST(ImportCli, SharedLogicCapturesGiveThePacketsOfTheirRecordFiles) {
    const LibraryLeaksKnown leaks;
    if (!fs::exists(kCaptures / "sr")) GTEST_SKIP() << "no shared captures at " << kCaptures;
    struct Case {
        const char* capture;
        const char* recordFile;
        int clock;
    };
    const Case cases[] = {{"pixel_2015-power_supply_20V", "pixel_2015-power_supply_20V", 0},
                          {"pixel_2015-power_supply_20V", "pixel_2015-power_supply_20V-clock4", 4},
                          {"pixel_2015-hdmi_dongle", "pixel_2015-hdmi_dongle", 0},
                          {"macbook_2015-apple_power_brick", "macbook_2015-apple_power_brick", 0},
                          {"macbook_2015-apple_av_hdmi", "macbook_2015-apple_av_hdmi", 0}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordFile);
        const std::string out = dir.File(std::string(c.recordFile) + ".qxc");
        const RunResult r = RunQxtool("import " + (kCaptures / "sr" / (std::string(c.capture) + ".sr")).string() +
                                      " -o " + out + " --cc1 CC1 --cc2 CC2 --clock " + std::to_string(c.clock));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_NE(r.out.find("at 2400000 Hz"), std::string::npos) << r.out;

        const Bytes file = ReadFile(out);
        rec::RecordFileHead head{int64_t(file.size()), Bytes(file.begin(), file.begin() + 64)};
        EXPECT_EQ(rec::HeaderBytesWritten(head), int64_t(file.size()) - 64) << "closed header block";
        EXPECT_EQ(CountBlocks(file, true), 0) << "the captures have no analog channels";

        const std::string sharedFile = (kCaptures / (std::string(c.recordFile) + ".qxc")).string();
        CQXDoc shared, imported;
        ASSERT_TRUE(shared.OpenDocument(sharedFile));
        ASSERT_TRUE(imported.OpenDocument(out)); // as written: no VBUS sample, the header gives the origin
        const CCaptureStore& want = shared.store;
        ASSERT_GT(want.PacketCount(), 40u);
        ASSERT_EQ(imported.store.PacketCount(), want.PacketCount());
        EXPECT_EQ(imported.store.captureOrigin, 0);
        EXPECT_EQ(imported.store.SampleCount(), 0u);
        const GraphRanges span = RangesFromStore(imported.store, false); // the graph spans the packets
        EXPECT_EQ(span.dataFirstTime, imported.store.PacketAt(0)->startTime);
        EXPECT_EQ(span.dataLastTime, imported.store.PacketAt(want.PacketCount() - 1)->startTime);
        int64_t worst = 0;
        for (size_t i = 0; i < want.PacketCount(); ++i) {
            const CCCPacket& a = *imported.store.PacketAt(i);
            const CCCPacket& b = *want.PacketAt(i);
            SCOPED_TRACE(::testing::Message() << "packet " << i);
            EXPECT_EQ(a.channel, b.channel);
            EXPECT_EQ(a.kind, b.kind);
            EXPECT_EQ(MessageOf(a), MessageOf(b));
            EXPECT_EQ(a.hasCrc, b.hasCrc);
            EXPECT_EQ(a.crcGood, b.crcGood);
            EXPECT_EQ(a.divisor, b.divisor);
            worst = std::max(worst, std::abs(a.startTime - b.startTime));
        }
        EXPECT_LE(worst, 1) << "times within a tick, truncated to µs";

        // qxtool packets lists the same rows, the time column within a tick.
        const RunResult got = RunQxtool("packets " + out), ref = RunQxtool("packets " + sharedFile);
        ASSERT_EQ(got.status, 0) << got.err;
        const auto gotLines = Split(got.out, '\n'), refLines = Split(ref.out, '\n');
        ASSERT_EQ(gotLines.size(), refLines.size());
        ASSERT_EQ(gotLines.size(), want.PacketCount() + 1) << "heading and one row a packet";
        for (size_t i = 0; i < refLines.size(); ++i) {
            auto a = Split(gotLines[i], '\t'), b = Split(refLines[i], '\t');
            ASSERT_EQ(a.size(), b.size()) << gotLines[i];
            if (i > 0) {
                EXPECT_LE(std::abs(std::stoll(a[2]) - std::stoll(b[2])), 1) << gotLines[i];
                a[2] = b[2];
            }
            EXPECT_EQ(a, b);
        }
        const RunResult info = RunQxtool("info " + out);
        EXPECT_NE(info.out.find("Capture origin [us, analyzer clock]\t0\n"), std::string::npos) << info.out;
    }
}

// Two messages at 10 MHz written as raw binary, CSV and VCD: each format gives the same transitions.
TEST(ImportCli, RawBinaryCsvAndVcdGiveTheSameTransitions) {
    const LibraryLeaksKnown leaks;
    TempDir dir;
    const SmallCaptures small = WriteSmallCaptures(dir);
    const auto& cc1 = small.cc1;
    const auto& cc2 = small.cc2;

    struct Case {
        const char* input;
        const char* options;
    };
    const Case cases[] = {{"cap.bin", "--cc1 0 --cc2 1 --format binary:samplerate=10M"},
                          {"cap.csv", "--cc1 CC1 --cc2 CC2 --format csv:samplerate=10MHz"},
                          {"cap.vcd", "--cc1 CC1 --cc2 CC2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string out = dir.File(std::string(c.input) + ".qxc");
        const RunResult r = RunQxtool("import " + dir.File(c.input) + " -o " + out + " " + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes file = ReadFile(out);
        for (int ch = 0; ch < 2; ++ch) {
            std::vector<int64_t> want;
            for (uint64_t n : ch == 0 ? cc1 : cc2) want.push_back(int64_t((n * 48 + 199) / 200)); // 10 MHz, divisor 20
            EXPECT_EQ(TransitionTicks(file, ch), want) << "CC" << ch + 1;
        }
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(out));
        ASSERT_EQ(doc.store.PacketCount(), 2u);
        EXPECT_TRUE(doc.store.PacketAt(0)->crcGood && doc.store.PacketAt(1)->crcGood);
    }
}

// An imported file has packets and no samples: the export's default range (top to end) spans the
// packets, as CSV and as a record file.
TEST(ImportCli, AnImportedFileExportsWholeByDefault) {
    const LibraryLeaksKnown leaks;
    const uint64_t rate = 6000000;
    TempDir dir;
    WriteFile(dir.File("cap.bin"),
              DrawSamples(30000, {{0, MessageChanges(300, rate, {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26})},
                                  {0, MessageChanges(2500, rate, {0x41, 0x00}, 9)}}));
    const std::string qxc = dir.File("cap.qxc");
    ASSERT_EQ(RunQxtool("import " + dir.File("cap.bin") + " --format binary:samplerate=6M --cc1 0 -o " + qxc).status, 0);

    const RunResult csv = RunQxtool("export " + qxc + " -o " + dir.File("out.csv") + " --csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const Bytes text = ReadFile(dir.File("out.csv"));
    const std::string lines(text.begin(), text.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines; // the heading and both messages
    EXPECT_NE(lines.find("\"Source_Capabilities\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"GoodCRC\""), std::string::npos) << lines;

    const RunResult rec = RunQxtool("export " + qxc + " -o " + dir.File("out.qxc") + " --qxc");
    ASSERT_EQ(rec.status, 0) << rec.err;
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(dir.File("out.qxc")));
    EXPECT_EQ(doc.store.PacketCount(), 2u);
}

TEST(ImportCli, BadInputEndsInOneLineAndLeavesNothingBehind) {
    TempDir dir;
    const Bytes samples = DrawSamples(3000000, {{0, MessageChanges(100, 6000000, {0x41, 0x00})}}); // 0.5 s
    WriteFile(dir.File("cap.bin"), samples);
    const std::string text = "not a capture\n";
    WriteFile(dir.File("notes.txt"), Bytes(text.begin(), text.end()));
    WriteFile(dir.File("kept.qxc"), Bytes(64, 0x5A));
    const std::string bin = dir.File("cap.bin") + " --format binary:samplerate=6M";
    const std::string out = " -o " + dir.File("out.qxc");
    struct Case {
        std::string args, what;
    };
    const Case cases[] = {
        {dir.File("nosuch.sr") + out + " --cc1 CC1", "nosuch.sr: No such file or directory"},
        {dir.File("notes.txt") + out + " --cc1 CC1", "notes.txt: not a logic capture libsigrok can read"},
        {bin + out + " --cc1 CC3", "no logic channel named \"CC3\" (channels: 0, 1, 2, 3, 4, 5, 6, 7)"},
        {bin + out + " --cc1 0 --cc2 8", "no logic channel named \"8\""},
        {dir.File("cap.bin") + " --format binary:samplerate=1M" + out + " --cc1 0",
         "sample rate 1 MHz is too low for BMC (at least 2 MHz)"},
        {dir.File("cap.bin") + " --format binary" + out + " --cc1 0", "the capture gives no sample rate"},
        {dir.File("cap.bin") + " --format binary:rate=6M" + out + " --cc1 0", "format binary has no option \"rate\""},
        {bin + " -o " + dir.File("no/such/folder/out.qxc") + " --cc1 0", "out.qxc: cannot be written"},
        {bin + " -o " + dir.File("kept.qxc") + " --cc1 0", "kept.qxc: exists already"},
    };
    const auto before = Listing(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ExpectOneLineError(RunQxtool("import " + c.args), c.what);
        EXPECT_EQ(Listing(dir.Path()), before);
    }
    EXPECT_EQ(ReadFile(dir.File("kept.qxc")), Bytes(64, 0x5A));

    // A disk that fills up while writing: the half-written file goes, the old output stays.
    const std::string full = "sh -c 'ulimit -f 4; trap \"\" XFSZ; exec " + std::string(QXTOOL_PATH) + " import " +
                             bin + " -o " + dir.File("kept.qxc") + " --cc1 0 --overwrite' 2>" + dir.File("err");
    EXPECT_EQ(WEXITSTATUS(std::system(full.c_str())), 1);
    const Bytes err = ReadFile(dir.File("err"));
    EXPECT_NE(std::string(err.begin(), err.end()).find("kept.qxc: cannot be written: File too large"),
              std::string::npos);
    fs::remove(dir.File("err"));
    EXPECT_EQ(Listing(dir.Path()), before);
    EXPECT_EQ(ReadFile(dir.File("kept.qxc")), Bytes(64, 0x5A));
}

// A session file may name a channel whose bit lies past the width of its samples (one byte per sample,
// probe 60): it is refused in one line rather than read as a line that never changes. The session is
// written by Python's zipfile, as the capture library's own files are zip archives.
TEST(ImportCli, AChannelPastTheSampleWidthIsRefused) {
    if (std::system("python3 -c 'import zipfile' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const LibraryLeaksKnown leaks;
    struct Case {
        int probe;
        const char* error; // nullptr: imports
    };
    const Case cases[] = {
        {1, nullptr},
        {8, nullptr},
        {9, "logic channel \"CC1\" is bit 8, past the 8 bits of each sample"},
        {60, "logic channel \"CC1\" is bit 59, past the 8 bits of each sample"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.probe);
        TempDir dir;
        const std::string session = dir.File("wide.sr");
        const std::string script =
            "import sys, zipfile\n"
            "meta = '[global]\\nsigrok version=0.4.0\\n\\n[device 1]\\ncapturefile=logic-1\\n"
            "total probes=" + std::to_string(std::max(c.probe, 2)) + "\\nsamplerate=2.4 MHz\\n"
            "probe" + std::string(c.probe == 1 ? "2=D1" : "1=D0") + "\\nprobe" + std::to_string(c.probe) +
            "=CC1\\nunitsize=1\\n'\n"
            "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
            "    z.writestr('metadata', meta)\n"
            "    z.writestr('version', '2')\n"
            "    z.writestr('logic-1-1', bytes(240000))\n";
        WriteFile(dir.File("make.py"), Bytes(script.begin(), script.end()));
        ASSERT_EQ(std::system(("python3 " + dir.File("make.py") + " " + session).c_str()), 0);
        const RunResult r = RunQxtool("import " + session + " -o " + dir.File("out.qxc") + " --cc1 CC1");
        if (c.error) {
            ExpectOneLineError(r, c.error);
            EXPECT_FALSE(fs::exists(dir.File("out.qxc")));
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(fs::exists(dir.File("out.qxc")));
        }
    }
}

// qxtool loads the importer only for import; without the module beside it (or installed) import says
// so in one line, and the other commands run as ever.
TEST(ImportCli, AMissingImportModuleIsOneLine) {
    TempDir dir;
    const std::string qxtool = dir.File("qxtool");
    fs::copy_file(QXTOOL_PATH, qxtool);
    WriteFile(dir.File("cap.bin"), DrawSamples(60000, {{0, MessageChanges(100, 6000000, {0x41, 0x00})}}));
    const std::string run = qxtool + " import " + dir.File("cap.bin") + " --format binary:samplerate=6M --cc1 0 -o " +
                            dir.File("out.qxc") + " 2>" + dir.File("err");
    EXPECT_EQ(WEXITSTATUS(std::system(run.c_str())), 1);
    const Bytes err = ReadFile(dir.File("err"));
    const std::string text(err.begin(), err.end());
    EXPECT_EQ(text.rfind("qxtool: the import module libambrio_import_plugin.so is missing (looked in " + dir.Path().string(), 0),
              0u) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_FALSE(fs::exists(dir.File("out.qxc")));
    EXPECT_EQ(WEXITSTATUS(std::system((qxtool + " info " + kCaptures.string() + "/pixel_2015-hdmi_dongle.qxc >/dev/null").c_str())), 0);
}

// A stop request (Ctrl+C in qxtool) ends the import at the next chunk and removes what was written.
TEST(ImportCli, AStoppedImportLeavesTheOutputAsItWas) {
    TempDir dir;
    WriteFile(dir.File("cap.bin"), DrawSamples(600000, {{0, MessageChanges(100, 6000000, {0x41, 0x00})}}));
    WriteFile(dir.File("kept.qxc"), Bytes(64, 0x5A));
    const auto before = Listing(dir.Path());
    const std::atomic<bool> stop{true};
    imp::ImportRequest r;
    r.input = dir.File("cap.bin");
    r.output = dir.File("kept.qxc");
    r.cc1 = "0";
    r.format = "binary:samplerate=6M";
    r.overwrite = true;
    r.cancel = &stop;
    const imp::ImportReport rep = imp::ImportLogicCapture(r);
    EXPECT_FALSE(rep.ok);
    EXPECT_NE(rep.error.find("import stopped"), std::string::npos) << rep.error;
    EXPECT_EQ(Listing(dir.Path()), before);
    EXPECT_EQ(ReadFile(dir.File("kept.qxc")), Bytes(64, 0x5A));
}

} // namespace
