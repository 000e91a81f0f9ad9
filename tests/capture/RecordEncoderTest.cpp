#include "capture/RecordEncoder.h"
#include "capture/RecordStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// The packet assembly's byte arithmetic, kept independent of the store so that the encoder's blocks
// can be checked byte by byte: continuity, time base, steps, idle end.
struct AssemblyModel {
    struct Channel {
        int64_t blockTime = 0, edgeTime = -1, ticks = -1, gap = 0;
        int lastByte = -1, lastEdge = -1, repeat = 0;
        bool open = false;
        int64_t openStart = 0;
        int openCount = 0;
        std::vector<int64_t> transitions;            // ticks
        std::vector<std::pair<int64_t, int>> closed; // first tick, transitions, closed by idle
        std::vector<int64_t> stampErrors;            // block stamp minus the time its first byte is sent
        int rebases = 0, skippedBlocks = 0;
    };
    Channel ch[2];
    int divisor = 20;
    int lastCounter = -1, lastSub = -1;
    int breaks = 0;
    std::vector<int64_t> blockLastTick; // per CC block in stream order: tick its last byte is sent at
    std::vector<int> blockChannel;

    void Reset(Channel& c) {
        c.edgeTime = c.ticks = -1;
        c.lastByte = c.lastEdge = -1;
        c.repeat = 0;
        c.gap = 0;
        c.open = false;
    }

    void Block(const uint8_t* b) {
        divisor = rec::ClockDivisor(rec::CcClockSetting(b));
        const int e = rec::CcBlockCounter(b), f = rec::CcSubCounter(b);
        const bool continues =
            lastCounter >= 0 && ((e == lastCounter && f == (lastSub + 1) % 8) ||
                                 (e == (lastCounter + 1) % 256 && f == 0 && (lastSub + 1) % 8 == 0));
        lastCounter = e;
        lastSub = f;
        if (!continues) {
            ++breaks;
            Reset(ch[0]);
            Reset(ch[1]);
        }
        const int c = rec::CcChannel(b);
        Channel& h = ch[c];
        const int64_t t = rec::ExtendTimeStamp(h.blockTime, rec::CcTimeStamp(b));
        h.blockTime = t;
        blockChannel.push_back(c);
        if (h.edgeTime < 0) {
            if (f != 0) {
                ++h.skippedBlocks;
                blockLastTick.push_back(-1);
                return;
            }
            h.edgeTime = t;
            h.ticks = t * 48 / divisor;
        } else if (f == 0 && !h.open && std::llabs(t - h.edgeTime) > 500) {
            ++h.rebases;
            h.edgeTime = t;
            h.ticks = t * 48 / divisor;
        }
        int64_t physical = h.ticks;
        for (int i = 0; i < rec::kEdgeBytesPerBlock; ++i) {
            const int v = b[rec::kEdgeBytesOffset + i];
            if (h.lastByte < 0) {
                h.lastByte = h.lastEdge = v;
                if (i == 0) h.stampErrors.push_back(t - h.edgeTime);
                continue;
            }
            const bool transition = v != h.lastByte;
            int d = 0;
            if (transition) {
                h.repeat = 0;
                d = v;
            } else {
                ++h.repeat;
            }
            const int a = h.lastEdge;
            const int step = d > a ? d - a : d < a ? d - a + 256 : (h.repeat < 2 ? 0 : 256);
            h.gap += step;
            h.lastByte = v;
            h.lastEdge = d;
            h.ticks += step;
            h.edgeTime = divisor * h.ticks / 48;
            // The filler that reads as 0 ticks (after a transition at tick value 0) is sent at the
            // following wrap.
            physical = !transition && step == 0 ? h.ticks + 256 : h.ticks;
            if (i == 0) h.stampErrors.push_back(t - divisor * physical / 48);
            if (h.open && h.gap * divisor >= 480) {
                h.closed.push_back({h.openStart, h.openCount});
                h.open = false;
            }
            if (transition) {
                h.transitions.push_back(h.ticks);
                if (!h.open) {
                    h.open = true;
                    h.openStart = h.ticks;
                    h.openCount = 0;
                }
                ++h.openCount;
                h.gap = 0;
            }
        }
        blockLastTick.push_back(physical);
    }
};

struct ParsedStream {
    AssemblyModel model;
    std::vector<std::vector<const uint8_t*>> ccBlocks{2};
    std::vector<const uint8_t*> vbusBlocks;
    std::vector<rec::BlockKind> kinds;
    std::vector<int64_t> ccLastTickInOrder; // -1 for VBUS blocks

