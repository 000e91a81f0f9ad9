// The check a file passes before it is decoded, and what a closed header block promises.
#include "RecordEncoder.h"
#include "RecordFile.h"
#include "support/Blocks.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace testblocks;

namespace {

std::vector<uint8_t> ClosedRecording(uint64_t bytesWritten, size_t streamBlocks) {
    std::vector<uint8_t> bytes(64);
    const uint8_t serial[12] = {};
    enc::WriteClosedHeaderBlock(bytes.data(), 0x0110, serial, bytesWritten);
    for (size_t i = 0; i < streamBlocks; ++i) Append(bytes, VbusBlock({{uint32_t(i * 10)}}));
    return bytes;
}

} // namespace

TEST(RecordFile, CheckGivesTheReason) {
    TempDir dir;
    std::vector<uint8_t> noise(64 * 100);
    std::mt19937 rng(3);
    for (auto& b : noise) b = uint8_t(rng());
    WriteFile(dir.File("noise.qxc"), noise);
    WriteFile(dir.File("empty.qxc"), {});
    WriteFile(dir.File("text.qxc"), std::vector<uint8_t>(300, 'a'));
    WriteFile(dir.File("good.qxc"), ClosedRecording(128, 2));
    std::filesystem::create_directory(dir.File("folder.qxc"));
    const struct {
        const char* name;
        const char* reason; // empty: a record file
    } cases[] = {
        {"good.qxc", ""},
        {"missing.qxc", "No such file or directory"},
        {"folder.qxc", "is a folder"},
        {"empty.qxc", "is empty"},
        {"noise.qxc", "not a record file"},
        {"text.qxc", "not a record file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec::RecordFileHead head;
        std::string reason;
        EXPECT_EQ(rec::CheckRecordFile(dir.File(c.name), &head, &reason), *c.reason == 0);
        EXPECT_EQ(reason, c.reason);
    }
}

// An analyzer may set any bit the format leaves unread; only the structure tells a record file.
TEST(RecordFile, BitsTheFormatLeavesUnreadDoNotMatter) {
    const auto stream = [](bool header, bool unreadBits) {
        std::vector<uint8_t> bytes;
        if (header) bytes = ClosedRecording(0, 0);
        Stream s;
        for (int i = 0; i < 40; ++i) {
            if (i % 4 == 0) Append(s.bytes, VbusBlock({{uint32_t(i * 100)}, {uint32_t(i * 100 + 50)}}));
            s.Cc(i % 2, uint32_t(i * 100), Ramp(i, 7, 10), 0x0013);
        }
        for (size_t at = 0; at < s.bytes.size(); at += rec::kBlockSize) {
            uint8_t* b = s.bytes.data() + at;
            if (!unreadBits) break;
            if (rec::ClassifyBlock(b) == rec::BlockKind::VbusSamples) {
                rec::WriteU16(b, uint16_t(rec::ReadU16(b) | (0xDFF0 & ~0x0010))); // never the marker word
            } else {
                rec::WriteU16(b, uint16_t(rec::ReadU16(b) | 0x9000));
                rec::WriteU16(b + 6, 0xFF13);
            }
        }
        bytes.insert(bytes.end(), s.bytes.begin(), s.bytes.end());
        return bytes;
    };
    TempDir dir;
    for (const bool header : {true, false})
        for (const bool unreadBits : {false, true}) {
            SCOPED_TRACE(testing::Message() << "header " << header << ", unread bits " << unreadBits);
            WriteFile(dir.File("r.qxc"), stream(header, unreadBits));
            rec::RecordFileHead head;
            std::string reason;
            EXPECT_TRUE(rec::CheckRecordFile(dir.File("r.qxc"), &head, &reason));
            EXPECT_EQ(reason, "");
        }

    // Blocks whose kinds parse but whose edge blocks never continue one sequence are no record stream.
    std::vector<uint8_t> zeros(64 * 40), repeated;
    for (int i = 0; i < 40; ++i) Append(repeated, CcBlock(3, 5, i % 2, uint32_t(i), {1, 2}));
    for (const auto* bytes : {&zeros, &repeated}) {
        WriteFile(dir.File("x.qxc"), *bytes);
        rec::RecordFileHead head;
        std::string reason;
        EXPECT_FALSE(rec::CheckRecordFile(dir.File("x.qxc"), &head, &reason));
        EXPECT_EQ(reason, "not a record file");
    }
}

TEST(RecordFile, MissingBytesFollowTheClosedHeaderBlock) {
    const struct {
        uint64_t promised;
        size_t blocks;
        int64_t missing;
    } cases[] = {
        {128, 2, 0},    // complete
        {128, 4, 0},    // longer (marks saved after the stream)
        {256, 2, 128},  // cut short by two blocks
        {200, 3, 8},    // promised a partial block
        {~0ull, 1, 0},  // a count no file could hold is no promise
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.promised);
        WriteFile(dir.File("r.qxc"), ClosedRecording(c.promised, c.blocks));
        rec::RecordFileHead head;
        std::string reason;
        ASSERT_TRUE(rec::CheckRecordFile(dir.File("r.qxc"), &head, &reason)) << reason;
        EXPECT_EQ(rec::MissingBytes(head), c.missing);
    }
    // An open header block (the recording never closed) promises nothing.
    std::vector<uint8_t> open(64);
    enc::WriteOpenHeaderBlock(open.data());
    Append(open, VbusBlock({{0}}));
    WriteFile(dir.File("open.qxc"), open);
    rec::RecordFileHead head;
    std::string reason;
    ASSERT_TRUE(rec::CheckRecordFile(dir.File("open.qxc"), &head, &reason));
    EXPECT_EQ(rec::HeaderBytesWritten(head), -1);
    EXPECT_EQ(rec::MissingBytes(head), 0);
}
