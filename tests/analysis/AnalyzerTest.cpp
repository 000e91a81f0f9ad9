// The analysis against traffic whose faults are known: for every rule a scenario that breaks it once and
// one that keeps it; the built-in scenarios; the shared real captures; feeding in pieces; the reasons of
// the red rows.
#include "Analyzer.h"
#include "AnalysisTexts.h"

#include "BmcDecoder.h"
#include "FindCriteria.h"
#include "QXDoc.h"
#include "RecordEncoder.h"
#include "Settings.h"
#include "device/SynthSupport.h"
#include "support/Blocks.h"
#include "support/DecodedPackets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

using namespace analysis;

namespace {

using synthtest::Decoded;
using synthtest::PlayAndDecode;

synth::Scenario FromJson(const std::string& text) {
    synth::Scenario s;
    std::string error;
    EXPECT_TRUE(synth::ScenarioFromJson(text, &s, &error)) << error;
    return s;
}

std::map<std::string, int> CountByRule(const Results& r) {
    std::map<std::string, int> n;
    for (const Finding& f : r.findings) ++n[RuleInfoOf(f.rule).key];
    return n;
}

std::string Describe(const Results& r) {
    std::string t;
    for (const Finding& f : r.findings) t += std::string(RuleInfoOf(f.rule).key) + ": " + f.text + "\n";
    return t;
}

// A source at vSafe5V before the script starts, so that the analog rules have readings that move.
std::string Scenario(const std::string& extra, const std::string& steps, double seconds = 2) {
    return R"({"seconds": )" + std::to_string(seconds) + R"(, "analog": {"attach": false})" +
           (extra.empty() ? "" : ", " + extra) + R"(, "steps": [)" + steps + "]}";
}

const char* const kNegotiate9V = R"({"message": "Source_Capabilities", "from": "source"},
    {"message": "Request", "from": "sink", "position": 2, "mA": 3000},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})";

const std::string kEprParties = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000, "flags": ["unconstrained", "epr"]},
      {"fixed": 9000, "mA": 3000}, {"fixed": 20000, "mA": 5000}], "eprSourceCaps": [{"fixed": 28000, "mA": 5000}],
      "pdpW": 100, "eprPdpW": 140},
    "sink": {"sinkCaps": [{"fixed": 5000, "mA": 3000}, {"fixed": 20000, "mA": 5000}],
      "eprSinkCaps": [{"fixed": 28000, "mA": 5000}], "eprPdpW": 140},
    "cable": {"currentA": 5, "maxVolts": 50, "epr": true, "revision": "3.0"})";

std::string EprSteps(const std::string& keepAlive) {
    return R"({"message": "Source_Capabilities", "from": "source"},
    {"message": "Request", "from": "sink", "position": 3, "mA": 5000, "epr": 1},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"},
    {"message": "EPR_Mode", "from": "sink", "action": "Enter", "after": 100},
    {"message": "EPR_Mode", "from": "source", "action": "Enter Acknowledged"},
    {"message": "EPR_Mode", "from": "source", "action": "Enter Succeeded"},
    {"message": "EPR_Source_Capabilities", "from": "source"},
    {"message": "EPR_Request", "from": "sink", "position": 8, "mA": 5000, "epr": 1},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"}, )" +
           keepAlive;
}

const char* const kKeepAlive = R"({"repeat": {"everyMs": 350, "steps": [
    {"message": "Extended_Control", "from": "sink", "type": "EPR_KeepAlive"},
    {"message": "Extended_Control", "from": "source", "type": "EPR_KeepAlive_Ack"}]}})";

const char* const kBackTo5V = R"({"wait": 300}, {"message": "Request", "from": "sink", "position": 1, "mA": 3000},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})";

const char* const kTwoOffers = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"fixed": 9000, "mA": 3000}]})";
const std::string kFiveAmps = R"("analog": {"attach": true},
    "source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"fixed": 20000, "mA": 5000}]})";
const char* const k5AContract = R"({"message": "Source_Capabilities", "from": "source"},
    {"message": "Request", "from": "sink", "position": 2, "mA": 5000},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})";
const char* const kDualRole = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000, "flags": ["drp"]}],
      "sinkCaps": [{"fixed": 5000, "mA": 1500, "flags": ["drp"]}]},
    "sink": {"sourceCaps": [{"fixed": 5000, "mA": 1500, "flags": ["drp"]}],
      "sinkCaps": [{"fixed": 5000, "mA": 3000, "flags": ["drp"]}]})";

std::string HardResets(int n) {
    std::string steps;
    for (int i = 0; i < n; ++i) steps += std::string(i ? ", " : "") + R"({"message": "Hard Reset", "from": "source", "after": 1500})";
    return steps;
}

