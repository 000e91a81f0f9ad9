// The message table as its readers see it: the names the list shows find their rows again (the scenarios
// name messages that way), and every message plays from a scenario and decodes to its name.
#include "MessageTypes.h"

#include "CCPacket.h"
#include "PdObjects.h"
#include "device/SynthSupport.h"

#include <set>
#include <string>

namespace {

CCCPacket Message(MessageFamily family, int code, bool rev30) {
    CCCPacket p;
    p.kind = kKindSop;
    const int objects = family == MessageFamily::Control ? 0 : 1;
    const uint16_t header =
        uint16_t(code | (rev30 ? 2 : 1) << 6 | objects << 12 | (family == MessageFamily::Extended ? 0x8000 : 0));
    p.messageBytes[0] = uint8_t(header);
    p.messageBytes[1] = uint8_t(header >> 8);
    p.messageByteCount = 2 + 4 * objects;
    return p;
}

} // namespace

TEST(MessageTypes, ListNamesFindTheirRows) {
    for (const MessageTypeInfo& m : MessageTypes()) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(&MessageTypeInfoOf(m.id), &m);
        EXPECT_EQ(FindMessageType(m.family, m.code), &m);
        for (const bool rev30 : {false, true}) {
            // Extended messages exist from revision 3.0 on; four type bits reach codes up to 15 only.
            if (!rev30 && (m.family == MessageFamily::Extended || m.code > 15)) continue;
            const CCCPacket p = Message(m.family, m.code, rev30);
            EXPECT_EQ(FindPacketMessageType(p), &m);
            const std::string text = p.GetMessageTypeText();
            EXPECT_EQ(text, m.ListName(rev30));
            EXPECT_EQ(FindMessageTypeByName(text), &m) << text;
        }
    }
    EXPECT_EQ(FindMessageTypeByName("Ping (Deprecated)"), &MessageTypeInfoOf(MessageTypeId::Ping));
    // The field table's spelling is no list name.
    EXPECT_EQ(FindMessageTypeByName("Ping (Depricated)"), nullptr);
    EXPECT_EQ(FindMessageTypeByName("Unknown(13)"), nullptr);
    EXPECT_EQ(FindMessageTypeByName(""), nullptr);
    EXPECT_EQ(FindMessageType(MessageFamily::Data, 13), nullptr);
    EXPECT_EQ(FindMessageType(MessageFamily::Extended, 31), nullptr);
    EXPECT_EQ(FindMessageType(MessageFamily::Control, 32), nullptr);
    EXPECT_EQ(FindMessageType(MessageFamily::Control, -1), nullptr);
}

// A scenario that names every message of the table, one step each: each is built, sent, decoded as sent
// and listed under its name.
TEST(MessageTypes, EveryMessagePlaysFromItsName) {
    synth::Scenario s;
    s.seconds = 30;
    s.analog.attach = false;
    // Data messages need objects to be data messages: capabilities of the sender, and one for Enter_USB.
    s.source.sourceCaps = s.source.sinkCaps = {synth::FixedPdo(5000, 3000)};
    for (const MessageTypeInfo& m : MessageTypes()) {
        synth::Step step;
        step.message.name = m.name;
        step.message.from = synth::Actor::Source;
        if (m.id == MessageTypeId::EnterUsb) step.message.fields["objects"] = std::vector<int64_t>{0x20000000};
        s.steps.push_back(step);
    }
    std::string error;
    ASSERT_TRUE(synth::ValidateScenario(s, &error)) << error;

    const synthtest::Played played = synthtest::Play(s);
    CCaptureStore store;
    synthtest::Decode(played, store);
    synthtest::ExpectDecodedAsSent(store, played.sent);

    std::set<std::string> listed;
    for (size_t i = 0; i < store.PacketCount(); ++i)
        if (store.PacketAt(i)->crcGood) listed.insert(store.PacketAt(i)->GetMessageTypeText());
    for (const MessageTypeInfo& m : MessageTypes()) EXPECT_TRUE(listed.count(m.ListName(true))) << m.name;
}
