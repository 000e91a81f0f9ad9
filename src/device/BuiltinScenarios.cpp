// The named scenarios of `qxtool synth` and the emulated analyzer.
#include "CCPacket.h"
#include "PdObjects.h"
#include "Scenario.h"

#include <functional>
#include <initializer_list>

namespace synth {

namespace {

// Script helpers: each returns one step.
Step Msg(Actor from, const char* name, Fields fields = {}, double afterMs = -1) {
    Step s;
    s.message.name = name;
    s.message.from = from;
    s.message.fields = std::move(fields);
    s.afterMs = afterMs;
    return s;
}
Step On(Actor from, int32_t kind, const char* name, Fields fields = {}) {
    Step s = Msg(from, name, std::move(fields));
    s.message.kind = kind;
    return s;
}
Step Faulty(Step s, FrameError e) {
    s.message.error = e;
    return s;
}
Step WithUi(Step s, double ui) {
    s.message.unitInterval = ui;
    return s;
}
Step Wait(double ms) {
    Step s;
    s.type = Step::Type::Wait;
    s.waitMs = ms;
    return s;
}
Step Load(LoadProfile p) {
    Step s;
    s.type = Step::Type::Load;
    s.load = std::move(p);
    return s;
}
Step Glitch(GlitchStep::Line line, int transitions, double afterMs = -1) {
    Step s;
    s.type = Step::Type::Glitch;
    s.glitch.line = line;
    s.glitch.transitions = transitions;
    s.afterMs = afterMs;
    return s;
}
Step Repeat(int times, double everyMs, std::vector<Step> body) {
    Step s;
    s.type = Step::Type::Repeat;
    s.repeatTimes = times;
    s.everyMs = everyMs;
    s.body = std::move(body);
    return s;
}

void Add(std::vector<Step>& steps, std::initializer_list<Step> more) {
    steps.insert(steps.end(), more);
}

constexpr Actor kSource = Actor::Source, kSink = Actor::Sink, kDfp = Actor::Dfp, kUfp = Actor::Ufp;

// A Request with its Accept and the PS_RDY that follows the transition.
void Negotiate(std::vector<Step>& s, Fields request, const char* requestName = "Request") {
    Add(s, {Msg(kSink, requestName, std::move(request)), Msg(kSource, "Accept"), Msg(kSource, "PS_RDY")});
}

Fields Vdm(int svid, const char* command, const char* type, Fields more = {}) {
    more["svid"] = svid;
    more["command"] = command;
    more["commandType"] = type;
    return more;
}

// A pair of VDMs: the request and the responder's ACK.
void Ask(std::vector<Step>& s, Actor from, Actor to, int32_t kind, int svid, const char* command,
         Fields request = {}) {
    s.push_back(On(from, kind, "Vendor_Defined", Vdm(svid, command, "REQ", std::move(request))));
    s.push_back(On(to, kind, "Vendor_Defined", Vdm(svid, command, "ACK")));
}

Party Charger65() {
    Party p;
    p.rp = 2;
    p.unitInterval = 3.31;
    p.sourceCaps = {FixedPdo(5000, 3000, kPdoUnconstrained),
                    FixedPdo(9000, 3000),
                    FixedPdo(15000, 3000),
                    FixedPdo(20000, 3250),
                    PpsApdo(3300, 11000, 3000),
                    PpsApdo(3300, 21000, 3000)};
    p.vid = 0x1A2B;
    p.pid = 0x6501;
    p.manufacturer = "USB-C charger 65W";
    return p;
}

Party Laptop() {
    Party p;
    p.unitInterval = 3.36;
    p.sinkCaps = {
        FixedPdo(5000, 3000, kPdoDualRolePower | kPdoUsbSuspend | kPdoUsbCommunications | kPdoDualRoleData),
        FixedPdo(9000, 3000), FixedPdo(15000, 3000), FixedPdo(20000, 3250)};
    p.vid = 0x3C4D;
    p.pid = 0x1001;
    p.manufacturer = "Notebook 14";
    p.temperature = 41;
    return p;
}

Cable PassiveCable(int amps, int volts, bool epr) {
    Cable c;
    c.present = true;
    c.currentA = amps;
    c.maxVolts = volts;
    c.epr = epr;
    c.vid = 0x5E6F;
    c.pid = 0x0C51;
    c.vconnMa = 6;
    return c;
}

Scenario Base(const char* name, const char* description, double seconds) {
    Scenario s;
    s.name = name;
    s.description = description;
    s.seconds = seconds;
    s.source = Charger65();
    s.sink = Laptop();
    return s;
}

Scenario Spr() {
    Scenario s = Base("spr", "fixed-supply negotiation to 20 V, then a laptop load", 6);
    s.analog.load = {{1500, 1200}, {2000, 3000}, {1000, 2200}, {1500, 600}};
    auto& t = s.steps;
    // The sink's PD stack is not up yet: the first offer goes unanswered and is repeated.
    t.push_back(Faulty(Msg(kSource, "Source_Capabilities"), FrameError::NoReply));
    t.push_back(Msg(kSource, "Source_Capabilities", {}, 150));
    Negotiate(t, {{"position", 4}, {"mA", 3000}});
    Add(t, {Msg(kSource, "Get_Sink_Cap", {}, 40), Msg(kSink, "Sink_Capabilities")});
    return s;
}

Scenario Pps() {
    Scenario s =
        Base("pps", "PPS charging: periodic requests that creep the voltage up, PPS_Status reports", 40);
    s.sink.sinkCaps = {FixedPdo(5000, 3000, kPdoUsbCommunications), PpsApdo(3300, 11000, 3000)};
    s.sink.manufacturer = "Phone";
    s.analog.load = {{3000, 2900}, {3000, 2750}, {3000, 2600}, {3000, 2450}};
    auto& t = s.steps;
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 1}, {"mA", 2000}});
    Add(t, {Msg(kSink, "Get_Source_Cap_Extended", {}, 60), Msg(kSource, "Source_Capabilities_Extended")});
    Negotiate(t, {{"position", 5}, {"mV", 8000}, {"mA", 3000}});
    Add(t, {Msg(kSink, "Get_PPS_Status", {}, 200), Msg(kSource, "PPS_Status")});
    // A PPS sink has to request again within 10 s; this one does so every 3 s, stepping the voltage.
    std::vector<Step> loop;
    for (int mV : {8100, 8200, 8300, 8200}) {
        loop.push_back(Wait(3000));
        Negotiate(loop, {{"position", 5}, {"mV", mV}, {"mA", 3000}});
        Add(loop, {Msg(kSink, "Get_PPS_Status", {}, 50), Msg(kSource, "PPS_Status")});
    }
    t.push_back(Repeat(-1, 0, loop));
    return s;
}