// A power role swap whose old source sends its PS_RDY `offMs` after the Accept.
std::string PrSwap(int offMs) {
    return R"({"message": "Source_Capabilities", "from": "source"},
    {"message": "Request", "from": "sink", "position": 1, "mA": 1000},
    {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"},
    {"message": "PR_Swap", "from": "sink", "after": 100}, {"message": "Accept", "from": "source"},
    {"message": "PS_RDY", "from": "source", "after": )" +
           std::to_string(offMs) + R"(}, {"message": "PS_RDY", "from": "sink"})";
}

struct RuleCase {
    const char* rule;
    std::string breaks, keeps;
    // Rules the same traffic breaks besides (a PS_RDY at the wrong voltage also starts a contract at it).
    std::set<std::string> breakAlso = {}, keepAlso = {};
    int count = 1; // findings of the rule the broken traffic gives
};

// Raw headers (revision 3.0): the source is DFP, the sink UFP; the id is bits 9..11.
std::vector<RuleCase> RuleCases() {
    const std::string ping = R"({"message": "Ping", "from": "source"})";
    const std::string pps = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"pps": [3300, 11000], "mA": 3000}]})";
    const std::string ppsSteps = R"({"message": "Source_Capabilities", "from": "source"},
        {"message": "Request", "from": "sink", "position": 2, "mV": 5000, "mA": 2000},
        {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})";
    // A second request for 9 V, in raw bytes the synthesizer sends without acting on them: the supply
    // keeps allowing 3 A while the new contract says 1 A (or 3 A).
    auto lowerRequest = [](const char* rdo) {
        return std::string(kNegotiate9V) + R"(, {"raw": ")" + rdo + R"(", "from": "sink", "after": 100},
            {"raw": "A3 07", "from": "source"}, {"raw": "A6 09", "from": "source"})";
    };
    return {
        {"goodcrc-missing", Scenario("", R"({"message": "Ping", "from": "source", "error": "noreply"})"),
         Scenario("", ping), {"retry"}},
        {"goodcrc-late", Scenario(R"("timing": {"goodCrcUs": [300, 400]})", ping), Scenario("", ping)},
        // The sink's GoodCRCs in raw bytes after a Ping nobody answered: first one with MessageID 3, then
        // the right one, late behind it.
        {"goodcrc-message-id",
         Scenario("", R"({"message": "Ping", "from": "source", "error": "noreply"}, {"raw": "81 06", "from": "sink", "after": 0.05},
            {"raw": "81 00", "from": "sink", "after": 0.05})"),
         Scenario("", R"({"message": "Ping", "from": "source", "error": "noreply"}, {"raw": "81 00", "from": "sink", "after": 0.05})"),
         {"goodcrc-late", "retry"}, {"retry"}}, // the right GoodCRC can only come after the wrong one
        // A Ping sent three times, the most revision 3.0 allows, and acknowledged at last by a raw GoodCRC;
        // or sent a fourth time a millisecond later.
        {"retry-count",
         Scenario("", R"({"raw": "A5 01", "from": "source", "error": "noreply"}, {"raw": "A5 01", "from": "source", "after": 1})"),
         Scenario("", R"({"raw": "A5 01", "from": "source", "error": "noreply"}, {"raw": "81 00", "from": "sink", "after": 0.05})"),
         {"retry"}, {"retry"}},
        {"message-id", Scenario("", ping + R"(, {"raw": "A5 0B", "from": "source"})"),
         Scenario("", ping + R"(, {"raw": "A5 03", "from": "source"})")},
        {"sender-response",
         Scenario("", R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Sink_Capabilities", "from": "sink", "after": 40})"),
         Scenario("", R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Sink_Capabilities", "from": "sink", "after": 10})")},
        {"ps-transition",
         Scenario("", R"({"message": "Source_Capabilities", "from": "source"},
            {"message": "Request", "from": "sink", "position": 1, "mA": 3000},
            {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source", "after": 700})"),
         Scenario("", R"({"message": "Source_Capabilities", "from": "source"},
            {"message": "Request", "from": "sink", "position": 1, "mA": 3000},
            {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source", "after": 400})")},
        // The request for 9 V in raw bytes: the synthesizer leaves VBUS at 5 V, under the new contract too.
        {"vbus-at-ps-rdy",
         Scenario("", R"({"message": "Source_Capabilities", "from": "source"}, {"raw": "82 10 2C B1 04 20", "from": "sink"},
            {"raw": "A3 03", "from": "source"}, {"raw": "A6 05", "from": "source"})"),
         Scenario("", kNegotiate9V), {"vbus-out-of-contract"}},
        {"vbus-out-of-contract",
         Scenario(R"("analog": {"attach": false, "cableMilliohms": 1000, "load": 100})",
                  std::string(kNegotiate9V) + R"(, {"load": [[300, 3000], [100000, 100]], "after": 100})"),
         Scenario(R"("analog": {"attach": false, "load": 100})",
                  std::string(kNegotiate9V) + R"(, {"load": [[300, 3000], [100000, 100]], "after": 100})")},
        {"over-current", Scenario(R"("analog": {"attach": false, "load": 2000})", lowerRequest("82 12 2C 91 01 20")),
         Scenario(R"("analog": {"attach": false, "load": 2000})", lowerRequest("82 12 2C B1 04 20"))},
        {"pps-request", Scenario(pps, ppsSteps, 12.5), Scenario(pps, ppsSteps, 8)},
        {"epr-keepalive", Scenario(kEprParties, EprSteps(R"({"wait": 900}, )" + std::string(kKeepAlive)), 4),
         Scenario(kEprParties, EprSteps(kKeepAlive), 4)},
        // A slow supply: down too late, and so up too late as well.
        {"hard-reset-vsafe0v",
         Scenario(R"("timing": {"slewMvPerMs": 6})", R"({"message": "Hard Reset", "from": "source", "after": 100})", 4),
         Scenario("", R"({"message": "Hard Reset", "from": "source", "after": 100})", 4), {"hard-reset-vsafe5v"}},
        {"hard-reset-vsafe5v",
         Scenario(R"("timing": {"slewMvPerMs": 8})", R"({"message": "Hard Reset", "from": "source", "after": 100})", 4),
         Scenario("", R"({"message": "Hard Reset", "from": "source", "after": 100})", 4)},
        {"inter-frame-gap", Scenario(R"("timing": {"goodCrcUs": [15, 20]})", ping), Scenario("", ping)},
        {"invalid-packet", Scenario("", R"({"message": "Ping", "from": "source", "error": "crc"})"),
         Scenario("", ping)},
        // A Request for 4 A from a 3 A object, in raw bytes, rejected; or accepted.
        {"request-invalid", Scenario(kTwoOffers, R"({"message": "Source_Capabilities", "from": "source"},
            {"raw": "82 10 90 41 06 20", "from": "sink"}, {"raw": "A4 03", "from": "source"})"),
         Scenario(kTwoOffers, kNegotiate9V)},
        {"accept-invalid-request", Scenario(kTwoOffers, R"({"message": "Source_Capabilities", "from": "source"},
            {"raw": "82 10 90 41 06 20", "from": "sink"}, {"raw": "A3 03", "from": "source"}, {"raw": "A6 05", "from": "source"})"),
         Scenario(kTwoOffers, R"({"message": "Source_Capabilities", "from": "source"},
            {"raw": "82 10 90 41 06 20", "from": "sink"}, {"raw": "A4 03", "from": "source"})"),
         {"request-invalid", "vbus-at-ps-rdy", "vbus-out-of-contract"}, {"request-invalid"}},
        // The sink answers 20 ms after the GoodCRC: within the asker's 33 ms, past its own 15 ms.
        {"receiver-response",
         Scenario("", R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Sink_Capabilities", "from": "sink", "after": 20})"),
         Scenario("", R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Sink_Capabilities", "from": "sink", "after": 5})")},
        // 20 V at 5 A after a plug-in, with no cable identity read; and with a 5 A cable's read first.
        {"cable-capability", Scenario(kFiveAmps, k5AContract), Scenario(kFiveAmps + R"(, "cable": {"currentA": 5})",
            R"({"message": "Vendor_Defined", "from": "source", "sop": "SOP'", "command": "Discover Identity"},
            {"message": "Vendor_Defined", "from": "cable", "sop": "SOP'", "command": "Discover Identity", "commandType": "ACK"}, )" +
            std::string(k5AContract))},
        {"retry", Scenario("", R"({"message": "Ping", "from": "source", "error": "noreply"})"), Scenario("", ping),
         {"goodcrc-missing"}, {}, 2},
        {"retry-timing", Scenario(R"("timing": {"retryUs": [2000, 2000]})", R"({"message": "Ping", "from": "source", "error": "noreply"})"),
         Scenario(R"("timing": {"retryUs": [1000, 1000]})", R"({"message": "Ping", "from": "source", "error": "noreply"})"),
         {"goodcrc-missing", "retry"}, {"goodcrc-missing", "retry"}, 2},
        {"hard-reset-count", Scenario("", HardResets(4), 8), Scenario("", HardResets(3), 8)},
        // VBUS reaches vSafe5V about 160 ms after the start: an offer at 600 ms is late, at 300 ms in time.
        // Nobody answers either.
        {"first-source-cap", Scenario(R"("analog": {"attach": true})", R"({"message": "Source_Capabilities", "from": "source", "at": 600})"),
         Scenario(R"("analog": {"attach": true})", R"({"message": "Source_Capabilities", "from": "source", "at": 300})"),
         {"sender-response"}, {"sender-response"}},
        {"source-cap-repeat",
         Scenario("", R"({"message": "Source_Capabilities", "from": "source", "error": "noreply"}, {"wait": 300}, )" + std::string(kNegotiate9V)),
         Scenario("", R"({"message": "Source_Capabilities", "from": "source", "error": "noreply"}, {"wait": 150}, )" + std::string(kNegotiate9V)),
         {"goodcrc-missing"}, {"goodcrc-missing"}},
        {"src-transition", Scenario(R"("timing": {"transitionMs": [5, 5]})", kNegotiate9V), Scenario("", kNegotiate9V)},
        {"pr-swap-timing", Scenario(kDualRole, PrSwap(1000), 4), Scenario(kDualRole, PrSwap(300), 4)},
        {"source-timeout", Scenario(kEprParties, EprSteps(R"({"wait": 2000})"), 4),
         Scenario(kEprParties, EprSteps(R"({"wait": 900}, )" + std::string(kKeepAlive)), 4), {"epr-keepalive"},
         {"epr-keepalive"}},
    };
}

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.rule;
}

