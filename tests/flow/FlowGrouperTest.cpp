// Transactions and exchanges against traffic whose script is known: the built-in scenarios, one script
// per exchange kind and result, retries of every kind of fault, the shared real captures as read by hand
// from their packet lists, and the capture read in pieces as a live capture grows.
#include "FlowGrouper.h"

#include "Analyzer.h"
#include "QXDoc.h"
#include "device/SynthSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace flow;

// Failures name kinds, results and outcomes as the tool prints them.
namespace flow {
void PrintTo(ExchangeKind k, std::ostream* os) {
    *os << ExchangeKindName(k);
}
void PrintTo(Result r, std::ostream* os) {
    *os << ResultName(r);
}
void PrintTo(Outcome o, std::ostream* os) {
    *os << OutcomeName(o);
}
} // namespace flow

namespace {

using K = ExchangeKind;
using R = Result;
using Expected = std::vector<std::pair<K, R>>;

std::string Describe(const Flow& f) {
    std::string t;
    for (const Exchange& x : f.exchanges) {
        t += std::string(ExchangeKindName(x.kind)) + " (" + ResultName(x.result) + "):";
        for (int32_t i : x.transactions) t += " " + f.transactions[size_t(i)].label;
        t += "\n";
    }
    return t;
}

Expected KindsAndResults(const Flow& f) {
    Expected e;
    for (const Exchange& x : f.exchanges) e.emplace_back(x.kind, x.result);
    return e;
}

synth::Scenario FromJson(const std::string& text) {
    synth::Scenario s;
    std::string error;
    EXPECT_TRUE(synth::ScenarioFromJson(text, &s, &error)) << error;
    return s;
}

// A scenario of `seconds` at vSafe5V from the start.
synth::Scenario Script(const std::string& steps, double seconds = 1) {
    return FromJson(R"({"seconds": )" + std::to_string(seconds) +
                    R"(, "analog": {"attach": false}, "steps": [)" + steps + "]}");
}

// "01 01 ... 01": n bytes of data.
std::string Ones(int n) {
    std::string t;
    for (int i = 0; i < n; ++i) t += i ? " 01" : "01";
    return t;
}

// The stream decoded in steps of `step` bytes, as a live capture grows; `then` after each.
template <class Then>
void FeedInSteps(const synthtest::Played& played, CCaptureStore& store, size_t step, Then then) {
    for (size_t at = 0; at < played.stream.size(); at += step) {
        store.DecodeChunk(played.stream.data() + at, std::min(step, played.stream.size() - at), int64_t(at));
        then();
    }
}

Flow GroupOf(const CCaptureStore& store) {
    return Group(store, analysis::Analyze(store).findings);
}

// Every frame of the store is in exactly one transaction, and every transaction in the exchange it names.
void ExpectEveryPacketOnce(const CCaptureStore& store, const Flow& f) {
    std::vector<int> seen(store.PacketCount(), 0);
    for (size_t i = 0; i < f.transactions.size(); ++i) {
        const Transaction& t = f.transactions[i];
        ASSERT_GE(t.exchange, 0) << t.label;
        const std::vector<int32_t>& in = f.exchanges[size_t(t.exchange)].transactions;
        EXPECT_NE(std::find(in.begin(), in.end(), int32_t(i)), in.end()) << t.label;
        for (const FlowPacket& p : t.packets) {
            ASSERT_LT(size_t(p.number), seen.size());
            ++seen[size_t(p.number)];
            EXPECT_EQ(p.time, store.PacketAt(size_t(p.number))->startTime);
        }
    }
    for (size_t n = 0; n < seen.size(); ++n)
        EXPECT_EQ(seen[n], store.PacketAt(n)->intervalCount != 0 ? 1 : 0) << "packet " << n;
}

// The built-in scenarios each give the exchanges their script plays, in order (the long ones cut short
// where their repeats begin to say nothing new).
TEST(BuiltinScenarios, GiveTheExchangesTheirScriptsPlay) {
    const K neg = K::Negotiation, cap = K::GetCapabilities, id = K::DiscoverIdentity, other = K::Other,
            query = K::Query, ka = K::EprKeepAlive;
    const R ok = R::Completed;
    // clang-format off
    const struct {
        const char* name;
        double seconds;
        Expected exchanges;
    } cases[] = {
        // The sink's stack is not up for the first offer: it goes unanswered, and the source offers again.
        {"spr", 0, {{neg, R::TimedOut}, {neg, ok}, {cap, ok}}},
        {"swap", 0, {{neg, ok}, {K::DrSwap, ok}, {K::PrSwap, ok}, {neg, ok}, {cap, ok}}},
        {"reset", 0, {{neg, ok}, {K::SoftReset, ok}, {neg, ok}, {K::HardReset, ok}, {neg, ok}, {id, ok},
                      {K::CableReset, ok}, {id, ok}, {K::HardReset, ok}, {neg, ok}}},
        // The BIST carrier belongs to the BIST request; the last Get_Country_Codes is not supported.
        {"extended", 0, {{neg, ok}, {K::Bist, ok}, {neg, ok}, {cap, ok}, {cap, ok}, {K::GetStatus, ok},
                         {K::Alert, ok}, {query, ok}, {query, ok}, {query, ok}, {query, ok}, {query, ok},
                         {query, R::NotSupported}, {K::Alert, ok}}},
        // A glitch before a frame without preamble, then the negotiation with a retried Request; each
        // round of the repeat: two glitches, Get_Status retried after a CRC error, a truncated query.
        {"noisy", 1.5, {{other, R::TimedOut}, {neg, ok}, {cap, ok}, {other, R::TimedOut}, {other, R::TimedOut},
                        {K::GetStatus, ok}, {cap, ok}, {other, R::TimedOut}, {other, R::TimedOut},
                        {K::GetStatus, ok}, {cap, ok}}},
        // Both cable plugs, then the dock's identity, SVIDs and modes, the cable's, DisplayPort entry.
        {"dock", 3, {{id, ok}, {id, ok}, {neg, ok}, {id, ok}, {K::DiscoverSvids, ok}, {K::DiscoverModes, ok},
                     {K::DiscoverModes, ok}, {K::DiscoverSvids, ok}, {K::DiscoverModes, ok}, {K::EnterMode, ok},
                     {K::DisplayPortStatus, ok}, {K::DisplayPortConfigure, ok}, {K::Attention, ok},
                     {K::Attention, ok}}},
        // EPR entry with the cable checked in between, then the chunked EPR offer negotiated.
        {"epr", 2, {{id, ok}, {neg, ok}, {K::EprEntry, ok}, {id, ok}, {neg, ok}, {ka, ok}, {ka, ok}, {ka, ok},
                    {ka, ok}}},
        {"pps", 8, {{neg, ok}, {cap, ok}, {neg, ok}, {query, ok}, {neg, ok}, {query, ok}, {neg, ok},
                    {query, ok}}},
        {"demo", 0, {{id, ok}, {neg, ok}, {cap, ok}, {id, ok}, {neg, ok}, {K::Alert, ok}, {other, R::TimedOut},
                     {K::GetStatus, ok}, {neg, ok}, {query, ok}, {query, ok}, {K::EprEntry, ok}, {id, ok},
                     {neg, ok}, {ka, ok}, {ka, ok}, {ka, ok}, {ka, ok}, {K::CableReset, ok}, {id, ok},
                     {K::HardReset, ok}, {neg, ok}, {K::GetStatus, ok}, {K::GetStatus, ok}}},
    };
    // clang-format on
    std::set<std::string> covered;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        covered.insert(c.name);
        synth::SynthOptions o;
        o.seconds = c.seconds;
        const synthtest::Played played = synthtest::Play(synthtest::Builtin(c.name), o);
        CCaptureStore store;
        synthtest::Decode(played, store);
        const Flow f = GroupOf(store);
        EXPECT_EQ(KindsAndResults(f), c.exchanges) << Describe(f);
        ExpectEveryPacketOnce(store, f);
    }
    for (const std::string& name : synth::BuiltinScenarioNames()) EXPECT_TRUE(covered.count(name)) << name;
}