Scenario Epr() {
    Scenario s =
        Base("epr", "EPR entry: EPR_Mode, chunked EPR_Source_Capabilities, 28 V then 48 V, keep-alives", 20);
    s.source.sourceCaps = {FixedPdo(5000, 3000, kPdoUnconstrained | kPdoEprCapable), FixedPdo(9000, 3000),
                           FixedPdo(15000, 3000), FixedPdo(20000, 5000), PpsApdo(3300, 21000, 5000)};
    s.source.eprSourceCaps = {FixedPdo(28000, 5000), FixedPdo(36000, 5000), FixedPdo(48000, 5000),
                              EprAvsApdo(15000, 48000, 240)};
    s.source.pdpW = 100;
    s.source.eprPdpW = 240;
    s.source.manufacturer = "USB-C charger 240W";
    s.sink.sinkCaps.back() = FixedPdo(20000, 5000);
    s.sink.eprSinkCaps = {FixedPdo(28000, 5000), FixedPdo(48000, 5000)};
    s.sink.eprPdpW = 240;
    s.cable = PassiveCable(5, 50, true);
    s.cable.revision = kRev30;
    s.analog.load = {{2000, 3500}, {1500, 4800}, {2500, 4200}};
    auto& t = s.steps;
    // A 5 A offer needs a 5 A cable: the source reads the e-marker first.
    Ask(t, kSource, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 4}, {"mA", 5000}, {"epr", 1}});
    Add(t, {Msg(kSink, "EPR_Mode", {{"action", "Enter"}}, 300),
            Msg(kSource, "EPR_Mode", {{"action", "Enter Acknowledged"}})});
    Ask(t, kSource, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    Add(t,
        {Msg(kSource, "EPR_Mode", {{"action", "Enter Succeeded"}}), Msg(kSource, "EPR_Source_Capabilities")});
    Negotiate(t, {{"position", 8}, {"mA", 5000}, {"epr", 1}}, "EPR_Request");
    auto keepAlive = [] {
        return std::vector<Step>{Msg(kSink, "Extended_Control", {{"type", "EPR_KeepAlive"}}),
                                 Msg(kSource, "Extended_Control", {{"type", "EPR_KeepAlive_Ack"}})};
    };
    t.push_back(Repeat(16, 350, keepAlive()));
    Negotiate(t, {{"position", 10}, {"mA", 5000}, {"epr", 1}}, "EPR_Request");
    t.push_back(Repeat(-1, 350, keepAlive()));
    return s;
}