    explicit ParsedStream(const Bytes& s) {
        EXPECT_EQ(s.size() % 64, 0u);
        for (size_t o = 0; o + 64 <= s.size(); o += 64) {
            const uint8_t* b = &s[o];
            kinds.push_back(rec::ClassifyBlock(b));
            if (kinds.back() == rec::BlockKind::VbusSamples) {
                vbusBlocks.push_back(b);
                ccLastTickInOrder.push_back(-1);
            } else if (kinds.back() == rec::BlockKind::CcEdges) {
                ccBlocks[rec::CcChannel(b)].push_back(b);
                model.Block(b);
                ccLastTickInOrder.push_back(model.blockLastTick.back());
            }
        }
    }
    Bytes EdgeBytes(int c) const {
        Bytes out;
        for (const uint8_t* b : ccBlocks[c]) out.insert(out.end(), b + 8, b + 64);
        return out;
    }
};

// ---------------------------------------------------------------------------------------------------
// Line coding

TEST(RecordEncoderLineCoding, CrcMatchesReceivedCrcOfRealMessages) {
    struct Case {
        const char* bytes;
        uint32_t crc;
    };
    // Message bytes and received CRCs of real traffic, and the CRC-32 check value.
    const Case cases[] = {
        {"4100", 0xa8bb6cbb},
        {"61312c91010a2cc1030a2c41060a", 0x406c4abf},
        {"4f4b418000ffd11800040000000001001250", 0x15b93a9e},
        {"", 0x00000000},
        {"313233343536373839", 0xcbf43926},
    };
    for (const Case& c : cases) {
        const Bytes b = FromHex(c.bytes);
        EXPECT_EQ(sym::Crc32(b.data(), b.size()), c.crc) << c.bytes;
    }
}

TEST(RecordEncoderLineCoding, CrcMatchesEveryGoodMessageOfTheReferenceTexts) {
#ifndef AMBRIO_CAPTURES_DIR
    GTEST_SKIP() << "no captures folder";
#else
    namespace fs = std::filesystem;
    if (!fs::is_directory(AMBRIO_CAPTURES_DIR)) GTEST_SKIP() << "no captures folder";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(AMBRIO_CAPTURES_DIR)) {
        const std::string name = entry.path().string();
        if (name.size() < 11 || name.substr(name.size() - 11) != ".sigrok.txt") continue;
        std::ifstream in(name);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> cols;
            std::stringstream ss(line);
            std::string col;
            while (std::getline(ss, col, '\t')) cols.push_back(col);
            if (cols.size() < 7 || cols[4] != "ok") continue;
            const Bytes b = FromHex(cols[5]);
            EXPECT_EQ(sym::Crc32(b.data(), b.size()), uint32_t(std::stoul(cols[6], nullptr, 16)))
                << name << ": " << line;
            ++checked;
        }
    }
    EXPECT_GT(checked, 200);
#endif
}

TEST(RecordEncoderLineCoding, SymbolCodesFollowTheLineTable) {
    using namespace enc;
    const uint8_t symbols[] = {0x0,       0x1,       0x2,       0x3,      0x4,      0x5,    0x6, 0x7,
                               0x8,       0x9,       0xA,       0xB,      0xC,      0xD,    0xE, 0xF,
                               sym::kSync1, sym::kSync2, sym::kSync3, sym::kRst1, sym::kRst2, sym::kEop};
    const uint8_t codes[] = {30, 9,  20, 21, 10, 11, 14, 15, 18, 19, 22,
                             23, 26, 27, 28, 29, 24, 17, 6,  7,  25, 13};
    for (size_t i = 0; i < sizeof codes; ++i) EXPECT_EQ(sym::CodeForSymbol(symbols[i]), codes[i]) << int(symbols[i]);
    for (uint8_t bad : {0x10, 0x14, 0x20, 0x31, 0xFE, 0xFF}) EXPECT_EQ(sym::CodeForSymbol(bad), 0xFF) << int(bad);
}

TEST(RecordEncoderLineCoding, GoodCrcFrameSymbols) {
    const Bytes msg = {0x41, 0x00};
    const uint8_t s1 = sym::kSync1, s2 = sym::kSync2, eop = sym::kEop;
    // SOP, header nibbles low first, CRC 0xA8BB6CBB little-endian (bb 6c bb a8), EOP.
    const Bytes expected = {s1, s1, s1, s2, 0x1, 0x4, 0x0, 0x0, 0xB, 0xB, 0xC, 0x6, 0xB, 0xB, 0x8, 0xA, eop};
    EXPECT_EQ(enc::FrameSymbols(1, msg.data(), msg.size()), expected);

    enc::FrameOptions bad;
    bad.corruptCrc = true;
    Bytes corrupted = enc::FrameSymbols(1, msg.data(), msg.size(), bad);
    ASSERT_EQ(corrupted.size(), expected.size());
    EXPECT_EQ(Bytes(corrupted.begin(), corrupted.begin() + 8), Bytes(expected.begin(), expected.begin() + 8));
    for (int i = 8; i < 16; ++i) EXPECT_EQ(corrupted[i], uint8_t(~expected[i] & 0xF)) << i;

    enc::FrameOptions noEop;
    noEop.appendEop = false;
    EXPECT_EQ(enc::FrameSymbols(1, msg.data(), msg.size(), noEop),
              Bytes(expected.begin(), expected.end() - 1));
}

