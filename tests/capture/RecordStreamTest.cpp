#include "RecordStream.h"
#include "support/Blocks.h"

#include <gtest/gtest.h>

#include <vector>

using namespace testblocks;

TEST(RecordStream, ClassifiesBlocksByTheirFirstWord) {
    struct Case {
        uint16_t word0;
        rec::BlockKind kind;
    } cases[] = {
        {0xFFF0, rec::BlockKind::Marker},      // bit 13 set, but the marker word wins
        {0x2000, rec::BlockKind::VbusSamples}, // count 0
        {0x2003, rec::BlockKind::VbusSamples},
        {0xFFF1, rec::BlockKind::VbusSamples},
        {0x0000, rec::BlockKind::CcEdges},
        {0x4FF7, rec::BlockKind::CcEdges},
        {0xDFFF, rec::BlockKind::CcEdges},
    };
    for (const Case& c : cases) {
        Block b{};
        rec::WriteU16(b.data(), c.word0);
        EXPECT_EQ(rec::ClassifyBlock(b.data()), c.kind) << std::hex << c.word0;
    }
}

TEST(RecordStream, ClockDivisor) {
    EXPECT_EQ(rec::ClockDivisor(0), 20);
    EXPECT_EQ(rec::ClockDivisor(0x0100), 1);
    EXPECT_EQ(rec::ClockDivisor(0x00FF), 256);
    EXPECT_EQ(rec::ClockDivisor(4), 5);
}

TEST(RecordStream, CurrentConversionTruncatesTowardZero) {
    const std::pair<int16_t, int16_t> cases[] = {{2, 0},       {-2, 0},     {0, 0},      {3, 2},
                                                  {-3, -2},    {1598, 1500}, {-1598, -1500},
                                                  {32767, 30757}, {-32768, -30758}};
    for (auto [raw, mA] : cases) EXPECT_EQ(rec::ConvertCurrent(raw), mA) << raw;
}

TEST(RecordStream, CalibrationInSinglePrecision) {
    // The unit ratio must not round a value that single precision cannot hold exactly.
    EXPECT_EQ(rec::Calibrate(16777217, 1000000), 16777217);
    EXPECT_EQ(rec::Calibrate(1000, 1010000), 1010);
    EXPECT_EQ(rec::Calibrate(-1000, 999000), -999);
    EXPECT_EQ(rec::Calibrate(3, 500000), 1); // 1.5 truncates
}

TEST(RecordStream, TimeStampExtension) {
    int64_t t = rec::ExtendTimeStamp(0, 0xFFFFFFF0u);
    EXPECT_EQ(t, 0xFFFFFFF0ll);
    t = rec::ExtendTimeStamp(t, 16);
    EXPECT_EQ(t, (1ll << 32) + 16);
    t = rec::ExtendTimeStamp(t, 16); // equal is not a wrap
    EXPECT_EQ(t, (1ll << 32) + 16);
    t = rec::ExtendTimeStamp(t, 5);
    EXPECT_EQ(t, (2ll << 32) + 5);
}

TEST(RecordStream, SampleExtraction) {
    Block b = VbusBlock({{1000, 20000, 1598, 1700, 3, 0, -1598}, {2000, 5000, 2, 0, -2, 300, 0}});
    ASSERT_EQ(rec::SampleCount(b.data()), 2);
    const rec::RawSample s0 = rec::ExtractSample(b.data(), 0);
    EXPECT_EQ(s0.timeStamp, 1000u);
    EXPECT_EQ(s0.vbusVoltage, 20000);
    EXPECT_EQ(s0.vbusCurrent, 1500);
    EXPECT_EQ(s0.cc1Voltage, 1700);
    EXPECT_EQ(s0.cc1Current, 2);
    EXPECT_EQ(s0.cc2Current, -1500);
    const rec::RawSample s1 = rec::ExtractSample(b.data(), 1);
    EXPECT_EQ(s1.vbusCurrent, 0);
    EXPECT_EQ(s1.cc2Voltage, 300);

    EXPECT_EQ(rec::SampleCount(VbusBlock({}, 0).data()), 0);
    // A count beyond what a block holds is cut to three samples.
    EXPECT_EQ(rec::SampleCount(VbusBlock({}, 15).data()), 3);
}

namespace {
struct Entry {
    int type, length, offset;
    int64_t time;
};
std::vector<Entry> ReadEntries(const Block& b) {
    std::vector<Entry> out;
    rec::ForEachMarkerEntry(b.data(), [&](const rec::MarkerEntry& e) {
        out.push_back({e.type, e.length, int(e.value - b.data()) - 2, e.TimeValue()});
        return true;
    });
    return out;
}
} // namespace

TEST(RecordStream, MarkerEntriesFollowTheReadingRules) {
    Block b{};
    rec::WriteU16(b.data(), 0xFFF0);
    b[2] = 5, b[3] = 8;
    rec::WriteU64(b.data() + 4, 123456);
    b[12] = 16, b[13] = 0;
    b[14] = 17, b[15] = 8;
    rec::WriteU64(b.data() + 16, uint64_t(-5));
    b[24] = 255;
    auto e = ReadEntries(b);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].time, 123456);
    EXPECT_EQ(e[1].type, 16);
    EXPECT_EQ(e[2].time, -5);
    EXPECT_EQ(e[3].type, 255);

    // An entry that would end past the block ends the list; one ending exactly at 64 is read.
    Block c{};
    rec::WriteU16(c.data(), 0xFFF0);
    c[2] = 9, c[3] = 60; // 2 + 2 + 60 = 64
    e = ReadEntries(c);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].type, 9);
    c[3] = 61;
    EXPECT_TRUE(ReadEntries(c).empty());

    // After an entry ending at 63 nothing more is read; the time of a short entry near the end
    // reads zeros for the bytes past the block.
    Block d{};
    rec::WriteU16(d.data(), 0xFFF0);
    d[2] = 1, d[3] = 57; // ends at 61
    d[61] = 17, d[62] = 0; // ends at 63
    d[63] = 0xAB;
    e = ReadEntries(d);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].type, 17);
    EXPECT_EQ(e[1].time, 0xAB); // one byte of value inside the block
}

TEST(RecordStream, SampleValueTexts) {
    CVbusInfo s;
    s.vbusVoltage = 20012;
    s.vbusCurrent = -1234;
    s.cc1Voltage = 1700;
    s.cc2Voltage = 120;
    EXPECT_EQ(s.VbusVoltageText(), "20.01");
    EXPECT_EQ(s.VbusCurrentText(false), "-1.234");
    EXPECT_EQ(s.VbusCurrentText(true), "1.234");
    EXPECT_EQ(s.VbusPowerText(true), "24.695");
    EXPECT_EQ(s.CcVoltageText(0), "1.70");
    EXPECT_EQ(s.CcVoltageText(1), "0.12");
}

TEST(RecordStream, RecognisesRecordStreams) {
    std::vector<uint8_t> data;
    Block header{};
    rec::WriteU16(header.data(), 0xFFF0);
    Append(data, header);
    Append(data, VbusBlock({{0}}));
    Append(data, CcBlock(0, 0, 0, 0, {0}));
    EXPECT_TRUE(rec::LooksLikeRecordStream(data.data(), data.size()));
    EXPECT_FALSE(rec::LooksLikeRecordStream(data.data(), 63));

    std::vector<uint8_t> text(64 * 10, 'A');
    EXPECT_FALSE(rec::LooksLikeRecordStream(text.data(), text.size()));
}