// One script per exchange kind the scenarios do not play, and per result.
TEST(Scripts, EachKindAndResult) {
    const char* const request = R"({"message": "Source_Capabilities", "from": "source"},
        {"message": "Request", "from": "sink", "position": 1, "mA": 3000})";
    const auto vdm = [](const char* from, const char* command, const char* type) {
        return std::string(R"({"message": "Vendor_Defined", "from": ")") + from +
               R"(", "svid": "0xFF01", "position": 1, "command": ")" + command + R"(", "commandType": ")" +
               type + R"("})";
    };
    const struct {
        const char* what;
        std::string steps;
        double seconds;
        Expected exchanges;
    } cases[] = {
        {"Reject",
         std::string(request) + R"(, {"message": "Reject", "from": "source"})",
         1,
         {{K::Negotiation, R::Rejected}}},
        {"Wait",
         std::string(request) + R"(, {"message": "Wait", "from": "source"})",
         1,
         {{K::Negotiation, R::Wait}}},
        {"VCONN_Swap",
         R"({"message": "VCONN_Swap", "from": "source"}, {"message": "Accept", "from": "sink"}, {"message": "PS_RDY", "from": "sink"})",
         1,
         {{K::VconnSwap, R::Completed}}},
        {"FR_Swap",
         R"({"message": "FR_Swap", "from": "sink"}, {"message": "Accept", "from": "source"},
            {"message": "PS_RDY", "from": "source"}, {"message": "PS_RDY", "from": "sink"})",
         1,
         {{K::FrSwap, R::Completed}}},
        {"Data_Reset",
         R"({"message": "Data_Reset", "from": "dfp"}, {"message": "Accept", "from": "ufp"},
            {"message": "Data_Reset_Complete", "from": "dfp", "after": 200})",
         1,
         {{K::DataReset, R::Completed}}},
        {"Enter_USB",
         R"({"message": "Enter_USB", "from": "dfp", "objects": ["0x21000000"]}, {"message": "Accept", "from": "ufp"})",
         1,
         {{K::EnterUsb, R::Completed}}},
        {"Exit Mode",
         vdm("dfp", "Exit Mode", "REQ") + ", " + vdm("ufp", "Exit Mode", "ACK"),
         1,
         {{K::ExitMode, R::Completed}}},
        {"NAK and BUSY",
         vdm("dfp", "Enter Mode", "REQ") + ", " + vdm("ufp", "Enter Mode", "NAK") + ", " +
             vdm("dfp", "Enter Mode", "REQ") + ", " + vdm("ufp", "Enter Mode", "BUSY"),
         1,
         {{K::EnterMode, R::Rejected}, {K::EnterMode, R::Wait}}},
        {"EPR exit",
         R"({"message": "EPR_Mode", "from": "source", "action": "Exit"})",
         1,
         {{K::EprExit, R::Completed}}},
        {"a chunked message with its chunk requests",
         R"({"message": "Vendor_Defined_Extended", "from": "source", "data": ")" + Ones(40) + "\"}",
         1,
         {{K::ChunkedMessage, R::Completed}}},
        {"Not_Supported",
         R"({"message": "Get_Source_Info", "from": "sink"}, {"message": "Not_Supported", "from": "source"})",
         1,
         {{K::Query, R::NotSupported}}},
        {"a Soft_Reset interrupts",
         std::string(request) +
             R"(, {"message": "Soft_Reset", "from": "sink"}, {"message": "Accept", "from": "source"})",
         1,
         {{K::Negotiation, R::InterruptedByReset}, {K::SoftReset, R::Completed}}},
        // The offer after the Hard Reset waits two seconds for a Request that never comes.
        {"a Hard Reset interrupts",
         std::string(request) +
             R"(, {"message": "Accept", "from": "source"}, {"message": "Hard Reset", "from": "sink", "after": 5},
            {"message": "Source_Capabilities", "from": "source"})",
         3,
         {{K::Negotiation, R::InterruptedByReset},
          {K::HardReset, R::Completed},
          {K::Negotiation, R::TimedOut}}},
        {"an answer that never comes",
         R"({"message": "Get_Sink_Cap", "from": "source"}, {"message": "Ping", "from": "source", "after": 500})",
         1,
         {{K::GetCapabilities, R::TimedOut}, {K::Other, R::Completed}}},
        {"the capture ends while an answer is due",
         R"({"message": "Get_Sink_Cap", "from": "source", "at": 985})",
         1,
         {{K::GetCapabilities, R::CutByCaptureEnd}}},
        {"the capture ends while the ports recover",
         R"({"message": "Hard Reset", "from": "source", "at": 900})",
         1,
         {{K::HardReset, R::CutByCaptureEnd}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const synthtest::Decoded d = synthtest::PlayAndDecode(Script(c.steps, c.seconds));
        const Flow f = GroupOf(*d.store);
        EXPECT_EQ(KindsAndResults(f), c.exchanges) << Describe(f);
        ExpectEveryPacketOnce(*d.store, f);
    }
}

