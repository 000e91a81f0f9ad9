// Built-in scenarios through the real decoder: every frame comes back as scripted, the protocol rules
// hold on the decoded traffic, and the analog samples follow the negotiation. A scripted chunked message
// with a chunk sent again reads as the clean exchange does.
#include "device/SynthSupport.h"

#include "PacketTexts.h"
#include "PacketTreeModel.h"

#include <map>
#include <ostream>

using synthtest::Builtin;
using synthtest::Play;
using synthtest::Played;

namespace {

std::vector<std::string> Names() {
    return synth::BuiltinScenarioNames();
}

struct Decoded {
    synth::Scenario scenario;
    Played played;
    std::unique_ptr<CCaptureStore> store = std::make_unique<CCaptureStore>();
};

Decoded PlayAndDecode(const std::string& name, const synth::SynthOptions& o = {}) {
    Decoded d;
    d.scenario = Builtin(name);
    d.played = Play(d.scenario, o);
    synthtest::Decode(d.played, *d.store);
    return d;
}

bool Good(const CCCPacket& p, const char* name) {
    return p.crcGood && p.GetMessageTypeText() == name;
}
int MessageId(const CCCPacket& p) {
    return (p.Header() >> 9) & 7;
}
int64_t End(const CCCPacket& p) {
    return p.startTime + p.LengthMicros();
}

const CVbusInfo& SampleAt(const CCaptureStore& s, int64_t t) {
    const CVbusInfo* v = s.FindSampleAt(t);
    EXPECT_NE(v, nullptr) << t;
    return v ? *v : *s.SampleAt(0);
}

} // namespace

TEST(BuiltinScenarios, EveryScenarioDecodesToExactlyItsScriptedFrames) {
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        synth::Scenario s = Builtin(name);
        std::string error;
        EXPECT_TRUE(synth::ValidateScenario(s, &error)) << error;
        Decoded d = PlayAndDecode(name);
        EXPECT_GT(d.played.sent.size(), 10u);
        synthtest::ExpectDecodedAsSent(*d.store, d.played.sent);
    }
}

// The faults of "noisy" are all there and all show as their decode outcome; the glitches too short to
// make a packet leave no row.
TEST(BuiltinScenarios, NoisyCarriesEveryKindOfFault) {
    Decoded d = PlayAndDecode("noisy");
    std::map<synth::Outcome, int> outcomes;
    int uiOut = 0;
    for (const auto& x : d.played.sent) {
        ++outcomes[x.outcome];
        if (x.outcome == synth::Outcome::Good && x.unitInterval > 0 && !synthtest::UiInRange(x.unitInterval))
            ++uiOut;
    }
    EXPECT_GT(outcomes[synth::Outcome::BadCrc], 1);
    EXPECT_GT(outcomes[synth::Outcome::NoEop], 1);
    EXPECT_GT(outcomes[synth::Outcome::NoPreamble], 5);
    EXPECT_GT(uiOut, 2);
    const CaptureTallies& t = d.store->tallies;
    EXPECT_EQ(t.badCrc, uint32_t(outcomes[synth::Outcome::BadCrc] + outcomes[synth::Outcome::NoEop]));
    EXPECT_GE(t.noPreamble, uint32_t(outcomes[synth::Outcome::NoPreamble]));
    EXPECT_GE(t.uiOutOfRange, uint32_t(uiOut));
    // Every glitch of 4 transitions or fewer vanished: packets on the quiet line are all 20-transition
    // bursts.
    for (size_t i = 0; i < d.store->PacketCount(); ++i) {
        const CCCPacket& p = *d.store->PacketAt(i);
        if (p.channel == 0) {
            EXPECT_EQ(p.intervalCount, 19) << i;
        }
    }
}

// Finer and coarser ticks, an analyzer clock about to wrap, other seeds.
TEST(BuiltinScenarios, DecodeAtOtherClockSettingsAndSeeds) {
    struct Case {
        const char* name;
        uint16_t clock;
        uint32_t seed, baseTime;
    };
    const Case cases[] = {
        {"demo", 0x0100, 2, 0},                // divisor 1
        {"noisy", 9, 3, 0},                    // divisor 10
        {"epr", 19, 4, 0},                     // divisor 20 from the low byte
        {"dock", 0, 5, 4294967295u - 3000000}, // 32-bit wrap three seconds in
        {"extended", 4, 6, 12345},             // divisor 5
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " clock " << c.clock << " seed " << c.seed);
        synth::SynthOptions o;
        o.clockSetting = c.clock;
        o.seed = c.seed;
        o.baseTime = c.baseTime;
        o.seconds = 8;
        Decoded d = PlayAndDecode(c.name, o);
        synthtest::ExpectDecodedAsSent(*d.store, d.played.sent);
    }
}