Scenario Dock() {
    Scenario s =
        Base("dock", "a DisplayPort and TBT3 dock behind an active cable: discovery, DP entry, HPD", 12);
    s.orientation = 1;
    s.source.sourceCaps = {
        FixedPdo(5000, 3000, kPdoDualRolePower | kPdoUsbCommunications | kPdoDualRoleData)};
    s.source.manufacturer = "Notebook 14";
    s.source.vid = 0x3C4D;
    s.source.pid = 0x1001;
    Party& dock = s.sink;
    dock.sinkCaps = {FixedPdo(5000, 3000, kPdoUsbCommunications)};
    dock.vid = 0x7A81;
    dock.pid = 0x0D0C;
    dock.xid = 0x00001234;
    dock.manufacturer = "USB-C dock";
    // A hub with alternate modes, and its UFP VDO (USB 3.2, DP and TBT3 alternate modes).
    dock.identity = {(1u << 30) | (1u << 27) | (1u << 26) | (2u << 21) | dock.vid, dock.xid,
                     uint32_t(dock.pid) << 16 | 0x0102, (3u << 29) | (2u << 24) | (3u << 3) | 2u};
    dock.svids = {{kSvidDisplayPort, {0x000C0045u}}, {kSvidThunderbolt, {0x00000001u}}};
    s.cable = PassiveCable(3, 20, false);
    s.cable.active = true;
    s.cable.sopDoublePrime = true;
    s.cable.revision = kRev30;
    s.cable.vconnMa = 45;
    s.cable.svids = {{kSvidThunderbolt, {0x02430001u}}};
    s.analog.load = {{1000, 650}, {1500, 900}, {800, 500}};
    auto& t = s.steps;
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    Ask(t, kDfp, Actor::Cable, kKindSopDoublePrime, kSvidStandard, "Discover Identity");
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 1}, {"mA", 1500}});
    t.push_back(Wait(50));
    Ask(t, kDfp, kUfp, kKindSop, kSvidStandard, "Discover Identity");
    Ask(t, kDfp, kUfp, kKindSop, kSvidStandard, "Discover SVIDs");
    Ask(t, kDfp, kUfp, kKindSop, kSvidDisplayPort, "Discover Modes");
    Ask(t, kDfp, kUfp, kKindSop, kSvidThunderbolt, "Discover Modes");
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover SVIDs");
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidThunderbolt, "Discover Modes");
    Ask(t, kDfp, kUfp, kKindSop, kSvidDisplayPort, "Enter Mode");
    Ask(t, kDfp, kUfp, kKindSop, kSvidDisplayPort, "DisplayPort Status Update");
    Ask(t, kDfp, kUfp, kKindSop, kSvidDisplayPort, "DisplayPort Configure");
    t.push_back(Msg(kUfp, "Vendor_Defined", Vdm(kSvidDisplayPort, "Attention", "REQ"), 120));
    // The monitor asks for attention now and then (IRQ_HPD).
    t.push_back(Repeat(
        -1, 2500,
        {Wait(2000), Msg(kUfp, "Vendor_Defined", Vdm(kSvidDisplayPort, "Attention", "REQ", {{"irq", 1}}))}));
    return s;
}