TEST(RecordEncoderLineCoding, OrderedSetsAndResets) {
    using namespace enc;
    struct Case {
        int32_t kind;
        Bytes kcodes; // empty: no frame
        bool message;
    };
    const Case cases[] = {
        {1, {sym::kSync1, sym::kSync1, sym::kSync1, sym::kSync2}, true},
        {2, {sym::kSync1, sym::kSync1, sym::kSync3, sym::kSync3}, true},
        {3, {sym::kSync1, sym::kSync3, sym::kSync1, sym::kSync3}, true},
        {4, {sym::kRst1, sym::kRst1, sym::kRst1, sym::kRst2}, false},
        {5, {sym::kRst1, sym::kSync1, sym::kRst1, sym::kSync3}, false},
        {6, {sym::kSync1, sym::kRst2, sym::kRst2, sym::kSync3}, true},
        {7, {sym::kSync1, sym::kRst2, sym::kSync3, sym::kSync2}, true},
        {0, {}, false},
        {8, {}, false},
        {254, {}, false},
    };
    const Bytes msg = {0x61, 0x01};
    for (const Case& c : cases) {
        const Bytes s = FrameSymbols(c.kind, msg.data(), msg.size());
        if (c.kcodes.empty()) {
            EXPECT_TRUE(s.empty()) << c.kind;
            continue;
        }
        ASSERT_GE(s.size(), 4u) << c.kind;
        EXPECT_EQ(Bytes(s.begin(), s.begin() + 4), c.kcodes) << c.kind;
        // A reset is its four K-codes and nothing more: no bytes, no CRC, no EOP.
        EXPECT_EQ(s.size(), c.message ? 4 + 2 * (2 + 4) + 1u : 4u) << c.kind;
        if (c.message) {
            EXPECT_EQ(s.back(), sym::kEop) << c.kind;
        }
    }
}

TEST(RecordEncoderLineCoding, BitsHavePreambleThenLsbFirstCodes) {
    const Bytes bits = enc::SymbolsToBits({sym::kSync1, 0x0, 0x77});
    ASSERT_EQ(bits.size(), 64u + 15);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(bits[i], i % 2) << i;
    // Sync-1 = 11000, data 0 = 11110, written first bit rightmost; 0x77 has no code and goes out as 00000.
    EXPECT_EQ(Bytes(bits.begin() + 64, bits.end()), Bytes({0, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0}));
    // An odd preamble still ends with a 1.
    const Bytes odd = enc::SymbolsToBits({}, 5);
    EXPECT_EQ(odd, Bytes({1, 0, 1, 0, 1}));
}

TEST(RecordEncoderLineCoding, BmcTransitionTimes) {
    struct Case {
        Bytes bits;
        enc::FrameEnd end;
        std::vector<double> halves; // expected times in half unit intervals
    };
    using enc::FrameEnd;
    const Case cases[] = {
        // 0: one full-UI interval; ends low after the closing edge.
        {{0}, FrameEnd::Edge, {0, 2}},
        {{0}, FrameEnd::HoldLow, {0, 2}},
        // 1: two half-UI intervals; the closing edge leaves the line high, so hold-low adds a half-UI pulse.
        {{1}, FrameEnd::Edge, {0, 1, 2}},
        {{1}, FrameEnd::HoldLow, {0, 1, 2, 3}},
        {{0, 1, 1, 0}, FrameEnd::HoldLow, {0, 2, 3, 4, 5, 6, 8, 9}},
        {{1, 0, 1}, FrameEnd::HoldLow, {0, 1, 2, 4, 5, 6}},
    };
    std::mt19937 rng(1);
    for (const Case& c : cases) {
        enc::BmcTiming timing;
        timing.unitInterval = 3.2;
        timing.end = c.end;
        const std::vector<double> t = enc::BitsToTransitions(c.bits, timing, rng);
        ASSERT_EQ(t.size(), c.halves.size());
        for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], c.halves[i] * 1.6, 1e-9) << i;
    }
    EXPECT_TRUE(enc::BitsToTransitions({}, enc::BmcTiming{}, rng).empty());
}

TEST(RecordEncoderLineCoding, JitterIsBoundedAndFollowsTheSeed) {
    const Bytes msg = {0x42, 0x10, 0x2c, 0xb1, 0x04, 0x10};
    enc::BmcTiming exact;
    enc::BmcTiming jittered;
    jittered.jitter = 0.2;
    std::mt19937 r0(5), r1(7), r2(7), r3(8);
    const auto nominal = enc::FrameTransitions(1, msg.data(), msg.size(), {}, exact, r0);
    const auto a = enc::FrameTransitions(1, msg.data(), msg.size(), {}, jittered, r1);
    const auto b = enc::FrameTransitions(1, msg.data(), msg.size(), {}, jittered, r2);
    const auto c = enc::FrameTransitions(1, msg.data(), msg.size(), {}, jittered, r3);
    ASSERT_EQ(a.size(), nominal.size());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(a[0], 0.0);
    double largest = 0;
    for (size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(a[i] - nominal[i]));
    EXPECT_LE(largest, 0.2);
    EXPECT_GT(largest, 0.15);
}