// MessageIDs and GoodCRC on the decoded traffic: every acknowledged message is answered by the other side
// within 1 ms with its MessageID; each sender counts per ordered set; an unanswered message is retried
// unchanged about 1 ms later; Hard Reset, Cable Reset, Soft_Reset and a completed power role swap
// restart the counts at 0. Senders are told apart by their power role bit (cable plug bit on SOP'/SOP''),
// which the two PS_RDYs of a power role swap turn round.
TEST(BuiltinScenarios, MessageIdsAndGoodCrcFollowTheProtocol) {
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        Decoded d = PlayAndDecode(name);
        const CCaptureStore& s = *d.store;
        struct Sender {
            int lastId = -1;
            bool acked = true, restart = true;
            std::string bytes;
            int64_t end = 0;
        };
        std::map<std::pair<int, int>, Sender> senders;
        auto restart = [&](bool cableOnly, int kindOnly = 0) {
            for (auto& [key, snd] : senders)
                if ((!cableOnly || key.first != kKindSop) && (kindOnly == 0 || key.first == kindOnly))
                    snd.restart = true;
        };
        int sourceSide = 0; // the side that sourced VBUS first is side 0
        int swapStage = 0, acks = 0, goodCrcs = 0;
        for (size_t i = 0; i < s.PacketCount(); ++i) {
            const CCCPacket& p = *s.PacketAt(i);
            if (p.kind == kKindHardReset) restart(false);
            if (p.kind == kKindCableReset) restart(true);
            if (!p.crcGood || !IsMessageKind(p.kind)) continue;
            const std::string type = p.GetMessageTypeText();
            if (type == "GoodCRC") {
                ++goodCrcs;
                continue;
            }
            SCOPED_TRACE(testing::Message() << "packet " << i << " " << type << " at " << p.startTime);
            const int id = MessageId(p);
            const int bit8 = (p.Header() >> 8) & 1;
            int side = bit8;
            if (p.kind == kKindSop) {
                side = bit8 ? sourceSide : 1 - sourceSide;
                if (type == "PS_RDY" && swapStage == 2) side = sourceSide;     // the old source, now Rd
                if (type == "PS_RDY" && swapStage == 3) side = 1 - sourceSide; // the new source
            }
            const std::pair<int, int> key = {p.kind, side};
            const CCCPacket* next = nullptr;
            for (size_t j = i + 1; j < s.PacketCount() && !next; ++j)
                if (s.PacketAt(j)->channel == p.channel) next = s.PacketAt(j);
            const bool acked = next && Good(*next, "GoodCRC") && next->kind == p.kind &&
                               MessageId(*next) == id && next->startTime - End(p) >= 15 &&
                               next->startTime - End(p) <= 1000;
            if (acked) {
                ++acks;
                // Outside a swap the answer carries the other role; a cable plug answers as the plug.
                if (swapStage < 2) {
                    EXPECT_NE((next->Header() >> 8) & 1, bit8) << "GoodCRC from the sender's own side";
                }
            }
            if (type == "Soft_Reset") {
                for (auto& [k, other] : senders)
                    if (k.first == p.kind) other.restart = true;
            }
            Sender& snd = senders[key];
            const std::string bytes = synthtest::Hex(p.messageBytes, size_t(p.messageByteCount));
            if (snd.lastId >= 0 && !snd.acked && id == snd.lastId && !snd.restart) {
                EXPECT_EQ(bytes, snd.bytes) << "a retry changed the message";
                EXPECT_LE(p.startTime - snd.end, 1500) << "retry too late";
            } else {
                EXPECT_EQ(id, snd.restart ? 0 : (snd.lastId + 1) & 7);
                snd.restart = false;
            }
            snd.lastId = id;
            snd.acked = acked;
            snd.bytes = bytes;
            snd.end = End(p);
            if (type == "PR_Swap") {
                swapStage = 1;
            } else if (type == "Accept" && swapStage == 1) {
                swapStage = 2;
            } else if (type == "PS_RDY" && swapStage >= 2 && ++swapStage == 4) {
                restart(false, kKindSop);
                sourceSide = 1 - sourceSide;
                swapStage = 0;
            }
        }
        EXPECT_EQ(acks, goodCrcs) << "a GoodCRC that answers nothing";
        EXPECT_GT(acks, 5);
    }
}