class RuleScenario : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleScenario, BreakingItOnceGivesOneFindingKeepingItNone) {
    const RuleCase& c = GetParam();
    ASSERT_NE(FindRule(c.rule), nullptr);
    const Decoded broken = PlayAndDecode(FromJson(c.breaks));
    const Results b = Analyze(*broken.store);
    for (const auto& [rule, n] : CountByRule(b))
        if (rule == c.rule)
            EXPECT_EQ(n, c.count) << Describe(b);
        else
            EXPECT_TRUE(c.breakAlso.count(rule)) << Describe(b);
    EXPECT_EQ(CountByRule(b).count(c.rule), 1u) << Describe(b);
    const Decoded kept = PlayAndDecode(FromJson(c.keeps));
    const Results k = Analyze(*kept.store);
    for (const auto& [rule, n] : CountByRule(k)) EXPECT_TRUE(c.keepAlso.count(rule)) << Describe(k);
}

INSTANTIATE_TEST_SUITE_P(EveryRule, RuleScenario, testing::ValuesIn(RuleCases()),
                         [](const testing::TestParamInfo<RuleCase>& i) {
                             std::string n = i.param.rule;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// Normal traffic that sits where a rule looks: the rule stays silent, or says what happened as info.
TEST(RuleScenario, NormalTrafficRaisesNoAlarm) {
    const struct {
        const char* what;
        std::string scenario; // JSON, or the name of a built-in one
        const char* rule;
        const char* infoText; // the info finding the rule gives instead, if any
    } cases[] = {
        // Down from 9 V to 5 V, PS_RDY 1 to 2 ms after VBUS settled: the sample before it is still on its way.
        {"PS_RDY soon after VBUS settles, 10 ms sampling",
         Scenario(R"("timing": {"settleMs": [1, 2]})", std::string(kNegotiate9V) + ", " + kBackTo5V), "vbus-at-ps-rdy",
         nullptr},
        {"PS_RDY soon after VBUS settles, 50 ms sampling",
         Scenario(R"("timing": {"settleMs": [1, 2]}, "analog": {"attach": false, "sampleIntervalMs": 50})",
                  std::string(kNegotiate9V) + ", " + kBackTo5V),
         "vbus-at-ps-rdy", nullptr},
        // 5 V at 2.9 A through 150 mΩ reads about 4.56 V at the analyzer, on the sink's side of the cable.
        {"the cable's drop at the sink end",
         Scenario(R"("analog": {"attach": false, "cableMilliohms": 150, "load": 2900})",
                  R"({"message": "Source_Capabilities", "from": "source"},
             {"message": "Request", "from": "sink", "position": 1, "mA": 3000},
             {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})"),
         "vbus-out-of-contract", nullptr},
        {"the carrier that a BIST Carrier Mode request asks for", "extended", "invalid-packet",
         "BIST carrier after the BIST Carrier Mode request (unknown ordered set: 0 symbols after the preamble; no EOP)"},
        {"a dual-role sink answers Get_Source_Cap with its own offer",
         Scenario(R"("sink": {"sourceCaps": [{"fixed": 5000, "mA": 1500, "flags": ["drp"]}],
             "sinkCaps": [{"fixed": 5000, "mA": 3000, "flags": ["drp"]}]})",
                  std::string(kNegotiate9V) + R"(, {"message": "Get_Source_Cap", "from": "source", "after": 100},
             {"message": "Source_Capabilities", "from": "sink"})"),
         "sender-response", nullptr},
        {"a Soft_Reset on SOP' restarts the cable's MessageIDs",
         Scenario(R"("cable": {"currentA": 5})", R"({"message": "Ping", "from": "source", "sop": "SOP'"},
             {"raw": "A5 11", "from": "cable", "sop": "SOP'"},
             {"message": "Soft_Reset", "from": "source", "sop": "SOP'", "after": 20},
             {"message": "Accept", "from": "cable", "sop": "SOP'"})"),
         "message-id", nullptr},
        {"the source repeats its first offer until a sink answers",
         Scenario("", R"({"message": "Source_Capabilities", "from": "source", "error": "noreply"}, {"wait": 150}, )" +
                          std::string(kNegotiate9V)),
         "goodcrc-missing", "Source_Capabilities sent 3 times, no sink answered"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = PlayAndDecode(c.scenario.front() == '{' ? FromJson(c.scenario) : synthtest::Builtin(c.scenario));
        const Results r = Analyze(*d.store);
        std::vector<const Finding*> found;
        for (const Finding& f : r.findings)
            if (RuleInfoOf(f.rule).key == std::string(c.rule)) found.push_back(&f);
        if (!c.infoText) {
            EXPECT_TRUE(found.empty()) << Describe(r);
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << Describe(r);
        EXPECT_EQ(found[0]->severity, Severity::Info);
        EXPECT_EQ(found[0]->text, c.infoText);
        EXPECT_EQ(MeasuredText(*found[0]), "-");
    }
}

// Unplugged under a 9 V contract: VBUS falls to 0 V over 80 ms. The falling samples are the detach, not
// an excursion; a sag that recovers is one.
TEST(RuleScenario, DischargeBeforeADetachIsNoExcursion) {
    using namespace testblocks;
    const synthtest::Played played = synthtest::Play(FromJson(Scenario("", kNegotiate9V, 1)));
    CCaptureStore first;
    synthtest::Decode(played, first);
    ASSERT_GT(first.SampleCount(), 0u);
    const uint32_t last = uint32_t(first.lastSampleTime);
    const auto after = [&](const std::vector<uint16_t>& mV) {
        std::vector<uint8_t> stream = played.stream;
        for (size_t i = 0; i < mV.size(); ++i) {
            Sample sample{uint32_t(last + 10000 * (i + 1))};
            sample.vbus = mV[i];
            Append(stream, VbusBlock({sample}));
        }
        CCaptureStore store;
        store.DecodeChunk(stream.data(), stream.size(), 0);
        store.FlushOpenPackets();
        return Analyze(store);
    };
    const Results unplugged = after({8900, 7000, 5000, 3000, 1500, 700, 0, 0});
    EXPECT_EQ(CountByRule(unplugged).count("vbus-out-of-contract"), 0u) << Describe(unplugged);
    ASSERT_FALSE(unplugged.connections.empty());
    EXPECT_EQ(unplugged.connections.back().endReason, "detach");
    const Results sag = after({8900, 7000, 5000, 7000, 8900, 9000});
    EXPECT_EQ(CountByRule(sag).count("vbus-out-of-contract"), 1u) << Describe(sag);
}

// The played traffic with `count` VBUS samples of mV and mA added after its last one, 10 ms apart.
Results WithSamplesAfter(const synthtest::Played& played, uint16_t mV, int mA, uint32_t count) {
    using namespace testblocks;
    CCaptureStore first;
    synthtest::Decode(played, first);
    const uint32_t last = uint32_t(first.lastSampleTime);
    std::vector<uint8_t> stream = played.stream;
    for (uint32_t i = 1; i <= count; ++i) {
        Sample sample{last + 10000 * i};
        sample.vbus = mV;
        sample.vbusRaw = int16_t(mA * 1598 / 1500 + 1); // the analyzer's raw reading of mA
        Append(stream, VbusBlock({sample}));
    }
    CCaptureStore store;
    store.DecodeChunk(stream.data(), stream.size(), 0);
    store.FlushOpenPackets();
    return Analyze(store);
}

// A PPS supply in current limit: VBUS drops while the current sits at the requested 2 A. The same drop at
// a lower current is an excursion.
TEST(RuleScenario, PpsCurrentLimitIsNoExcursion) {
    const std::string pps = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"pps": [3300, 11000], "mA": 3000}]})";
    const synthtest::Played played = synthtest::Play(FromJson(Scenario(pps, R"({"message": "Source_Capabilities", "from": "source"},
        {"message": "Request", "from": "sink", "position": 2, "mV": 5000, "mA": 2000},
        {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"})", 1)));
    const auto drawing = [&](int mA) { return WithSamplesAfter(played, 3800, mA, 5); };
    const Results limited = drawing(2000);
    EXPECT_EQ(CountByRule(limited).count("vbus-out-of-contract"), 0u) << Describe(limited);
    const Results light = drawing(500);
    EXPECT_EQ(CountByRule(light).count("vbus-out-of-contract"), 1u) << Describe(light);
}

