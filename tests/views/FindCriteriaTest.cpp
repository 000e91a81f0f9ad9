#include "FindCriteria.h"
#include "CaptureStore.h"
#include "support/Traffic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

namespace {

// A valid-looking packet on CC1: preamble, good CRC, EOP, unit interval 3.33 µs.
CCCPacket Packet(int32_t kind, uint16_t header = 0, int32_t channel = 0) {
    CCCPacket p;
    p.index = 7;
    p.kind = kind;
    p.channel = channel;
    p.intervalCount = 120;
    p.preambleFound = true;
    p.preambleLength = 64;
    p.unitInterval = 3.33f;
    const bool message = IsMessageKind(kind);
    p.hasCrc = message;
    p.crcGood = message;
    p.eopFound = message;
    if (message) {
        p.messageBytes[0] = uint8_t(header);
        p.messageBytes[1] = uint8_t(header >> 8);
        p.messageByteCount = 2 + 4 * ((header >> 12) & 7);
    }
    return p;
}

uint16_t Hdr(int type, int objects = 0, int revision = 2, bool source = true, bool dfp = true,
             bool extended = false) {
    traffic::Header h;
    h.type = type;
    h.objects = objects;
    h.revision = revision;
    h.source = source;
    h.dfp = dfp;
    h.extended = extended;
    return h.Word();
}

bool* TypeFlag(CFindCriteria& c, MessageFamily family, int code) {
    return &c.messageTypes[size_t(MessageTypeBoxIndex(family, code))];
}

using Fault = std::function<void(CCCPacket&)>;
using Tweak = std::function<void(CFindCriteria&)>;

const Fault kNoFault = [](CCCPacket&) {};
const Fault kBadCrc = [](CCCPacket& p) { p.crcGood = false; };
const Fault kNoPreamble = [](CCCPacket& p) {
    p.preambleFound = false;
    p.preambleLength = 0;
};
const Fault kNoEop = [](CCCPacket& p) { p.eopFound = false; };
const Fault kSlowUi = [](CCCPacket& p) { p.unitInterval = 3.9f; };

// A packet of the case tables, made afresh for each case.
struct PacketShape {
    int32_t kind;
    uint16_t header = 0;
    int32_t channel = 0;
    std::vector<Fault> faults;
};
PacketShape P(int32_t kind, uint16_t header = 0, int32_t channel = 0) {
    return {kind, header, channel, {}};
}
PacketShape with(PacketShape s, const Fault& f) {
    s.faults.push_back(f);
    return s;
}
CCCPacket Make(const PacketShape& s) {
    CCCPacket p = Packet(s.kind, s.header, s.channel);
    for (const Fault& f : s.faults) f(p);
    return p;
}

} // namespace

TEST(FindCriteria, InvalidPacket) {
    struct Case {
        const char* name;
        int32_t kind;
        Fault fault;
        bool invalid;
    };
    const Case cases[] = {
        {"valid SOP", kKindSop, kNoFault, false},
        {"no preamble", kKindSop, kNoPreamble, true},
        {"bad CRC", kKindSop, kBadCrc, true},
        {"no EOP", kKindSop, kNoEop, true},
        {"slow UI", kKindSop, kSlowUi, true},
        {"fast UI", kKindSop, [](CCCPacket& p) { p.unitInterval = 2.9f; }, true},
        {"UI exactly 3.03", kKindSop, [](CCCPacket& p) { p.unitInterval = 3.03f; }, false},
        {"UI exactly 3.70", kKindSop, [](CCCPacket& p) { p.unitInterval = 3.70f; }, false},
        {"UI just below 3.03", kKindSop, [](CCCPacket& p) { p.unitInterval = std::nextafter(3.03f, 0.f); },
         true},
        {"UI just above 3.70", kKindSop, [](CCCPacket& p) { p.unitInterval = std::nextafter(3.70f, 9.f); },
         true},
        {"Hard Reset needs neither CRC nor EOP", kKindHardReset, kNoFault, false},
        {"Cable Reset needs neither CRC nor EOP", kKindCableReset, kNoFault, false},
        {"Hard Reset with slow UI", kKindHardReset, kSlowUi, true},
        {"Hard Reset without preamble", kKindHardReset, kNoPreamble, true},
        {"debug kind with bad CRC", kKindSopPrimeDebug, kBadCrc, true},
        {"undecodable kind", kKindNotDecoded, kNoFault, true}, // no CRC, no EOP
        {"no CC edges is never invalid", kKindNotDecoded,
         [](CCCPacket& p) {
             p.intervalCount = 0;
             p.preambleFound = false;
             p.unitInterval = 0;
         },
         false},
    };
    for (const Case& c : cases) {
        CCCPacket p = Packet(c.kind, Hdr(1));
        c.fault(p);
        EXPECT_EQ(IsInvalidPacket(p), c.invalid) << c.name;
    }
    CCCPacket noCrcYet = Packet(kKindSop, Hdr(1));
    noCrcYet.hasCrc = false;
    noCrcYet.crcGood = false;
    EXPECT_FALSE(HasCrcError(noCrcYet));
    EXPECT_TRUE(IsInvalidPacket(noCrcYet));
}