// VBUS stays put until tSrcTransition after the Accept, then reaches the negotiated voltage (the fixed
// object's, or the programmable output asked for) before PS_RDY is sent.
TEST(BuiltinScenarios, VbusFollowsEveryNegotiation) {
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        Decoded d = PlayAndDecode(name);
        const CCaptureStore& s = *d.store;
        std::vector<uint32_t> caps;
        int32_t target = -1;
        const CCCPacket* accept = nullptr;
        int checked = 0;
        for (size_t i = 0; i < s.PacketCount(); ++i) {
            const CCCPacket& p = *s.PacketAt(i);
            if (p.kind == kKindHardReset) {
                target = -1;
                accept = nullptr;
            }
            if (!p.crcGood) continue;
            if (Good(p, "Source_Capabilities")) {
                caps.clear();
                for (int n = 1; n <= p.DataObjectCount(); ++n) caps.push_back(p.DataObject(n));
            } else if (Good(p, "Request") && !caps.empty()) {
                const uint32_t rdo = p.DataObject(1), pdo = caps.at((rdo >> 28) - 1);
                target =
                    (pdo >> 30) == 3 ? int32_t((rdo >> 9) & 0x7FF) * 20 : int32_t((pdo >> 10) & 0x3FF) * 50;
                accept = nullptr;
            } else if (Good(p, "EPR_Request")) {
                target = int32_t((p.DataObject(2) >> 10) & 0x3FF) * 50;
                accept = nullptr;
            } else if (Good(p, "Accept") && target > 0) {
                accept = &p;
            } else if (Good(p, "PS_RDY") && accept) {
                SCOPED_TRACE(testing::Message() << "PS_RDY at " << p.startTime << " for " << target << " mV");
                const int32_t before = SampleAt(s, accept->startTime).vbusVoltage;
                EXPECT_NEAR(SampleAt(s, End(*accept) + 20000).vbusVoltage, before, 300);
                EXPECT_NEAR(SampleAt(s, p.startTime).vbusVoltage, target, 300);
                EXPECT_GT(p.startTime - End(*accept), 25000);
                ++checked;
                target = -1;
                accept = nullptr;
            }
        }
        EXPECT_GT(checked, 0);
    }
}

TEST(BuiltinScenarios, HardResetDropsVbusAndTheSourceStartsOverAtFiveVolts) {
    for (const char* name : {"reset", "demo"}) {
        SCOPED_TRACE(name);
        Decoded d = PlayAndDecode(name);
        const CCaptureStore& s = *d.store;
        int resets = 0;
        for (size_t i = 0; i < s.PacketCount(); ++i) {
            const CCCPacket& h = *s.PacketAt(i);
            if (h.kind != kKindHardReset) continue;
            ++resets;
            int32_t lowest = 65535;
            for (size_t k = 0; k < s.SampleCount(); ++k) {
                const CVbusInfo& v = *s.SampleAt(k);
                if (v.time > h.startTime && v.time < h.startTime + 1500000)
                    lowest = std::min<int32_t>(lowest, v.vbusVoltage);
            }
            EXPECT_LT(lowest, 800);
            const CCCPacket* caps = nullptr;
            for (size_t j = i + 1; j < s.PacketCount() && !caps; ++j)
                if (Good(*s.PacketAt(j), "Source_Capabilities")) caps = s.PacketAt(j);
            ASSERT_NE(caps, nullptr);
            EXPECT_GT(caps->startTime - h.startTime, 660000);
            EXPECT_NEAR(SampleAt(s, caps->startTime).vbusVoltage, 5000, 150);
        }
        EXPECT_GT(resets, 0);
    }
}

