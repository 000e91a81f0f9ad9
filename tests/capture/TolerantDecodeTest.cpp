// Tolerant bit recovery: the messages real logic captures carry with a short or missing preamble, and
// generated traffic whose high half-bits outlast the low ones, come out whole; nothing the rules read
// changes, nothing passes without a CRC that checks, and what the rules reject stays as they left it.
#include "BmcDecoder.h"
#include "CaptureStore.h"
#include "QXDoc.h"
#include "RecordEncoder.h"
#include "SymbolDecoder.h"
#include "device/SynthSupport.h"
#include "support/DecodedPackets.h"
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The same stream decoded by the rules and tolerantly: packet for packet the same wherever the rules
// read a packet completely, and wherever the tolerant reading found nothing better.
void ExpectRulesReadingsKept(const CCaptureStore& standard, const CCaptureStore& tolerant) {
    ASSERT_EQ(tolerant.PacketCount(), standard.PacketCount());
    for (size_t i = 0; i < standard.PacketCount(); ++i) {
        const CCCPacket& s = *standard.PacketAt(i);
        const CCCPacket& t = *tolerant.PacketAt(i);
        if (!bmc::ReadCompletely(s) && bmc::ReadCompletely(t)) continue; // a second chance taken
        SCOPED_TRACE(testing::Message() << "packet " << i << " at " << s.startTime);
        testdecoded::ExpectSameDecode(s, t);
    }
}

std::string Hex(const uint8_t* b, size_t n) {
    return synthtest::Hex(b, n);
}

// The CRC-good messages a reference text lists: line, start (µs), bytes in the list's hex.
struct ReferenceMessage {
    int channel;
    double startUs;
    std::string bytes;
};

std::string SpacedUpper(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (!out.empty()) out += ' ';
        out += char(std::toupper(hex[i]));
        out += char(std::toupper(hex[i + 1]));
    }
    return out;
}

std::vector<ReferenceMessage> ReadReference(const fs::path& path) {
    std::vector<ReferenceMessage> out;
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, '\t');) cols.push_back(c);
        if (cols.size() < 6 || cols[4] != "ok") continue;
        out.push_back({cols[0] == "CC2" ? 1 : 0, std::stod(cols[1]), SpacedUpper(cols[5])});
    }
    return out;
}

std::unique_ptr<CQXDoc> Open(const fs::path& file, bool tolerant) {
    auto doc = std::make_unique<CQXDoc>();
    doc->store.tolerantBits = tolerant;
    EXPECT_TRUE(doc->OpenDocument(file.string())) << file;
    return doc;
}

bool MessageGood(const CCCPacket& p) {
    return IsMessageKind(p.kind) && p.crcGood;
}

size_t CountGood(const CCaptureStore& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.PacketCount(); ++i) n += MessageGood(*s.PacketAt(i));
    return n;
}

const fs::path kCaptures = AMBRIO_CAPTURES_DIR;

} // namespace

