// Every packet of real and generated traffic through every column text and the field table of both
// views: nothing may read outside the message or the data block (the suite also runs under ASan).
#include "FieldTable.h"
#include "PacketTexts.h"
#include "QXDoc.h"
#include "Scenario.h"
#include "Synthesizer.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

void WalkEveryPacket(const CCaptureStore& store) {
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        for (bool invert : {false, true})
            for (int c = 0; c < kColumnCount; ++c) (void)p.GetColumnText(c, invert);
        if (p.crcGood && IsMessageKind(p.kind)) {
            EXPECT_FALSE(p.GetColumnText(11, false).empty()) << i;
        }
        const int32_t own = p.messageByteCount * 8;
        for (const PDFieldRow& row : BuildFieldRows(p, false, 0, own)) EXPECT_FALSE(row[2].empty());
        if (p.extData) {
            for (const PDFieldRow& row : BuildFieldRows(p, true, 0, p.ExtDataReadable() * 8))
                EXPECT_FALSE(row[2].empty());
        }
    }
}

} // namespace

TEST(EveryPacket, RealCaptures) {
    const std::filesystem::path dir = AMBRIO_CAPTURES_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no shared captures";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".qxc") continue;
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(entry.path().string()));
        SCOPED_TRACE(entry.path().filename().string());
        WalkEveryPacket(doc.store);
    }
}

TEST(EveryPacket, EveryMessageCodeWithRandomObjects) {
    // Every control, data and extended code at every revision, with random objects and data, chunked
    // extended messages included, on SOP, SOP' and SOP''.
    std::mt19937 rng(99);
    traffic::Session s;
    int sent = 0;
    for (int32_t kind : {kKindSop, kKindSopPrime, kKindSopDoublePrime, kKindSopPrimeDebug}) {
        for (int revision = 0; revision < 4; ++revision) {
            for (int type = 0; type < 32; ++type) {
                for (int objects : {0, 1, 2, 7}) {
                    traffic::Header h;
                    h.type = type;
                    h.revision = revision;
                    h.source = rng() & 1;
                    h.dfp = rng() & 1;
                    h.objects = objects;
                    h.extended = objects > 0 && (rng() % 3 == 0);
                    std::vector<uint8_t> bytes = {uint8_t(h.Word()), uint8_t(h.Word() >> 8)};
                    for (int k = 0; k < 4 * objects; ++k) bytes.push_back(uint8_t(rng()));
                    if (h.extended && rng() % 2) bytes[3] |= 0x80; // chunked
                    s.Send(bytes, kind);
                    ++sent;
                }
            }
        }
    }
    // Unchunked extended messages of every length up to the largest.
    for (int size = 0; size <= 260; size += 13) {
        traffic::Header h;
        h.type = 1 + (size / 13) % 18;
        h.extended = true;
        h.objects = 7;
        std::vector<uint8_t> bytes = {uint8_t(h.Word()), uint8_t(h.Word() >> 8), uint8_t(size), uint8_t(size >> 8)};
        for (int k = 0; k < size; ++k) bytes.push_back(uint8_t(rng()));
        s.Send(bytes);
        ++sent;
    }
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), size_t(sent));
    EXPECT_EQ(store.tallies.badCrc, 0u);
    WalkEveryPacket(store);
}

TEST(EveryPacket, EveryBuiltInScenario) {
    for (const std::string& name : synth::BuiltinScenarioNames()) {
        SCOPED_TRACE(name);
        synth::Scenario scenario;
        ASSERT_TRUE(synth::BuiltinScenario(name, &scenario));
        std::vector<synth::ExpectedPacket> sent;
        const std::vector<uint8_t> stream = synth::SynthesizeStream(scenario, {}, &sent);
        CCaptureStore store;
        store.DecodeChunk(stream.data(), stream.size(), 0);
        ASSERT_GT(store.PacketCount(), 0u);
        WalkEveryPacket(store);
    }
}