// More of the violations engineers debug, each named by its rule in words that say what happened.
TEST(RuleScenario, ViolationsAreNamed) {
    const std::string pps = R"("source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"pps": [3300, 11000], "mA": 3000}]})";
    const struct {
        const char* what;
        std::string scenario;
        const char* rule;
        const char* text; // a finding of the rule says this
    } cases[] = {
        {"the first message after a Soft_Reset with MessageID 1",
         Scenario("", R"({"message": "Soft_Reset", "from": "source"}, {"raw": "83 02", "from": "sink"})"), "message-id",
         "MessageID 1 in the first message after Soft_Reset (expected 0)"},
        {"a Soft_Reset sent with MessageID 3",
         Scenario("", R"({"message": "Ping", "from": "source"}, {"raw": "AD 07", "from": "source", "after": 5})"),
         "message-id", "Soft_Reset with MessageID 3 (expected 0)"},
        {"the first message after a Hard Reset with MessageID 1",
         Scenario("", R"({"message": "Hard Reset", "from": "source", "after": 100}, {"raw": "A5 03", "from": "source", "after": 1500})", 3),
         "message-id", "MessageID 1 in the first message after Hard Reset (expected 0)"},
        {"a Request for an object the offer does not have",
         Scenario(kTwoOffers, R"({"message": "Source_Capabilities", "from": "source"}, {"raw": "82 10 2C B1 04 50", "from": "sink"})"),
         "request-invalid", "Request for object 5, the last offer has 2 objects"},
        {"a PPS Request above the APDO's range",
         Scenario(pps, R"({"message": "Source_Capabilities", "from": "source"}, {"raw": "82 10 28 B0 04 20", "from": "sink"})"),
         "request-invalid", "Request for 12000 mV from object 2 (PPS) of 3300-11000 mV"},
        {"the cable's Discover Identity ACK 40 ms late",
         Scenario(R"("cable": {"currentA": 5})", R"({"message": "Vendor_Defined", "from": "source", "sop": "SOP'", "command": "Discover Identity"},
             {"message": "Vendor_Defined", "from": "cable", "sop": "SOP'", "command": "Discover Identity", "commandType": "ACK", "after": 40})"),
         "sender-response", "after Vendor_Defined Discover Identity"},
        {"a Soft_Reset nobody accepts", Scenario("", R"({"message": "Soft_Reset", "from": "source"})"), "sender-response",
         "no answer to Soft_Reset within 33 ms"},
        {"an EPR_KeepAlive acknowledged 40 ms late",
         Scenario("", R"({"message": "Extended_Control", "from": "sink", "type": "EPR_KeepAlive"},
             {"message": "Extended_Control", "from": "source", "type": "EPR_KeepAlive_Ack", "after": 40})"),
         "sender-response", "after Extended_Control"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = PlayAndDecode(FromJson(c.scenario));
        const Results r = Analyze(*d.store);
        bool said = false;
        for (const Finding& f : r.findings)
            said = said || (RuleInfoOf(f.rule).key == std::string(c.rule) && f.text.find(c.text) != std::string::npos);
        EXPECT_TRUE(said) << Describe(r);
    }
}

