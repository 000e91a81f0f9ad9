// qxtool flow run as a user runs it: exit statuses, the text and JSON Lines saying the same, a packet range
// choosing the exchanges that hold its packets, and the SVG a browser-grade renderer reads.
#include "support/RunTool.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

class FlowCli : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        for (const char* name : {"spr", "demo"})
            ASSERT_EQ(RunQxtool(std::string("synth ") + name + " -o " + File(name)).status, 0) << name;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static std::string File(const std::string& name) { return dir->File(name + ".qxc"); }
    static TempDir* dir;
};
TempDir* FlowCli::dir = nullptr;

// The exchange lines of the text: those not indented.
std::vector<std::vector<std::string>> ExchangeRows(const std::string& out) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Split(out, '\n'))
        if (!line.empty() && line[0] != '\t') rows.push_back(Split(line, '\t'));
    return rows;
}

TEST_F(FlowCli, ExitStatuses) {
    const std::string svg = dir->File("exists.svg");
    std::ofstream(svg) << "x";
    const struct {
        std::string args;
        int status;
    } cases[] = {
        {"flow " + File("spr"), 0},
        {"flow --json " + File("spr") + " --from 3 --to 10", 0},
        {"flow " + File("spr") + " --from 10 --to 3", 2},
        {"flow " + File("spr") + " --from x", 2},
        {"flow " + File("spr") + " --to 100000", 1},
        {"flow " + dir->File("missing.qxc"), 1},
        {"flow " + File("spr") + " --svg " + svg, 1}, // exists
        {"flow " + File("spr") + " --svg " + svg + " --overwrite", 0},
        {"flow " + File("spr") + " --svg " + dir->Path().string(), 1},
    };
    for (const auto& c : cases) {
        const RunResult r = RunQxtool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out << r.err;
        if (c.status != 0) {
            EXPECT_NE(r.err.find("qxtool: "), std::string::npos) << c.args;
        }
    }
    std::ifstream in(svg);
    std::string head;
    std::getline(in, head);
    EXPECT_EQ(head.rfind("<?xml", 0), 0u);
}

// The text and the JSON Lines list the same exchanges with the same transactions.
TEST_F(FlowCli, TextAndJsonSayTheSame) {
    const RunResult text = RunQxtool("flow " + File("demo"));
    const RunResult json = RunQxtool("flow --json " + File("demo"));
    ASSERT_EQ(text.status, 0) << text.err;
    ASSERT_EQ(json.status, 0) << json.err;
    const auto rows = ExchangeRows(text.out);
    ASSERT_GT(rows.size(), 20u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Exchange", "Title", "Kind", "Time[us]", "Duration[us]",
                                                 "Initiator", "Result", "Findings"}));
    std::vector<Json> lines;
    for (const std::string& line : Split(json.out, '\n'))
        if (!line.empty()) lines.push_back(Json::parse(line));
    ASSERT_EQ(lines.size(), rows.size() - 1);
    size_t transactions = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Json& j = lines[i];
        const std::vector<std::string>& row = rows[i + 1];
        EXPECT_EQ(std::to_string(j["exchange"].get<int>()), row[0]);
        EXPECT_EQ(j["title"], row[1]);
        EXPECT_EQ(j["kind"], row[2]);
        EXPECT_EQ(std::to_string(j["start_us"].get<int64_t>()), row[3]);
        EXPECT_EQ(std::to_string(j["duration_us"].get<int64_t>()), row[4]);
        EXPECT_EQ(j["initiator"].is_null() ? "-" : j["initiator"].get<std::string>(), row[5]);
        EXPECT_EQ(j["result"], row[6]);
        EXPECT_EQ(std::to_string(j["findings"].size()), row[7]);
        for (const Json& t : j["transactions"]) {
            ++transactions;
            for (const char* key :
                 {"label", "message_type", "ordered_set", "start_us", "end_us", "from", "to", "message_id",
                  "transmissions", "retries", "acknowledged", "outcome", "packets"})
                EXPECT_TRUE(t.contains(key)) << key;
            EXPECT_FALSE(t["packets"].empty());
        }
    }
    size_t indented = 0;
    for (const std::string& line : Split(text.out, '\n'))
        indented += line.size() > 2 && line[0] == '\t' && line[1] != '!';
    EXPECT_EQ(indented, transactions);
    // The bad-CRC Get_Status: one transaction, retried once, its finding with it.
    bool found = false;
    for (const Json& j : lines)
        for (const Json& t : j["transactions"])
            if (t["label"] == "Get_Status" && t["outcome"] == "retried") {
                found = true;
                EXPECT_EQ(t["transmissions"], 2);
                EXPECT_EQ(t["packets"][0]["role"], "failed transmission");
                ASSERT_EQ(j["findings"].size(), 1u);
                EXPECT_EQ(j["findings"][0]["rule"], "invalid-packet");
            }
    EXPECT_TRUE(found);
}

// --from and --to choose the exchanges that hold a packet in the range.
TEST_F(FlowCli, RangeChoosesTheExchangesOfItsPackets) {
    const auto exchanges = [&](const std::string& range) {
        std::vector<std::string> kinds;
        const RunResult r = RunQxtool("flow " + File("spr") + " " + range);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto rows = ExchangeRows(r.out);
        for (size_t i = 1; i < rows.size(); ++i)
            kinds.push_back(rows[i][0] + " " + rows[i][2] + " " + rows[i][6]);
        return kinds;
    };
    // #0-#2: the unanswered offer; #3-#10: the negotiation; then Get_Sink_Cap.
    EXPECT_EQ(exchanges("--to 1"), std::vector<std::string>{"1 power negotiation timed out"});
    EXPECT_EQ(exchanges("--from 5 --to 6"), std::vector<std::string>{"2 power negotiation completed"});
    EXPECT_EQ(exchanges("--from 10"),
              (std::vector<std::string>{"2 power negotiation completed", "3 capabilities query completed"}));
}

// The diagram a user attaches to a bug report: read by a browser-grade renderer when there is one here.
TEST_F(FlowCli, SvgOfTheDiagram) {
    const std::string svg = dir->File("demo.svg");
    ASSERT_EQ(RunQxtool("flow " + File("demo") + " --svg " + svg + " --from 26 --to 60").status, 0);
    std::ifstream in(svg);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* part :
         {"<svg ", "Source</text>", "Sink</text>", "Cable SOP&apos;</text>", "Alert</text>",
          "Get_Status (not read)</text>", "EPR_Mode Enter</text>", "</svg>"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    // Packets before the range are not drawn.
    EXPECT_EQ(text.find("Source_Capabilities</text>"), std::string::npos);
    if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "no rsvg-convert";
    const std::string png = dir->File("demo.png");
    EXPECT_EQ(std::system(("rsvg-convert " + svg + " -o " + png + " 2>/dev/null").c_str()), 0);
    std::ifstream image(png, std::ios::binary);
    char magic[4] = {};
    image.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

} // namespace
