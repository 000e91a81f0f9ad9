// `qxtool import` run as a user runs it: the four logic captures behind the shared record files give
// the same packets, the formats the capture library reads give the same transitions, and every bad
// input ends in one line on stderr and status 1 with nothing left behind.
#include "GraphModel.h"
#include "LogicImport.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "SymbolDecoder.h"
#include "VcdSpan.h"
#include "import/ImportSupport.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The conversion streams (the live source shares it); what an import writes stays the same byte for
// byte. Size and CRC-32 of each file as the import wrote it before the conversion streamed.
TEST(ImportCli, SharedLogicCapturesImportToTheSameBytesAsBefore) {
    const LibraryLeaksKnown leaks;
    if (!fs::exists(kCaptures / "sr")) GTEST_SKIP() << "no shared captures at " << kCaptures;
    struct Case {
        const char* capture;
        const char* options;
        size_t size;
        uint32_t crc;
    };
    const Case cases[] = {
        {"macbook_2015-apple_av_hdmi", "--cc1 CC1 --cc2 CC2", 45440, 0xDFB016BD},
        {"macbook_2015-apple_av_hdmi", "--cc1 CC1 --cc2 CC2 --clock 4", 99776, 0xA2492D24},
        {"macbook_2015-apple_av_hdmi", "--cc1 CC2", 18368, 0x89E5BB03},
        {"macbook_2015-apple_power_brick", "--cc1 CC1 --cc2 CC2", 27712, 0xA3C7CB84},
        {"macbook_2015-apple_power_brick", "--cc1 CC1 --cc2 CC2 --clock 4", 49856, 0xCC7D7C40},
        {"macbook_2015-apple_power_brick", "--cc1 CC2", 7616, 0xEC082B95},
        {"pixel_2015-hdmi_dongle", "--cc1 CC1 --cc2 CC2", 62080, 0x8160F57B},
        {"pixel_2015-hdmi_dongle", "--cc1 CC1 --cc2 CC2 --clock 4", 195968, 0x92C0BAF1},
        {"pixel_2015-hdmi_dongle", "--cc1 CC2", 62080, 0x544CEA17},
        {"pixel_2015-power_supply_20V", "--cc1 CC1 --cc2 CC2", 98752, 0x2670FB88},
        {"pixel_2015-power_supply_20V", "--cc1 CC1 --cc2 CC2 --clock 4", 355136, 0x871DBD3D},
        {"pixel_2015-power_supply_20V", "--cc1 CC2", 85568, 0xF74E0103},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.capture << " " << c.options);
        const std::string out = dir.File("out.qxc");
        const RunResult r = RunQxtool("import " + (kCaptures / "sr" / (std::string(c.capture) + ".sr")).string() +
                                      " -o " + out + " --overwrite " + c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes file = ReadFile(out);
        EXPECT_EQ(file.size(), c.size);
        EXPECT_EQ(sym::Crc32(file.data(), file.size()), c.crc);
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
// The formats offered are the library's: session files first, then the input modules that name the
// extensions of their files. A VCD and a CSV capture are each read by the module named for their
// extension.
TEST(ImportCli, TheFormatsOfferedAreTheLibrarysModules) {
#if defined(__SANITIZE_ADDRESS__)
    // The library keeps what its input modules allocate for the life of the process, here this one.
    const __lsan::ScopedDisabler libraryAllocations;
#endif
    const std::vector<imp::CaptureFormat> formats = imp::ReadableCaptureFormats();
    ASSERT_FALSE(formats.empty());
    EXPECT_EQ(formats.front().id, "session");
    EXPECT_EQ(formats.front().extensions, std::vector<std::string>{"sr"});
    std::vector<std::string> ids;
    for (const imp::CaptureFormat& f : formats) {
        EXPECT_FALSE(f.extensions.empty()) << f.id;
        EXPECT_FALSE(f.description.empty()) << f.id;
        EXPECT_EQ(std::count(ids.begin(), ids.end(), f.id), 0) << f.id;
        ids.push_back(f.id);
    }
    TempDir dir;
    const SmallCaptures c = WriteSmallCaptures(dir);
    for (const std::string& path : {c.vcd, c.csv}) {
        SCOPED_TRACE(path);
        const std::string ext = fs::path(path).extension().string().substr(1);
        const auto f = std::find_if(formats.begin(), formats.end(), [&](const imp::CaptureFormat& x) {
            return std::find(x.extensions.begin(), x.extensions.end(), ext) != x.extensions.end();
        });
        ASSERT_NE(f, formats.end());
        imp::ImportRequest r;
        r.input = path;
        r.output = path + ".qxc";
        r.cc1 = "CC1";
        r.cc2 = "CC2";
        r.format = f->id + (ext == "csv" ? ":samplerate=10MHz" : "");
        const imp::ImportReport report = imp::ImportLogicCapture(r);
        EXPECT_TRUE(report.ok) << report.error;
        EXPECT_EQ(report.format, f->id);
    }
}

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
// probe 60): it is refused in one line rather than read as a line that never changes.
TEST(ImportCli, AChannelPastTheSampleWidthIsRefused) {
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
        const std::string meta = "[global]\nsigrok version=0.4.0\n\n[device 1]\ncapturefile=logic-1\n"
                                 "total probes=" + std::to_string(std::max(c.probe, 2)) + "\nsamplerate=2.4 MHz\n"
                                 "probe" + std::string(c.probe == 1 ? "2=D1" : "1=D0") + "\nprobe" +
                                 std::to_string(c.probe) + "=CC1\nunitsize=1\n";
        if (!WriteSession(session, meta, Bytes(240000))) GTEST_SKIP() << "no python3";
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

// A session file whose logic entry is damaged (a byte changed inside the deflated stream, or inside
// the samples stored as they are) is refused in one line before anything is read from it: the
// library itself would end the samples early and import what it got.
TEST(ImportCli, ADamagedSessionFileIsRefused) {
    const LibraryLeaksKnown leaks;
    const uint64_t rate = 6000000;
    const Bytes samples = DrawSamples(60000, {{0, MessageChanges(300, rate, {0xA1, 0x11, 0x2C, 0x91, 0x01, 0x26})},
                                              {1, MessageChanges(2500, rate, {0x41, 0x00}, 9)}});
    const std::string meta = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
                             "total probes=2\nsamplerate=6 MHz\nprobe1=CC1\nprobe2=CC2\nunitsize=1\n";
    struct Case {
        bool deflate, damage;
    };
    for (const Case c : {Case{true, false}, Case{true, true}, Case{false, true}}) {
        SCOPED_TRACE(::testing::Message() << (c.deflate ? "deflated" : "stored") << (c.damage ? ", damaged" : ""));
        TempDir dir;
        const std::string session = dir.File("cap.sr");
        if (!WriteSession(session, meta, samples, c.deflate)) GTEST_SKIP() << "no python3";
        if (c.damage) {
            Bytes zip = ReadFile(session);
            size_t size = 0;
            const size_t at = EntryData(zip, "logic-1-1", &size);
            ASSERT_GT(size, 100u);
            zip[at + size / 2] ^= 0x5A;
            WriteFile(session, zip);
        }
        const auto before = Listing(dir.Path());
        const RunResult r = RunQxtool("import " + session + " -o " + dir.File("out.qxc") + " --cc1 CC1 --cc2 CC2");
        if (!c.damage) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("60000 samples at 6000000 Hz (session)"), std::string::npos) << r.out;
            continue;
        }
        ExpectOneLineError(r, "cap.sr: the session file is damaged (logic-1-1: ");
        EXPECT_EQ(Listing(dir.Path()), before);
    }
}

// A VCD stands for a sample per unit of its time scale between two time stamps: 133 bytes at 1 ps
// can make ten billion samples, and a few more digits hours of work. Past the limit the import is
// refused at once, naming the limit; the downsampling the line suggests takes the same file.
TEST(ImportCli, AVcdThatExpandsPastTheLimitIsRefused) {
    const LibraryLeaksKnown leaks;
    TempDir dir;
    const std::string head = "$timescale 1 ps $end\n$scope module la $end\n$var wire 1 ! CC1 $end\n$upscope $end\n"
                             "$enddefinitions $end\n#0\n0!\n";
    struct Case {
        const char* name;
        std::string tail;
        const char* format;
        const char* result; // on stdout when it imports, else in the one line on stderr
    };
    const Case cases[] = {
        {"ten-billion.vcd", "#10000000000\n1!\n#10000000001\n", "",
         "ten-billion.vcd: the VCD expands to 10000000001 samples or more, over the limit of 1000000000"},
        {"forever.vcd", "#20000000000000\n1!\n#20000000000001\n", "", "over the limit of 1000000000"},
        {"downsampled.vcd", "#10000000000\n1!\n#10000000100\n", " --format vcd:downsample=100",
         "100000001 samples at 10000000000 Hz (vcd)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = head + c.tail;
        WriteFile(dir.File(c.name), Bytes(text.begin(), text.end()));
        const auto before = Listing(dir.Path());
        const RunResult r =
            RunQxtool("import " + dir.File(c.name) + " -o " + dir.File("out.qxc") + " --cc1 CC1 --overwrite" + c.format);
        if (std::string(c.format).empty()) {
            ExpectOneLineError(r, c.result);
            EXPECT_EQ(Listing(dir.Path()), before);
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find(c.result), std::string::npos) << r.out;
        }
    }
}

// The count the limit is checked against is the one the library expands a VCD to, whatever its options
// (skip to a time stamp, downsample, compress idle stretches) and however the text comes in pieces.
TEST(ImportCli, TheVcdSpanIsWhatTheLibraryExpands) {
    TempDir dir;
    const SmallCaptures small = WriteSmallCaptures(dir);
    const Bytes smallVcd = ReadFile(small.vcd);
    // Repeated and idle time stamps, a channel whose identifier starts like a time stamp, a first time
    // stamp after 0.
    const std::string sparse = "$date today $end\n$timescale 100 ns $end\n$scope module la $end\n"
                               "$var wire 1 #1 CC1 $end\n$var wire 1 ! CC2 $end\n$upscope $end\n"
                               "$enddefinitions $end\n#500\n0#1\n1!\n#700\n#700\n1#1\n#90000\n0#1 0!\n"
                               "#90013\n1#1\n#250000\n";
    struct Case {
        std::string text;
        const char* options; // after "vcd"
        int64_t skip, downsample;
        uint64_t compress;
    };
    const Case cases[] = {
        {std::string(smallVcd.begin(), smallVcd.end()), "", -1, 1, 0},
        {sparse, "", -1, 1, 0},
        {sparse, ":skip=0", 0, 1, 0},
        {sparse, ":skip=800", 800, 1, 0},
        {sparse, ":downsample=3", -1, 3, 0},
        {sparse, ":compress=1000", -1, 1, 1000},
        {sparse, ":skip=0:downsample=2:compress=5000", 0, 2, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        WriteFile(dir.File("cap.vcd"), Bytes(c.text.begin(), c.text.end()));
        imp::ImportRequest r;
        r.input = dir.File("cap.vcd");
        r.output = dir.File("cap.qxc");
        r.cc1 = "CC1";
        r.format = std::string("vcd") + c.options;
        r.overwrite = true;
        const imp::ImportReport rep = imp::ImportLogicCapture(r);
        ASSERT_TRUE(rep.ok) << rep.error;

        const imp::VcdOptions options{c.skip, c.downsample, c.compress};
        imp::CVcdSpan whole(options), bytewise(options);
        whole.Add(c.text.data(), c.text.size());
        for (char ch : c.text) bytewise.Add(&ch, 1);
        EXPECT_EQ(whole.Samples(), rep.samples);
        EXPECT_EQ(bytewise.Samples(), rep.samples);
    }
}

// Ctrl+C or a termination request ends `qxtool import` whatever the capture library is doing: filling
// in the samples of a VCD, or waiting for a capture that is still arriving through a pipe. The stop is
// one line, status 1, and nothing is left in the folder. (30 s only catches a hang.)
TEST(ImportCli, AStopEndsTheImportWhateverTheLibraryIsDoing) {
    const LibraryLeaksKnown leaks;
    TempDir dir;
    const std::string head = "$timescale 1 ps $end\n$scope module la $end\n$var wire 1 ! CC1 $end\n$upscope $end\n"
                             "$enddefinitions $end\n#0\n0!\n";
    const std::string busy = head + "#900000000\n1!\n#900000001\n";
    WriteFile(dir.File("busy.vcd"), Bytes(busy.begin(), busy.end()));
    ASSERT_EQ(::mkfifo(dir.File("arriving.vcd").c_str(), 0600), 0);
    // Kept open for writing and never closed while the import runs: its reads wait for more.
    const int pipeEnd = ::open(dir.File("arriving.vcd").c_str(), O_RDWR);
    ASSERT_GE(pipeEnd, 0);
    ASSERT_EQ(::write(pipeEnd, head.data(), head.size()), ssize_t(head.size()));

    struct Case {
        const char* input;
        int signal;
        std::vector<std::string> format;
    };
    const Case cases[] = {{"busy.vcd", SIGINT, {}}, {"arriving.vcd", SIGTERM, {"--format", "vcd"}}};
    const auto before = Listing(dir.Path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> args = {"import", dir.File(c.input), "-o", dir.File("out.qxc"), "--cc1", "CC1"};
        args.insert(args.end(), c.format.begin(), c.format.end());
        CRunningTool tool(args);
        ASSERT_GT(tool.Pid(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well under way, most likely
        ASSERT_EQ(::kill(tool.Pid(), c.signal), 0);
        bool ended = false;
        for (int i = 0; i < 300 && !ended; ++i) {
            siginfo_t info{};
            ended = ::waitid(P_PID, id_t(tool.Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(ended) << "still running 30 s after the stop";
        const RunResult r = tool.Wait();
        EXPECT_EQ(r.signal, 0);
        ExpectOneLineError(r, "out.qxc: import stopped; nothing written");
        EXPECT_EQ(Listing(dir.Path()), before);
    }
    ::close(pipeEnd);
}

} // namespace