// Between an Accept and its PS_RDY the sink draws 1 A at 5 V, twice pSnkStdby; 300 mA is within it.
TEST(RuleScenario, SinkAboveStandbyDuringATransition) {
    const synthtest::Played played = synthtest::Play(FromJson(R"({"seconds": 0.1, "analog": {"attach": false}, )" +
        std::string(kTwoOffers) + R"(, "steps": [{"message": "Source_Capabilities", "from": "source"},
        {"raw": "82 10 2C B1 04 20", "from": "sink"}, {"raw": "A3 03", "from": "source"}]})"));
    const auto drawing = [&](int mA) { return WithSamplesAfter(played, 5000, mA, 4); };
    const Results busy = drawing(1000);
    EXPECT_EQ(CountByRule(busy).count("sink-standby"), 1u) << Describe(busy);
    const Results standby = drawing(300);
    EXPECT_EQ(CountByRule(standby).count("sink-standby"), 0u) << Describe(standby);
}

TEST(RuleScenario, EveryRuleHasItsPair) {
    // Rules whose traffic the synthesizer cannot play are shown by a test of their own above.
    std::vector<std::string> covered = {"sink-standby"};
    for (const RuleCase& c : RuleCases()) covered.push_back(c.rule);
    for (const RuleInfo& r : kRules)
        EXPECT_NE(std::find(covered.begin(), covered.end(), r.key), covered.end()) << r.key;
}

// The findings a reader of each built-in script expects, invalid packets apart (checked below).
TEST(BuiltinScenarios, GiveTheFindingsTheirScriptsPromise) {
    const std::map<std::string, std::map<std::string, int>> expected = {
        {"spr", {{"goodcrc-missing", 1}}}, // the sink's PD stack is not up for the first offer
        // The keep-alives stop 1.9 s before the Hard Reset: the sink is late, and so is the source.
        {"demo", {{"epr-keepalive", 1}, {"source-timeout", 1}}},
        {"pps", {}}, {"epr", {}}, {"dock", {}}, {"swap", {}}, {"reset", {}}, {"extended", {}}, {"noisy", {}},
    };
    for (const auto& [name, rules] : expected) {
        SCOPED_TRACE(name);
        const Decoded d = PlayAndDecode(synthtest::Builtin(name));
        const Results r = Analyze(*d.store);
        std::map<std::string, int> n = CountByRule(r);
        n.erase("invalid-packet");
        EXPECT_EQ(n, rules) << Describe(r);
        EXPECT_TRUE(r.analogSeen);
    }
}

// Every red row gets its reasons, and only red rows get any.
void ExpectReasonsExactlyForInvalidPackets(const CCaptureStore& store, const Results& r) {
    std::vector<int64_t> flagged;
    for (const Finding& f : r.findings)
        if (f.rule == RuleId::InvalidPacket) {
            ASSERT_EQ(f.packets.size(), 1u);
            EXPECT_FALSE(f.text.empty());
            flagged.push_back(f.packets[0].number);
        }
    std::vector<int64_t> invalid;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        EXPECT_EQ(IsInvalidPacket(p), !InvalidPacketReasons(p).empty()) << "packet " << i;
        if (IsInvalidPacket(p)) invalid.push_back(int64_t(i));
    }
    EXPECT_EQ(flagged, invalid);
}

TEST(InvalidPackets, EveryRedRowOfTheBuiltinScenariosIsExplained) {
    for (const std::string& name : synth::BuiltinScenarioNames()) {
        SCOPED_TRACE(name);
        const Decoded d = PlayAndDecode(synthtest::Builtin(name));
        ExpectReasonsExactlyForInvalidPackets(*d.store, Analyze(*d.store));
    }
}