// A message with its retries and its GoodCRC is one transaction, whatever went wrong with a transmission:
// the frames that could not be read are in it as failed transmissions.
TEST(Transactions, ARetriedMessageIsOneTransaction) {
    using P = PacketRole;
    const struct {
        const char* error;
        Outcome outcome;
        int32_t transmissions;
        std::vector<P> roles;
    } cases[] = {
        {nullptr, Outcome::Acknowledged, 1, {P::Transmission, P::GoodCrc}},
        {"crc", Outcome::Retried, 2, {P::Failed, P::Transmission, P::GoodCrc}},
        {"truncate", Outcome::Retried, 2, {P::Failed, P::Transmission, P::GoodCrc}},
        // Revision 3.0: two retries, and nobody answers any of them.
        {"noreply", Outcome::NeverAcknowledged, 3, {P::Transmission, P::Retry, P::Retry}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error ? c.error : "none");
        const std::string error = c.error ? std::string(R"(, "error": ")") + c.error + "\"" : "";
        const synthtest::Decoded d =
            synthtest::PlayAndDecode(Script(R"({"message": "Get_Sink_Cap", "from": "source")" + error + "}"));
        const Flow f = GroupOf(*d.store);
        ASSERT_EQ(f.transactions.size(), 1u) << Describe(f);
        const Transaction& t = f.transactions[0];
        EXPECT_EQ(t.label, "Get_Sink_Cap");
        EXPECT_EQ(t.outcome, c.outcome);
        EXPECT_EQ(t.transmissions, c.transmissions);
        EXPECT_EQ(t.Retries(), c.transmissions - 1);
        std::vector<P> roles;
        for (const FlowPacket& p : t.packets) roles.push_back(p.role);
        EXPECT_EQ(roles, c.roles);
        EXPECT_EQ(t.from, Party::Source);
        EXPECT_EQ(t.to, Party::Sink);
        EXPECT_EQ(t.start, t.packets.front().time);
        EXPECT_EQ(t.end, t.packets.back().end);
    }
    // A frame without preamble is not taken for the message after it: it may have been anything.
    const synthtest::Decoded d = synthtest::PlayAndDecode(
        Script(R"({"message": "Get_Sink_Cap", "from": "source", "error": "nopreamble"})"));
    const Flow f = GroupOf(*d.store);
    ASSERT_EQ(f.transactions.size(), 2u) << Describe(f);
    EXPECT_EQ(f.transactions[0].outcome, Outcome::Damaged);
    EXPECT_EQ(f.transactions[1].outcome, Outcome::Acknowledged);
}

