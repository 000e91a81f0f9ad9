// JSON scenarios: the documented schema played and decoded, named fields to their bits, and the errors.
#include "device/SynthSupport.h"

#include <cmath>

namespace {

synth::Scenario Parse(const std::string& text) {
    synth::Scenario s;
    std::string error;
    EXPECT_TRUE(synth::ScenarioFromJson(text, &s, &error)) << error;
    return s;
}

using synthtest::Decoded;
using synthtest::PlayAndDecode;

// Good messages other than GoodCRC, in order.
std::vector<const CCCPacket*> Messages(const CCaptureStore& s) {
    std::vector<const CCCPacket*> v;
    for (size_t i = 0; i < s.PacketCount(); ++i) {
        const CCCPacket* p = s.PacketAt(i);
        if (p->crcGood && IsMessageKind(p->kind) && p->GetMessageTypeText() != "GoodCRC") v.push_back(p);
    }
    return v;
}

std::string Bytes(const CCCPacket& p) {
    return synthtest::Hex(p.messageBytes, size_t(p.messageByteCount));
}

// The example of the README: a 1.5 A source with PPS, a revision 2.0 sink, the other orientation.
const char* kExample = R"({
  "name": "bench-supply",
  "seconds": 3,
  "orientation": "CC2",
  "source": {
    "revision": "3.0", "rp": "1.5A", "vid": "0x1A2B", "pid": "0x0002",
    "sourceCaps": [{"fixed": 5000, "mA": 3000, "flags": ["unconstrained"]},
                   {"fixed": 9000, "mA": 2000},
                   {"pps": [3300, 11000], "mA": 3000}]
  },
  "sink": {"revision": "2.0", "sinkCaps": [{"fixed": 5000, "mA": 900}]},
  "timing": {"goodCrcUs": [50, 60], "responseMs": 2},
  "analog": {"sampleIntervalMs": 5, "samplesPerBlock": 3, "attach": false,
             "load": [[500, 1000], [500, 2000]]},
  "steps": [
    {"message": "Source_Capabilities", "from": "source", "at": 100},
    {"message": "Request", "from": "sink", "position": 2, "mA": 1500},
    {"message": "Accept", "from": "source"},
    {"message": "PS_RDY", "from": "source"},
    {"wait": 500},
    {"raw": "4F 14 01 80 00 FF", "from": "source", "sop": "SOP'"},
    {"glitch": {"line": "other", "transitions": 10}},
    {"message": "Get_Sink_Cap", "from": "source", "error": "crc"},
    {"message": "Sink_Capabilities", "from": "sink"},
    {"repeat": {"times": 3, "everyMs": 200, "steps": [{"message": "Ping", "from": "source"}]}}
  ]
})";

} // namespace

TEST(ScenarioJson, TheReadmeExamplePlaysAsWritten) {
    const synth::Scenario s = Parse(kExample);
    EXPECT_EQ(s.name, "bench-supply");
    Decoded d = PlayAndDecode(s);
    const CCaptureStore& store = *d.store;
    synthtest::ExpectDecodedAsSent(store, d.played.sent);

    const auto m = Messages(store);
    ASSERT_EQ(m.size(), 13u);
    // Source_Capabilities at 100 ms sharp, from the named objects.
    EXPECT_EQ(m[0]->startTime, 100000);
    EXPECT_EQ(Bytes(*m[0]), "A1 31 2C 91 01 08 C8 D0 02 00 3C 21 DC C0");
    // The revision 2.0 sink answers at 2.0 and the source follows it from then on.
    EXPECT_EQ(Bytes(*m[1]), "42 10 96 58 02 22");
    EXPECT_EQ(Bytes(*m[2]), "63 03");
    EXPECT_EQ(Bytes(*m[3]), "66 05");
    // No cable: the raw SOP' message is sent, at revision 2.0 with three retries, and never answered.
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(m[size_t(i)]->kind, kKindSopPrime);
        EXPECT_EQ(Bytes(*m[size_t(i)]), "4F 14 01 80 00 FF");
    }
    EXPECT_EQ(m[8]->GetMessageTypeText(), "Get_Sink_Cap"); // the retry after the CRC error
    EXPECT_EQ(Bytes(*m[9]), "44 12 5A 90 01 00");
    for (int i = 10; i < 13; ++i) EXPECT_EQ(m[size_t(i)]->GetMessageTypeText(), "Ping");
    EXPECT_NEAR(double(m[11]->startTime - m[10]->startTime), 200000, 2);
    EXPECT_NEAR(double(m[12]->startTime - m[11]->startTime), 200000, 2);

    // The glitch on CC1, everything else on CC2.
    int glitches = 0;
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        EXPECT_EQ(p.channel, p.preambleFound ? 1 : 0) << i;
        glitches += p.preambleFound ? 0 : 1;
    }
    EXPECT_EQ(glitches, 1);
    // 5 ms samples from the start, 1.5 A advertisement, no VCONN, 9 V at the end under load.
    ASSERT_EQ(store.SampleCount(), 601u);
    EXPECT_EQ(store.SampleAt(1)->time, 5000);
    const CVbusInfo& last = *store.SampleAt(600);
    EXPECT_NEAR(last.cc2Voltage, 918, 10);
    EXPECT_EQ(last.cc1Voltage, 0);
    EXPECT_NEAR(last.vbusVoltage, 9000, 100);
    EXPECT_NEAR(std::abs(last.vbusCurrent), 1250, 300);
}