TEST(FindCriteria, MessageTypeFamilyAndCode) {
    struct Case {
        uint16_t header;
        MessageFamily family;
        int32_t code;
    };
    const Case cases[] = {
        {Hdr(0x13, 0, 2), MessageFamily::Control, 0x13},
        {Hdr(0x13, 0, 1), MessageFamily::Control, 3}, // before 3.0 only four type bits
        {Hdr(0x11, 2, 1), MessageFamily::Data, 1},
        {Hdr(0x11, 2, 2, true, true, true), MessageFamily::Extended, 0x11},
        {Hdr(0x11, 2, 3, true, true, true), MessageFamily::Extended, 0x11},
        {Hdr(0x02, 1, 1, true, true, true), MessageFamily::Data, 2}, // bit 15 means nothing in 2.0
        {Hdr(0x1E, 0, 2, true, true, true), MessageFamily::Extended, 30},
    };
    for (const Case& c : cases) {
        const PacketMessageType t = MessageTypeOf(Packet(kKindSop, c.header));
        EXPECT_EQ(t.family, c.family) << std::hex << c.header;
        EXPECT_EQ(t.code, c.code) << std::hex << c.header;
    }
}

// The dialog keeps its own order, texts and ids; each box shows the plain list name of its message, and every
// message of the table has exactly one box.
TEST(FindCriteria, MessageTypeBoxesFollowTheMessageTable) {
    std::set<MessageTypeId> messages;
    std::set<int32_t> ids;
    for (const MessageTypeBox& box : kMessageTypeBoxes) {
        const MessageTypeInfo& m = MessageTypeInfoOf(box.message);
        EXPECT_STREQ(box.text, m.name);
        EXPECT_TRUE(messages.insert(box.message).second) << box.text;
        EXPECT_TRUE(ids.insert(box.controlId).second) << box.text;
        EXPECT_EQ(MessageTypeBoxIndex(m.family, m.code), &box - kMessageTypeBoxes) << box.text;
    }
    EXPECT_EQ(messages.size(), MessageTypes().size());
    EXPECT_EQ(MessageTypeBoxIndex(MessageFamily::Data, 13), -1);
    EXPECT_EQ(MessageTypeBoxIndex(MessageFamily::Extended, 19), -1);
}