Scenario Swap() {
    Scenario s = Base("swap", "two dual-role ports: DR_Swap, then PR_Swap; the current turns round", 8);
    s.source.sourceCaps = {FixedPdo(5000, 3000, kPdoDualRolePower | kPdoUsbCommunications | kPdoDualRoleData),
                           FixedPdo(9000, 2000)};
    s.source.sinkCaps = {FixedPdo(5000, 3000, kPdoDualRolePower | kPdoUsbCommunications | kPdoDualRoleData),
                         FixedPdo(9000, 3000), FixedPdo(15000, 3000), FixedPdo(20000, 3250)};
    s.source.vid = 0x3C4D;
    s.source.pid = 0x1001;
    s.source.manufacturer = "Notebook 14";
    s.sink.sourceCaps = {
        FixedPdo(5000, 3000,
                 kPdoDualRolePower | kPdoUsbCommunications | kPdoDualRoleData | kPdoUnconstrained),
        FixedPdo(9000, 3000), FixedPdo(15000, 3000), FixedPdo(20000, 3000)};
    s.sink.sinkCaps = {FixedPdo(5000, 3000, kPdoDualRolePower | kPdoUsbCommunications | kPdoDualRoleData),
                       FixedPdo(9000, 2000)};
    s.sink.rp = 2;
    s.sink.vid = 0x2468;
    s.sink.pid = 0x0B01;
    s.sink.manufacturer = "Power bank";
    s.analog.load = {{1000, 1500}, {1000, 1800}};
    auto& t = s.steps;
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 2}, {"mA", 1500}});
    // The power bank wants to be the host, then the supply.
    Add(t, {Msg(kSink, "DR_Swap", {}, 400), Msg(kSource, "Accept")});
    Add(t, {Msg(kSink, "PR_Swap", {}, 600), Msg(kSource, "Accept"), Msg(kSource, "PS_RDY"),
            Msg(kSink, "PS_RDY")});
    t.push_back(Msg(kSource, "Source_Capabilities", {}, 40));
    Negotiate(t, {{"position", 4}, {"mA", 3000}});
    Add(t, {Msg(kSource, "Get_Sink_Cap", {}, 300), Msg(kSink, "Sink_Capabilities")});
    t.push_back(Load({{1200, 2800}, {800, 3000}}));
    return s;
}

Scenario Reset() {
    Scenario s = Base("reset", "Soft_Reset, Hard Reset with VBUS dropping and coming back, Cable Reset", 10);
    s.cable = PassiveCable(5, 20, false);
    s.analog.load = {{1000, 2500}, {1000, 2000}};
    auto& t = s.steps;
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 4}, {"mA", 3000}});
    // A protocol error: the sink resets the protocol layers; the contract stays at 20 V.
    Add(t, {Msg(kSink, "Soft_Reset", {}, 1500), Msg(kSource, "Accept"), Msg(kSource, "Source_Capabilities")});
    Negotiate(t, {{"position", 4}, {"mA", 3000}});
    // The source gives up on the link: VBUS goes to 0 V and comes back at 5 V.
    t.push_back(Msg(kSource, "Hard Reset", {}, 1500));
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 4}, {"mA", 3000}});
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    t.push_back(Msg(kDfp, "Cable Reset", {}, 400));
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    // Now the sink resets the link, and settles for 15 V.
    t.push_back(Msg(kSink, "Hard Reset", {}, 900));
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 3}, {"mA", 3000}});
    return s;
}

