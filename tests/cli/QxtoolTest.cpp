// Runs the qxtool binary the way a user does: real captures against an independent decoder's packet
// list, the labels of info, the column choice, files cut short, and the error paths with their exit
// statuses.
#include "CaptureStore.h"
#include "MessageTypes.h"
#include "PacketTexts.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Message {
    std::string bytes; // lower-case hex without separators
    double startUs;
};

const std::filesystem::path kCaptures = AMBRIO_CAPTURES_DIR;

// Messages the reference lists that need a preamble of fewer than 61 alternating bits: 36, 4 and 0
// bits before their start of packet. Such frames are not decoded here.
struct Exception {
    const char* file;
    double startUs;
};
constexpr Exception kShortPreambles[] = {
    {"macbook_2015-apple_av_hdmi", 362572.917},
    {"macbook_2015-apple_av_hdmi", 364348.750},
    {"macbook_2015-apple_av_hdmi", 365290.000},
};

} // namespace

TEST(Qxtool, GoodMessagesMatchTheReferenceDecoder) {
    if (!std::filesystem::is_directory(kCaptures)) GTEST_SKIP() << "no shared captures";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCaptures)) {
        if (entry.path().extension() != ".qxc") continue;
        const std::string stem = entry.path().stem().string();
        SCOPED_TRACE(stem);
        ++files;

        std::map<std::string, std::vector<Message>> reference, mine;
        std::ifstream ref(kCaptures / (stem + ".sigrok.txt"));
        ASSERT_TRUE(ref) << "reference missing";
        for (std::string line; std::getline(ref, line);) {
            if (line.empty() || line[0] == '#') continue;
            const auto f = Split(line, '\t');
            ASSERT_GE(f.size(), 6u);
            if (f[4] != "ok") continue;
            const double t = std::stod(f[1]);
            bool skip = false;
            for (const Exception& e : kShortPreambles)
                if (stem == e.file && std::abs(e.startUs - t) < 1.0) skip = true;
            if (!skip) reference[f[0]].push_back({Lower(f[5]), t});
        }

        const RunResult r = RunQxtool("packets " + entry.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto lines = Split(r.out, '\n');
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "Number\tChannel\tTime[us]\tOrdered Set\tCRC\tMessage Type\tBytes");
        for (size_t i = 1; i < lines.size(); ++i) {
            const auto f = Split(lines[i], '\t');
            ASSERT_GE(f.size(), 6u) << lines[i];
            EXPECT_EQ(f[0], std::to_string(i - 1));
            if (f[4] != "good") continue;
            std::string hex = f.size() > 6 ? f[6] : "";
            std::erase(hex, ' ');
            mine[f[1]].push_back({Lower(hex), std::stod(f[2])});
        }

        ASSERT_EQ(mine.size(), reference.size());
        for (const auto& [channel, list] : reference) {
            const auto& got = mine[channel];
            ASSERT_EQ(got.size(), list.size()) << channel;
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(got[i].bytes, list[i].bytes) << channel << " message " << i;
                // The record file keeps µs truncated; the reference has fractions.
                EXPECT_NEAR(got[i].startUs, list[i].startUs, 1.0) << channel << " message " << i;
            }
        }
    }
    EXPECT_GT(files, 0);
}