TEST(FindCriteria, Defaults) {
    const CFindCriteria find(CFindCriteria::kFind);
    const int32_t onInFind[] = {kIdCc1,    kIdCc2,  kIdSop, kIdSopPrime, kIdSopDoublePrime,
                                kIdSource, kIdSink, kIdDfp, kIdUfp,      kIdNoErrors};
    const int32_t offInFind[] = {kIdHardReset,     kIdCableReset, kIdSopPrimeDebug, kIdSopDoublePrimeDebug,
                                 kIdInvalidPacket, kIdCrcError,   kIdEnableText,    kIdAllowAllSettings};
    for (int32_t id : onInFind) EXPECT_TRUE(*find.FlagOf(id)) << id;
    for (int32_t id : offInFind) EXPECT_FALSE(*find.FlagOf(id)) << id;
    for (const MessageTypeBox& box : kMessageTypeBoxes) EXPECT_FALSE(*find.FlagOf(box.controlId)) << box.text;
    EXPECT_EQ(find.direction, CFindCriteria::kForward);
    EXPECT_TRUE(find.text.empty());

    const CFindCriteria filter(CFindCriteria::kDisplayFilter);
    for (int32_t id : onInFind) EXPECT_TRUE(*filter.FlagOf(id)) << id;
    for (int32_t id : {kIdHardReset, kIdCableReset, kIdSopPrimeDebug, kIdSopDoublePrimeDebug,
                       kIdInvalidPacket, kIdCrcError})
        EXPECT_TRUE(*filter.FlagOf(id)) << id;
    for (const MessageTypeBox& box : kMessageTypeBoxes)
        EXPECT_TRUE(*filter.FlagOf(box.controlId)) << box.text;
    EXPECT_FALSE(filter.enableText);
    EXPECT_FALSE(filter.allowAllSettings);
    EXPECT_FALSE(filter.displayFilterEnabled);
}

TEST(FindCriteria, ButtonsSetTheirGroups) {
    CFindCriteria c(CFindCriteria::kFind);
    c.SetAllMessageTypes(true);
    for (const MessageTypeBox& box : kMessageTypeBoxes) EXPECT_TRUE(*c.FlagOf(box.controlId)) << box.text;
    EXPECT_FALSE(c.hardReset); // only the message types
    c.SetAll(false);
    for (int32_t id :
         {kIdCc1, kIdSop, kIdHardReset, kIdSource, kIdUfp, kIdNoErrors, kIdInvalidPacket, kIdCrcError})
        EXPECT_FALSE(*c.FlagOf(id)) << id;
    for (const MessageTypeBox& box : kMessageTypeBoxes) EXPECT_FALSE(*c.FlagOf(box.controlId)) << box.text;
    c.enableText = true;
    c.allowAllSettings = true;
    c.SetAll(true);
    EXPECT_TRUE(c.sopDoublePrimeDebug && c.crcError && c.messageTypes[55]);
    c.SetAll(false);
    EXPECT_TRUE(c.enableText && c.allowAllSettings) << "Check All / Clear All leave these two alone";
}

TEST(FindCriteria, EnablingRules) {
    CFindCriteria c(CFindCriteria::kFind);
    EXPECT_FALSE(c.IsControlEnabled(kIdHardReset).has_value()) << "no statistics, no rule";
    EXPECT_FALSE(c.IsControlEnabled(kIdFindText).has_value());

    CaptureTallies t;
    t.cc1 = 3;
    t.sop = 3;
    t.sopFromSource = 2;
    t.noEop = 1;
    t.controlByType[3] = 1; // Accept
    c.statistics = &t;
    struct Case {
        int32_t id;
        bool enabled;
    };
    const Case cases[] = {
        {kIdCc1, true},
        {kIdCc2, false},
        {kIdSop, true},
        {kIdHardReset, false},
        {kIdSource, true},
        {kIdSink, false},
        {kIdNoErrors, true},
        {kIdInvalidPacket, true},
        {kIdCrcError, false},
        {1035 /* Accept */, true},
        {1052 /* BIST, data code 3 */, false},
        {kIdFindText, false},
    };
    for (const Case& k : cases) EXPECT_EQ(c.IsControlEnabled(k.id), std::optional<bool>(k.enabled)) << k.id;

    c.allowAllSettings = true;
    c.enableText = true;
    for (int32_t id :
         {int32_t(kIdHardReset), int32_t(kIdCc2), int32_t(kIdCrcError), 1052, int32_t(kIdFindText)})
        EXPECT_EQ(c.IsControlEnabled(id), std::optional<bool>(true)) << id;
}