// The three messages after junk bursts with about 36, 4 and no alternating bits before their ordered
// set: the rules miss them, the tolerant reading finds them with their real preambles.
TEST(TolerantDecode, AvHdmiCaptureGivesAllItsMessages) {
    const fs::path file = kCaptures / "macbook_2015-apple_av_hdmi.qxc";
    if (!fs::exists(file)) GTEST_SKIP() << "no shared captures";
    const auto standard = Open(file, false);
    const auto tolerant = Open(file, true);
    EXPECT_EQ(CountGood(standard->store), 81u);
    ASSERT_EQ(CountGood(tolerant->store), 84u);

    const std::vector<ReferenceMessage> ref =
        ReadReference(kCaptures / "macbook_2015-apple_av_hdmi.sigrok.txt");
    ASSERT_EQ(ref.size(), 84u);
    size_t k = 0;
    for (size_t i = 0; i < tolerant->store.PacketCount(); ++i) {
        const CCCPacket& p = *tolerant->store.PacketAt(i);
        if (!MessageGood(p)) continue;
        ASSERT_LT(k, ref.size());
        EXPECT_EQ(Hex(p.messageBytes, size_t(p.messageByteCount)), ref[k].bytes) << "message " << k;
        EXPECT_NEAR(double(p.startTime), ref[k].startUs, 1.0) << "message " << k;
        ++k;
    }

    struct Recovered {
        double startUs;
        int preamble; // alternating bits before the ordered set, as the list shows them
        bool uiMeasured;
    };
    const Recovered recovered[] = {{362572.9, 37, true}, {364348.8, 4, true}, {365290.0, 0, false}};
    for (const Recovered& r : recovered) {
        SCOPED_TRACE(r.startUs);
        const CCCPacket* p = tolerant->store.FindPacketAt(int64_t(r.startUs));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->startTime, int64_t(r.startUs));
        EXPECT_TRUE(p->preambleFound);
        EXPECT_EQ(p->preambleLength, r.preamble);
        EXPECT_EQ(p->dataStart, p->preambleStart + p->preambleLength);
        EXPECT_EQ(p->kind, kKindSop);
        EXPECT_TRUE(p->eopFound);
        // Measured over the preamble there was; not at all without two bits of it.
        if (r.uiMeasured) {
            EXPECT_NEAR(p->unitInterval, 3.33, 0.1);
        } else {
            EXPECT_EQ(p->unitInterval, 0.0f);
        }
        const CCCPacket* s = standard->store.FindPacketAt(int64_t(r.startUs));
        ASSERT_NE(s, nullptr);
        EXPECT_FALSE(s->crcGood);
    }
    // The tallies follow: three packets fewer without a preamble.
    EXPECT_EQ(standard->store.tallies.noPreamble - tolerant->store.tallies.noPreamble, 3u);
}

// On every shared capture: nothing CRC-good that the reference does not list, and the rules' readings
// unchanged.
TEST(TolerantDecode, SharedCapturesGainNoMessageTheReferenceLacks) {
    if (!fs::is_directory(kCaptures)) GTEST_SKIP() << "no shared captures";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(kCaptures)) {
        if (entry.path().extension() != ".qxc") continue;
        std::string stem = entry.path().stem().string();
        const std::string base = stem.ends_with("-clock4") ? stem.substr(0, stem.size() - 7) : stem;
        SCOPED_TRACE(stem);
        ++files;
        const std::vector<ReferenceMessage> ref = ReadReference(kCaptures / (base + ".sigrok.txt"));
        const auto standard = Open(entry.path(), false);
        const auto tolerant = Open(entry.path(), true);
        ExpectRulesReadingsKept(standard->store, tolerant->store);
        for (size_t i = 0; i < tolerant->store.PacketCount(); ++i) {
            const CCCPacket& p = *tolerant->store.PacketAt(i);
            if (!MessageGood(p)) continue;
            const std::string bytes = Hex(p.messageBytes, size_t(p.messageByteCount));
            bool listed = false;
            for (const ReferenceMessage& r : ref)
                listed |= r.channel == p.channel && r.bytes == bytes &&
                          std::abs(r.startUs - double(p.startTime)) < 3;
            EXPECT_TRUE(listed) << "packet " << i << " at " << p.startTime << ": " << bytes;
        }
    }
    EXPECT_GE(files, 5);
}

namespace {

// A scenario played with high half-bits stretched by `stretch` µs, decoded by the rules or tolerantly.
struct Stretched {
    synthtest::Played played;
    std::unique_ptr<CCaptureStore> store = std::make_unique<CCaptureStore>();
};

Stretched PlayStretched(const std::string& name, double stretch, uint16_t clock, bool tolerant) {
    synth::SynthOptions o;
    o.highStretch = stretch;
    o.clockSetting = clock;
    Stretched s;
    s.played = synthtest::Play(synthtest::Builtin(name), o);
    s.store->tolerantBits = tolerant;
    synthtest::Decode(s.played, *s.store);
    return s;
}

} // namespace