TEST(Qxtool, InfoReportsTheHeaderBlockAndCounts) {
    const auto file = kCaptures / "pixel_2015-power_supply_20V.qxc";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no shared captures";
    const RunResult r = RunQxtool("info " + file.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Packets\t42\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Firmware version\t1.00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Capture origin [us, analyzer clock]\t0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Bytes written\t"), std::string::npos) << r.out;
}

// A generated capture, complete with its closed header block.
std::string DemoFile(const TempDir& dir) {
    const std::string path = dir.File("demo.qxc");
    const RunResult r = RunQxtool("synth demo --seconds 5 -o " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

// Times on the analyzer's clock and times since the capture origin are told apart in their labels: the
// last sample of a capture may well read smaller than its origin.
TEST(Qxtool, InfoSaysWhatEachTimeIsMeasuredFrom) {
    TempDir dir;
    const RunResult r = RunQxtool("info " + DemoFile(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"\nCapture origin [us, analyzer clock]\t", "\nLast sample [us since capture origin]\t",
                             "\nTime origin [us since capture origin]\t0\n",
                             "\nGraph marker O [us since capture origin]\t-\n",
                             "\nGraph marker X [us since capture origin]\t-\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
    EXPECT_EQ(r.out.find(" [us]\t"), std::string::npos) << r.out;
}

// A copy cut short decodes what it has, with a warning that says how much is missing.
TEST(Qxtool, CutShortFileWarnsAndStillDecodes) {
    TempDir dir;
    const std::string whole = DemoFile(dir);
    const std::vector<uint8_t> bytes = ReadFile(whole);
    ASSERT_GT(bytes.size(), 64u * 20);
    const std::string cut = dir.File("cut.qxc");
    WriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - 64 * 10 - 5));
    const std::string warning = "qxtool: warning: " + cut + ": " +
                                rec::MissingBytesText(64 * 10 + 5, int64_t(bytes.size()) - 64) + "\n";
    for (const char* cmd : {"info", "packets", "packets --columns default", "fields"}) {
        SCOPED_TRACE(cmd);
        const std::string tail = std::string(cmd) == "fields" ? " 0" : "";
        const std::string verb = Split(cmd, ' ')[0];
        const std::string options = std::string(cmd).substr(verb.size());
        RunResult r = RunQxtool(verb + " " + whole + options + tail);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string complete = r.out;
        r = RunQxtool(verb + " " + cut + options + tail);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, warning);
        EXPECT_FALSE(r.out.empty());
        if (verb != "info") {
            EXPECT_EQ(r.out.substr(0, 200), complete.substr(0, 200));
        }
    }
}

// `--columns all` is every column id in order, the same as naming them all.
TEST(Qxtool, ColumnsAllIsEveryColumnInIdOrder) {
    TempDir dir;
    const std::string file = DemoFile(dir);
    std::string ids, headers;
    for (int id = 0; id < kColumnCount; ++id) {
        ids += (id ? "," : "") + std::to_string(id);
        headers += (id ? "\t" : "") + std::string(kColumns[id].header);
    }
    const RunResult all = RunQxtool("packets " + file + " --columns all");
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(Split(all.out, '\n')[0], headers);
    const RunResult named = RunQxtool("packets " + file + " --columns " + ids);
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(all.out, named.out);
}

// Exit status 0 for help, 2 for a command line that is wrong in itself (with a one-line error), 1 for
// input that cannot be used.
TEST(Qxtool, ExitStatuses) {
    TempDir dir;
    const std::string file = DemoFile(dir);
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {"--help", 0},
        {"packets --help", 0},
        {"record --help", 0},
        {"", 2},
        {"--bogus", 2},
        {"packets", 2},
        {"packets " + file + " --bogus", 2},
        {"packets " + file + " " + file, 2},
        {"packets " + file + " --columns", 2},
        {"packets " + file + " --columns 0,Nope", 2},
        {"fields " + file + " x", 2},
        {"fields " + file + " 0 --range x", 2},
        {"synth demo -o " + dir.File("x.qxc") + " --clock 255", 2},
        {"synth demo", 2},
        {"packets " + dir.File("missing.qxc"), 1},
        {"fields " + file + " 999", 1},
        {"fields " + file + " 0 --block", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = RunQxtool(c.args);
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(r.err, "");
            EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
            continue;
        }
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.qxc")));
}

// A word that is no command is named as such, with the commands there are (those the help lists), in
// one line and status 2; whatever follows the word changes nothing.
TEST(Qxtool, AWordThatIsNoCommandIsNamedWithTheCommands) {
    const RunResult help = RunQxtool("--help");
    ASSERT_EQ(help.status, 0);
    std::vector<std::string> commands;
    bool inList = false;
    for (const std::string& line : Split(help.out, '\n')) {
        if (line == "Subcommands:") inList = true;
        else if (inList && line.rfind("  ", 0) == 0) commands.push_back(Split(line.substr(2), ' ')[0]);
    }
    ASSERT_GT(commands.size(), 5u) << help.out;
    for (const std::string& args : {std::string("bogus"), std::string("bogus x.qxc --json"), std::string("packet x.qxc")}) {
        SCOPED_TRACE(args);
        const RunResult r = RunQxtool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        const std::string word = args.find("packet ") == 0 ? "packet" : "bogus";
        EXPECT_EQ(r.err.rfind("qxtool: " + word + " is not a command", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        for (const std::string& c : commands) EXPECT_NE(r.err.find(" " + c), std::string::npos) << c << ": " << r.err;
    }
}

// The messages of info go by type code and name; the JSON keeps the codes alone.
TEST(Qxtool, InfoNamesTheMessageTypesBesideTheirCodes) {
    TempDir dir;
    const std::string file = DemoFile(dir);
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(file));
    const CaptureTallies& t = doc.store.tallies;
    struct Family {
        const char* label;
        MessageFamily family;
        const uint32_t (&counts)[32];
        const char* jsonKey;
    };
    const Family families[] = {
        {"Control messages by type", MessageFamily::Control, t.controlByType, "control_messages_by_type"},
        {"Data messages by type", MessageFamily::Data, t.dataByType, "data_messages_by_type"},
        {"Extended messages by type", MessageFamily::Extended, t.extendedByType, "extended_messages_by_type"},
    };
    const RunResult r = RunQxtool("info " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    const RunResult json = RunQxtool("info --json " + file);
    ASSERT_EQ(json.status, 0) << json.err;
    for (const Family& f : families) {
        SCOPED_TRACE(f.label);
        std::string text, codes;
        for (int code = 0; code < 32; ++code) {
            if (!f.counts[code]) continue;
            const MessageTypeInfo* m = FindMessageType(f.family, code);
            ASSERT_TRUE(m) << code;
            text += (text.empty() ? "" : ", ") + std::to_string(code) + " " + m->name + ": " +
                    std::to_string(f.counts[code]);
            codes += (codes.empty() ? "" : ",") + ("\"" + std::to_string(code) + "\":") +
                     std::to_string(f.counts[code]);
        }
        ASSERT_FALSE(text.empty());
        EXPECT_NE(r.out.find(std::string("\n") + f.label + "\t" + text + "\n"), std::string::npos) << r.out;
        EXPECT_NE(json.out.find("\"" + std::string(f.jsonKey) + "\":{" + codes + "}"), std::string::npos)
            << json.out;
    }
}

// The help of packets lists every column by id and header, so that --columns can be filled in.
TEST(Qxtool, PacketsHelpListsTheColumns) {
    const RunResult r = RunQxtool("packets --help");
    ASSERT_EQ(r.status, 0) << r.err;
    for (int id = 0; id < kColumnCount; ++id)
        EXPECT_NE(r.out.find(" " + std::to_string(id) + " " + kColumns[id].header), std::string::npos)
            << id << " in\n"
            << r.out;
    EXPECT_NE(r.out.find("all"), std::string::npos);
}

TEST(Qxtool, BadFilesGiveOneLineErrors) {
    TempDir dir;
    WriteFile(dir.File("empty.qxc"), {});
    WriteFile(dir.File("short.qxc"), std::vector<uint8_t>(40, 0));
    std::vector<uint8_t> noise(64 * 100);
    std::mt19937 rng(7);
    for (auto& b : noise) b = uint8_t(rng());
    WriteFile(dir.File("noise.qxc"), noise);
    std::filesystem::create_directory(dir.File("folder.qxc"));
    for (const char* name : {"missing.qxc", "empty.qxc", "short.qxc", "noise.qxc", "folder.qxc"}) {
        for (const char* cmd : {"packets", "info"}) {
            SCOPED_TRACE(std::string(cmd) + " " + name);
            const RunResult r = RunQxtool(std::string(cmd) + " " + dir.File(name));
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.out.empty());
            ASSERT_FALSE(r.err.empty());
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
            EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
        }
    }
}

TEST(Qxtool, ColumnsAndFieldTable) {
    const auto file = kCaptures / "pixel_2015-power_supply_20V.qxc";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no shared captures";
    RunResult r = RunQxtool("packets " + file.string() + " --columns '#,Type,22,Description'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 43u);
    EXPECT_EQ(lines[0], "#\tType\tMessage Size\tDescription");
    EXPECT_EQ(lines[1].substr(0, 28), "0\tSource_Capabilities\t14\t[1]");
    EXPECT_EQ(lines[2], "1\tGoodCRC\t2\t");

    r = RunQxtool("packets " + file.string() + " --columns default");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Split(r.out, '\n')[0], "#\tTimestamp\tCH\tOS\tPower\tData\tCable Plug\tType\tMes ID\tDescription");

    // The Request's object, with the fields of the capability it selects.
    r = RunQxtool("fields " + file.string() + " 2 --range 16:32");
    ASSERT_EQ(r.status, 0) << r.err;
    lines = Split(r.out, '\n');
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Offset [bits]\tLength [bits]\tField name\tValue\tDescription\tHEX\tASCII");
    EXPECT_EQ(Split(lines[1], '\t')[0], "0..9");

    r = RunQxtool("fields " + file.string() + " 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Data Object #3"), std::string::npos);

    for (const std::string& bad : {"fields " + file.string() + " 99", "fields " + file.string() + " 0 --block"}) {
        r = RunQxtool(bad);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << bad << ": " << r.err;
    }
}

namespace {
// CC2 answers in the middle of a long CC1 message, so the CC1 packet closes after the CC2 one and goes
// before it; the saved time origin (250 µs) moves the first packet's idle time.
std::vector<uint8_t> OverlappingChannelsCapture() {
    std::vector<uint8_t> bytes;
    enc::CRecordEncoder e({}, enc::AppendTo(bytes));
    enc::VbusSample v;
    v.vbusVoltage = 5000;
    e.AddVbusSample(v);
    traffic::Header caps;
    caps.type = 1;
    caps.source = caps.dfp = true;
    caps.objects = 7;
    traffic::Header goodCrc;
    goodCrc.type = 1;
    e.AddMessage(0, 1000, kKindSop,
                 traffic::Bytes(caps.Word(), {0x0A01912C, 1, 2, 3, 4, 5, 6})); // about 1.4 ms long
    e.AddMessage(1, 1200, kKindSop, traffic::Bytes(goodCrc.Word()));
    e.AddMessage(0, 3000, kKindSop, traffic::Bytes(goodCrc.Word()));
    e.AddMessage(1, 3700, kKindSop, traffic::Bytes(goodCrc.Word()));
    e.Finish(5000);
    enc::CMarkerBlockWriter marks;
    marks.AddTime(5, 250);
    const std::vector<uint8_t> m = marks.Blocks();
    bytes.insert(bytes.end(), m.begin(), m.end());
    return bytes;
}
} // namespace

// Every reader gets the idle time: the gap from the end of the packet before it (start plus length),
// for the first packet its own start from the time origin.
TEST(Qxtool, IdleTimeColumnMeasuresFromTheEndOfThePacketBefore) {
    TempDir dir;
    const std::string generated = dir.File("overlap.qxc");
    WriteFile(generated, OverlappingChannelsCapture());
    std::vector<std::string> files = {generated};
    if (std::filesystem::is_directory(kCaptures))
        for (const auto& entry : std::filesystem::directory_iterator(kCaptures))
            if (entry.path().extension() == ".qxc") files.push_back(entry.path().string());

    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const RunResult list = RunQxtool("packets " + file);
        const RunResult columns = RunQxtool("packets " + file + " --columns 'Idle Time,Pkt Len[us]'");
        ASSERT_EQ(list.status, 0) << list.err;
        ASSERT_EQ(columns.status, 0) << columns.err;
        const auto listed = Split(list.out, '\n');
        const auto cells = Split(columns.out, '\n');
        ASSERT_EQ(listed.size(), cells.size());
        ASSERT_GT(cells.size(), 3u);
        EXPECT_EQ(cells[0], "Idle Time\tPkt Len[us]");
        int64_t previousEnd = 0;
        std::vector<int64_t> idle;
        for (size_t i = 1; i < cells.size(); ++i) {
            const int64_t start = std::stoll(Split(listed[i], '\t').at(2)); // from the time origin
            const auto c = Split(cells[i], '\t');
            ASSERT_EQ(c.size(), 2u) << cells[i];
            idle.push_back(start - previousEnd);
            EXPECT_EQ(c[0], FormatTimeText(idle.back())) << "packet " << i - 1;
            previousEnd = start + std::stoll(c[1]);
        }
        if (file == generated) {
            ASSERT_EQ(idle.size(), 4u);
            EXPECT_EQ(idle[0], 1000 - 250);
            EXPECT_LT(idle[1], -500); // the CC2 answer starts 200 µs into the CC1 message
        }
    }
}

// udev imports whatever the probe prints, so every "no" must be silent with status 1: a device that is
// not an analyzer (bus 1 device 1 is a root hub wherever there is USB), a machine without USB, and
// arguments that name no device.
TEST(Qxtool, UdevProbeIsSilentWithStatusOneUnlessItFindsAnAnalyzer) {
    for (const char* args : {"1 1", "001 001", "64 127", "", "1", "1 2 3", "0 1", "1 0", "256 1", "1 128",
                             "1000 1", "x 1", "1 2x", "-1 2", "0x1 2", "1 +2", "'' 1", "1 --all"}) {
        SCOPED_TRACE(args);
        const RunResult r = RunQxtool(std::string("udev-probe ") + args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}