TEST(InvalidPackets, ReasonsNameTheFault) {
    const Decoded d = PlayAndDecode(synthtest::Builtin("noisy"));
    std::string all;
    for (const Finding& f : Analyze(*d.store).findings) all += f.text + "\n";
    for (const char* words : {"no preamble", "CRC expected", "no EOP", "unit interval 3.85 us outside 3.03..3.70 us",
                              "unit interval 2.90 us"})
        EXPECT_NE(all.find(words), std::string::npos) << words << "\n" << all;
}

// A message the tolerant reading takes with fewer than two preamble bits has no unit interval to show:
// its reason says the preamble was missing instead of quoting 0.00 us against the limits. With a
// preamble the interval is measured, and a good one gives no reason.
TEST(InvalidPackets, ATolerantlyReadMessageWithoutAPreambleSaysSo) {
    const std::vector<uint8_t> msg = {0x41, 0x00};
    struct Case {
        int preambleBits;
        std::vector<std::string> reasons;
    };
    const Case cases[] = {
        {0, {"unit interval not measured: no preamble to measure it on"}},
        {1, {"unit interval not measured: no preamble to measure it on"}},
        {10, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preambleBits);
        enc::FrameOptions fo;
        fo.preambleBits = c.preambleBits;
        CCCPacket p;
        p.divisor = 5;
        for (int v : testdecoded::BmcIntervals(
                 enc::SymbolsToBits(enc::FrameSymbols(kKindSop, msg.data(), msg.size(), fo), c.preambleBits), 16))
            p.AppendInterval(uint8_t(v));
        bmc::DecodePacketBits(p, nullptr, bmc::BitRecovery::Tolerant);
        ASSERT_TRUE(bmc::ReadCompletely(p));
        EXPECT_EQ(InvalidPacketReasons(p), c.reasons);
        EXPECT_EQ(IsInvalidPacket(p), !c.reasons.empty());
    }
}

// The shared captures, read by hand against their reference packet lists: the first offer of each laptop
// goes unacknowledged (the reference lists it without a GoodCRC, then repeated) and nothing else breaks
// a rule; the logic captures hold no analog readings, so the VBUS rules stay silent.
TEST(SharedCaptures, SummaryAndFindingsAsThePacketsShow) {
    const std::filesystem::path dir = AMBRIO_CAPTURES_DIR;
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no shared captures";
    struct Expect {
        const char* file;
        int unacknowledgedOffers;
        // Retries of the first offers later than tReceive and tRetry (about 2 ms): info, as no sink was
        // there to answer yet.
        int slowOfferRetries;
        size_t requests, contracts;
        int32_t lastContractMv;
    };
    const Expect cases[] = {
        {"pixel_2015-power_supply_20V.qxc", 0, 0, 2, 2, 20000},
        {"pixel_2015-power_supply_20V-clock4.qxc", 0, 0, 2, 2, 20000},
        {"pixel_2015-hdmi_dongle.qxc", 1, 3, 1, 1, 5000},
        {"macbook_2015-apple_power_brick.qxc", 1, 1, 1, 1, 14800},
        {"macbook_2015-apple_av_hdmi.qxc", 1, 2, 2, 2, 5000},
    };
    for (const Expect& e : cases) {
        SCOPED_TRACE(e.file);
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument((dir / e.file).string()));
        const Results r = Analyze(doc.store);
        EXPECT_FALSE(r.analogSeen);
        std::map<std::string, int> n = CountByRule(r);
        n.erase("invalid-packet");
        std::map<std::string, int> want;
        if (e.unacknowledgedOffers) want["goodcrc-missing"] = e.unacknowledgedOffers;
        if (e.slowOfferRetries) want["retry-timing"] = e.slowOfferRetries;
        EXPECT_EQ(n, want) << Describe(r);
        // A normal start-up: nothing a warning or worse but the red rows.
        for (const Finding& f : r.findings)
            if (f.rule != RuleId::InvalidPacket) EXPECT_EQ(f.severity, Severity::Info) << f.text;
        ExpectReasonsExactlyForInvalidPackets(doc.store, r);
        ASSERT_EQ(r.connections.size(), 1u);
        const Connection& c = r.connections[0];
        EXPECT_EQ(c.requests.size(), e.requests);
        ASSERT_EQ(c.contracts.size(), e.contracts);
        EXPECT_EQ(c.contracts.back().ask.mV, e.lastContractMv);
        EXPECT_EQ(c.contracts.back().endTime, -1);
        EXPECT_EQ(RevisionsText(c.revisions[0]), "2.0");
    }
}

TEST(Summary, SprNegotiationAndContracts) {
    const Decoded d = PlayAndDecode(synthtest::Builtin("spr"));
    const Results r = Analyze(*d.store);
    ASSERT_EQ(r.connections.size(), 1u);
    const Connection& c = r.connections[0];
    EXPECT_EQ(c.startReason, "attach");
    EXPECT_EQ(RevisionsText(c.revisions[0]), "3.x");
    ASSERT_EQ(c.offers.size(), 2u);
    ASSERT_EQ(c.offers[1].objects.size(), 6u);
    EXPECT_EQ(c.offers[1].objects[3].kind, SupplyKind::Fixed);
    EXPECT_EQ(c.offers[1].objects[3].maxMv, 20000);
    EXPECT_EQ(c.offers[1].objects[3].maxMa, 3250);
    EXPECT_EQ(c.offers[1].objects[4].kind, SupplyKind::Pps);
    EXPECT_EQ(c.offers[1].objects[4].minMv, 3300);
    EXPECT_EQ(c.offers[1].objects[4].maxMv, 11000);
    ASSERT_EQ(c.requests.size(), 1u);
    EXPECT_EQ(c.requests[0].position, 4);
    EXPECT_EQ(c.requests[0].answer, "Accept");
    EXPECT_GT(c.requests[0].acceptToPsRdyUs, 25000);
    EXPECT_LT(c.requests[0].acceptToPsRdyUs, 100000);
    ASSERT_EQ(c.contracts.size(), 1u);
    EXPECT_EQ(c.contracts[0].ask.mV, 20000);
    EXPECT_EQ(c.contracts[0].ask.operatingMa, 3000);
    EXPECT_EQ(c.contracts[0].ask.kind, SupplyKind::Fixed);
}