TEST(FindCriteria, FindMatchColumn) {
    struct Case {
        const char* name;
        PacketShape packet;
        Tweak setup;
        int32_t column;
    };
    const uint16_t goodCrc = Hdr(1);
    const uint16_t sourceCaps = Hdr(1, 2);
    const Tweak none = [](CFindCriteria&) {};
    const Tweak goodCrcOn = [](CFindCriteria& c) { *TypeFlag(c, MessageFamily::Control, 1) = true; };
    const Tweak invalidOn = [](CFindCriteria& c) { c.invalidPacket = true; };
    const Tweak allTypes = [](CFindCriteria& c) { c.SetAllMessageTypes(true); };
    const std::vector<Case> cases = {
        {"type flag off", P(kKindSop, goodCrc), none, -1},
        {"type flag on", P(kKindSop, goodCrc), goodCrcOn, kColumnMessageType},
        {"flag of another family with the same code", P(kKindSop, sourceCaps), goodCrcOn, -1},
        {"empty text matches at column 0", P(kKindSop, goodCrc, 1),
         [](CFindCriteria& c) {
             c.enableText = true;
             c.cc2 = false;
         },
         0},
        {"text found overrides channel and type", P(kKindSop, sourceCaps, 1),
         [](CFindCriteria& c) {
             c.enableText = true;
             c.text = "source_cap";
             c.cc2 = false;
         },
         11},
        {"text not found falls back to criteria", P(kKindSop, goodCrc),
         [](CFindCriteria& c) {
             c.enableText = true;
             c.text = "no such text";
             *TypeFlag(c, MessageFamily::Control, 1) = true;
         },
         kColumnMessageType},
        {"text ignored while Enable Text is off", P(kKindSop, goodCrc),
         [](CFindCriteria& c) { c.text = "GoodCRC"; }, -1},
        {"channel off", P(kKindSop, goodCrc, 1),
         [](CFindCriteria& c) {
             c.cc2 = false;
             c.SetAllMessageTypes(true);
         },
         -1},
        {"SOP off", P(kKindSop, goodCrc),
         [](CFindCriteria& c) {
             c.sop = false;
             c.SetAllMessageTypes(true);
         },
         -1},
        {"SOP'' matches whatever type, roles, errors",
         with(P(kKindSopDoublePrime, Hdr(1, 0, 2, false)), kBadCrc),
         [](CFindCriteria& c) { c.source = false; }, kColumnOrderedSet},
        {"SOP'' off", P(kKindSopDoublePrime, goodCrc),
         [](CFindCriteria& c) {
             c.sopDoublePrime = false;
             c.SetAllMessageTypes(true);
         },
         -1},
        {"Hard Reset off", P(kKindHardReset), allTypes, -1},
        {"Hard Reset on", P(kKindHardReset), [](CFindCriteria& c) { c.hardReset = true; },
         kColumnOrderedSet},
        {"Hard Reset with bad UI names the UI", with(P(kKindHardReset), kSlowUi),
         [](CFindCriteria& c) {
             c.hardReset = true;
             c.invalidPacket = true;
         },
         kColumnUnitInterval},
        {"invalid SOP matches with type off: CRC", with(P(kKindSop, goodCrc), kBadCrc), invalidOn,
         kColumnCrc},
        {"invalid: no preamble", with(P(kKindSop, goodCrc), kNoPreamble), invalidOn, kColumnPreambleLength},
        {"invalid: no EOP", with(P(kKindSop, goodCrc), kNoEop), invalidOn, kColumnPayload},
        {"invalid: UI", with(P(kKindSop, goodCrc), kSlowUi), invalidOn, kColumnUnitInterval},
        {"invalid but Invalid Packet off", with(P(kKindSop, goodCrc), kNoEop), none, -1},
        {"CRC Error renames the cause of a decided packet",
         with(with(P(kKindSop, goodCrc), kNoPreamble), kBadCrc),
         [](CFindCriteria& c) {
             c.invalidPacket = true;
             c.crcError = true;
         },
         kColumnCrc},
        {"CRC Error on a debug packet", with(P(kKindSopPrimeDebug, goodCrc), kBadCrc),
         [](CFindCriteria& c) {
             c.sopPrimeDebug = true;
             c.crcError = true;
         },
         kColumnCrc},
        {"CRC Error alone does not decide", with(P(kKindSop, goodCrc), kBadCrc),
         [](CFindCriteria& c) { c.crcError = true; }, -1},
        {"power role off", P(kKindSop, Hdr(1, 0, 2, true)),
         [](CFindCriteria& c) {
             c.source = false;
             c.SetAllMessageTypes(true);
         },
         -1},
        {"data role off", P(kKindSop, Hdr(1, 0, 2, true, false)),
         [](CFindCriteria& c) {
             c.ufp = false;
             c.SetAllMessageTypes(true);
         },
         -1},
        {"data code 13 never matches", P(kKindSop, Hdr(13, 1)), allTypes, -1},
        {"data code 14 never matches", P(kKindSop, Hdr(14, 1)), allTypes, -1},
        {"extended type", P(kKindSop, Hdr(17, 2, 2, true, true, true)),
         [](CFindCriteria& c) { *TypeFlag(c, MessageFamily::Extended, 17) = true; }, kColumnMessageType},
    };
    for (const Case& k : cases) {
        CFindCriteria c(CFindCriteria::kFind);
        k.setup(c);
        EXPECT_EQ(c.FindMatchColumn(Make(k.packet), false), k.column) << k.name;
    }
}