// The shared captures, read by hand against their packet lists: every laptop's first offer goes
// unanswered and is sent again; then the negotiation, discovery and the vendors' own messages.
TEST(SharedCaptures, ExchangesAsThePacketListsShow) {
    const std::filesystem::path dir = AMBRIO_CAPTURES_DIR;
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no shared captures";
    const K neg = K::Negotiation, other = K::Other;
    const R ok = R::Completed;
    const auto unstructuredAndAttention = [&](int rounds, Expected e) {
        for (int i = 0; i < rounds; ++i) e.insert(e.end(), {{K::Attention, ok}, {other, ok}, {other, ok}});
        return e;
    };
    // clang-format off
    const struct {
        const char* file;
        Expected exchanges;
        int32_t firstOfferTransmissions; // 0: the first offer was acknowledged
    } cases[] = {
        // #0-#2 one offer never acknowledged; #3-#10 the negotiation; Discover Identity, SVIDs, Modes and
        // Enter Mode (SVID 05ACh), then the vendor's unstructured messages around five Attentions.
        {"macbook_2015-apple_power_brick.qxc",
         unstructuredAndAttention(5, {{neg, R::TimedOut}, {neg, ok}, {K::DiscoverIdentity, ok},
                                      {K::DiscoverSvids, ok}, {K::DiscoverModes, ok}, {K::EnterMode, ok},
                                      {other, ok}, {other, ok}}),
         3},
        {"pixel_2015-power_supply_20V.qxc",
         {{neg, ok}, {K::GetCapabilities, ok}, {K::DrSwap, ok}, {K::DiscoverIdentity, ok}, {K::DiscoverSvids, ok},
          {K::DiscoverModes, ok}, {K::EnterMode, ok}, {other, ok}, {other, ok}, {neg, ok}},
         0},
        {"pixel_2015-hdmi_dongle.qxc",
         {{neg, R::TimedOut}, {neg, ok}, {K::GetCapabilities, ok}, {K::DiscoverIdentity, ok}, {K::DiscoverSvids, ok},
          {K::DiscoverModes, ok}, {K::DiscoverModes, ok}, {K::EnterMode, ok}, {K::DisplayPortStatus, ok},
          {K::DisplayPortConfigure, ok}, {K::EnterMode, ok}, {other, ok}, {other, ok}, {K::Attention, ok}},
         4},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument((dir / c.file).string()));
        const Flow f = GroupOf(doc.store);
        EXPECT_EQ(KindsAndResults(f), c.exchanges) << Describe(f);
        ExpectEveryPacketOnce(doc.store, f);
        const Transaction& first = f.transactions.front();
        EXPECT_EQ(first.label, "Source_Capabilities");
        if (c.firstOfferTransmissions) {
            EXPECT_EQ(first.outcome, Outcome::NeverAcknowledged);
            EXPECT_EQ(first.transmissions, c.firstOfferTransmissions);
        }
    }

    // The AV adapter: after the identity, three frames nobody could read (a message and its GoodCRC,
    // as the reference decoder reads them); then Discover Modes whose retry could not be read either,
    // acknowledged by the GoodCRC after it (#31).
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument((dir / "macbook_2015-apple_av_hdmi.qxc").string()));
    const Flow f = GroupOf(doc.store);
    ExpectEveryPacketOnce(doc.store, f);
    ASSERT_GE(f.exchanges.size(), 6u) << Describe(f);
    const Exchange& damaged = f.exchanges[4];
    EXPECT_EQ(damaged.kind, other);
    ASSERT_EQ(damaged.transactions.size(), 1u);
    EXPECT_EQ(f.transactions[size_t(damaged.transactions[0])].packets.size(), 3u);
    const Exchange& modes = f.exchanges[5];
    EXPECT_EQ(modes.kind, K::DiscoverModes);
    EXPECT_EQ(modes.result, ok);
    const Transaction& req = f.transactions[size_t(modes.transactions[0])];
    EXPECT_EQ(req.label, "Discover Modes REQ DisplayPort");
    EXPECT_EQ(req.outcome, Outcome::Retried);
    EXPECT_EQ(req.packets.back().number, 31);
    EXPECT_EQ(req.packets.back().role, PacketRole::GoodCrc);
}