// ---------------------------------------------------------------------------------------------------
// Edge blocks

// Encodes transitions at absolute ticks on CC1 (origin tick 0, divisor 20) and returns CC1's edge bytes.
Bytes Cc1EdgeBytes(const std::vector<int64_t>& ticks, uint64_t* moved = nullptr,
                   std::vector<int64_t>* placed = nullptr) {
    Bytes out;
    enc::CRecordEncoder e({}, enc::AppendTo(out));
    for (int64_t t : ticks) {
        const enc::PlacedFrame f = e.AddTransitionTicks(0, &t, 1);
        if (placed) placed->push_back(f.firstTick);
    }
    e.Finish(0);
    if (moved) *moved = e.MovedTransitions();
    ParsedStream p(out);
    EXPECT_EQ(p.model.ch[0].transitions, placed ? *placed : ticks);
    return p.EdgeBytes(0);
}

TEST(RecordEncoderBlocks, EdgeBytesAtWrapsAndAwkwardTicks) {
    struct Case {
        const char* name;
        std::vector<int64_t> ticks;
        const char* prefix; // CC1 edge bytes from the reference byte on
    };
    const Case cases[] = {
        // The reference byte 0 at tick 0 is a tick-value-0 byte: its first wrap takes two fillers.
        {"idle", {}, "00000000000000"},
        // One filler (a repeat of the previous byte) per wrap, at 256, 512, ...
        {"filler per wrap", {100}, "0064646464"},
        // A transition that crosses a wrap still gets the wrap's filler before it.
        {"across a wrap", {250, 260}, "00fafa0404"},
        // A transition at tick value 0 stands in for its wrap's filler; the next wrap takes two.
        {"transition at value 0", {200, 256}, "00c800000000"},
        // After an idle wrap, a transition at the next wrap would read as 0 ticks: the wrap's filler
        // comes first.
        {"value 0 after an idle wrap", {100, 768}, "006464646400000000"},
    };
    for (const Case& c : cases) {
        const Bytes bytes = Cc1EdgeBytes(c.ticks);
        const std::string hex = ToHex(bytes.data(), bytes.size());
        EXPECT_EQ(hex.substr(0, std::string(c.prefix).size()), c.prefix) << c.name;
    }
}

TEST(RecordEncoderBlocks, TransitionAtMultipleOf256TicksMovesOneTickEarly) {
    uint64_t moved = 0;
    std::vector<int64_t> placed;
    const Bytes bytes = Cc1EdgeBytes({100, 612, 700}, &moved, &placed);
    EXPECT_EQ(placed, (std::vector<int64_t>{100, 611, 700}));
    EXPECT_EQ(moved, 1u);
    EXPECT_EQ(ToHex(bytes.data(), 7), "0064646463bcbc"); // 611 = 0x263, 700 = 0x2bc

    // The reference byte counts as the previous transition.
    placed.clear();
    Cc1EdgeBytes({512}, &moved, &placed);
    EXPECT_EQ(placed, (std::vector<int64_t>{511}));
    // Two transitions on one tick cannot both be seen: the second goes one tick later.
    placed.clear();
    Cc1EdgeBytes({300, 300}, &moved, &placed);
    EXPECT_EQ(placed, (std::vector<int64_t>{300, 301}));
}

