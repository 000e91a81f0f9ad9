// `qxtool synth` as a user runs it: every built-in scenario listed by `qxtool packets` exactly as it was
// scripted, the options, deterministic files, JSON files, and one-line errors.
#include "device/SynthSupport.h"
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <sstream>
#include <sys/wait.h>

namespace {

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) v.push_back(line);
    return v;
}

// The row `qxtool packets` prints for a frame as sent, without its number and with the type column left
// out for frames whose header never arrived.
std::string Row(const synth::ExpectedPacket& x) {
    static const char* const kNames[] = {"Invalid", "SOP", "SOP'", "SOP''", "Hard Reset", "Cable Reset"};
    const std::string os = x.outcome == synth::Outcome::NoPreamble ? "-"
                           : x.kind >= 1 && x.kind <= 5            ? kNames[x.kind]
                                                                   : "Invalid";
    const std::string crc = x.outcome == synth::Outcome::BadCrc                          ? "bad"
                            : x.outcome == synth::Outcome::Good && IsMessageKind(x.kind) ? "good"
                                                                                         : "-";
    const std::string type = x.outcome == synth::Outcome::NoEop ? "*" : x.name;
    return "CC" + std::to_string(x.channel + 1) + "\t" + std::to_string(x.startTime) + "\t" + os + "\t" +
           crc + "\t" + type + "\t" + synthtest::Hex(x.bytes.data(), x.bytes.size());
}

void ExpectListedAsSent(const std::string& out, const std::vector<synth::ExpectedPacket>& sent) {
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), sent.size() + 1);
    EXPECT_EQ(lines[0], "Number\tChannel\tTime[us]\tOrdered Set\tCRC\tMessage Type\tBytes");
    for (size_t i = 0; i < sent.size(); ++i) {
        std::string line = lines[i + 1];
        const std::string number = std::to_string(i) + "\t";
        ASSERT_EQ(line.rfind(number, 0), 0u) << line;
        line.erase(0, number.size());
        std::string want = Row(sent[i]);
        const size_t star = want.find("\t*\t");
        if (star != std::string::npos) {
            // Header never received: compare around the type column.
            const size_t a = line.find('\t', star + 1);
            ASSERT_NE(a, std::string::npos) << line;
            line = line.substr(0, star + 1) + "*" + line.substr(a);
        }
        EXPECT_EQ(line, want) << "row " << i;
    }
}

} // namespace

TEST(SynthCli, EveryBuiltinScenarioListsExactlyAsScripted) {
    TempDir dir;
    for (const std::string& name : synth::BuiltinScenarioNames()) {
        SCOPED_TRACE(name);
        const std::string file = dir.File(name + ".qxc");
        const RunResult w = RunQxtool("synth " + name + " -o " + file);
        ASSERT_EQ(w.status, 0) << w.err;
        EXPECT_TRUE(w.out.empty());
        const synthtest::Played p = synthtest::Play(synthtest::Builtin(name));
        // The file is the header block and then the stream, byte for byte.
        const auto bytes = ReadFile(file);
        ASSERT_EQ(bytes.size(), p.stream.size() + 64);
        EXPECT_TRUE(std::equal(p.stream.begin(), p.stream.end(), bytes.begin() + 64));
        const RunResult r = RunQxtool("packets " + file);
        ASSERT_EQ(r.status, 0) << r.err;
        ExpectListedAsSent(r.out, p.sent);
        const RunResult info = RunQxtool("info " + file);
        EXPECT_NE(info.out.find("Bytes written\t" + std::to_string(p.stream.size()) + "\n"),
                  std::string::npos);
        EXPECT_NE(info.out.find("Firmware version\t1.10\n"), std::string::npos);
    }
}

