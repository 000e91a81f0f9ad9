// `qxtool record` run as a user runs it, against the emulated analyzer: a timed recording that qxtool
// itself decodes back to the scenario's messages, a numbered series without a gap between its files, the
// ends that come from outside (signals, a closed output, a file size limit), files that exist already,
// recordings that end early, unusable folders and the argument errors. The hidden --speed runs the
// analyzer's clock and the timer faster, so that ten seconds of recording take a fraction of one.
#include "CaptureStore.h"
#include "QXDoc.h"
#include "RecordFile.h"
#include "RecordStream.h"
#include "device/SynthSupport.h"
#include "support/RecordFiles.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::string> RecordFiles(const std::string& out) {
    std::vector<std::string> files;
    for (const std::string& line : Split(out, '\n'))
        if (line.rfind("Record file\t", 0) == 0) files.push_back(line.substr(12));
    return files;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A record file closed with its header block, which names the emulated analyzer and counts every byte
// after it, and whose stream decodes.
void ExpectClosed(const std::string& path) {
    rec::RecordFileHead head;
    std::string reason;
    ASSERT_TRUE(rec::CheckRecordFile(path, &head, &reason)) << path << ": " << reason;
    ASSERT_GT(head.size, 64);
    EXPECT_EQ(rec::HeaderBytesWritten(head), head.size - 64);
    EXPECT_EQ(testrec::Head(head.head), testrec::ClosedHeader(uint64_t(head.size - 64)));
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(doc.store.decodePosition, head.size);
    EXPECT_GT(doc.store.SampleCount(), 0u);
}

// The analyzer's time the VBUS samples of a stream span, in seconds.
double StreamSeconds(const Bytes& stream) {
    int64_t first = -1, last = -1;
    for (size_t at = 0; at + 64 <= stream.size(); at += 64) {
        const uint8_t* b = stream.data() + at;
        if (rec::ClassifyBlock(b) != rec::BlockKind::VbusSamples) continue;
        for (int k = 0; k < rec::SampleCount(b); ++k) {
            const int64_t t = rec::ExtractSample(b, k).timeStamp;
            if (first < 0) first = t;
            last = t;
        }
    }
    return first < 0 ? 0 : double(last - first) / 1e6;
}

// One packet as a decoder lists it.
struct Row {
    std::string crc, type, bytes;
};

bool Matches(const Row& row, const synth::ExpectedPacket& x) {
    if (!x.name.empty() && row.type != x.name) return false;
    if (x.outcome == synth::Outcome::Good || x.outcome == synth::Outcome::BadCrc) {
        if (IsMessageKind(x.kind) && (row.crc != (x.outcome == synth::Outcome::Good ? "good" : "bad") ||
                                      row.bytes != synthtest::Hex(x.bytes.data(), x.bytes.size())))
            return false;
    }
    return true;
}

// A recording starts and ends anywhere in the stream, so its first and last packet may be cut; every
// other one must be the next packet the scenario sent. Returns how many matched in a row.
size_t ExpectRunOfSentPackets(const std::vector<Row>& rows, const std::vector<synth::ExpectedPacket>& sent) {
    if (rows.size() < 3) {
        ADD_FAILURE() << "only " << rows.size() << " packets";
        return 0;
    }
    size_t k = 0;
    while (k < sent.size() && !Matches(rows[1], sent[k])) ++k;
    for (size_t i = 1; i + 1 < rows.size(); ++i) {
        if (k + i - 1 >= sent.size() || !Matches(rows[i], sent[k + i - 1])) {
            ADD_FAILURE() << "packet " << i << " (" << rows[i].type << " " << rows[i].bytes
                          << ") is not the one the scenario sent next";
            return i - 1;
        }
    }
    return rows.size() - 2;
}

std::vector<Row> PacketsListed(const std::string& path) {
    const RunResult r = RunQxtool("packets " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Row> rows;
    const std::vector<std::string> lines = Split(r.out, '\n');
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = Split(lines[i], '\t');
        if (f.size() >= 6) rows.push_back({f[4], f[5], f.size() > 6 ? f[6] : ""});
    }
    return rows;
}

// Every file of a folder with its contents.
std::map<std::string, Bytes> FolderContents(const std::filesystem::path& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? ReadFile(entry.path().string()) : Bytes{'/'};
    return files;
}

// A one-line error on stderr, "qxtool: ..." naming what, with no second line.
void ExpectOneLineError(const RunResult& r, const std::string& what) {
    EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}