TEST(RecordEncoderBlocks, ChannelsShareOneSequenceAndStartOnSubCounterZero) {
    // Idle: both channels' first blocks end on the same tick; CC2's must wait for the next sub-counter 0.
    Bytes out;
    enc::CRecordEncoder e({}, enc::AppendTo(out));
    e.Finish(200000);
    ParsedStream p(out);
    ASSERT_GT(p.ccBlocks[0].size(), 20u);
    std::vector<std::pair<int, int>> order; // channel, sequence
    for (size_t o = 0; o < out.size(); o += 64) {
        const uint8_t* b = &out[o];
        order.push_back({rec::CcChannel(b), rec::CcBlockCounter(b) * 8 + rec::CcSubCounter(b)});
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(order[i], std::make_pair(0, i)) << i;
    for (int i = 8; i < 16; ++i) EXPECT_EQ(order[i], std::make_pair(1, i)) << i;
    for (size_t i = 16; i < order.size(); ++i) EXPECT_EQ(order[i].second, int(i % 2048)) << i;
    EXPECT_EQ(p.model.breaks, 1);
    EXPECT_EQ(p.model.ch[0].skippedBlocks + p.model.ch[1].skippedBlocks, 0);
    EXPECT_EQ(p.ccBlocks[0].size(), p.ccBlocks[1].size());

    // Dense traffic on CC2 fills its first block before CC1's: CC2 takes sub-counter 0 and CC1 waits.
    Bytes dense;
    enc::CRecordEncoder d({}, enc::AppendTo(dense));
    std::vector<double> offsets;
    for (int i = 0; i < 600; ++i) offsets.push_back(i * 1.7);
    d.AddTransitions(1, 20, offsets);
    d.Finish(20000);
    ParsedStream q(dense);
    ASSERT_FALSE(q.ccBlocks[0].empty());
    EXPECT_EQ(rec::CcChannel(&dense[0]), 1);
    EXPECT_EQ(rec::CcSubCounter(q.ccBlocks[0][0]), 0);
    EXPECT_EQ(q.model.breaks, 1);
    EXPECT_EQ(q.model.ch[0].skippedBlocks + q.model.ch[1].skippedBlocks, 0);
    EXPECT_EQ(q.model.ch[1].transitions.size(), offsets.size());
}

TEST(RecordEncoderBlocks, BlocksGoOutInOrderOfTheirLastByte) {
    Bytes out;
    enc::EncoderConfig cfg;
    cfg.clockSetting = 4;
    enc::CRecordEncoder e(cfg, enc::AppendTo(out));
    const Bytes msg = {0x61, 0x31, 0x2c, 0x91, 0x01, 0x0a};
    for (int i = 0; i < 40; ++i) {
        e.AddVbusSample({i * 250.0, 5000, 100, 1700, 0, 0, 0});
        e.AddMessage(i % 2, i * 250.0 + 10, 1, msg);
    }
    e.Finish(10000);
    ParsedStream p(out);
    ASSERT_EQ(p.model.breaks, 1);
    // Once both channels run, each block's last byte lies at or after the previous block's.
    int64_t last = -1;
    size_t bothStarted = 0;
    for (size_t i = 0, seen = 0; i < p.ccLastTickInOrder.size(); ++i) {
        if (p.kinds[i] != rec::BlockKind::CcEdges) continue;
        if (++seen == 16) bothStarted = i;
    }
    for (size_t i = bothStarted; i < p.ccLastTickInOrder.size(); ++i) {
        if (p.kinds[i] != rec::BlockKind::CcEdges) continue;
        EXPECT_GE(p.ccLastTickInOrder[i], last) << i;
        last = p.ccLastTickInOrder[i];
    }
    // A VBUS block sits before every CC block whose last byte comes later than its sample.
    for (size_t i = 0; i < p.kinds.size(); ++i) {
        if (p.kinds[i] != rec::BlockKind::VbusSamples || i < bothStarted) continue;
        const int64_t sampleTick = e.TickFloor(rec::ReadU32(&out[i * 64 + 2]));
        for (size_t j = bothStarted; j < p.kinds.size(); ++j) {
            if (p.kinds[j] != rec::BlockKind::CcEdges) continue;
            if (j < i)
                EXPECT_LT(p.ccLastTickInOrder[j], sampleTick) << i << " " << j;
            else
                EXPECT_GE(p.ccLastTickInOrder[j], sampleTick) << i << " " << j;
        }
    }
}

// Random frames on both channels for several clock settings: the assembly arithmetic reads back every
// transition on its tick, no block stamp re-bases a channel, stamps are the time of the block's
// first byte, and every frame closes as one packet.
TEST(RecordEncoderBlocks, AssemblyReadsBackEveryTransition) {
    struct Case {
        uint16_t clockSetting;
        uint32_t baseTime;
    };
    // Base times that are no whole multiple of the tick test where the reference byte goes.
    const Case cases[] = {{0, 0},
                          {4, 0},
                          {0x0100, 0},
                          {0x0113, 12346},
                          {0x5C, 1001},
                          {0, 4294967295u - 10002},
                          {4, 4294967295u - 2003}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "clock " << c.clockSetting << " base " << c.baseTime);
        Bytes out;
        enc::EncoderConfig cfg;
        cfg.clockSetting = c.clockSetting;
        cfg.baseTime = c.baseTime;
        enc::CRecordEncoder e(cfg, enc::AppendTo(out));
        std::mt19937 rng(c.clockSetting + 3);
        const double tick = e.Divisor() / 48.0;
        std::vector<int64_t> expected[2];
        std::vector<std::pair<int64_t, int>> frames[2];
        int64_t previous[2] = {e.OriginTick(), e.OriginTick()};
        double t = 5, free[2] = {0, 0};
        for (int i = 0; i < 120; ++i) {
            const int channel = int(rng() % 2);
            t = std::max(t + 1 + double(rng() % 3000) / 7.0, free[channel]);
            if (rng() % 4 == 0) e.AddVbusSample({t, 5000, 0, 0, 0, 0, 0});
            std::vector<double> offs;
            const int n = 1 + int(rng() % 40);
            double o = 0;
            for (int k = 0; k < n; ++k) {
                offs.push_back(o);
                o += 2 * tick + double(rng() % 1000) / 1000.0 * (9.5 - 3 * tick); // under 10 µs once on ticks
            }
            // Where the transitions belong: their nearest tick, after the previous one, never an exact
            // multiple of 256 ticks after it.
            for (double off : offs) {
                int64_t k = e.TickAt(t + off);
                if (k <= previous[channel]) k = previous[channel] + 1;
                if ((k - previous[channel]) % 256 == 0) --k;
                expected[channel].push_back(k);
                previous[channel] = k;
            }
            const enc::PlacedFrame f = e.AddTransitions(channel, t, offs);
            EXPECT_EQ(f.firstTick, expected[channel][expected[channel].size() - n]);
            EXPECT_EQ(f.lastTick, expected[channel].back());
            EXPECT_EQ(f.startMicros, f.firstTick * e.Divisor() / 48);
            frames[channel].push_back({f.firstTick, f.count});
            free[channel] = t + offs.back() + 10 + 3 * tick;
        }
        e.Finish(t + 1000);
        ParsedStream p(out);
        EXPECT_EQ(p.model.breaks, 1);
        for (int ch = 0; ch < 2; ++ch) {
            const auto& m = p.model.ch[ch];
            EXPECT_EQ(m.rebases, 0);
            EXPECT_EQ(m.skippedBlocks, 0);
            EXPECT_FALSE(m.open);
            EXPECT_EQ(m.transitions, expected[ch]);
            EXPECT_EQ(m.closed, frames[ch]);
            for (int64_t err : m.stampErrors) EXPECT_EQ(err, 0);
        }
    }
}

