// qxtool summary, check and the --json forms, run as a user runs them: exit statuses, the JSON shapes
// the README documents, and JSON that says what the tab-separated lists say.
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

std::vector<Json> Lines(const std::string& out) {
    std::vector<Json> v;
    for (const std::string& line : Split(out, '\n'))
        if (!line.empty()) v.push_back(Json::parse(line));
    return v;
}

class AnalysisCli : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        for (const char* name : {"spr", "pps", "dock"})
            ASSERT_EQ(RunQxtool(std::string("synth ") + name + " -o " + File(name)).status, 0) << name;
        // A contract, then a Ping nobody acknowledges: one error.
        const std::string ping = dir->File("ping.json");
        std::ofstream(ping) << R"({"seconds": 1, "steps": [{"message": "Source_Capabilities", "from": "source"},
            {"message": "Request", "from": "sink", "position": 1, "mA": 3000}, {"message": "Accept", "from": "source"},
            {"message": "PS_RDY", "from": "source"}, {"message": "Ping", "from": "source", "error": "noreply", "after": 50}]})";
        ASSERT_EQ(RunQxtool("synth " + ping + " -o " + File("ping")).status, 0);
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static std::string File(const std::string& name) { return dir->File(name + ".qxc"); }
    static TempDir* dir;
};
TempDir* AnalysisCli::dir = nullptr;

TEST_F(AnalysisCli, CheckExitStatusFollowsTheFindingsAndTheSeverity) {
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {"check " + File("spr"), 0},                   // offers before a sink answers are only info
        {"check " + File("spr") + " --severity info", 2},
        {"check " + File("ping"), 2},                  // the unacknowledged Ping
        {"check " + File("ping") + " --severity error", 2},
        {"check " + File("ping") + " --rules message-id,ps-transition", 0},
        {"check " + File("pps"), 0},
        {"check " + File("pps") + " --severity info", 0},
        {"check " + File("spr") + " --limit tTransmit=1", 2},
        {"check " + File("spr") + " --rules no-such-rule", 1},
        {"check " + File("spr") + " --severity loud", 1},
        {"check " + File("spr") + " --limit tTransmit=fast", 1},
        {"check " + dir->File("missing.qxc"), 1},
        {"summary " + dir->File("missing.qxc"), 1},
    };
    for (const Case& c : cases) {
        const RunResult r = RunQxtool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
    }
}

TEST_F(AnalysisCli, CheckJsonLinesOneFindingEach) {
    const RunResult text = RunQxtool("check --rules goodcrc-missing " + File("ping"));
    const RunResult json = RunQxtool("check --rules goodcrc-missing --json " + File("ping"));
    ASSERT_EQ(json.status, 2);
    const std::vector<Json> lines = Lines(json.out);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(Split(text.out, '\n').size(), 2u) << text.out; // header and the finding
    const Json& f = lines[0];
    EXPECT_EQ(f["rule"], "goodcrc-missing");
    EXPECT_EQ(f["severity"], "error");
    EXPECT_EQ(f["packets"].size(), 1u);
    EXPECT_EQ(f["measured"], 3);
    EXPECT_EQ(f["unit"], "transmissions");
    EXPECT_TRUE(f["time_us"].is_number_integer());
    EXPECT_TRUE(f["text"].is_string());
}

TEST_F(AnalysisCli, SummaryJsonOneConnectionALine) {
    const RunResult r = RunQxtool("summary --json " + File("dock"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Json> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 1u);
    const Json& c = lines[0];
    EXPECT_EQ(c["connection"], 1);
    EXPECT_EQ(c["start_reason"], "attach");
    EXPECT_TRUE(c["end_us"].is_null());
    EXPECT_EQ(c["revisions"]["SOP"], "3.x");
    ASSERT_EQ(c["offers"].size(), 1u);
    EXPECT_EQ(c["offers"][0]["objects"][0]["kind"], "fixed");
    EXPECT_EQ(c["requests"][0]["answer"], "Accept");
    EXPECT_EQ(c["contracts"][0]["power"]["mV"], 5000);
    EXPECT_EQ(c["contracts"][0]["power"]["operating_mA"], 1500);
    EXPECT_EQ(c["cable"]["active"], true);
    EXPECT_EQ(c["cable"]["current_mA"], 3000);
    bool dpEntered = false;
    for (const Json& m : c["alt_modes"]) dpEntered |= m["svid"] == "FF01" && m["entered_position"] == 1;
    EXPECT_TRUE(dpEntered);

    const RunResult text = RunQxtool("summary " + File("dock"));
    EXPECT_NE(text.out.find("Contract\t"), std::string::npos);
    EXPECT_NE(text.out.find("Cable\t"), std::string::npos);
}

// The JSON forms carry what the lists carry.
TEST_F(AnalysisCli, PacketsFieldsAndInfoJsonMatchTheirLists) {
    const std::string f = File("spr");
    const std::vector<std::string> rows = Split(RunQxtool("packets " + f).out, '\n');
    const std::vector<Json> packets = Lines(RunQxtool("packets --json " + f).out);
    ASSERT_GT(packets.size(), 5u);
    ASSERT_GE(rows.size(), packets.size() + 1);
    for (size_t i = 0; i < packets.size(); ++i) {
        const std::vector<std::string> cells = Split(rows[i + 1], '\t');
        ASSERT_EQ(cells.size(), 7u);
        EXPECT_EQ(packets[i]["number"], std::stoll(cells[0]));
        EXPECT_EQ(packets[i]["channel"], cells[1]);
        EXPECT_EQ(packets[i]["time_us"], std::stoll(cells[2]));
        EXPECT_EQ(packets[i]["message_type"], cells[5]);
        EXPECT_EQ(packets[i]["bytes"], cells[6]);
    }
    const std::vector<Json> columns = Lines(RunQxtool("packets --json --columns '#,Type' " + f).out);
    ASSERT_EQ(columns.size(), packets.size());
    EXPECT_EQ(columns[2]["Type"], packets[2]["message_type"]);
    EXPECT_EQ(columns[2]["#"], "2");

    const std::vector<std::string> fieldRows = Split(RunQxtool("fields " + f + " 0").out, '\n');
    const std::vector<Json> fields = Lines(RunQxtool("fields --json " + f + " 0").out);
    ASSERT_FALSE(fields.empty());
    EXPECT_EQ(fields.size() + 1, fieldRows.size() - (fieldRows.back().empty() ? 1 : 0));
    const std::vector<std::string> first = Split(fieldRows[1], '\t');
    EXPECT_EQ(fields[0]["name"], first[2]);
    EXPECT_EQ(fields[0]["offset"], first[0]);
    EXPECT_EQ(fields[0]["value"], first[3]);
    EXPECT_EQ(RunQxtool("fields --json " + f + " 100000").status, 1);

    const std::vector<Json> info = Lines(RunQxtool("info --json " + f).out);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0]["packets"], packets.size());
    EXPECT_EQ(info[0]["tallies"]["all"], packets.size());
    EXPECT_NE(RunQxtool("info " + f).out.find("Packets\t" + std::to_string(packets.size()) + "\n"), std::string::npos);
}

} // namespace
