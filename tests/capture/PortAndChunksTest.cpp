// Port attribution and extended-message reassembly on decoded traffic.
#include "PacketTexts.h"
#include "PacketTreeModel.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

using traffic::Header;
using traffic::Session;

namespace {
Header Msg(int type, bool source, bool dfp, int objects = 0) {
    Header h;
    h.type = type;
    h.source = source;
    h.dfp = dfp;
    h.objects = objects;
    return h;
}
std::vector<int> Ports(const CCaptureStore& s) {
    std::vector<int> v;
    for (size_t i = 0; i < s.PacketCount(); ++i) {
        EXPECT_TRUE(s.PacketAt(i)->crcGood) << i;
        v.push_back(s.PacketAt(i)->port);
    }
    return v;
}
} // namespace

TEST(PortAttribution, PowerRoleSwapTurnsThePortsAround) {
    Session s;
    s.Send(Msg(1, true, true), {0x0001912C}); // Source_Capabilities from port 1 (source, DFP)
    s.Send(Msg(2, false, false), {0x1004B12C}); // Request from port 2
    s.Send(Msg(10, false, false));             // PR_Swap, from the sink
    s.Send(Msg(3, true, true));                // Accept
    s.Send(Msg(6, false, true));               // PS_RDY from the old source, now marked sink
    s.Send(Msg(6, true, false));               // PS_RDY from the new source (still UFP)
    s.Send(Msg(1, true, false), {0x0001912C}); // Source_Capabilities: from port 2 now
    s.Send(Msg(2, false, true), {0x1004B12C}); // Request from port 1
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 8u);
    // During the swap the data role picks the port: port 1 stays the DFP.
    EXPECT_EQ(Ports(store), (std::vector<int>{1, 2, 2, 1, 1, 2, 2, 1}));
    EXPECT_EQ(store.portState.sourcePort, 2);
    EXPECT_EQ(store.portState.sinkPort, 1);
    EXPECT_FALSE(store.portState.swapActive);
    EXPECT_EQ(store.PacketAt(1)->sourceCapsRef, store.PacketAt(0));
    EXPECT_EQ(store.PacketAt(7)->sourceCapsRef, store.PacketAt(6));
    EXPECT_EQ(store.tallies.sopFromSource, 4u);
    EXPECT_EQ(store.tallies.dataByType[1], 2u);
    EXPECT_EQ(store.tallies.controlByType[6], 2u);
}

TEST(PortAttribution, RejectOrWaitEndsTheSwapUnchanged) {
    for (int answer : {4, 12}) {
        Session s;
        s.Send(Msg(1, true, true), {0x0001912C});
        s.Send(Msg(10, false, false));
        s.Send(Msg(answer, true, true));
        s.Send(Msg(6, true, true)); // a PS_RDY after the refusal changes nothing
        CCaptureStore store;
        s.DecodeInto(store);
        EXPECT_EQ(Ports(store), (std::vector<int>{1, 2, 1, 1})) << answer;
        EXPECT_EQ(store.portState.sourcePort, 1);
        EXPECT_FALSE(store.portState.swapActive);
    }
}

// The message type has five bits from revision 3.0 on: FR_Swap (19), Get_PPS_Status (20) and
// Get_Sink_Cap_Extended (22) must not pass for Accept (3), Reject (4) and PS_RDY (6) during a swap.
// Before 3.0 the type has four bits and bit 4 is reserved, so the same headers still read 3, 4 and 6.
namespace {
struct Sent {
    int type;
    bool source, dfp;
};
} // namespace

