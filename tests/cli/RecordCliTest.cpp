// `qxtool record` run as a user runs it, against the emulated analyzer: a timed recording that qxtool
// itself decodes back to the scenario's messages, a numbered series without a gap between its files,
// Ctrl+C, files that exist already, recordings that end early, unusable folders and the argument errors. The hidden --speed runs the analyzer's clock and the timer faster, so
// that ten seconds of recording take a fraction of one.
#include "CaptureStore.h"
#include "RecordStream.h"
#include "device/SynthSupport.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <map>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

// What the header block of a closed record file says.
struct Header {
    std::optional<uint16_t> firmware;
    std::optional<std::string> serial;
    std::optional<uint64_t> bytes;
};

Header ReadHeader(const Bytes& file) {
    Header h;
    if (file.size() < 64 || rec::ClassifyBlock(file.data()) != rec::BlockKind::Marker) return h;
    rec::ForEachMarkerEntry(file.data(), [&](const rec::MarkerEntry& e) {
        if (e.type == 2) h.firmware = rec::ReadU16(e.value);
        if (e.type == 3) h.serial = synthtest::Hex(e.value, e.length);
        if (e.type == 4) h.bytes = rec::ReadU64(e.value);
        return true;
    });
    return h;
}

void ExpectClosed(const Bytes& file) {
    const Header h = ReadHeader(file);
    EXPECT_EQ(h.firmware, 0x110);
    EXPECT_EQ(h.serial, "67 45 23 01 EF CD AB 89 67 45 23 01");
    ASSERT_TRUE(h.bytes.has_value());
    EXPECT_EQ(*h.bytes, file.size() - 64);
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
    EXPECT_GE(Count(r.out, "Capturing... "), 10u) << r.out;
    EXPECT_NE(r.out.find("Connected.  (Push \"Run\" button to start capturing.)"), std::string::npos);
    ASSERT_EQ(RecordFiles(r.out), std::vector<std::string>{dir.File("Cli.qxc")});

    const Bytes file = ReadFile(dir.File("Cli.qxc"));
    ExpectClosed(file);
    const RunResult info = RunQxtool("info " + dir.File("Cli.qxc"));
    EXPECT_NE(info.out.find("Firmware version\t1.10\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Serial\t0123456789ABCDEF01234567\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Bytes written\t" + std::to_string(file.size() - 64) + "\n"), std::string::npos);

    // About ten seconds of the demo: its first 60-odd packets.
    const synthtest::Played played = synthtest::Play(synthtest::Builtin("demo"));
    EXPECT_GE(ExpectRunOfSentPackets(PacketsListed(dir.File("Cli.qxc")), played.sent), 40u);
}

// The files of a series, their header blocks taken off, make one stream: the CC edge blocks keep their
// sequence across the joins and the VBUS time stamps go on rising.
TEST(RecordCli, SeriesOfFilesJoinsWithoutAGap) {
    TempDir dir;
    const RunResult r = RunQxtool("record --emulate=pps --seconds 90 --speed 100 --multi --max-file-size 1 "
                                  "--caption Cli --folder " +
                                  dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> files = RecordFiles(r.out);
    ASSERT_GE(files.size(), 2u) << r.out;
    Bytes joined;
    for (size_t i = 0; i < files.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Cli_%04d.qxc", int(i + 1));
        EXPECT_EQ(files[i], dir.File(name));
        const Bytes file = ReadFile(files[i]);
        SCOPED_TRACE(name);
        ExpectClosed(file);
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
    synth::SynthOptions o;
    o.seconds = 200;
    EXPECT_GE(ExpectRunOfSentPackets(rows, synthtest::Play(synthtest::Builtin("pps"), o).sent), 100u);
}

// Ctrl+C during a recording: the file is closed with its header block and the exit status is 0.
TEST(RecordCli, InterruptStopsCleanly) {
    TempDir dir;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string folder = dir.Path().string();
    const char* argv[] = {QXTOOL_PATH, "record", "--emulate", "--speed",      "10",
                          "--caption", "Int",    "--folder",  folder.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, QXTOOL_PATH, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    std::string text;
    char buffer[4096];
    bool interrupted = false;
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, size_t(n));
        // A few ticks into the recording.
        if (!interrupted && Count(text, "Capturing... ") >= 3) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(interrupted) << text;
    ASSERT_TRUE(WIFEXITED(status)) << text;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(RecordFiles(text), std::vector<std::string>{dir.File("Int.qxc")});
    const Bytes file = ReadFile(dir.File("Int.qxc"));
    EXPECT_GT(file.size(), 64u);
    ExpectClosed(file);
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
        ExpectClosed(ReadFile(files[0]));
    }
}

// Only a recording that ran its time or was stopped ends with status 0; one that ended before says why
// on a line of its own and ends with 1, its files closed and listed.
TEST(RecordCli, EarlyEndsAreReportedWithStatusOne) {
    struct Case {
        const char* name;
        const char* args;
        const char* blocked; // a folder where the second file of the series would go
        const char* says;
        const char* firstFile;
    };
    const Case cases[] = {
        {"file size limit", "", nullptr, "size limit of 1 MB", "Cli.qxc"},
        {"next file of the series cannot be created", "--multi --overwrite", "Cli_0002.qxc", "Cli_0002.qxc",
         "Cli_0001.qxc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.blocked) std::filesystem::create_directory(dir.File(c.blocked));
        const RunResult r = RunQxtool(std::string("record --emulate=pps --seconds 90 --speed 100 --max-file-size 1 "
                                                  "--caption Cli ") +
                                      c.args + " --folder " + dir.Path().string());
        EXPECT_EQ(r.status, 1);
        ExpectOneLineError(r, c.says);
        ASSERT_EQ(RecordFiles(r.out), std::vector<std::string>{dir.File(c.firstFile)}) << r.out;
        const Bytes file = ReadFile(dir.File(c.firstFile));
        EXPECT_GT(file.size(), 1000000u);
        ExpectClosed(file);
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