// The demo shows every kind of row, EPR included: after an SPR contract whose Request says the sink can
// do EPR, the sink enters EPR mode, the source reads the e-marker of the cable (EPR-capable, 50 V) before
// it says yes, sends its EPR capabilities in two chunks, and the sink takes 28 V and keeps EPR alive.
TEST(BuiltinScenarios, DemoTourEntersEpr) {
    Decoded d = PlayAndDecode("demo");
    const CCaptureStore& s = *d.store;
    std::vector<std::string> messages; // from the first EPR_Mode on, without GoodCRC
    const CCCPacket *lastRequest = nullptr, *cableAnswer = nullptr, *psRdy = nullptr;
    for (size_t i = 0; i < s.PacketCount() && messages.size() < 13; ++i) {
        const CCCPacket& p = *s.PacketAt(i);
        if (!p.crcGood || !IsMessageKind(p.kind)) continue;
        std::string name = p.GetMessageTypeText();
        if (name == "GoodCRC") continue;
        if (messages.empty() && name != "EPR_Mode") {
            if (name == "Request") lastRequest = &p;
            continue;
        }
        if (name == "EPR_Mode") name += " " + std::to_string(p.DataObject(1) >> 24);
        if (p.kind == kKindSopPrime) {
            name += " SOP'";
            cableAnswer = &p;
        }
        if (name == "PS_RDY") psRdy = &p;
        messages.push_back(name);
    }
    const std::vector<std::string> expected = {
        "EPR_Mode 1",         "EPR_Mode 2",
        "Vendor_Defined SOP'", "Vendor_Defined SOP'",
        "EPR_Mode 3",         "EPR_Source_Capabilities",
        "EPR_Source_Capabilities", "EPR_Source_Capabilities",
        "EPR_Request",        "Accept",
        "PS_RDY",             "Extended_Control",
        "Extended_Control"};
    EXPECT_EQ(messages, expected);
    ASSERT_NE(lastRequest, nullptr);
    EXPECT_TRUE(lastRequest->DataObject(1) & (1u << 22)); // EPR mode capable
    ASSERT_NE(cableAnswer, nullptr);
    const uint32_t cableVdo = cableAnswer->DataObject(cableAnswer->DataObjectCount());
    EXPECT_TRUE(cableVdo & (1u << 17));      // EPR mode capable
    EXPECT_EQ((cableVdo >> 9) & 3, 3u);      // 50 V
    EXPECT_EQ((cableVdo >> 5) & 3, 2u);      // 5 A
    ASSERT_NE(psRdy, nullptr);
    EXPECT_NEAR(SampleAt(s, psRdy->startTime).vbusVoltage, 28000, 300);
}

// After the power role swap the current flows the other way; the new source's CC advertisement shows.
TEST(BuiltinScenarios, PowerRoleSwapTurnsTheCurrentRound) {
    Decoded d = PlayAndDecode("swap");
    const CCaptureStore& s = *d.store;
    const CCCPacket* swap = nullptr;
    for (size_t i = 0; i < s.PacketCount() && !swap; ++i)
        if (Good(*s.PacketAt(i), "PR_Swap")) swap = s.PacketAt(i);
    ASSERT_NE(swap, nullptr);
    EXPECT_GT(SampleAt(s, swap->startTime - 100000).vbusCurrent, 1000);
    const CVbusInfo& last = *s.SampleAt(s.SampleCount() - 1);
    EXPECT_LT(last.vbusCurrent, -1000);
    EXPECT_NEAR(last.vbusVoltage, 20000, 300);
    EXPECT_EQ(s.portState.sourcePort, 2);
}

// Traffic on the scenario's CC line with its Rp level; VCONN on the other line when the cable is e-marked;
// one sample every 10 ms from the capture origin.
TEST(BuiltinScenarios, CcLinesOrientationAndSampleInterval) {
    for (const std::string& name : Names()) {
        SCOPED_TRACE(name);
        Decoded d = PlayAndDecode(name);
        const CCaptureStore& s = *d.store;
        const int line = d.scenario.orientation;
        for (size_t i = 0; i < s.PacketCount(); ++i)
            if (s.PacketAt(i)->preambleFound) {
                EXPECT_EQ(s.PacketAt(i)->channel, line) << i;
            }
        const CVbusInfo& last = *s.SampleAt(s.SampleCount() - 1);
        const int16_t active = line ? last.cc2Voltage : last.cc1Voltage;
        const int16_t other = line ? last.cc1Voltage : last.cc2Voltage;
        const int16_t otherMa = line ? last.cc1Current : last.cc2Current;
        EXPECT_NEAR(active, 1683, 20);
        if (d.scenario.cable.present) {
            EXPECT_NEAR(other, 5000, 30);
            EXPECT_GT(otherMa, 0);
        } else {
            EXPECT_EQ(other, 0);
        }
        ASSERT_EQ(s.SampleCount(), size_t(d.scenario.seconds * 100) + 1);
        for (size_t k = 0; k < s.SampleCount(); ++k) ASSERT_EQ(s.SampleAt(k)->time, int64_t(k) * 10000);
        // Plugged in with nothing on the lines, then vSafe5V.
        EXPECT_EQ(s.SampleAt(0)->vbusVoltage, 0);
        EXPECT_EQ(s.SampleAt(0)->cc1Voltage, 0);
    }
}

