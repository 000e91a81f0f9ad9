// Helpers for the synthesizer tests: play a scenario, decode it, compare with the frames as sent.
#pragma once

#include "CaptureStore.h"
#include "Scenario.h"
#include "Synthesizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace synthtest {

struct Played {
    std::vector<uint8_t> stream;
    std::vector<synth::ExpectedPacket> sent;
};

inline synth::Scenario Builtin(const std::string& name) {
    synth::Scenario s;
    EXPECT_TRUE(synth::BuiltinScenario(name, &s)) << name;
    return s;
}

inline Played Play(const synth::Scenario& s, const synth::SynthOptions& o = {}) {
    Played p;
    p.stream = synth::SynthesizeStream(s, o, &p.sent);
    // Frames of both lines in the order the decoder lists them.
    std::stable_sort(p.sent.begin(), p.sent.end(), [](const auto& a, const auto& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.channel < b.channel;
    });
    return p;
}

inline void Decode(const Played& p, CCaptureStore& store) {
    ASSERT_EQ(store.DecodeChunk(p.stream.data(), p.stream.size(), 0), p.stream.size());
}

// A scenario played and decoded into a store of its own.
struct Decoded {
    Played played;
    std::unique_ptr<CCaptureStore> store = std::make_unique<CCaptureStore>();
};

inline Decoded PlayAndDecode(const synth::Scenario& s) {
    Decoded d;
    d.played = Play(s);
    Decode(d.played, *d.store);
    return d;
}

inline bool UiInRange(double ui) {
    return ui >= 3.03 && ui <= 3.70;
}

inline std::string Hex(const uint8_t* b, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

// Every decoded packet against the frame sent at its place: start, line, and the outcome the decoder
// must reach (bytes, CRC verdict, type text, unit interval).
inline void ExpectDecodedAsSent(const CCaptureStore& store, const std::vector<synth::ExpectedPacket>& sent) {
    ASSERT_EQ(store.PacketCount(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        const synth::ExpectedPacket& x = sent[i];
        const CCCPacket& p = *store.PacketAt(i);
        SCOPED_TRACE(testing::Message() << "packet " << i << " at " << x.startTime << " sent as " << x.name
                                        << " (" << synth::OutcomeName(x.outcome) << ")");
        EXPECT_EQ(p.startTime, x.startTime);
        EXPECT_EQ(p.channel, x.channel);
        switch (x.outcome) {
        case synth::Outcome::Good:
        case synth::Outcome::BadCrc:
            EXPECT_TRUE(p.preambleFound);
            EXPECT_EQ(p.kind, x.kind);
            if (IsMessageKind(x.kind)) {
                EXPECT_TRUE(p.hasCrc);
                EXPECT_EQ(p.crcGood, x.outcome == synth::Outcome::Good);
                EXPECT_EQ(Hex(p.messageBytes, size_t(p.messageByteCount)),
                          Hex(x.bytes.data(), x.bytes.size()));
            }
            EXPECT_EQ(p.GetMessageTypeText(), x.name);
            break;
        case synth::Outcome::NoEop:
            EXPECT_TRUE(p.preambleFound);
            EXPECT_EQ(p.kind, x.kind);
            EXPECT_FALSE(p.eopFound);
            EXPECT_FALSE(p.hasCrc);
            EXPECT_EQ(p.messageByteCount, 0);
            break;
        case synth::Outcome::NoPreamble:
            EXPECT_FALSE(p.preambleFound);
            EXPECT_EQ(p.GetMessageTypeText(), "(Unknown OS)");
            break;
        case synth::Outcome::NoOrderedSet:
            EXPECT_TRUE(p.preambleFound);
            EXPECT_EQ(p.kind, kKindNotDecoded);
            break;
        }
        if (p.preambleFound) {
            EXPECT_NEAR(p.unitInterval, x.unitInterval, 0.06);
            EXPECT_EQ(UiInRange(p.unitInterval), UiInRange(x.unitInterval)) << p.unitInterval;
        }
    }
}

} // namespace synthtest
