#include "Notify.h"
#include "QXDoc.h"
#include "support/Blocks.h"
#include "support/TempFiles.h"

#include "support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testblocks;

namespace {

struct RecordingNotify : CSilentNotify {
    std::vector<std::string> status, messages;
    bool capturing = false;
    void SetStatusText(const std::string& t) override { status.push_back(t); }
    void ShowMessage(const std::string& t) override { messages.push_back(t); }
    bool IsCapturing() const override { return capturing; }
};

struct GraphHooks : IDocumentHooks {
    int64_t o = -1, x = -1;
    bool hasGraph = false;
    int forgets = 0;
    int64_t shifted = 0;
    bool GraphMarkers(int64_t* po, int64_t* px) const override {
        if (!hasGraph) return false;
        *po = o;
        *px = x;
        return true;
    }
    void ForgetPacketRows() override { ++forgets; }
    void ShiftGraphTimes(int64_t d) override { shifted += d; }
};

Block HeaderBlock() {
    Block b{};
    rec::WriteU16(b.data(), rec::kMarkerWord);
    return b;
}

// A record file: header block, a sample, then one CC1 packet of eight intervals per block, each closed
// by the fillers that fill the rest of its block.
std::vector<uint8_t> RecordWithPackets(int packets) {
    Stream s;
    std::vector<uint8_t> bytes;
    Append(bytes, HeaderBlock());
    int64_t ticks = 0; // at the start of the block; its stamp must agree within 500 µs
    for (int i = 0; i < packets; ++i) {
        std::vector<uint8_t> edges = i == 0 ? std::vector<uint8_t>{0, 0} : std::vector<uint8_t>{};
        auto ramp = Ramp(100, 10, 9);
        edges.insert(edges.end(), ramp.begin(), ramp.end());
        s.Cc(0, uint32_t(ticks * 20 / 48), edges);
        ticks += 256 * (i == 0 ? 45 : 47); // the fillers that follow: one per counter wrap
    }
    bytes.insert(bytes.end(), s.bytes.begin(), s.bytes.end());
    return bytes;
}

} // namespace

TEST(QXDoc, HeaderOnlyFileDecodesNothing) {
    TempDir dir;
    const std::string path = dir.File("h.qxc");
    const Block h = HeaderBlock();
    WriteFile(path, std::vector<uint8_t>(h.begin(), h.end()));
    RecordingNotify n;
    CQXDoc doc(&n);
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(doc.store.PacketCount(), 0u);
    EXPECT_EQ(doc.store.SampleCount(), 0u);
    EXPECT_EQ(doc.store.decodePosition, 64);
    EXPECT_EQ(n.status.back(), "Decode completed.");
    EXPECT_EQ(doc.docPath, path);
}

TEST(QXDoc, MissingFileFailsToOpen) {
    TempDir dir;
    CQXDoc doc;
    EXPECT_FALSE(doc.OpenDocument(dir.File("none.qxc")));
    EXPECT_TRUE(doc.docPath.empty());
}

TEST(QXDoc, PartialTrailingBlockWaitsForTheRest) {
    TempDir dir;
    const std::string path = dir.File("g.qxc");
    std::vector<uint8_t> all = RecordWithPackets(3);
    // 100 bytes: the header block and 36 bytes of the sample block.
    WriteFile(path, std::vector<uint8_t>(all.begin(), all.begin() + 100));
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(doc.store.decodePosition, 64);
    EXPECT_EQ(doc.store.SampleCount(), 0u);

    // The file grows; the next steps read the completed block and everything after it.
    WriteFile(path, std::vector<uint8_t>(all.begin() + 100, all.end() - 10), true);
    EXPECT_TRUE(doc.DecodeAvailable());
    EXPECT_EQ(doc.store.decodePosition, int64_t(all.size() - 64));
    EXPECT_EQ(doc.store.SampleCount(), 1u);
    const size_t before = doc.store.PacketCount();
    WriteFile(path, std::vector<uint8_t>(all.end() - 10, all.end()), true);
    EXPECT_TRUE(doc.DecodeAvailable());
    EXPECT_EQ(doc.store.decodePosition, int64_t(all.size()));
    EXPECT_EQ(doc.store.PacketCount(), 3u);
    EXPECT_EQ(before, 2u); // the third packet's block was the one cut short
    EXPECT_FALSE(doc.DecodeAvailable()); // nothing new
}

TEST(QXDoc, SamplesOfAChunkComeBeforeItsCcBlocks) {
    TempDir dir;
    const std::string path = dir.File("o.qxc");
    // CC blocks first, then the sample that sets the origin at time 0: the packets still count.
    std::vector<uint8_t> rec = RecordWithPackets(2);
    std::vector<uint8_t> reordered(rec.begin(), rec.begin() + 64);
    reordered.insert(reordered.end(), rec.begin() + 128, rec.end());
    reordered.insert(reordered.end(), rec.begin() + 64, rec.begin() + 128);
    WriteFile(path, reordered);
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(doc.store.PacketCount(), 2u);
}