// Named fields land in the bits the message layouts define.
TEST(ScenarioJson, NamedFieldsMakeTheirDataObjects) {
    const synth::Scenario s = Parse(R"({
      "source": {"sourceCaps": [{"fixed": 5000, "mA": 3000}, {"fixed": 9000, "mA": 3000},
                                {"pps": [3300, 11000], "mA": 3000}]},
      "analog": {"attach": false},
      "steps": [
        {"message": "Source_Capabilities", "from": "source"},
        {"message": "Request", "from": "sink", "position": 3, "mV": 9000, "mA": 2000},
        {"message": "EPR_Mode", "from": "source", "action": "Enter Succeeded"},
        {"message": "Alert", "from": "source", "types": ["ocp", "battery"]},
        {"message": "Revision", "from": "source", "revision": "3.1", "version": "1.8"},
        {"message": "Source_Info", "from": "source", "portType": "managed", "maxPdp": 65, "presentPdp": 45,
         "reportedPdp": 30},
        {"message": "Vendor_Defined", "from": "ufp", "svid": "0xFF01", "command": "Attention", "hpd": 1, "irq": 1},
        {"message": "BIST", "from": "source", "mode": "test-data"},
        {"message": "Battery_Status", "from": "sink", "capacity": 300, "state": "discharging"},
        {"message": "Get_Country_Info", "from": "sink", "country": "DE"},
        {"message": "Sink_Capabilities", "from": "sink", "objects": ["0x0001912C", 123]},
        {"message": "Extended_Control", "from": "sink", "type": "EPR_Get_Sink_Cap"},
        {"message": "PPS_Status", "from": "source", "mV": 9000, "mA": 2000},
        {"message": "Manufacturer_Info", "from": "source", "text": "Bench"},
        {"message": "Status", "from": "source", "data": "01 02 03"}
      ]})");
    Decoded d = PlayAndDecode(s);
    synthtest::ExpectDecodedAsSent(*d.store, d.played.sent);
    const auto m = Messages(*d.store);
    struct Want {
        const char* type;
        std::vector<uint32_t> objects; // data objects; for extended messages the bytes after the headers
        const char* data;
    };
    const Want want[] = {
        {"Source_Capabilities", {0x0001912C, 0x0002D12C, 0xC0DC213C}, nullptr},
        {"Request", {0x32038428}, nullptr},
        {"EPR_Mode", {0x03000000}, nullptr},
        {"Alert", {0x06100000}, nullptr},
        {"Revision", {0x31180000}, nullptr},
        {"Source_Info", {0x00412D1E}, nullptr},
        {"Vendor_Defined", {0xFF01A106, 0x0000018A}, nullptr},
        {"BIST", {0x80000000}, nullptr},
        {"Battery_Status", {0x012C0600}, nullptr},
        {"Get_Country_Info", {0x44450000}, nullptr},
        {"Sink_Capabilities", {0x0001912C, 123}, nullptr},
        {"Extended_Control", {}, "02 00"},
        {"PPS_Status", {}, "C2 01 28 02"},
        {"Manufacturer_Info", {}, "00 00 00 00 42 65 6E 63 68"},
        {"Status", {}, "01 02 03"},
    };
    ASSERT_EQ(m.size(), std::size(want));
    for (size_t i = 0; i < m.size(); ++i) {
        SCOPED_TRACE(want[i].type);
        EXPECT_EQ(m[i]->GetMessageTypeText(), want[i].type);
        if (want[i].data) {
            const uint16_t x = m[i]->ExtendedHeader();
            const size_t size = x & 0x1FF;
            EXPECT_EQ(synthtest::Hex(m[i]->messageBytes + 4, size), want[i].data);
            // Padded to whole data objects.
            EXPECT_EQ(m[i]->DataObjectCount(), int((2 + size + 3) / 4));
        } else {
            ASSERT_EQ(m[i]->DataObjectCount(), int(want[i].objects.size()));
            for (size_t k = 0; k < want[i].objects.size(); ++k)
                EXPECT_EQ(m[i]->DataObject(int(k) + 1), want[i].objects[k]) << k;
        }
    }
}