// ---- A chunk sent again ----
// An EPR_Source_Capabilities of fifteen objects goes in three chunks, each next one asked for by the sink.
// A chunk whose GoodCRC the source missed comes twice; a chunk damaged on the line comes again intact. The
// resent chunk keeps the message whole: every good chunk reads as in the clean exchange (the first one
// describing all fifteen objects from the joined block), and the damaged copy, which joins nothing, shows
// its own bytes as they are instead of power objects read out of step.

namespace {

enum class Resend { None, Twice, BadCrcFirst };

std::vector<uint8_t> FifteenObjects() {
    const uint32_t objects[] = {0x0881912C, 0x0002D12C, 0x0004B12C, 0x000641F4, 0xC1A42164,
                                0,          0,          0x0008C1F4, 0x000B41F4, 0x000F01F4,
                                0xD3C096F0, 0,          0,          0x0008C12C, 0x000F012C};
    std::vector<uint8_t> data;
    for (uint32_t o : objects)
        for (int b = 0; b < 4; ++b) data.push_back(uint8_t(o >> (8 * b)));
    return data;
}

// Header (source, DFP, revision 3.0, extended), extended header, data padded to whole objects.
std::vector<uint8_t> EprCapsChunk(int chunk, int id, bool requestFromSink = false) {
    const std::vector<uint8_t> data = FifteenObjects();
    const size_t from = std::min(data.size(), size_t(26 * chunk));
    const size_t len = requestFromSink ? 0 : std::min<size_t>(26, data.size() - from);
    const int objects = requestFromSink ? 1 : int((2 + len + 3) / 4);
    const uint16_t header =
        uint16_t(17 | (requestFromSink ? 0 : 0x120) | 2 << 6 | id << 9 | objects << 12 | 0x8000);
    const uint16_t ext = uint16_t((requestFromSink ? 0x400 : data.size()) | chunk << 11 | 0x8000);
    std::vector<uint8_t> b = {uint8_t(header), uint8_t(header >> 8), uint8_t(ext), uint8_t(ext >> 8)};
    b.insert(b.end(), data.begin() + std::ptrdiff_t(from), data.begin() + std::ptrdiff_t(from + len));
    b.resize(size_t(2 + 4 * objects), 0);
    return b;
}

synth::Scenario ChunkedCapabilities(int resentChunk, Resend how) {
    synth::Scenario s;
    s.name = "resent-chunk";
    s.seconds = 0.5;
    auto send = [&](std::vector<uint8_t> bytes, synth::Actor from, synth::FrameError error) {
        synth::Step step;
        step.atMs = s.steps.empty() ? 200 : -1;
        step.message.raw = std::move(bytes);
        step.message.from = from;
        step.message.error = error;
        s.steps.push_back(step);
    };
    for (int chunk = 0; chunk < 3; ++chunk) {
        if (chunk > 0)
            send(EprCapsChunk(chunk, chunk - 1, true), synth::Actor::Sink, synth::FrameError::None);
        const bool again = chunk == resentChunk;
        send(EprCapsChunk(chunk, chunk), synth::Actor::Source,
             again && how == Resend::BadCrcFirst ? synth::FrameError::BadCrc : synth::FrameError::None);
        if (again && how == Resend::Twice)
            send(EprCapsChunk(chunk, chunk), synth::Actor::Source, synth::FrameError::None);
    }
    return s;
}

// What the window shows of one packet: its Description cell, and every item of its tree (the packet item
// aside, whose number depends on the traffic before) with the field table that item opens.
struct ShownItem {
    uint32_t value;
    std::string text;
    std::vector<PDFieldRow> rows;
    bool operator==(const ShownItem&) const = default;
};
struct ShownTexts {
    std::string description;
    std::vector<ShownItem> items;
    bool operator==(const ShownTexts&) const = default;
    const ShownItem* Find(uint32_t value) const {
        for (const ShownItem& i : items)
            if (i.value == value) return &i;
        return nullptr;
    }
};

ShownTexts Shown(const CCCPacket& p) {
    ShownTexts t;
    t.description = p.GetColumnText(kColumnDescription, false);
    for (const PacketTreeItem& item : CPacketTreeModel::BuildItems(p))
        if (item.value != kItemPacket)
            t.items.push_back({item.value, item.text, CPacketTreeModel::BuildTableRows(&p, item.value)});
    return t;
}

std::ostream& operator<<(std::ostream& os, const ShownItem& i) {
    os << "\n  " << i.text;
    for (const PDFieldRow& r : i.rows)
        os << "\n    " << r[0] << " | " << r[2] << " | " << r[3] << " | " << r[4];
    return os;
}
std::ostream& operator<<(std::ostream& os, const ShownTexts& t) {
    os << "\n  \"" << t.description << "\"";
    for (const ShownItem& i : t.items) os << i;
    return os;
}

bool IsEprCapsData(const CCCPacket& p) {
    return p.kind == kKindSop && p.messageByteCount >= 4 && p.IsExtendedMessage() &&
           p.GetMessageTypeCode() == 17 && !p.RequestChunkBit();
}

} // namespace