TEST(FindCriteria, DisplayFilter) {
    struct Case {
        const char* name;
        PacketShape packet;
        Tweak setup;
        bool shown;
    };
    const uint16_t goodCrc = Hdr(1);
    const Tweak none = [](CFindCriteria&) {};
    const Tweak onlyErrors = [](CFindCriteria& c) { c.noErrors = false; };
    const std::vector<Case> cases = {
        {"all on", P(kKindSop, goodCrc), none, true},
        {"empty text ignored", P(kKindSop, goodCrc), [](CFindCriteria& c) { c.enableText = true; }, true},
        {"text not found hides", P(kKindSop, goodCrc),
         [](CFindCriteria& c) {
             c.enableText = true;
             c.text = "Request";
         },
         false},
        {"text found, criteria still decide", P(kKindSop, goodCrc),
         [](CFindCriteria& c) {
             c.enableText = true;
             c.text = "goodcrc";
             *TypeFlag(c, MessageFamily::Control, 1) = false;
         },
         false},
        {"channel off", P(kKindSop, goodCrc, 1), [](CFindCriteria& c) { c.cc2 = false; }, false},
        {"Cable Reset off", P(kKindCableReset), [](CFindCriteria& c) { c.cableReset = false; }, false},
        {"SOP'' Debug off", P(kKindSopDoublePrimeDebug, goodCrc),
         [](CFindCriteria& c) { c.sopDoublePrimeDebug = false; }, false},
        {"undecodable kind passes the ordered set rule", P(kKindUnknown),
         [](CFindCriteria& c) {
             c.SetAll(false);
             c.cc1 = c.invalidPacket = c.sink = c.ufp = true;
         },
         true},
        {"No Errors off hides valid packets", P(kKindSop, goodCrc), onlyErrors, false},
        {"No Errors off keeps invalid ones", with(P(kKindSop, goodCrc), kNoEop), onlyErrors, true},
        {"No Errors off keeps CRC errors", with(P(kKindSop, goodCrc), kBadCrc), onlyErrors, true},
        {"CRC error hidden by Invalid Packet off", with(P(kKindSop, goodCrc), kBadCrc),
         [](CFindCriteria& c) { c.invalidPacket = false; }, false},
        {"CRC Error off", with(P(kKindSop, goodCrc), kBadCrc), [](CFindCriteria& c) { c.crcError = false; },
         false},
        {"sink off", P(kKindSop, Hdr(1, 0, 2, false)), [](CFindCriteria& c) { c.sink = false; }, false},
        {"DFP off", P(kKindSop, Hdr(1, 0, 2, true, true)), [](CFindCriteria& c) { c.dfp = false; }, false},
        {"type off", P(kKindSop, goodCrc),
         [](CFindCriteria& c) { *TypeFlag(c, MessageFamily::Control, 1) = false; }, false},
        {"data code 13 passes with every type off", P(kKindSop, Hdr(13, 1)),
         [](CFindCriteria& c) { c.SetAllMessageTypes(false); }, true},
        {"data code 14 passes with every type off", P(kKindSop, Hdr(14, 1)),
         [](CFindCriteria& c) { c.SetAllMessageTypes(false); }, true},
    };
    for (const Case& k : cases) {
        CFindCriteria c(CFindCriteria::kDisplayFilter);
        c.displayFilterEnabled = true;
        k.setup(c);
        EXPECT_EQ(c.IsPacketShown(Make(k.packet), false), k.shown) << k.name;
        c.displayFilterEnabled = false;
        EXPECT_TRUE(c.IsPacketShown(Make(k.packet), false)) << k.name << " (filter disabled)";
    }
}