Scenario Extended() {
    Scenario s = Base("extended",
                      "extended and status messages: capabilities, Status, Alert, battery, manufacturer, "
                      "revision, source info, BIST",
                      8);
    s.sink.manufacturer = "Notebook 14";
    s.analog.load = {{2000, 1800}, {2000, 2300}};
    auto& t = s.steps;
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 1}, {"mA", 3000}});
    // At vSafe5V the tester-side source puts the sink into BIST carrier mode for a moment.
    t.push_back(Msg(kSource, "BIST", {{"mode", "carrier"}, {"carrierMs", 45}}, 100));
    t.push_back(Msg(kSource, "Source_Capabilities", {}, 100));
    Negotiate(t, {{"position", 3}, {"mA", 3000}});
    Add(t, {Msg(kSink, "Get_Source_Cap_Extended", {}, 200), Msg(kSource, "Source_Capabilities_Extended")});
    Add(t, {Msg(kSource, "Get_Sink_Cap_Extended", {}, 100), Msg(kSink, "Sink_Capabilities_Extended")});
    Add(t, {Msg(kSink, "Get_Status", {}, 100), Msg(kSource, "Status")});
    Add(t,
        {Msg(kSource, "Alert", {{"types", "operating"}}, 400), Msg(kSink, "Get_Status"),
         Msg(kSource, "Status", {{"temperature", 62}, {"temperatureStatus", 0x04}, {"powerStatus", 0x20}})});
    Add(t, {Msg(kSource, "Get_Battery_Cap", {}, 200), Msg(kSink, "Battery_Capabilities")});
    Add(t, {Msg(kSource, "Get_Battery_Status"), Msg(kSink, "Battery_Status", {{"capacity", 312}})});
    Add(t, {Msg(kSink, "Get_Manufacturer_Info", {}, 200), Msg(kSource, "Manufacturer_Info")});
    Add(t, {Msg(kSink, "Get_Revision"), Msg(kSource, "Revision")});
    Add(t, {Msg(kSink, "Get_Source_Info"), Msg(kSource, "Source_Info")});
    Add(t, {Msg(kSink, "Get_Country_Codes"), Msg(kSource, "Not_Supported")});
    Add(t, {Msg(kSink, "Alert", {{"types", "battery"}}, 800), Msg(kSource, "Get_Battery_Status"),
            Msg(kSink, "Battery_Status", {{"capacity", 318}})});
    return s;
}

Scenario Noisy() {
    Scenario s =
        Base("noisy", "a bad link: glitches, truncated frames, CRC errors, unit intervals out of range", 6);
    s.orientation = 1;
    s.analog.load = {{700, 1400}, {900, 1900}};
    s.analog.noiseMv = 40;
    s.analog.noiseMa = 25;
    auto& t = s.steps;
    using L = GlitchStep::Line;
    t.push_back(Glitch(L::Other, 3, 30));
    t.push_back(Faulty(Msg(kSource, "Source_Capabilities"), FrameError::NoPreamble));
    t.push_back(Glitch(L::Active, 16, 2));
    t.push_back(Faulty(Msg(kSink, "Request", {{"position", 3}, {"mA", 2000}}), FrameError::BadCrc));
    // A sink whose clock runs slow and a source whose clock runs fast: still decoded, flagged.
    t.push_back(WithUi(Msg(kSource, "Accept"), 3.85));
    t.push_back(WithUi(Msg(kSource, "PS_RDY"), 2.90));
    t.push_back(Faulty(Msg(kSource, "Get_Sink_Cap", {}, 80), FrameError::Truncated));
    t.push_back(Msg(kSink, "Sink_Capabilities"));
    t.push_back(Repeat(-1, 700,
                       {Glitch(L::Other, 20, 150), Glitch(L::Active, 12), Glitch(L::Active, 2),
                        Faulty(Msg(kSink, "Get_Status", {}, 3), FrameError::BadCrc), Msg(kSource, "Status"),
                        Faulty(Msg(kSink, "Get_Source_Cap_Extended", {}, 100), FrameError::Truncated),
                        WithUi(Msg(kSource, "Source_Capabilities_Extended"), 3.80)}));
    return s;
}