TEST(PortAttribution, SwapFollowsTheTypeCodeOfTheRevision) {
    struct Case {
        const char* name;
        int revision; // header field
        std::vector<Sent> messages;
        std::vector<int> ports;
        int sourcePort;
        bool swapActive;
    };
    // Every case starts with Source_Capabilities from port 1 (source, DFP) and a PR_Swap from port 2.
    const Case cases[] = {
        {"3.0: FR_Swap is no Accept, so PS_RDY swaps nothing", 2,
         {{19, true, true}, {6, true, true}}, {1, 2, 1, 1}, 1, true},
        {"3.0: Get_PPS_Status is no Reject, the swap goes on", 2,
         {{20, false, false}, {3, true, true}, {6, false, true}, {6, true, false}}, {1, 2, 2, 1, 1, 2}, 2, false},
        {"3.0: Get_Sink_Cap_Extended is no PS_RDY", 2,
         {{3, true, true}, {22, true, true}, {6, false, true}, {6, true, false}}, {1, 2, 1, 1, 1, 2}, 2, false},
        {"3.0: Accept and two PS_RDY swap", 2,
         {{3, true, true}, {6, false, true}, {6, true, false}}, {1, 2, 1, 1, 2}, 2, false},
        {"Rsv(3) reads like 3.0", 3, {{19, true, true}, {6, true, true}}, {1, 2, 1, 1}, 1, true},
        {"2.0: type 19 reads as Accept", 1,
         {{19, true, true}, {6, false, true}, {6, true, false}}, {1, 2, 1, 1, 2}, 2, false},
        {"2.0: type 20 reads as Reject", 1, {{20, true, true}, {6, true, true}}, {1, 2, 1, 1}, 1, false},
        {"1.0: type 22 reads as PS_RDY", 0,
         {{3, true, true}, {22, false, true}, {6, true, false}}, {1, 2, 1, 1, 2}, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        auto send = [&](int type, bool source, bool dfp, std::initializer_list<uint32_t> objects = {}) {
            Header h = Msg(type, source, dfp);
            h.revision = c.revision;
            s.Send(h, objects);
        };
        send(1, true, true, {0x0001912C});
        send(10, false, false);
        for (const Sent& m : c.messages) send(m.type, m.source, m.dfp);
        CCaptureStore store;
        s.DecodeInto(store);
        ASSERT_EQ(store.PacketCount(), c.messages.size() + 2);
        EXPECT_EQ(Ports(store), c.ports);
        EXPECT_EQ(store.portState.sourcePort, c.sourcePort);
        EXPECT_EQ(store.portState.sinkPort, 3 - c.sourcePort);
        EXPECT_EQ(store.portState.swapActive, c.swapActive);
    }
}

// The Request's link to its Source_Capabilities reads the type the same way: at 3.0 the unnamed data
// types 17 and 18 are neither Source_Capabilities nor Request; before 3.0 they are.
TEST(PortAttribution, RequestLinkFollowsTheTypeCodeOfTheRevision) {
    struct Case {
        int revision;
        int requestRef, lateRef; // packet the Request (2) and the type 18 message (3) refer to, -1 none
    } cases[] = {{2, 0, -1}, {3, 0, -1}, {1, 1, 1}, {0, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.revision);
        Session s;
        for (const Sent& m : {Sent{1, true, true}, Sent{17, true, true}, Sent{2, false, false},
                              Sent{18, false, false}}) {
            Header h = Msg(m.type, m.source, m.dfp);
            h.revision = c.revision;
            s.Send(h, {m.type == 1 || m.type == 17 ? 0x0001912Cu : 0x1004B12Cu});
        }
        CCaptureStore store;
        s.DecodeInto(store);
        ASSERT_EQ(store.PacketCount(), 4u);
        EXPECT_EQ(Ports(store), (std::vector<int>{1, 1, 2, 2}));
        auto at = [&](int i) -> const CCCPacket* { return i < 0 ? nullptr : store.PacketAt(size_t(i)); };
        EXPECT_EQ(store.PacketAt(2)->sourceCapsRef, at(c.requestRef));
        EXPECT_EQ(store.PacketAt(3)->sourceCapsRef, at(c.lateRef));
    }
}

TEST(PortAttribution, CablePlugMessages) {
    Session s;
    Header fromPlug = Msg(15, true, false);
    s.Send(traffic::Bytes(Msg(1, true, true).Word()), kKindSop);
    s.Send(traffic::Bytes(Msg(15, false, false, 1).Word(), {0xFF008001}), kKindSopPrime); // from the DFP
    fromPlug.objects = 1;
    s.Send(traffic::Bytes(fromPlug.Word(), {0xFF008041}), kKindSopPrime); // from the cable plug
    s.Send(traffic::Bytes(Msg(0, true, true).Word()), kKindHardReset);
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 4u);
    EXPECT_EQ(store.PacketAt(1)->port, 1);
    EXPECT_EQ(store.PacketAt(2)->port, 3);
    EXPECT_EQ(store.PacketAt(3)->kind, kKindHardReset);
    EXPECT_EQ(store.PacketAt(3)->port, 0);
}