TEST(ResentChunks, EveryChunkReadsAsInTheCleanExchange) {
    const synthtest::Decoded clean = synthtest::PlayAndDecode(ChunkedCapabilities(-1, Resend::None));
    std::map<int, ShownTexts> reference; // by chunk number
    for (size_t i = 0; i < clean.store->PacketCount(); ++i) {
        const CCCPacket& p = *clean.store->PacketAt(i);
        if (IsEprCapsData(p)) reference[p.ChunkNumberField()] = Shown(p);
    }
    ASSERT_EQ(reference.size(), 3u);
    EXPECT_NE(reference[0].description.find("[14]<Fix>28.00V/3.00A [15]<Fix>48.00V/3.00A"), std::string::npos)
        << reference[0];
    const ShownItem* ownData = reference[1].Find(kItemExtendedData);
    ASSERT_NE(ownData, nullptr) << reference[1];
    ASSERT_FALSE(ownData->rows.empty());
    EXPECT_EQ(ownData->rows[0][2], "Extended Data[0..15]"); // the bytes as they came, not objects

    struct Case {
        int chunk;
        Resend how;
    };
    const Case cases[] = {{0, Resend::Twice},
                          {1, Resend::Twice},
                          {2, Resend::Twice},
                          {1, Resend::BadCrcFirst},
                          {2, Resend::BadCrcFirst}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "chunk " << c.chunk << (c.how == Resend::Twice ? " twice" : " bad CRC first"));
        const synthtest::Decoded d = synthtest::PlayAndDecode(ChunkedCapabilities(c.chunk, c.how));
        int good = 0, damaged = 0;
        for (size_t i = 0; i < d.store->PacketCount(); ++i) {
            const CCCPacket& p = *d.store->PacketAt(i);
            if (!IsEprCapsData(p)) continue;
            const int chunk = p.ChunkNumberField();
            SCOPED_TRACE(testing::Message() << "packet " << i << ", chunk " << chunk);
            if (p.crcGood) {
                ++good;
                EXPECT_EQ(Shown(p), reference[chunk]);
                continue;
            }
            ++damaged;
            EXPECT_EQ(p.extData, nullptr) << "a damaged chunk joins no block";
            const ShownTexts shown = Shown(p);
            EXPECT_EQ(shown.description, "");
            EXPECT_EQ(shown.Find(kItemDataBlock), nullptr) << shown;
            ASSERT_NE(shown.Find(kItemExtendedData), nullptr) << shown;
            EXPECT_EQ(*shown.Find(kItemExtendedData), *reference[chunk].Find(kItemExtendedData));
        }
        EXPECT_EQ(good, c.how == Resend::Twice ? 4 : 3);
        EXPECT_EQ(damaged, c.how == Resend::Twice ? 0 : 1);
    }
}