TEST(QXDoc, ProgressTextOnlyWhileNotCapturing) {
    TempDir dir;
    const std::string path = dir.File("p.qxc");
    WriteFile(path, RecordWithPackets(1));
    for (bool capturing : {false, true}) {
        RecordingNotify n;
        n.capturing = capturing;
        CQXDoc doc(&n);
        doc.store.recordPath = path;
        n.status.clear();
        doc.DecodeAvailable();
        EXPECT_EQ(!n.status.empty() && n.status[0] == "Decoding... 0%", !capturing);
    }
}

// Opening a file of several steps: the progress rises step by step and ends at 100% before the decode
// says it is complete, whether the last step is a short one, a full one (the next finds nothing new) or
// leaves a partial block behind.
TEST(QXDoc, OpeningShowsProgressUpTo100Percent) {
    TempDir dir;
    const std::vector<uint8_t> all = RecordWithPackets(45000);
    const int64_t step = CQXDoc::kStepSize;
    for (const int64_t size : {2 * step + step / 2, 2 * step, 2 * step + 100}) {
        SCOPED_TRACE(size);
        ASSERT_LE(size, int64_t(all.size()));
        const std::string path = dir.File("big.qxc");
        WriteFile(path, std::vector<uint8_t>(all.begin(), all.begin() + size));
        RecordingNotify n;
        CQXDoc doc(&n);
        ASSERT_TRUE(doc.OpenDocument(path));
        ASSERT_GE(n.status.size(), 2u);
        EXPECT_EQ(n.status.back(), "Decode completed.");
        std::vector<int> percents;
        for (const std::string& t : n.status)
            if (t.rfind("Decoding... ", 0) == 0) percents.push_back(std::stoi(t.substr(12)));
        ASSERT_GE(percents.size(), 3u);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
        EXPECT_EQ(percents.front(), 0);
        EXPECT_EQ(percents.back(), 100);
        EXPECT_EQ(n.status[n.status.size() - 2], "Decoding... 100%");
    }
}

TEST(QXDoc, SaveAndReopenRestoresMarks) {
    TempDir dir;
    const std::string path = dir.File("m.qxc");
    WriteFile(path, RecordWithPackets(9));
    GraphHooks hooks;
    hooks.hasGraph = true;
    CQXDoc doc(nullptr, &hooks);
    ASSERT_TRUE(doc.OpenDocument(path));
    CCaptureStore& s = doc.store;
    ASSERT_EQ(s.PacketCount(), 9u);
    const int64_t t0 = s.PacketAt(0)->startTime;
    ASSERT_EQ(t0, 100 * 20 / 48); // a first filler after the reference byte 0 adds nothing
    s.markerAPacket = s.PacketAt(2);
    s.markerBPacket = s.PacketAt(5);
    for (int i : {1, 2, 3, 4, 6, 7, 8}) s.PacketAt(size_t(i))->bookmarked = true; // 2 also has marker A
    doc.SetTimeOrigin(s.PacketAt(1)->startTime, false);
    hooks.o = 10;
    hooks.x = -20;
    doc.SetMarksChanged();

    const std::string copy = dir.File("copy.qxc");
    ASSERT_TRUE(doc.SaveDocument(copy));
    EXPECT_FALSE(doc.modified);
    EXPECT_FALSE(doc.marksChanged);
    // Header, sample and packet blocks, then two marker blocks: 2 + five entries, then three.
    const auto bytes = ReadFile(copy);
    ASSERT_EQ(bytes.size(), ReadFile(path).size() + 128);

    CQXDoc reopened;
    ASSERT_TRUE(reopened.OpenDocument(copy));
    const CCaptureStore& r = reopened.store;
    ASSERT_EQ(r.PacketCount(), 9u);
    EXPECT_EQ(r.timeOrigin, s.PacketAt(1)->startTime);
    EXPECT_EQ(r.markerAPacket, r.PacketAt(2));
    EXPECT_EQ(r.markerBPacket, r.PacketAt(5));
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(r.PacketAt(i)->bookmarked, i == 1 || i == 3 || i == 4 || i >= 6) << i; // 2 carries A only
    EXPECT_EQ(r.loadedGraphO, 10 + r.timeOrigin);
    EXPECT_EQ(r.loadedGraphX, -20 + r.timeOrigin);
}