namespace {
// One chunk of a chunked extended message: header, extended header, data padded to whole objects.
std::vector<uint8_t> Chunk(int type, int number, int size, const std::vector<uint8_t>& data, bool request = false) {
    const int objects = (int(data.size()) + 2 + 3) / 4;
    Header h = Msg(type, true, true, objects);
    h.extended = true;
    const uint16_t x = uint16_t(size | (request ? 0x400 : 0) | (number << 11) | 0x8000);
    std::vector<uint8_t> b = {uint8_t(h.Word()), uint8_t(h.Word() >> 8), uint8_t(x), uint8_t(x >> 8)};
    for (uint8_t v : data) b.push_back(v);
    while (b.size() < size_t(2 + 4 * objects)) b.push_back(0);
    return b;
}
std::vector<uint8_t> Range(int from, int count) {
    std::vector<uint8_t> v;
    for (int i = 0; i < count; ++i) v.push_back(uint8_t(from + i));
    return v;
}
} // namespace

TEST(ChunkReassembly, JoinsChunksIntoOneBuffer) {
    Session s;
    s.Send(Chunk(17, 0, 40, Range(0, 26)));
    s.Send(Chunk(17, 0, 40, {}, true)); // the chunk request carries nothing
    s.Send(Chunk(17, 1, 40, Range(26, 14)));
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 3u);
    const CCCPacket* a = store.PacketAt(0);
    const CCCPacket* b = store.PacketAt(2);
    ASSERT_TRUE(a->crcGood && b->crcGood);
    EXPECT_TRUE(a->ownsExtData);
    EXPECT_FALSE(b->ownsExtData);
    ASSERT_EQ(a->extData, b->extData);
    EXPECT_EQ(a->extDataSize, 40);
    EXPECT_EQ(b->extChunkOffset, 26);
    EXPECT_EQ(b->extChunkLength, 14);
    EXPECT_EQ(std::vector<uint8_t>(a->extData, a->extData + 40), Range(0, 40));
    EXPECT_EQ(store.PacketAt(1)->extData, nullptr);
    EXPECT_EQ(store.reassembly.buffer, nullptr); // complete
}

TEST(ChunkReassembly, MissingOrMismatchedChunksStartOver) {
    Session s;
    s.Send(Chunk(17, 1, 40, Range(26, 14))); // chunk 1 without chunk 0
    s.Send(Chunk(17, 0, 40, Range(0, 26)));
    s.Send(Chunk(17, 1, 44, Range(26, 18))); // another Data Size: the message in progress is dropped
    s.Send(Chunk(17, 0, 30, Range(100, 26)));
    s.Send(traffic::Bytes(Msg(13, true, true).Word())); // Soft_Reset abandons it
    s.Send(Chunk(17, 1, 30, Range(126, 4)));
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 6u);
    EXPECT_EQ(store.PacketAt(0)->extData, nullptr);
    EXPECT_NE(store.PacketAt(1)->extData, nullptr);
    EXPECT_EQ(store.PacketAt(2)->extData, nullptr);
    EXPECT_EQ(store.PacketAt(3)->extChunkLength, 26);
    EXPECT_EQ(store.PacketAt(5)->extData, nullptr);
    // The earlier chunk keeps its buffer alive although the store forgot it.
    EXPECT_EQ(store.PacketAt(1)->extData[0], 0);
    EXPECT_EQ(store.PacketAt(1)->extData[25], 25);
}

TEST(ChunkReassembly, UnchunkedAndSmallMessagesUseTheirOwnBytes) {
    Session s;
    Header h = Msg(2, true, true, 2); // Status, unchunked: bit 15 of the extended header clear
    h.extended = true;
    std::vector<uint8_t> unchunked = {uint8_t(h.Word()), uint8_t(h.Word() >> 8), 6, 0};
    for (uint8_t v : Range(1, 6)) unchunked.push_back(v);
    s.Send(unchunked);
    s.Send(Chunk(2, 0, 7, Range(10, 7))); // chunked but under 26 bytes: one chunk holds it all
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const CCCPacket* p = store.PacketAt(i);
        ASSERT_TRUE(p->crcGood);
        EXPECT_EQ(p->extData, p->messageBytes + 4);
        EXPECT_FALSE(p->ownsExtData);
    }
    EXPECT_EQ(store.PacketAt(0)->extDataSize, 6);
    EXPECT_EQ(store.PacketAt(1)->extChunkLength, 7);
    EXPECT_EQ(store.tallies.extendedByType[2], 2u);
}