TEST(RecordCli, TenSecondsOfAScenarioDecodeToItsMessages) {
    TempDir dir;
    const RunResult r = RunQxtool("record --emulate=demo --seconds 10 --speed 20 --caption Cli --folder " +
                                  dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(RecordFiles(r.out), std::vector<std::string>{dir.File("Cli.qxc")});
    // The status lines say what the recording does: the window's hints about its buttons and the USB
    // port are not for a terminal. The last one says where the recording went.
    std::vector<std::string> status;
    for (const std::string& line : Split(r.out, '\n'))
        if (line.rfind("Record file\t", 0) != 0) status.push_back(line);
    ASSERT_GE(status.size(), 3u) << r.out;
    EXPECT_EQ(status.front().rfind("Capturing... ", 0), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "Capturing... ") + 2, status.size()) << r.out;
    EXPECT_EQ(r.out.find("button"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Connect "), std::string::npos) << r.out;
    EXPECT_EQ(status.back().rfind("Recorded to ", 0), 0u) << r.out;
    EXPECT_NE(status.back().find("Cli.qxc"), std::string::npos) << r.out;

    ExpectClosed(dir.File("Cli.qxc"));
    const Bytes file = ReadFile(dir.File("Cli.qxc"));
    const RunResult info = RunQxtool("info " + dir.File("Cli.qxc"));
    EXPECT_NE(info.out.find("Firmware version\t1.10\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Serial\t0123456789ABCDEF01234567\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Bytes written\t" + std::to_string(file.size() - 64) + "\n"), std::string::npos);

    // About ten seconds of the demo: its first 60-odd packets.
    const synthtest::Played played = synthtest::Play(synthtest::Builtin("demo"));
    EXPECT_GE(ExpectRunOfSentPackets(PacketsListed(dir.File("Cli.qxc")), played.sent), 40u);
}

// The files of a series, their header blocks taken off, make one stream: the CC edge blocks keep their
// sequence across the joins and the VBUS time stamps go on rising. Stopped once the second file has data.
TEST(RecordCli, SeriesOfFilesJoinsWithoutAGap) {
    TempDir dir;
    CRunningTool tool({"record", "--emulate=pps", "--speed", "100", "--multi", "--max-file-size", "1",
                       "--caption", "Cli", "--folder", dir.Path().string()});
    const std::string second = dir.File("Cli_0002.qxc");
    ASSERT_TRUE(tool.ReadUntil([&](const std::string&) {
        std::error_code ec;
        return std::filesystem::file_size(second, ec) > 64 && !ec;
    })) << tool.out;
    kill(tool.Pid(), SIGINT);
    const RunResult r = tool.Wait();
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> files = RecordFiles(r.out);
    ASSERT_GE(files.size(), 2u) << r.out;
    Bytes joined;
    for (size_t i = 0; i < files.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Cli_%04d.qxc", int(i + 1));
        EXPECT_EQ(files[i], dir.File(name));
        SCOPED_TRACE(name);
        ExpectClosed(files[i]);
        const Bytes file = ReadFile(files[i]);
        if (i + 1 < files.size()) {
            EXPECT_GT(file.size(), 1000000u);
        }
        joined.insert(joined.end(), file.begin() + 64, file.end());
    }

    int lastCounter = -1, lastSub = -1;
    int64_t lastStamp = -1;
    size_t ccBlocks = 0;
    for (size_t at = 0; at < joined.size(); at += 64) {
        const uint8_t* b = joined.data() + at;
        if (rec::ClassifyBlock(b) == rec::BlockKind::CcEdges) {
            const int counter = rec::CcBlockCounter(b), sub = rec::CcSubCounter(b);
            if (lastSub >= 0) {
                const int wantSub = (lastSub + 1) % 8;
                const int wantCounter = wantSub == 0 ? (lastCounter + 1) % 256 : lastCounter;
                ASSERT_TRUE(sub == wantSub && counter == wantCounter) << "gap before byte " << at;
            }
            lastCounter = counter;
            lastSub = sub;
            ++ccBlocks;
        } else if (rec::ClassifyBlock(b) == rec::BlockKind::VbusSamples) {
            for (int k = 0; k < rec::SampleCount(b); ++k) {
                const int64_t stamp = rec::ExtractSample(b, k).timeStamp;
                ASSERT_GT(stamp, lastStamp) << "byte " << at;
                lastStamp = stamp;
            }
        }
    }
    EXPECT_GT(ccBlocks, 1000u);

    CCaptureStore store;
    store.DecodeChunk(joined.data(), joined.size(), 64);
    std::vector<Row> rows;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        rows.push_back({!p.hasCrc   ? "-"
                        : p.crcGood ? "good"
                                    : "bad",
                        p.GetMessageTypeText(), synthtest::Hex(p.messageBytes, size_t(p.messageByteCount))});
    }
    // The scenario as sent for as long as the recording ran, and some more.
    synth::SynthOptions o;
    o.seconds = StreamSeconds(joined) + 10;
    EXPECT_GE(ExpectRunOfSentPackets(rows, synthtest::Play(synthtest::Builtin("pps"), o).sent), 100u);
}

// However a recording is ended from outside, its record file gets its closed header block and its data
// stays readable. Ctrl+C, a termination request and a hang-up (an ssh session that dropped) stop it; an
// output that nobody reads any more (qxtool record | head -1) does not end it; a file size limit (ulimit
// -f) ends it as a failed write.
TEST(RecordCli, EndsFromOutsideLeaveTheRecordFileClosed) {
    struct Case {
        const char* name;
        int signal;         // sent once the recording has written data
        bool closeOutput;   // instead, the reading end of the output goes then
        rlim_t sizeLimit;   // RLIMIT_FSIZE of qxtool in bytes; 0: none
        const char* length; // --seconds, when the recording is to end by itself
        int status;
        const char* says; // on stderr
    };
    const Case cases[] = {
        {"SIGINT", SIGINT, false, 0, nullptr, 0, ""},
        {"SIGTERM", SIGTERM, false, 0, nullptr, 0, ""},
        {"SIGHUP", SIGHUP, false, 0, nullptr, 0, ""},
        {"closed output (SIGPIPE)", 0, true, 0, "10", 0, ""},
        {"file size limit (SIGXFSZ)", 0, false, 64 + 200000, nullptr, 1, "Writing the record file failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<std::string> args = {"record",    "--emulate", "--speed",  "10",
                                         "--caption", "Sig",       "--folder", dir.Path().string()};
        if (c.length) args.insert(args.end(), {"--seconds", c.length});
        const rlim_t sizeLimit = c.sizeLimit;
        CRunningTool tool(args, [sizeLimit] {
            if (sizeLimit == 0) return;
            const rlimit limit{sizeLimit, sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        if (c.signal || c.closeOutput) {
            // A few ticks into the recording.
            ASSERT_TRUE(tool.ReadUntil([](const std::string& out) {
                return Count(out, "Capturing... ") >= 3;
            })) << tool.out;
            if (c.signal) kill(tool.Pid(), c.signal);
            if (c.closeOutput) tool.CloseOutput();
        }
        const RunResult r = tool.Wait();
        EXPECT_EQ(r.signal, 0) << "ended by signal " << r.signal;
        EXPECT_EQ(r.status, c.status) << r.err;
        if (*c.says) {
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        if (!c.closeOutput) {
            EXPECT_EQ(RecordFiles(r.out), std::vector<std::string>{dir.File("Sig.qxc")}) << r.out;
        }
        ExpectClosed(dir.File("Sig.qxc"));
    }
}

// A file of an earlier recording under the same name (in a series, any of its files) is kept: the
// recording does not start and says which file is in the way, until --overwrite is given.
TEST(RecordCli, ExistingFilesAreKeptUnlessOverwriteIsGiven) {
    struct Case {
        const char* mode;
        const char* existing;
    };
    for (const Case c : {Case{"", "Cli.qxc"}, Case{"--multi", "Cli_0003.qxc"}}) {
        SCOPED_TRACE(c.existing);
        TempDir dir;
        const std::string args = std::string("record --emulate=demo --seconds 2 --speed 20 --caption Cli ") +
                                 c.mode + " --folder " + dir.Path().string();
        const Bytes earlier = {1, 2, 3};
        WriteFile(dir.File(c.existing), earlier);
        const auto before = FolderContents(dir.Path());

        RunResult r = RunQxtool(args);
        EXPECT_EQ(r.status, 1);
        ExpectOneLineError(r, dir.File(c.existing));
        EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
        EXPECT_TRUE(RecordFiles(r.out).empty()) << r.out;
        EXPECT_EQ(FolderContents(dir.Path()), before);

        r = RunQxtool(args + " --overwrite");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> files = RecordFiles(r.out);
        ASSERT_EQ(files.size(), 1u) << r.out;
        ExpectClosed(files[0]);
    }
}

// Only a recording that ran its time or was stopped ends with status 0; one that ended before says why
// on a line of its own and ends with 1, its files closed and listed. The folder in the way of the second
// file of a series comes once the recording runs, since Run replaces what is there before.
TEST(RecordCli, EarlyEndsAreReportedWithStatusOne) {
    struct Case {
        const char* name;
        const char* multi;
        const char* blocked; // a folder where the second file of the series would go
        const char* says;
        const char* firstFile;
    };
    const Case cases[] = {
        {"file size limit", nullptr, nullptr, "size limit of 1 MB", "Cli.qxc"},
        {"next file of the series cannot be created", "--multi", "Cli_0002.qxc", "Cli_0002.qxc",
         "Cli_0001.qxc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<std::string> args = {
            "record", "--emulate=pps", "--speed", "20",       "--max-file-size",
            "1",      "--caption",     "Cli",     "--folder", dir.Path().string()};
        if (c.multi) args.push_back(c.multi);
        CRunningTool tool(args);
        if (c.blocked) {
            ASSERT_TRUE(tool.ReadUntil([](const std::string& out) {
                return Count(out, "Capturing... ") > 0;
            })) << tool.out;
            std::filesystem::create_directory(dir.File(c.blocked));
        }
        const RunResult r = tool.Wait();
        EXPECT_EQ(r.status, 1);
        ExpectOneLineError(r, c.says);
        ASSERT_EQ(RecordFiles(r.out), std::vector<std::string>{dir.File(c.firstFile)}) << r.out;
        EXPECT_GT(ReadFile(dir.File(c.firstFile)).size(), 1000000u);
        ExpectClosed(dir.File(c.firstFile));
    }
}

// A folder that is missing or cannot hold files is named in the error, before any analyzer is looked for.
TEST(RecordCli, UnusableFolderIsNamed) {
    TempDir dir;
    WriteFile(dir.File("plain"), {1});
    for (const std::string& folder : {dir.File("missing"), dir.File("plain"), dir.File("plain") + "/sub"}) {
        SCOPED_TRACE(folder);
        const RunResult r = RunQxtool("record --emulate --seconds 1 --speed 20 --folder " + folder);
        EXPECT_EQ(r.status, 1);
        ExpectOneLineError(r, folder);
        EXPECT_TRUE(RecordFiles(r.out).empty()) << r.out;
    }
    EXPECT_EQ(FolderContents(dir.Path()), (std::map<std::string, Bytes>{{"plain", {1}}}));
}

// The help names every option record takes, --speed too, and says what a length of 0 does; 0 records
// until Ctrl+C as no length does.
TEST(RecordCli, HelpNamesSpeedAndWhatZeroSecondsDo) {
    const RunResult help = RunQxtool("record --help");
    ASSERT_EQ(help.status, 0) << help.err;
    // Each option's entry: its line and the lines its description wraps to.
    std::map<std::string, std::string> entries;
    std::string option;
    for (const std::string& line : Split(help.out, '\n')) {
        if (line.rfind("  -", 0) == 0) option = Split(line.substr(2), ' ')[0];
        else if (line.rfind("    ", 0) != 0) option.clear();
        if (!option.empty()) entries[option] += line;
    }
    const std::string seconds = entries["--seconds"], speed = entries["--speed"];
    EXPECT_NE(seconds.find("0"), std::string::npos) << help.out;
    EXPECT_NE(seconds.find("Ctrl+C"), std::string::npos) << help.out;
    EXPECT_NE(speed.find("--emulate"), std::string::npos) << help.out;

    TempDir dir;
    CRunningTool tool({"record", "--emulate=demo", "--seconds", "0", "--speed", "50", "--folder", dir.Path().string()});
    ASSERT_TRUE(tool.ReadUntil([](const std::string& out) { return Count(out, "Capturing... ") >= 20; })) << tool.out;
    kill(tool.Pid(), SIGINT);
    const RunResult r = tool.Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RecordFiles(r.out).size(), 1u) << r.out;
}

// Status 2 for a command line that is wrong in itself, 1 for a scenario that cannot be used.
TEST(RecordCli, ArgumentErrors) {
    TempDir dir;
    struct Case {
        std::string args;
        const char* error;
        int status;
    };
    const Case cases[] = {
        {"record --emulate=nosuch", "unknown scenario: nosuch", 1},
        {"record --emulate=" + dir.File("missing.json"), "missing.json", 1},
        {"record --speed 5", "--speed needs --emulate", 2},
        {"record --emulate --max-file-size 0", "max-file-size", 2},
        {"record --emulate --seconds x", "--seconds", 2},
        {"record --emulate --bogus", "--bogus", 2},
    };
    for (const Case& c : cases) {
        const RunResult r = RunQxtool(c.args + " --folder " + dir.Path().string());
        EXPECT_EQ(r.status, c.status) << c.args;
        ExpectOneLineError(r, c.error);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

} // namespace