TEST(ScenarioJson, ErrorsNameThePlaceInOneLine) {
    struct Case {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {R"({"steps": [)", "invalid JSON: parse error at line 1"},
        {"{\"seconds\": 1E400, \"steps\": []}", "invalid JSON: number overflow at line 1, column 13: '1E400'"},
        {"{\"steps\": [],\n \"seconds\": -2e999}", "invalid JSON: number overflow at line 2, column 13: '-2e999'"},
        {R"({"steps": [], "colour": 1})", "colour: unknown key"},
        {"{\"steps\": [], \"cable\": {\"curr\\nt\\u0001\": 5}}", "cable.curr\\nt\\x01: unknown key"},
        {R"({})", "missing \"steps\""},
        {R"({"seconds": "ten", "steps": []})", "seconds: expected a number"},
        {R"({"steps": [{"message": "Hello", "from": "source"}]})", "steps[0]: unknown message \"Hello\""},
        {R"({"steps": [{"message": "Request", "from": "sink", "volts": 5}]})",
         "steps[0]: Request: unknown field \"volts\""},
        {R"({"steps": [{"message": "Request", "from": "sink", "position": 16}]})",
         "steps[0]: Request: field \"position\": out of range"},
        {R"({"steps": [{"message": "EPR_Mode", "from": "sink", "action": "Entr"}]})",
         "steps[0]: EPR_Mode: field \"action\": \"Entr\" is none of"},
        {R"({"steps": [{"message": "Accept", "from": "charger"}]})", "steps[0].from: \"charger\" is none of"},
        {R"({"steps": [{"message": "Accept"}]})", "steps[0]: missing \"from\""},
        {R"({"steps": [{"wait": 5, "load": 100}]})", "steps[0]: a step has exactly one of"},
        {R"({"steps": [{"message": "Accept", "from": "source", "error": "loud"}]})",
         "steps[0].error: \"loud\""},
        {R"({"steps": [{"message": "Accept", "from": "cable", "sop": "SOP"}]})",
         "steps[0]: a cable plug does not"},
        {R"({"steps": [{"raw": "A1 6", "from": "source"}]})",
         "steps[0].raw: odd number of hexadecimal digits"},
        {R"({"steps": [{"raw": "A1 61", "from": "source", "position": 2}]})",
         "steps[0].position: raw messages"},
        {R"({"steps": [{"repeat": {"times": 2}}]})", "steps[0].repeat: missing \"steps\""},
        {R"({"steps": [{"wait": 1}, {"repeat": {"steps": [{"message": "Ping", "from": "source", "x": 1}]}}]})",
         "steps[1].steps[0]: Ping: unknown field \"x\""},
        {R"({"source": {"sourceCaps": [{"fixed": 5000, "volts": 1}]}, "steps": []})",
         "source.sourceCaps[0].volts: unknown key"},
        {R"({"source": {"sourceCaps": [{"fixed": 5000, "flags": ["fast"]}]}, "steps": []})",
         "source.sourceCaps[0].flags[0]: \"fast\" is none of"},
        {R"({"steps": [{"message": "Source_Capabilities", "from": "source", "pdos": [1,2,3,4,5,6,7,8]}]})",
         "steps[0]: Source_Capabilities: field \"pdos\": more than 7 entries"},
        {R"({"steps": [{"message": "Source_Capabilities", "from": "source", "objects": [1,2,3,4,5,6,7,8]}]})",
         "steps[0]: Source_Capabilities: field \"objects\": more than 7 entries"},
        {R"({"analog": {"samplesPerBlock": 4}, "steps": []})", "analog.samplesPerBlock: out of range"},
        {R"({"timing": {"responseMs": [3, 1]}, "steps": []})", "timing: every range needs"},
        {R"({"cable": {"currentA": 4}, "steps": []})", "cable.currentA: expected 3 or 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        synth::Scenario s;
        std::string error;
        EXPECT_FALSE(synth::ScenarioFromJson(c.json, &s, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}