TEST(Summary, EprCableModesResetsAndSwaps) {
    {
        const Decoded d = PlayAndDecode(synthtest::Builtin("epr"));
        const Results r = Analyze(*d.store);
        const Connection& c = r.connections.at(0);
        ASSERT_TRUE(c.hasCable);
        EXPECT_FALSE(c.cable.active);
        EXPECT_EQ(c.cable.currentMa, 5000);
        EXPECT_EQ(c.cable.maxVbusMv, 50000);
        EXPECT_TRUE(c.cable.epr);
        ASSERT_GE(c.contracts.size(), 3u);
        EXPECT_EQ(c.contracts[1].ask.mV, 28000);
        EXPECT_TRUE(c.contracts[1].ask.epr);
        EXPECT_EQ(c.contracts[2].ask.mV, 48000);
        EXPECT_TRUE(c.offers.back().epr);
    }
    {
        const Decoded d = PlayAndDecode(synthtest::Builtin("dock"));
        const Results r = Analyze(*d.store);
        const Connection& c = r.connections.at(0);
        ASSERT_TRUE(c.hasCable);
        EXPECT_TRUE(c.cable.active);
        const AltMode* dp = nullptr;
        for (const AltMode& m : c.altModes)
            if (m.svid == 0xFF01 && m.kind == kKindSop) dp = &m;
        ASSERT_NE(dp, nullptr);
        EXPECT_EQ(dp->modes, std::vector<uint32_t>{0x000C0045u});
        EXPECT_EQ(dp->enteredPosition, 1);
        EXPECT_NE(dp->configuration, 0u);
    }
    {
        const Decoded d = PlayAndDecode(synthtest::Builtin("reset"));
        const Results r = Analyze(*d.store);
        // Two Hard Resets: three connections; the Soft_Reset keeps the contract of the first.
        ASSERT_EQ(r.connections.size(), 3u);
        EXPECT_EQ(r.connections[0].endReason, "Hard Reset");
        EXPECT_EQ(r.connections[1].startReason, "Hard Reset");
        EXPECT_EQ(r.connections[0].resets.at(0).what, "Soft_Reset");
        EXPECT_EQ(r.connections[0].resets.at(0).by, "Sink");
        bool cableReset = false;
        for (const EventEntry& e : r.connections[1].resets) cableReset |= e.what == "Cable Reset";
        EXPECT_TRUE(cableReset);
        EXPECT_EQ(r.connections[2].contracts.back().ask.mV, 15000);
    }
    {
        const Decoded d = PlayAndDecode(synthtest::Builtin("swap"));
        const Results r = Analyze(*d.store);
        const Connection& c = r.connections.at(0);
        ASSERT_EQ(c.swaps.size(), 2u);
        EXPECT_EQ(c.swaps[0].what, "DR_Swap");
        EXPECT_EQ(c.swaps[1].what, "PR_Swap");
        EXPECT_EQ(c.swaps[1].answer, "Accept");
        EXPECT_EQ(c.contracts.at(0).endReason, "PR_Swap");
        EXPECT_EQ(c.contracts.back().ask.mV, 20000); // the power bank's fourth object
    }
}

// A live capture: the store grows in pieces and the analysis follows; the result is the one of the
// whole file read at once.
TEST(Incremental, FeedingInPiecesGivesTheSameAsAllAtOnce) {
    // Slow sampling: each block of samples comes long after the traffic its first samples span, here
    // around the attach and the new contract's transition.
    const std::string slowSampling = R"({"seconds": 3, "analog": {"sampleIntervalMs": 400, "samplesPerBlock": 3},
        "steps": [{"wait": 20}, )" + std::string(kNegotiate9V) + "]}";
    const struct {
        const char* name;
        synth::Scenario scenario;
        // Read in pieces, traffic before the first sample has no capture origin yet and is not stored.
        bool storesAllAtOnce;
    } scenarios[] = {
        {"demo", synthtest::Builtin("demo"), true},
        {"swap", synthtest::Builtin("swap"), true},
        {"noisy", synthtest::Builtin("noisy"), true},
        {"slow sampling", FromJson(slowSampling), false},
    };
    for (const auto& [name, scenario, storesAllAtOnce] : scenarios) {
        SCOPED_TRACE(name);
        const synthtest::Played played = synthtest::Play(scenario);
        const size_t step = 64 * 13;
        CCaptureStore whole;
        synthtest::Decode(played, whole);
        const Results all = Analyze(whole);
        ASSERT_GT(all.packetsRead, 4);
        ASSERT_GT(played.stream.size(), step * 40);

        CCaptureStore live;
        CAnalyzer a;
        for (size_t at = 0; at < played.stream.size(); at += step) {
            const size_t n = std::min(step, played.stream.size() - at);
            live.DecodeChunk(played.stream.data() + at, n, int64_t(at));
            a.Feed(live);
            if (at == step * 40) (void)a.Snapshot(live); // a look on the way changes nothing
        }
        live.FlushOpenPackets();
        const Results once = Analyze(live);
        if (storesAllAtOnce) EXPECT_EQ(once, all);
        EXPECT_EQ(a.Snapshot(live), once);
        a.Finish(live);
        EXPECT_EQ(a.Current(), once);
    }
}

// Traffic on both lines: a packet that began first on CC2 closes after one on CC1, so the store puts it
// before a packet the analysis may already have read. Every split of the stream gives the whole's result.
TEST(Incremental, PacketsClosingOutOfOrderAreReadInTheirPlace) {
    using namespace testblocks;
    Stream s;
    for (int b = 0; b < 8; ++b) s.Cc(1, uint32_t(b * 180), Ramp(b * 56 * 8, 8, 56)); // CC2, still open
    s.Cc(0, 400, Concat({Ramp(0, 8, 30), std::vector<uint8_t>(26, uint8_t(29 * 8))})); // CC1, whole
    Append(s.bytes, VbusBlock({{1000}, {1200}}));
    s.Cc(1, 1440, Concat({Ramp(8 * 56 * 8, 8, 20), std::vector<uint8_t>(36, uint8_t(8 * 56 * 8 + 19 * 8))}));
    Append(s.bytes, VbusBlock({{3000}}));
    const size_t blocks = s.bytes.size() / 64;

    CCaptureStore whole;
    s.Decode(whole);
    whole.FlushOpenPackets();
    ASSERT_EQ(whole.PacketCount(), 2u);
    ASSERT_EQ(whole.PacketAt(0)->channel, 1);
    const Results all = Analyze(whole);

    for (size_t split = 1; split < blocks; ++split) {
        SCOPED_TRACE(split);
        CCaptureStore live;
        CAnalyzer a;
        live.DecodeChunk(s.bytes.data(), split * 64, 0);
        a.Feed(live);
        live.DecodeChunk(s.bytes.data() + split * 64, s.bytes.size() - split * 64, int64_t(split * 64));
        a.Feed(live);
        live.FlushOpenPackets();
        a.Finish(live);
        EXPECT_EQ(a.Current(), Analyze(live));
        EXPECT_EQ(a.Current().packetsRead, int64_t(live.PacketCount()));
    }
}