TEST(SynthCli, OptionsAndDeterministicFiles) {
    TempDir dir;
    const std::string args = " --seconds 4 --clock 256 --seed 9";
    ASSERT_EQ(RunQxtool("synth pps -o " + dir.File("a.qxc") + args).status, 0);
    ASSERT_EQ(RunQxtool("synth pps -o " + dir.File("b.qxc") + args).status, 0);
    ASSERT_EQ(RunQxtool("synth pps -o " + dir.File("c.qxc") + " --seconds 4 --clock 256 --seed 10").status, 0);
    const auto a = ReadFile(dir.File("a.qxc"));
    EXPECT_EQ(a, ReadFile(dir.File("b.qxc")));
    EXPECT_NE(a, ReadFile(dir.File("c.qxc")));

    synth::SynthOptions o;
    o.seconds = 4;
    o.clockSetting = 256;
    o.seed = 9;
    const synthtest::Played p = synthtest::Play(synthtest::Builtin("pps"), o);
    ASSERT_EQ(a.size(), p.stream.size() + 64);
    EXPECT_TRUE(std::equal(p.stream.begin(), p.stream.end(), a.begin() + 64));
    const RunResult r = RunQxtool("packets " + dir.File("a.qxc"));
    ExpectListedAsSent(r.out, p.sent);
}

TEST(SynthCli, JsonScenarioFile) {
    TempDir dir;
    const std::string json = dir.File("bench.json");
    const std::string text = R"({"seconds": 1, "steps": [
        {"message": "Source_Capabilities", "from": "source"},
        {"message": "Request", "from": "sink", "position": 2},
        {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"}]})";
    WriteFile(json, std::vector<uint8_t>(text.begin(), text.end()));
    const RunResult w = RunQxtool("synth " + json + " -o " + dir.File("j.qxc"));
    ASSERT_EQ(w.status, 0) << w.err;
    synth::Scenario s;
    std::string error;
    ASSERT_TRUE(synth::LoadScenarioFile(json, &s, &error)) << error;
    EXPECT_EQ(s.name, "bench");
    const RunResult r = RunQxtool("packets " + dir.File("j.qxc"));
    ExpectListedAsSent(r.out, synthtest::Play(s).sent);
}

TEST(SynthCli, ListNamesEveryBuiltin) {
    const RunResult r = RunQxtool("synth --list");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    const auto names = synth::BuiltinScenarioNames();
    ASSERT_EQ(lines.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(lines[i].rfind(names[i] + "\t", 0), 0u) << lines[i];
}

TEST(SynthCli, BadInputGivesOneLineErrors) {
    TempDir dir;
    const std::string bad = dir.File("bad.json");
    WriteFile(bad, {'{', '"', 's'});
    const std::string wrong = dir.File("wrong.json");
    const std::string text = R"({"steps": [{"message": "Request", "from": "sink", "volts": 5}]})";
    WriteFile(wrong, std::vector<uint8_t>(text.begin(), text.end()));
    const std::string huge = dir.File("huge.json");
    const std::string hugeText = R"({"seconds": 1E400, "steps": []})";
    WriteFile(huge, std::vector<uint8_t>(hugeText.begin(), hugeText.end()));
    const std::string out = " -o " + dir.File("x.qxc");
    struct Case {
        std::string args, error;
        int status = 1; // 2: the command line itself is wrong
    };
    const Case cases[] = {
        {"synth " + bad + out, bad + ": invalid JSON: parse error"},
        {"synth " + wrong + out, wrong + ": steps[0]: Request: unknown field \"volts\""},
        {"synth " + huge + out, huge + ": invalid JSON: number overflow at line 1, column 13: '1E400'"},
        {"synth " + dir.File("missing.json") + out, "missing.json: cannot be read"},
        {"synth nosuch" + out, "unknown scenario: nosuch (built-in: demo, "},
        {"synth demo --clock 50" + out, "clock setting 50: divisor 51 is too coarse", 2},
        {"synth demo -o " + dir.File("no/such/dir.qxc"), "no/such/dir.qxc: No such file or directory"},
        {"synth demo", "synth needs a scenario and -o OUT.qxc", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = RunQxtool(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.empty());
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.rfind("qxtool: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
}