// Every finding with packets is attached once, to the exchange that holds its first packet.
TEST(Findings, AttachedToTheExchangeOfTheirFirstPacket) {
    const synthtest::Decoded d = synthtest::PlayAndDecode(synthtest::Builtin("noisy"));
    const analysis::Results r = analysis::Analyze(*d.store);
    const Flow f = Group(*d.store, r.findings);
    std::vector<int> attached(r.findings.size(), 0);
    for (const Exchange& x : f.exchanges)
        for (int32_t i : x.findings) {
            ++attached[size_t(i)];
            const int32_t tx = TransactionOfPacket(f, r.findings[size_t(i)].packets.front().number);
            ASSERT_GE(tx, 0);
            EXPECT_EQ(&f.exchanges[size_t(f.transactions[size_t(tx)].exchange)], &x);
        }
    size_t withPackets = 0;
    for (size_t i = 0; i < r.findings.size(); ++i) {
        withPackets += !r.findings[i].packets.empty();
        EXPECT_EQ(attached[i], r.findings[i].packets.empty() ? 0 : 1) << r.findings[i].text;
    }
    EXPECT_GT(withPackets, 10u);
}

// A live capture: the store grows in pieces (and drops its oldest packets) and the grouping follows; the
// result is the one of the whole read at once, packet numbers included.
TEST(Incremental, PiecesGiveTheWhole) {
    for (const char* name : {"demo", "noisy", "dock"}) {
        SCOPED_TRACE(name);
        const synthtest::Played played = synthtest::Play(synthtest::Builtin(name));
        CCaptureStore whole;
        synthtest::Decode(played, whole);
        const analysis::Results all = analysis::Analyze(whole);
        const Flow once = Group(whole, all.findings);
        ASSERT_GT(once.exchanges.size(), 5u);

        CCaptureStore live;
        CFlowGrouper g;
        analysis::CAnalyzer a;
        size_t feeds = 0;
        FeedInSteps(played, live, 64 * 13, [&] {
            g.Feed(live);
            a.Feed(live);
            g.AttachFindings(a.Current().findings);
            // The window reads a paused document whole now and then, and goes on from there.
            if (++feeds % 97 == 0) g.FeedAll(live);
        });
        live.FlushOpenPackets();
        g.Finish(live);
        a.Finish(live);
        g.AttachFindings(a.Current().findings);
        EXPECT_EQ(a.Current().findings, all.findings);
        EXPECT_EQ(g.Current().transactions, once.transactions);
        EXPECT_EQ(g.Current(), once) << Describe(g.Current()) << "\n---\n" << Describe(once);
    }

    // Packets removed from the front between reads (never more at once than were read): numbers go on
    // where they were.
    const synthtest::Played played = synthtest::Play(synthtest::Builtin("reset"));
    CCaptureStore whole;
    synthtest::Decode(played, whole);
    const Flow once = Group(whole, {});
    StoreLimits limits;
    limits.packetLimit = 30;
    limits.packetAutoRemove = true;
    CCaptureStore trimmed(nullptr, limits);
    CFlowGrouper g;
    FeedInSteps(played, trimmed, 64 * 50, [&] {
        trimmed.EnforceLimits(); // as the document does after each step
        g.Feed(trimmed);
    });
    g.Finish(trimmed);
    EXPECT_TRUE(trimmed.packetsRemoved);
    EXPECT_EQ(g.Current(), once);

    // A cleared store starts over.
    CCaptureStore store;
    synthtest::Decode(played, store);
    CFlowGrouper h;
    h.Feed(store);
    ASSERT_GT(h.Current().packetsRead, 0);
    store.Reset();
    h.Feed(store);
    EXPECT_EQ(h.Current().packetsRead, 0);
    EXPECT_TRUE(h.Current().exchanges.empty());
}

} // namespace