Scenario Demo() {
    Scenario s = Base("demo",
                      "a tour: cable discovery, 9 V then 20 V, PPS, EPR at 28 V, alerts, errors, Cable Reset and "
                      "Hard Reset",
                      20);
    s.source.sourceCaps = {FixedPdo(5000, 3000, kPdoUnconstrained | kPdoEprCapable), FixedPdo(9000, 3000),
                           FixedPdo(15000, 3000), FixedPdo(20000, 5000), PpsApdo(3300, 21000, 5000)};
    s.source.eprSourceCaps = {FixedPdo(28000, 5000), EprAvsApdo(15000, 28000, 140)};
    s.source.manufacturer = "USB-C charger 140W";
    s.source.pdpW = 100;
    s.source.eprPdpW = 140;
    s.sink.sinkCaps.back() = FixedPdo(20000, 5000);
    s.sink.eprSinkCaps = {FixedPdo(28000, 5000)};
    s.sink.eprPdpW = 140;
    // EPR needs a 5 A cable rated for 50 V.
    s.cable = PassiveCable(5, 50, true);
    s.cable.revision = kRev30;
    s.analog.load = {{800, 500}, {1200, 2500}, {600, 1500}, {1400, 4200}, {1000, 900}};
    auto& t = s.steps;
    Ask(t, kSource, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    t.push_back(Msg(kSource, "Source_Capabilities"));
    // The laptop can take EPR and says so in every Request.
    Negotiate(t, {{"position", 2}, {"mA", 3000}, {"epr", 1}});
    Add(t, {Msg(kSink, "Get_Source_Cap_Extended", {}, 80), Msg(kSource, "Source_Capabilities_Extended")});
    Ask(t, kDfp, kUfp, kKindSop, kSvidStandard, "Discover Identity");
    t.push_back(Wait(1200));
    Negotiate(t, {{"position", 4}, {"mA", 5000}, {"epr", 1}});
    Add(t, {Msg(kSink, "Alert", {{"types", "battery"}}, 1500), Msg(kSource, "Get_Battery_Status"),
            Msg(kSink, "Battery_Status")});
    t.push_back(Glitch(GlitchStep::Line::Active, 14, 600));
    Add(t, {Faulty(Msg(kSink, "Get_Status"), FrameError::BadCrc), Msg(kSource, "Status")});
    t.push_back(Wait(1500));
    Negotiate(t, {{"position", 5}, {"mV", 15000}, {"mA", 4000}, {"epr", 1}});
    Add(t, {Msg(kSink, "Get_PPS_Status", {}, 500), WithUi(Msg(kSource, "PPS_Status"), 3.78)});
    Add(t, {Faulty(Msg(kSink, "Get_Revision", {}, 300), FrameError::Truncated), Msg(kSource, "Revision")});
    // More than 100 W: into EPR. The source reads the e-marker again before it agrees; its EPR
    // capabilities come in two chunks.
    Add(t, {Msg(kSink, "EPR_Mode", {{"action", "Enter"}}, 300),
            Msg(kSource, "EPR_Mode", {{"action", "Enter Acknowledged"}})});
    Ask(t, kSource, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    Add(t,
        {Msg(kSource, "EPR_Mode", {{"action", "Enter Succeeded"}}), Msg(kSource, "EPR_Source_Capabilities")});
    Negotiate(t, {{"position", 8}, {"mA", 5000}, {"epr", 1}}, "EPR_Request");
    t.push_back(Repeat(4, 350,
                       {Msg(kSink, "Extended_Control", {{"type", "EPR_KeepAlive"}}),
                        Msg(kSource, "Extended_Control", {{"type", "EPR_KeepAlive_Ack"}})}));
    // The keep-alives stop. A Cable Reset and a new look at the e-marker; with no keep-alive coming, the
    // source leaves EPR the hard way.
    t.push_back(Msg(kDfp, "Cable Reset", {}, 400));
    Ask(t, kDfp, Actor::Cable, kKindSopPrime, kSvidStandard, "Discover Identity");
    t.push_back(Msg(kSource, "Hard Reset", {}, 1500));
    t.push_back(Msg(kSource, "Source_Capabilities"));
    Negotiate(t, {{"position", 4}, {"mA", 5000}, {"epr", 1}});
    t.push_back(Repeat(-1, 5000, {Wait(4000), Msg(kSink, "Get_Status"), Msg(kSource, "Status")}));
    return s;
}

struct Entry {
    const char* name;
    Scenario (*make)();
};
constexpr Entry kBuiltins[] = {{"demo", Demo},   {"spr", Spr},           {"pps", Pps},
                               {"epr", Epr},     {"dock", Dock},         {"swap", Swap},
                               {"reset", Reset}, {"extended", Extended}, {"noisy", Noisy}};

} // namespace

std::vector<std::string> BuiltinScenarioNames() {
    std::vector<std::string> names;
    for (const Entry& e : kBuiltins) names.push_back(e.name);
    return names;
}

bool BuiltinScenario(const std::string& name, Scenario* out) {
    for (const Entry& e : kBuiltins)
        if (name == e.name) {
            *out = e.make();
            return true;
        }
    return false;
}

} // namespace synth