TEST(Incremental, ClearedStoreStartsOverAndTrimmedPacketsKeepTheirNumbers) {
    const synthtest::Played played = synthtest::Play(synthtest::Builtin("spr"));
    CCaptureStore store;
    synthtest::Decode(played, store);
    CAnalyzer a;
    a.Feed(store);
    const int64_t read = a.Current().packetsRead;
    ASSERT_GT(read, 0);
    store.Reset();
    a.Feed(store);
    EXPECT_EQ(a.Current().packetsRead, 0);
    synthtest::Decode(played, store);
    a.Finish(store);
    EXPECT_EQ(a.Current(), Analyze(store));

    // Packets removed from the front between two reads: numbering goes on where it was.
    StoreLimits limits;
    limits.packetLimit = 10;
    limits.packetAutoRemove = true;
    CCaptureStore trimmed(nullptr, limits);
    CAnalyzer b;
    const size_t step = 64 * 50;
    for (size_t at = 0; at < played.stream.size(); at += step) {
        trimmed.DecodeChunk(played.stream.data() + at, std::min(step, played.stream.size() - at), int64_t(at));
        trimmed.EnforceLimits(); // as the document does after each step
        b.Feed(trimmed);
    }
    b.Finish(trimmed);
    EXPECT_TRUE(trimmed.packetsRemoved);
    EXPECT_EQ(b.Current().packetsRead, read);
    EXPECT_EQ(b.Current().findings, Analyze(store).findings);
}

TEST(Limits, OverridesByKeyAndBadValuesNamed) {
    CLimits l;
    EXPECT_EQ(l[LimitId::TSenderResponse30], 33);
    EXPECT_EQ(l.RetryCount(1), 3);
    EXPECT_EQ(l.RetryCount(2), 2);
    // The settings section "Analysis", as the window keeps it.
    CMemorySettingsStore settings;
    settings.SetText("tSenderResponse30", "50");
    settings.SetText("tTransmit", "fast");
    const std::string rejected =
        l.Load([&](const std::string& key, std::string* value) { return settings.GetText(key, *value); });
    EXPECT_EQ(l[LimitId::TSenderResponse30], 50);
    EXPECT_EQ(l[LimitId::TTransmit], 195);
    EXPECT_NE(rejected.find("tTransmit"), std::string::npos);
    EXPECT_FALSE(l.Set("tNoSuchTimer", "1"));
    EXPECT_FALSE(l.Set("tTransmit", "-1"));
    for (const LimitRow& r : kLimitRows) {
        EXPECT_EQ(&LimitRowOf(r.id), &r);
        EXPECT_NE(std::string(r.source), "");
    }

    // A limit moved past what the scenario does turns its finding off.
    const Decoded d = PlayAndDecode(FromJson(Scenario(
        "", R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Sink_Capabilities", "from": "sink", "after": 40})")));
    EXPECT_EQ(CountByRule(Analyze(*d.store, l))["sender-response"], 0);
}

} // namespace

namespace {

// Waits cut short by the end of the capture are not judged; waits that outlast their limit are.
TEST(CaptureEnd, OpenWaitsAreJudgedOnlyPastTheirLimit) {
    const std::string hardReset = R"({"message": "Hard Reset", "from": "source", "after": 100})";
    const Decoded shortly = PlayAndDecode(FromJson(Scenario("", hardReset, 0.6)));
    EXPECT_TRUE(Analyze(*shortly.store).findings.empty()) << Describe(Analyze(*shortly.store));
    // The slow supply never gets back within the capture: the finding says so, with nothing measured.
    const Decoded slow = PlayAndDecode(FromJson(Scenario(R"("timing": {"slewMvPerMs": 2})", hardReset, 3)));
    const Results r = Analyze(*slow.store);
    EXPECT_EQ(CountByRule(r)["hard-reset-vsafe0v"], 1) << Describe(r);
    const std::string unanswered = R"({"message": "Get_Sink_Cap", "from": "source"})";
    EXPECT_TRUE(Analyze(*PlayAndDecode(FromJson(Scenario("", unanswered, 0.02))).store).findings.empty());
    EXPECT_EQ(CountByRule(Analyze(*PlayAndDecode(FromJson(Scenario("", unanswered, 1))).store))["sender-response"], 1);
}

} // namespace

namespace {

// Damaged streams: bytes flipped at random through a whole capture. Whatever comes out of the decoder,
// the analysis reads it without harm and still explains exactly the red rows.
TEST(HostileInput, FlippedBytesGiveExplainedRowsAndNoCrash) {
    const synthtest::Played played = synthtest::Play(synthtest::Builtin("demo"));
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round) {
        std::vector<uint8_t> stream = played.stream;
        for (int k = 0; k < 3000; ++k) stream[random() % stream.size()] ^= uint8_t(1u << (random() % 8));
        CCaptureStore store;
        store.DecodeChunk(stream.data(), stream.size() / 64 * 64, 0);
        store.FlushOpenPackets();
        const Results r = Analyze(store);
        ExpectReasonsExactlyForInvalidPackets(store, r);
        for (const Connection& c : r.connections)
            for (const Offer& o : c.offers) EXPECT_LE(o.objects.size(), 13u);
    }
}

} // namespace