// High half-bits longer than low ones, as logic analyzers on a CC line see them: the tolerant reading
// gets every frame the scenario sent whole, up to 1.25 µs, at the coarse tick and a fine one.
TEST(TolerantDecode, StretchedHalfBitsTable) {
    struct Case {
        double stretch;
        uint16_t clock;
    };
    const Case cases[] = {{0, 0},    {0.25, 0}, {0.5, 0}, {0.75, 0}, {1.0, 0},
                          {1.25, 0}, {0.5, 4},  {1.0, 4}, {1.25, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stretch " << c.stretch << " µs, clock " << c.clock);
        const Stretched standard = PlayStretched("demo", c.stretch, c.clock, false);
        const Stretched tolerant = PlayStretched("demo", c.stretch, c.clock, true);
        const auto& sent = tolerant.played.sent;
        ASSERT_EQ(tolerant.store->PacketCount(), sent.size());
        int good = 0, rulesGood = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            const synth::ExpectedPacket& x = sent[i];
            const CCCPacket& p = *tolerant.store->PacketAt(i);
            SCOPED_TRACE(testing::Message()
                         << "packet " << i << " at " << x.startTime << " sent as " << x.name);
            rulesGood += bmc::ReadCompletely(*standard.store->PacketAt(i));
            if (x.outcome != synth::Outcome::Good) {
                EXPECT_FALSE(IsMessageKind(p.kind) && p.crcGood && x.outcome != synth::Outcome::NoPreamble);
                continue;
            }
            ++good;
            EXPECT_EQ(p.kind, x.kind);
            EXPECT_TRUE(bmc::ReadCompletely(p));
            if (IsMessageKind(x.kind)) {
                EXPECT_EQ(Hex(p.messageBytes, size_t(p.messageByteCount)),
                          Hex(x.bytes.data(), x.bytes.size()));
            }
            EXPECT_EQ(p.GetMessageTypeText(), x.name);
            // The whole preamble comes back, and the unit interval over it stays true.
            EXPECT_EQ(p.preambleLength, 64);
            EXPECT_NEAR(p.unitInterval, x.unitInterval, 0.06);
        }
        EXPECT_GT(good, 90);
        ExpectRulesReadingsKept(*standard.store, *tolerant.store);
        std::printf(
            "stretch %.2f us, clock %u: rules read %d of %zu packets, tolerant %d good frames whole\n",
            c.stretch, unsigned(c.clock), rulesGood, sent.size(), good);
    }
}

// Undistorted traffic: the rules' readings are what they were, each scenario frame as sent.
TEST(TolerantDecode, UnstretchedTrafficDecodesAsSentByTheRules) {
    for (uint16_t clock : {uint16_t(0), uint16_t(4)}) {
        const Stretched standard = PlayStretched("demo", 0, clock, false);
        synthtest::ExpectDecodedAsSent(*standard.store, standard.played.sent);
    }
}

namespace {

std::unique_ptr<CCCPacket> Packet(const std::vector<int>& intervals, int divisor = 5) {
    auto p = std::make_unique<CCCPacket>();
    p->divisor = divisor;
    for (int v : intervals) p->AppendInterval(uint8_t(v));
    return p;
}

} // namespace

