// Damaged and hostile record streams: whatever the bytes, decoding ends, keeps what the whole blocks
// hold, and never reads or writes outside its buffers (the suite also runs under the sanitizers).
#include "QXDoc.h"
#include "support/Blocks.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace testblocks;

TEST(HostileInput, RandomBytesDecodeWithoutHarm) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        const size_t size = rng() % (64 * 200);
        std::vector<uint8_t> data(size);
        for (auto& b : data) b = uint8_t(rng());
        // Bias some rounds towards plausible blocks: CC edge blocks in sequence, samples, markers.
        if (round % 2)
            for (size_t k = 0; k + 64 <= size; k += 64) {
                const unsigned pick = rng() % 8;
                uint16_t w = uint16_t(((k / 64) & 7) | (((k / 512) & 0xFF) << 4) | ((rng() & 1) << 14));
                if (pick == 0) w = 0xFFF0;
                if (pick == 1) w = uint16_t(0x2000 | (rng() & 0x0F));
                rec::WriteU16(data.data() + k, w);
                if (pick > 1) rec::WriteU16(data.data() + k + 6, uint16_t(rng() % 3 == 0 ? 0x100 : rng() & 0xFF));
            }
        CCaptureStore store;
        const size_t used = store.DecodeChunk(data.data(), data.size(), 0);
        EXPECT_EQ(used, size / 64 * 64);
        store.FlushOpenPackets();
        for (size_t i = 0; i < store.PacketCount(); ++i) {
            const CCCPacket* p = store.PacketAt(i);
            EXPECT_LE(p->messageByteCount, kMessageBytesCapacity - 4);
            EXPECT_LE(p->intervalCount, kMaxIntervals);
            EXPECT_EQ(p->edges, nullptr); // released after decoding
            (void)p->GetMessageTypeText();
        }
    }
}

TEST(HostileInput, SampleCountOf15ReadsThreeSamples) {
    std::vector<uint8_t> data;
    Append(data, VbusBlock({{10, 5000}, {20, 6000}, {30, 7000}}, 15));
    CCaptureStore store;
    store.DecodeChunk(data.data(), data.size(), 0);
    ASSERT_EQ(store.SampleCount(), 3u);
    EXPECT_EQ(store.SampleAt(2)->vbusVoltage, 7000);
}

TEST(HostileInput, EndlessFrameIsCappedAndClosed) {
    // Two thousand blocks of transitions five ticks apart, no idle gap: one packet, cut at 5000
    // intervals, closed by the break in the sequence at the end of the data (a reset).
    Stream s;
    int value = 0;
    for (int k = 0; k < 2000; ++k) {
        std::vector<uint8_t> edges;
        for (int i = 0; i < 56; ++i) edges.push_back(uint8_t(value += 5));
        s.Cc(0, 0, edges);
    }
    CCaptureStore store;
    s.Decode(store);
    EXPECT_EQ(store.PacketCount(), 0u); // still open
    store.ProcessCcBlock(CcBlock(99, 5, 0, 0, {0}).data(), 0); // a break hands it over
    ASSERT_EQ(store.PacketCount(), 1u);
    EXPECT_EQ(store.PacketAt(0)->intervalCount, kMaxIntervals);
    EXPECT_FALSE(store.PacketAt(0)->preambleFound);
}

TEST(HostileInput, TruncatedFileKeepsItsWholeBlocks) {
    TempDir dir;
    Stream s;
    s.Cc(0, 0, Concat({{0, 0}, Ramp(100, 10, 9)}));
    s.Cc(0, 0, {180});
    const std::vector<uint8_t> whole = s.bytes;
    for (size_t cut : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), whole.size() - 1}) {
        const std::string path = dir.File("cut.qxc");
        WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
        CQXDoc doc;
        ASSERT_TRUE(doc.OpenDocument(path));
        EXPECT_EQ(doc.store.decodePosition, int64_t(cut / 64 * 64)) << cut;
        EXPECT_EQ(doc.store.SampleCount(), cut >= 64 ? 1u : 0u);
    }
}