TEST(RecordEncoderBlocks, StampsAndClockSettingInEveryBlock) {
    Bytes out;
    enc::EncoderConfig cfg;
    cfg.clockSetting = 0x0113; // divisor 20 by its low byte
    cfg.baseTime = 4294967295u - 3001;
    enc::CRecordEncoder e(cfg, enc::AppendTo(out));
    EXPECT_EQ(e.Divisor(), 20);
    // The reference byte sits on the first tick at or after the base time whose time is a whole µs:
    // with 5/12 µs ticks, every 12th tick, at multiples of 5 µs.
    EXPECT_EQ(e.OriginTick() % 12, 0);
    EXPECT_EQ(e.MicrosOfTick(e.OriginTick()), int64_t(cfg.baseTime) + 1);
    e.AddVbusSample({0, 5000, 0, 0, 0, 0, 0});
    e.AddVbusSample({6000, 5000, 0, 0, 0, 0, 0});
    e.Finish(20000);
    ParsedStream p(out);
    const uint8_t* first = p.ccBlocks[0][0];
    EXPECT_EQ(rec::CcTimeStamp(first), uint32_t(e.MicrosOfTick(e.OriginTick())));
    bool wrapped = false;
    uint32_t previous = 0;
    for (const uint8_t* b : p.ccBlocks[0]) {
        EXPECT_EQ(rec::CcClockSetting(b), 0x0113);
        if (rec::CcTimeStamp(b) < previous) wrapped = true;
        previous = rec::CcTimeStamp(b);
    }
    EXPECT_TRUE(wrapped);
    ASSERT_EQ(p.vbusBlocks.size(), 2u);
    EXPECT_EQ(rec::ReadU32(p.vbusBlocks[0] + 2), 4294967295u - 3001);
    EXPECT_EQ(rec::ReadU32(p.vbusBlocks[1] + 2), 6000u - 3001 - 1);
    // Both channels carry on past the wrap with exact tick counts.
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(p.model.ch[c].rebases, 0);
        EXPECT_GT(p.model.ch[c].blockTime, int64_t(1) << 32);
    }
}

TEST(RecordEncoderBlocks, FinishClosesTheLastPacketOnEveryClock) {
    for (uint16_t setting : {uint16_t(0), uint16_t(0x0100), uint16_t(0x0001), uint16_t(0x5C)}) {
        // Frames of 1 to 60 transitions put the last one on every position of its block.
        for (int n = 1; n <= 60; ++n) {
            SCOPED_TRACE(testing::Message() << "clock " << setting << ", " << n << " transitions");
            Bytes out;
            enc::EncoderConfig cfg;
            cfg.clockSetting = setting;
            enc::CRecordEncoder e(cfg, enc::AppendTo(out));
            const double tick = e.Divisor() / 48.0;
            std::vector<double> offs;
            for (int k = 0; k < n; ++k) offs.push_back(k * 3 * tick);
            e.AddTransitions(0, 100, offs);
            e.AddTransitions(1, 100.5, offs);
            e.Finish(100.5); // ends right after the frames
            ParsedStream p(out);
            for (int c = 0; c < 2; ++c) {
                EXPECT_EQ(p.model.ch[c].transitions.size(), size_t(n)) << c;
                EXPECT_EQ(p.model.ch[c].closed.size(), 1u) << c;
            }
            EXPECT_EQ(e.BytesWritten(), out.size());
            const size_t total = out.size();
            e.Finish(1e6);
            e.AddTransitions(0, 2e6, offs);
            EXPECT_EQ(out.size(), total) << "nothing after Finish";
        }
    }
}