// The CRC is the judge: short-preamble frames are taken only with a CRC that checks (a reset, having
// none, only after a preamble of the usual length); what is not taken stays exactly as the rules left
// it. A taken packet's entries say which interval gave which bit.
TEST(TolerantDecode, OnlyACheckingCrcOrAFullPreambleIsTaken) {
    const std::vector<uint8_t> msg = {0x41, 0x00};
    struct Case {
        const char* what;
        int32_t kind;
        int preambleBits;
        bool corruptCrc;
        bool taken;
    };
    const Case cases[] = {
        {"GoodCRC, 10 preamble bits", kKindSop, 10, false, true},
        {"GoodCRC, no preamble", kKindSop, 0, false, true},
        {"SOP' with 30 preamble bits", kKindSopPrime, 30, false, true},
        {"bad CRC, 10 preamble bits", kKindSop, 10, true, false},
        {"Hard Reset, 10 preamble bits", kKindHardReset, 10, false, false},
        {"Cable Reset, no preamble", kKindCableReset, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        enc::FrameOptions fo;
        fo.preambleBits = c.preambleBits;
        fo.corruptCrc = c.corruptCrc;
        const std::vector<int> v = testdecoded::BmcIntervals(
            enc::SymbolsToBits(enc::FrameSymbols(c.kind, msg.data(), msg.size(), fo), c.preambleBits), 16);
        auto rules = Packet(v);
        bmc::DecodePacketBits(*rules, nullptr);
        EXPECT_FALSE(bmc::ReadCompletely(*rules));
        auto tolerant = Packet(v);
        bmc::DecodePacketBits(*tolerant, nullptr, bmc::BitRecovery::Tolerant);
        EXPECT_EQ(bmc::ReadCompletely(*tolerant), c.taken);
        if (!c.taken) {
            testdecoded::ExpectSameDecode(*rules, *tolerant);
            for (int32_t i = 0; i < rules->intervalCount; ++i)
                EXPECT_EQ(tolerant->edges[i].classKind, rules->edges[i].classKind) << i;
            continue;
        }
        EXPECT_EQ(tolerant->kind, c.kind);
        EXPECT_EQ(tolerant->preambleLength, c.preambleBits);
        EXPECT_EQ(tolerant->dataStart, c.preambleBits);
        EXPECT_EQ(Hex(tolerant->messageBytes, size_t(tolerant->messageByteCount)), "41 00");
        for (int32_t i = 0; i < tolerant->intervalCount; ++i) {
            const EdgeEntry& e = tolerant->edges[i];
            if (e.bitIndex == 0xFFFF) continue;
            ASSERT_LT(e.bitIndex, tolerant->bitCount);
            EXPECT_EQ(tolerant->bits[e.bitIndex], e.Kind() == kBitOneFirst ? 1 : 0) << i;
        }
    }
}

// The command line: synth stretches the high half-bits, and the commands that decode read them with
// --tolerant; without it they decode by the rules alone.
TEST(TolerantDecode, QxtoolSynthStretchAndTolerantCommands) {
    TempDir dir;
    const std::string file = dir.File("stretched.qxc");
    const RunResult made = RunQxtool("synth spr --high-stretch 1.0 -o " + file);
    ASSERT_EQ(made.status, 0) << made.err;
    auto goodRows = [](const std::string& out) {
        int n = 0;
        for (const std::string& line : Split(out, '\n'))
            n += Split(line, '\t').size() > 4 && Split(line, '\t')[4] == "good";
        return n;
    };
    const RunResult rules = RunQxtool("packets " + file);
    const RunResult tolerant = RunQxtool("packets --tolerant " + file);
    ASSERT_EQ(rules.status, 0) << rules.err;
    ASSERT_EQ(tolerant.status, 0) << tolerant.err;
    const size_t rows = Split(tolerant.out, '\n').size() - 1;
    EXPECT_EQ(goodRows(tolerant.out), int(rows));
    EXPECT_LT(goodRows(rules.out), int(rows) / 2);
    for (const char* cmd : {"info", "fields", "summary", "check"}) {
        const RunResult r =
            RunQxtool(std::string(cmd) + " --tolerant " + file + (std::string(cmd) == "fields" ? " 0" : ""));
        EXPECT_TRUE(r.err.empty()) << cmd << ": " << r.err;
        EXPECT_FALSE(r.out.empty()) << cmd;
    }
    const RunResult info = RunQxtool("info --tolerant " + file);
    EXPECT_NE(info.out.find("no preamble 0, bad CRC 0, no EOP 0"), std::string::npos) << info.out;
    EXPECT_EQ(RunQxtool("synth spr --high-stretch 2 -o " + dir.File("x.qxc")).status, 2);
}