TEST(QXDoc, SavingTwiceAppendsTwoGroupsAndTheLastWins) {
    TempDir dir;
    const std::string path = dir.File("t.qxc");
    WriteFile(path, RecordWithPackets(3));
    const size_t size = ReadFile(path).size();
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(path));
    doc.store.PacketAt(0)->bookmarked = true;
    doc.SetMarksChanged();
    ASSERT_TRUE(doc.SaveDocument(path)); // own path: marks appended, no copy
    EXPECT_EQ(ReadFile(path).size(), size + 64);
    doc.store.PacketAt(0)->bookmarked = false;
    doc.store.markerBPacket = doc.store.PacketAt(2);
    doc.SetMarksChanged();
    ASSERT_TRUE(doc.SaveDocument(path));
    EXPECT_EQ(ReadFile(path).size(), size + 128);
    ASSERT_TRUE(doc.SaveDocument(path)); // marks unchanged: nothing appended
    EXPECT_EQ(ReadFile(path).size(), size + 128);

    CQXDoc reopened;
    ASSERT_TRUE(reopened.OpenDocument(path));
    EXPECT_FALSE(reopened.store.PacketAt(0)->bookmarked);
    EXPECT_EQ(reopened.store.markerBPacket, reopened.store.PacketAt(2));
}

TEST(QXDoc, SaveCopyFailureKeepsTheDocumentModified) {
    TempDir dir;
    const std::string path = dir.File("s.qxc");
    WriteFile(path, RecordWithPackets(1));
    RecordingNotify n;
    CQXDoc doc(&n);
    ASSERT_TRUE(doc.OpenDocument(path));
    doc.SetMarksChanged();
    EXPECT_FALSE(doc.SaveDocument(dir.File("no/such/folder/x.qxc")));
    EXPECT_EQ(n.messages, std::vector<std::string>{"Save File Error"});
    EXPECT_TRUE(doc.modified);
}

TEST(QXDoc, MarkerBlocksInTheStreamApplyInFileOrder) {
    TempDir dir;
    const std::string path = dir.File("i.qxc");
    std::vector<uint8_t> bytes = RecordWithPackets(3);
    Block m1{}, m2{};
    rec::WriteU16(m1.data(), rec::kMarkerWord);
    m1[2] = 5, m1[3] = 8;
    rec::WriteU64(m1.data() + 4, 777);
    m1[12] = 17, m1[13] = 8;
    rec::WriteU64(m1.data() + 14, 0); // no packet starts at 0
    m1[22] = 255;
    rec::WriteU16(m2.data(), rec::kMarkerWord);
    m2[2] = 5, m2[3] = 8;
    rec::WriteU64(m2.data() + 4, 5);
    m2[12] = 255;
    // m1 inside the stream, m2 at the end.
    bytes.insert(bytes.begin() + 192, m1.begin(), m1.end());
    bytes.insert(bytes.end(), m2.begin(), m2.end());
    WriteFile(path, bytes);
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(doc.store.PacketCount(), 3u);
    EXPECT_EQ(doc.store.timeOrigin, 5);
    EXPECT_EQ(doc.store.bookmarkTimes, std::vector<int64_t>{0});
}

TEST(QXDoc, TimeOrigin) {
    GraphHooks hooks;
    CQXDoc doc(nullptr, &hooks);
    doc.SetTimeOrigin(2000000, true);
    doc.SetTimeOrigin(2000000, true);
    EXPECT_EQ(doc.store.timeOrigin, 4000000);
    EXPECT_EQ(hooks.shifted, -4000000);
    EXPECT_EQ(hooks.forgets, 2);
    doc.SetTimeOrigin(0, false);
    EXPECT_EQ(doc.store.timeOrigin, 0);
    EXPECT_EQ(hooks.shifted, 0);
}

TEST(QXDoc, ClearContentsAndCaptureFile) {
    TempDir dir;
    WriteFile(dir.File("live.qxc"), RecordWithPackets(2));
    struct FolderHooks : IDocumentHooks {
        std::string folder, pathName;
        std::string RecordFolder() const override { return folder; }
        void SetPathName(const std::string& p) override { pathName = p; }
    } hooks;
    hooks.folder = dir.Path().string();
    CQXDoc doc(nullptr, &hooks);
    doc.OpenCaptureFile("live.qxc");
    EXPECT_EQ(doc.docPath, dir.File("live.qxc"));
    EXPECT_EQ(hooks.pathName, doc.docPath);
    EXPECT_EQ(doc.store.PacketCount(), 2u);
    doc.SetMarksChanged();
    doc.ClearContents();
    EXPECT_TRUE(doc.docPath.empty());
    EXPECT_FALSE(doc.marksChanged);
    EXPECT_EQ(doc.store.PacketCount(), 0u);
    EXPECT_EQ(doc.store.recordPath, dir.File("live.qxc")); // the decoder keeps its file
}