TEST(RecordEncoderBlocks, WritesBlocksAsSoonAsTheyAreFinal) {
    size_t delivered = 0;
    enc::CRecordEncoder e({}, [&delivered](const uint8_t*) { ++delivered; });
    e.AdvanceTo(1e6); // 1 s idle: 2.4 M ticks, 9375 wraps per channel
    // Two channels of one filler per wrap, 56 per block; at most the blocks still being filled remain.
    const size_t perChannel = (9375 + 2) / 56;
    EXPECT_GE(delivered, 2 * perChannel - 1);
    EXPECT_LE(delivered, 2 * perChannel);
    e.Finish(1e6);
    EXPECT_GE(delivered, 2 * perChannel);
}

TEST(RecordEncoderBlocks, SameSeedSameBytes) {
    auto run = [](uint32_t seed) {
        Bytes out;
        enc::EncoderConfig cfg;
        cfg.seed = seed;
        enc::CRecordEncoder e(cfg, enc::AppendTo(out));
        enc::BmcTiming timing;
        timing.jitter = 0.3;
        const Bytes msg = {0x41, 0x02};
        for (int i = 0; i < 20; ++i) {
            e.AddVbusSample({i * 1000.0, 5000, 0, 0, 0, 0, 0});
            e.AddMessage(i % 2, i * 1000.0 + 3, 1, msg, {}, timing);
        }
        e.Finish(25000);
        return out;
    };
    EXPECT_EQ(run(9), run(9));
    EXPECT_NE(run(9), run(10));
}

// The analyzer's own files: re-encoding the transitions and samples read from a real record file
// gives back that file, block for block.
TEST(RecordEncoderBlocks, ReencodingRealRecordFilesReproducesThem) {
#ifndef AMBRIO_CAPTURES_DIR
    GTEST_SKIP() << "no captures folder";
#else
    namespace fs = std::filesystem;
    if (!fs::is_directory(AMBRIO_CAPTURES_DIR)) GTEST_SKIP() << "no captures folder";
    int files = 0;
    for (const auto& entry : fs::directory_iterator(AMBRIO_CAPTURES_DIR)) {
        if (entry.path().extension() != ".qxc") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(file.size(), 128u);
        const Bytes stream(file.begin() + 64, file.end());
        ParsedStream p(stream);
        ASSERT_FALSE(p.ccBlocks[0].empty());

        Bytes out;
        enc::EncoderConfig cfg;
        cfg.clockSetting = rec::CcClockSetting(p.ccBlocks[0][0]);
        enc::CRecordEncoder e(cfg, enc::AppendTo(out));
        // Events in time order; a sample goes before a transition on the tick its time falls in.
        struct Event {
            int64_t tick;
            int type; // 0 sample, 1 + channel
            int64_t value;
        };
        std::vector<Event> events;
        for (int c = 0; c < 2; ++c)
            for (int64_t t : p.model.ch[c].transitions) events.push_back({t, 1 + c, t});
        double lastSample = 0;
        for (const uint8_t* b : p.vbusBlocks) {
            for (int k = 0; k < rec::SampleCount(b); ++k) {
                const int64_t ts = rec::ReadU32(b + 2 + 16 * k);
                events.push_back({e.TickFloor(double(ts)), 0, int64_t((b - stream.data()) + 2 + 16 * k)});
                lastSample = double(ts);
            }
        }
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.type < b.type;
        });
        for (const Event& ev : events) {
            if (ev.type == 0) {
                const uint8_t* s = stream.data() + ev.value;
                enc::VbusSample v;
                v.time = rec::ReadU32(s);
                v.vbusVoltage = rec::ReadU16(s + 4);
                v.vbusCurrent = rec::ConvertCurrent(rec::ReadI16(s + 6));
                v.cc1Voltage = rec::ReadI16(s + 8);
                v.cc1Current = rec::ConvertCurrent(rec::ReadI16(s + 10));
                v.cc2Voltage = rec::ReadI16(s + 12);
                v.cc2Current = rec::ConvertCurrent(rec::ReadI16(s + 14));
                e.AddVbusSample(v);
            } else {
                e.AddTransitionTicks(ev.type - 1, &ev.value, 1);
            }
        }
        e.Finish(lastSample);
        EXPECT_EQ(e.MovedTransitions(), 0u);
        ASSERT_EQ(out.size(), stream.size());
        for (size_t o = 0; o < out.size(); o += 64) {
            ASSERT_EQ(ToHex(&out[o], 64), ToHex(&stream[o], 64)) << "block " << o / 64;
        }
        ++files;
    }
    EXPECT_GT(files, 0);
#endif
}

// ---------------------------------------------------------------------------------------------------
// VBUS samples, header and marker blocks

TEST(RecordEncoderVbus, CurrentToRawInvertsTheConversion) {
    for (int32_t mA = -30757; mA <= 30757; ++mA) {
        if (mA == 1 || mA == -1) continue;
        ASSERT_EQ(rec::ConvertCurrent(enc::CurrentToRaw(mA)), mA) << mA;
    }
    EXPECT_EQ(rec::ConvertCurrent(enc::CurrentToRaw(1)), 2);
    EXPECT_EQ(rec::ConvertCurrent(enc::CurrentToRaw(-1)), -2);
    EXPECT_EQ(enc::CurrentToRaw(1500), 1598);
    EXPECT_EQ(enc::CurrentToRaw(100000), 32767);
    EXPECT_EQ(enc::CurrentToRaw(-100000), -32768);
}