TEST(FindCriteria, FindTextAndHighlights) {
    CFindCriteria c(CFindCriteria::kFind);
    c.text = "ab";
    EXPECT_EQ(c.GetFindText(), "");
    EXPECT_TRUE(c.FindTextOccurrences("xabab").empty());
    c.enableText = true;
    EXPECT_EQ(c.GetFindText(), "ab");
    using Hits = std::vector<std::pair<size_t, size_t>>;
    EXPECT_EQ(c.FindTextOccurrences("xabAbab"), (Hits{{1, 2}, {5, 2}})); // exact case only
    c.text = "aa";
    EXPECT_EQ(c.FindTextOccurrences("aaaaa"), (Hits{{0, 2}, {2, 2}})); // no overlap
    c.text.clear();
    EXPECT_TRUE(c.FindTextOccurrences("anything").empty());
}

// Real traffic: messages encoded on the line and decoded by the store, then searched in list order.
TEST(FindCriteria, FindAndFilterDecodedTraffic) {
    traffic::Session s;
    traffic::Header caps;
    caps.type = 1;
    caps.source = true;
    s.Send(caps, {0x0801912C, 0x0002D0C8});
    traffic::Header ok;
    ok.type = 1;
    s.Send(ok);
    traffic::Header req;
    req.type = 2;
    enc::FrameOptions corrupt;
    corrupt.corruptCrc = true;
    req.objects = 1;
    s.Send(traffic::Bytes(req.Word(), {0x1304B02C}), kKindSop, corrupt);
    traffic::Header accept;
    accept.type = 3;
    accept.source = true;
    s.Send(accept);
    s.Send({}, kKindHardReset);
    CCaptureStore store;
    s.DecodeInto(store);
    ASSERT_EQ(store.PacketCount(), 5u);
    EXPECT_FALSE(IsInvalidPacket(*store.PacketAt(0)));
    EXPECT_TRUE(IsInvalidPacket(*store.PacketAt(2)));
    EXPECT_TRUE(HasCrcError(*store.PacketAt(2)));
    EXPECT_FALSE(IsInvalidPacket(*store.PacketAt(4)));

    const auto rowPacket = [&store](int32_t r) -> const CCCPacket* { return store.PacketAt(size_t(r)); };
    const int32_t rows = int32_t(store.PacketCount());
    CFindCriteria find(CFindCriteria::kFind);
    *TypeFlag(find, MessageFamily::Control, 3) = true; // Accept
    find.invalidPacket = true;
    EXPECT_EQ(find.FindRow(-1, true, rows, rowPacket, false), 2);
    EXPECT_EQ(find.FindRow(2, true, rows, rowPacket, false), 3);
    EXPECT_EQ(find.FindRow(3, true, rows, rowPacket, false), -1);
    EXPECT_EQ(find.FindRow(3, false, rows, rowPacket, false), 2);
    EXPECT_EQ(find.FindRow(-1, false, rows, rowPacket, false), -1)
        << "without a selection nothing lies before";
    EXPECT_EQ(find.FindMatchColumn(*store.PacketAt(2), false), kColumnCrc);

    find.enableText = true; // empty text: every packet matches, but row 0 is never examined first
    EXPECT_EQ(find.FindRow(-1, true, rows, rowPacket, false), 1);

    CFindCriteria filter(CFindCriteria::kDisplayFilter);
    filter.displayFilterEnabled = true;
    filter.hardReset = false;
    filter.noErrors = false;
    std::vector<int32_t> shown;
    for (size_t i = 0; i < store.PacketCount(); ++i)
        if (filter.IsPacketShown(*store.PacketAt(i), false)) shown.push_back(int32_t(i));
    EXPECT_EQ(shown, std::vector<int32_t>{2});
}