namespace {
// An unchunked extended message from the source: header, extended header with `size`, then `data`
// padded to whole objects, however many bytes `size` claims.
std::vector<uint8_t> Unchunked(int type, int size, const std::vector<uint8_t>& data) {
    const int objects = (int(data.size()) + 2 + 3) / 4;
    Header h = Msg(type, true, true, objects);
    h.extended = true;
    std::vector<uint8_t> b = {uint8_t(h.Word()), uint8_t(h.Word() >> 8), uint8_t(size), uint8_t(size >> 8)};
    b.insert(b.end(), data.begin(), data.end());
    b.resize(size_t(2 + 4 * objects), 0);
    return b;
}
std::vector<uint8_t> Objects(std::initializer_list<uint32_t> objects) {
    std::vector<uint8_t> b;
    for (uint32_t o : objects)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(o >> (8 * i)));
    return b;
}
} // namespace

// A message in one packet whose Data Size claims more than came: its texts stop at the bytes received
// (the CRC and whatever the buffer held before are no data) and say that the message is short.
TEST(ChunkReassembly, ShortMessageShowsOnlyTheBytesReceived) {
    std::vector<uint8_t> sixAndAHalfObjects =
        Objects({0x0881912C, 0x0002D12C, 0x0004B12C, 0x000641F4, 0xC1A42164, 0, 0});
    sixAndAHalfObjects.resize(26);
    std::vector<uint8_t> ratings(25, 0);
    ratings[23] = 100;
    ratings[24] = 140;
    std::vector<uint8_t> headersOnly = Unchunked(16, 2, {3, 0}); // the message ends after its headers
    headersOnly.resize(4);
    struct Case {
        const char* label;
        std::vector<uint8_t> bytes;
        std::string description;
        const char* block; // the tree's data block item; empty for none
    };
    const std::string kShort = "Extended Data shorter than Data Size.";
    const std::string kFiveObjects =
        "[1]<Fix>5.00V/3.00A(Unconstrained)(EPR) [2]<Fix>9.00V/3.00A "
        "[3]<Fix>15.00V/3.00A [4]<Fix>20.00V/5.00A [5]<APDO:SPR PPS>3300-21000[mV]/5000[mA] ";
    const Case cases[] = {
        {"EPR_Source_Capabilities, 26 of 511 bytes", Unchunked(17, 511, sixAndAHalfObjects),
         kFiveObjects + kShort, "Total Extended Data Block (26bytes)"},
        {"EPR_Source_Capabilities, 26 of 28 bytes", Unchunked(17, 28, sixAndAHalfObjects),
         kFiveObjects + kShort, "Total Extended Data Block (26bytes)"},
        {"Source_Capabilities_Extended, 22 of 25 bytes", Unchunked(1, 25, std::vector<uint8_t>(22, 0)),
         kShort, "Total Extended Data Block (22bytes)"},
        {"Source_Capabilities_Extended, whole", Unchunked(1, 25, ratings),
         "(SPR Source Rating=100[W])(EPR Source Rating=140[W])", "Total Extended Data Block (25bytes)"},
        {"Status, 6 of 7 bytes", Unchunked(2, 7, Range(1, 6)), kShort, "Total Extended Data Block (6bytes)"},
        {"Extended_Control, no type byte", headersOnly, kShort, ""},
        {"Extended_Control, 2 of 4 bytes", Unchunked(16, 4, {3, 0}), "EPR_KeepAlive " + kShort,
         "Total Extended Data Block (2bytes)"},
        {"Extended_Control, whole", Unchunked(16, 2, {3, 0}), "EPR_KeepAlive",
         "Total Extended Data Block (2bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Session s;
        s.Send(c.bytes);
        CCaptureStore store;
        s.DecodeInto(store);
        ASSERT_EQ(store.PacketCount(), 1u);
        const CCCPacket& p = *store.PacketAt(0);
        ASSERT_TRUE(p.crcGood);
        EXPECT_EQ(p.GetColumnText(kColumnDescription, false), c.description);
        std::string block;
        for (const PacketTreeItem& item : CPacketTreeModel::BuildItems(p))
            if (item.value == kItemDataBlock && item.parent == -1) block = item.text;
        EXPECT_EQ(block, c.block);
    }
}