TEST(RecordEncoderVbus, SamplesArePackedUpToTheBlockSize) {
    Bytes out;
    enc::EncoderConfig cfg;
    cfg.samplesPerVbusBlock = 3;
    cfg.baseTime = 1000;
    enc::CRecordEncoder e(cfg, enc::AppendTo(out));
    for (int i = 0; i < 7; ++i)
        e.AddVbusSample(
            {i * 100.0, uint16_t(5000 + i), -1500 + i * 3, int16_t(1700 - i), 250, int16_t(i), -8});
    e.Finish(700);
    ParsedStream p(out);
    ASSERT_EQ(p.vbusBlocks.size(), 3u);
    const uint16_t words[] = {0x2003, 0x2003, 0x2001};
    int i = 0;
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(rec::ReadU16(p.vbusBlocks[b]), words[b]);
        for (int k = 0; k < rec::SampleCount(p.vbusBlocks[b]); ++k, ++i) {
            const rec::RawSample s = rec::ExtractSample(p.vbusBlocks[b], k);
            EXPECT_EQ(s.timeStamp, uint32_t(1000 + i * 100));
            EXPECT_EQ(s.vbusVoltage, 5000 + i);
            EXPECT_EQ(s.vbusCurrent, -1500 + i * 3);
            EXPECT_EQ(s.cc1Voltage, 1700 - i);
            EXPECT_EQ(s.cc1Current, 250);
            EXPECT_EQ(s.cc2Voltage, i);
            EXPECT_EQ(s.cc2Current, -8);
        }
        for (int k = 2 + 16 * rec::SampleCount(p.vbusBlocks[b]); k < 64; ++k)
            EXPECT_EQ(p.vbusBlocks[b][k], 0) << k;
    }
    EXPECT_EQ(i, 7);
}

TEST(RecordEncoderHeader, OpenAndClosedForms) {
    uint8_t block[64];
    std::fill(block, block + 64, 0xAA);
    enc::WriteOpenHeaderBlock(block);
    EXPECT_EQ(ToHex(block, 64), "f0ff" + std::string(124, '0'));
    // The closed header of a real record file.
    const uint8_t serial[12] = {'S', 'R', '2', 'Q', 'X', 'C', '0', '0', '0', '0', '0', '1'};
    enc::WriteClosedHeaderBlock(block, 0x0100, serial, 124288);
    EXPECT_EQ(ToHex(block, 64), "f0ff0102070102020001030c535232515843303030303031040880e5010000000000ff" +
                                    std::string(58, '0'));
    std::vector<int> types;
    rec::ForEachMarkerEntry(block, [&](const rec::MarkerEntry& m) {
        types.push_back(m.type);
        return true;
    });
    EXPECT_EQ(types, (std::vector<int>{1, 2, 3, 4, 255}));
}

TEST(RecordEncoderHeader, MarkerBlocksReadBackInOrder) {
    enc::CMarkerBlockWriter w;
    EXPECT_TRUE(w.Blocks().empty());
    w.AddTime(5, -1234567);
    w.AddClear();
    const std::vector<std::pair<int, int64_t>> marks = {
        {17, 10}, {18, 20}, {17, 30}, {19, 40}, {17, 50}, {24, int64_t(1) << 40}, {25, -5}};
    for (const auto& m : marks) w.AddTime(uint8_t(m.first), m.second);
    const Bytes blocks = w.Blocks();
    // Entries 5 and 16 and five more fill the first block to its last byte; the rest go to a second.
    ASSERT_EQ(blocks.size(), 128u);
    EXPECT_EQ(rec::ReadU16(&blocks[0]), 0xFFF0);
    EXPECT_EQ(rec::ReadU16(&blocks[64]), 0xFFF0);
    EXPECT_EQ(blocks[2], 5);
    EXPECT_EQ(blocks[12], 16);
    EXPECT_EQ(blocks[13], 0);
    EXPECT_EQ(blocks[54], 17);
    EXPECT_EQ(blocks[64 + 2], 24);
    EXPECT_EQ(blocks[64 + 22], 255);
    std::vector<std::pair<int, int64_t>> read;
    for (int b = 0; b < 2; ++b) {
        rec::ForEachMarkerEntry(&blocks[64 * b], [&](const rec::MarkerEntry& m) {
            if (m.type == 16)
                read.push_back({16, 0});
            else if (m.type != 255 && m.type != 0)
                read.push_back({m.type, m.TimeValue()});
            return true;
        });
    }
    std::vector<std::pair<int, int64_t>> expected = {{5, -1234567}, {16, 0}};
    expected.insert(expected.end(), marks.begin(), marks.end());
    EXPECT_EQ(read, expected);
}

} // namespace