TEST(QXDoc, SaveAfterSaveAsWritesTheSavedFile) {
    TempDir dir;
    const std::string a = dir.File("a.qxc"), b = dir.File("b.qxc");
    WriteFile(a, RecordWithPackets(3));
    const size_t size = ReadFile(a).size();
    CQXDoc doc;
    ASSERT_TRUE(doc.OpenDocument(a));
    doc.store.PacketAt(0)->bookmarked = true;
    doc.SetMarksChanged();
    ASSERT_TRUE(doc.SaveDocument(b));
    EXPECT_EQ(doc.docPath, b);

    // Save (to the document's own path) with new marks, then once more with none changed.
    doc.store.markerAPacket = doc.store.PacketAt(1);
    doc.SetMarksChanged();
    ASSERT_TRUE(doc.SaveDocument(doc.docPath));
    ASSERT_TRUE(doc.SaveDocument(doc.docPath));
    EXPECT_EQ(ReadFile(a).size(), size); // the old file is left alone
    EXPECT_EQ(ReadFile(b).size(), size + 128);

    CQXDoc reopened;
    ASSERT_TRUE(reopened.OpenDocument(b));
    EXPECT_TRUE(reopened.store.PacketAt(0)->bookmarked);
    EXPECT_EQ(reopened.store.markerAPacket, reopened.store.PacketAt(1));
}

TEST(QXDoc, MarksSavedToAFileCutInsideABlockAreRestored) {
    const std::vector<uint8_t> whole = RecordWithPackets(3);
    // The start of a sample block whose samples would lie past the cut, and other fragments.
    Block sample{};
    rec::WriteU16(sample.data(), 0x2003);
    for (size_t i = 2; i < sample.size(); ++i) sample[i] = uint8_t(0xA0 + i);
    for (size_t tail : {size_t(1), size_t(20), size_t(63)}) {
        for (bool inPlace : {true, false}) {
            SCOPED_TRACE(std::to_string(tail) + (inPlace ? " in place" : " copy"));
            TempDir dir;
            const std::string path = dir.File("cut.qxc"), copy = dir.File("copy.qxc");
            std::vector<uint8_t> bytes = whole;
            bytes.insert(bytes.end(), sample.begin(), sample.begin() + std::ptrdiff_t(tail));
            WriteFile(path, bytes);
            CQXDoc doc;
            ASSERT_TRUE(doc.OpenDocument(path));
            ASSERT_EQ(doc.store.PacketCount(), 3u);
            const size_t samples = doc.store.SampleCount();
            doc.store.PacketAt(1)->bookmarked = true;
            doc.SetMarksChanged();
            const std::string target = inPlace ? path : copy;
            ASSERT_TRUE(doc.SaveDocument(target));
            EXPECT_EQ(ReadFile(target).size() % 64, 0u);
            if (!inPlace) EXPECT_EQ(ReadFile(path), bytes); // the source stays as it was

            CQXDoc reopened;
            ASSERT_TRUE(reopened.OpenDocument(target));
            ASSERT_EQ(reopened.store.PacketCount(), 3u);
            EXPECT_EQ(reopened.store.SampleCount(), samples);
            for (size_t i = 0; i < 3; ++i) EXPECT_EQ(reopened.store.PacketAt(i)->bookmarked, i == 1) << i;
        }
    }
}

// Marks that cannot be written (a full disk) are a failed save: the message, the document stays
// modified with its marks, and the file keeps no half-written marker blocks.
TEST(QXDoc, MarksThatCannotBeWrittenFailTheSave) {
    struct Case {
        const char* name;
        bool ownPath;
    };
    for (const Case& c : {Case{"own path", true}, Case{"copy", false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("f.qxc");
        WriteFile(path, RecordWithPackets(9));
        const std::string target = c.ownPath ? path : dir.File("copy.qxc");
        const size_t size = ReadFile(path).size();
        RecordingNotify n;
        GraphHooks hooks;
        CQXDoc doc(&n, &hooks);
        ASSERT_TRUE(doc.OpenDocument(path));
        for (size_t i = 0; i < 9; ++i) doc.store.PacketAt(i)->bookmarked = true; // two marker blocks
        doc.SetMarksChanged();

        bool saved = false;
        {
            const CFileSizeLimit full(size + 64); // room for the first marker block only
            saved = doc.SaveDocument(target);
        }

        EXPECT_FALSE(saved);
        EXPECT_EQ(n.messages, std::vector<std::string>{"Save File Error"});
        EXPECT_TRUE(doc.modified);
        EXPECT_TRUE(doc.marksChanged);
        EXPECT_EQ(doc.store.recordPath, path);
        if (c.ownPath) EXPECT_EQ(ReadFile(path).size(), size);
        // Once there is room the same save goes through with every mark.
        n.messages.clear();
        ASSERT_TRUE(doc.SaveDocument(target));
        CQXDoc reopened;
        ASSERT_TRUE(reopened.OpenDocument(target));
        for (size_t i = 0; i < 9; ++i) EXPECT_TRUE(reopened.store.PacketAt(i)->bookmarked) << i;
    }
}
