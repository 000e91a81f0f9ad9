#include "MessageBuilder.h"

#include "PdConstants.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>
#include <set>

namespace synth {

namespace {

using enum MessageTypeId;

bool SameText(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (!end || *end) return false;
    *value = v;
    return true;
}

struct Choice {
    const char* name;
    int64_t value;
};

// Reads the fields one message type knows; anything else is an error.
class FieldReader {
public:
    FieldReader(const MessageStep& step, std::string* error) : step(step), error(error) {}

    void Allow(std::initializer_list<const char*> names) {
        for (const char* n : names) allowed.insert(n);
    }
    bool Has(const char* name) const { return step.fields.count(name) != 0; }

    int64_t Number(const char* name, int64_t fallback, int64_t lo = INT32_MIN, int64_t hi = INT32_MAX) {
        auto it = step.fields.find(name);
        if (it == step.fields.end()) return fallback;
        int64_t v = 0;
        if (it->second.kind == FieldValue::Kind::Number) {
            v = it->second.number;
        } else if (it->second.kind != FieldValue::Kind::Text || !ParseInteger(it->second.text, &v)) {
            Fail(name, "expected a number");
            return fallback;
        }
        if (v < lo || v > hi) {
            Fail(name, "out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
            return fallback;
        }
        return v;
    }

    std::string Text(const char* name, const std::string& fallback) {
        auto it = step.fields.find(name);
        if (it == step.fields.end()) return fallback;
        if (it->second.kind != FieldValue::Kind::Text) {
            Fail(name, "expected a text");
            return fallback;
        }
        return it->second.text;
    }

    // A number, or one of the names (case does not matter).
    int64_t Pick(const char* name, std::initializer_list<Choice> choices, int64_t fallback, int64_t lo = 0,
                 int64_t hi = INT32_MAX) {
        auto it = step.fields.find(name);
        if (it == step.fields.end()) return fallback;
        if (it->second.kind == FieldValue::Kind::Text) {
            int64_t v = 0;
            for (const Choice& c : choices)
                if (SameText(it->second.text, c.name)) return c.value;
            if (ParseInteger(it->second.text, &v)) return Number(name, fallback, lo, hi);
            std::string names;
            for (const Choice& c : choices) names += std::string(names.empty() ? "" : ", ") + c.name;
            Fail(name, "\"" + it->second.text + "\" is none of " + names);
            return fallback;
        }
        return Number(name, fallback, lo, hi);
    }

    std::vector<int64_t> List(const char* name, size_t maxSize, int64_t lo, int64_t hi) {
        auto it = step.fields.find(name);
        if (it == step.fields.end()) return {};
        if (it->second.kind != FieldValue::Kind::List) {
            Fail(name, "expected a list");
            return {};
        }
        const auto& l = it->second.list;
        if (l.size() > maxSize) {
            Fail(name, "more than " + std::to_string(maxSize) + " entries");
            return {};
        }
        for (int64_t v : l)
            if (v < lo || v > hi) {
                Fail(name, "entry out of range");
                return {};
            }
        return l;
    }

    std::vector<uint32_t> Objects(const char* name, size_t maxSize) {
        std::vector<uint32_t> out;
        for (int64_t v : List(name, maxSize, 0, 0xFFFFFFFFll)) out.push_back(uint32_t(v));
        return out;
    }

    void Fail(const char* name, const std::string& what) {
        if (ok) *error = std::string("field \"") + name + "\": " + what;
        ok = false;
    }

    bool Finish() {
        if (!ok) return false;
        for (const auto& [key, value] : step.fields)
            if (!allowed.count(key)) {
                *error = "unknown field \"" + key + "\"";
                return false;
            }
        return true;
    }

private:
    const MessageStep& step;
    std::string* error;
    std::set<std::string> allowed;
    bool ok = true;
};

void PutU16(std::vector<uint8_t>& d, uint32_t v) {
    d.push_back(uint8_t(v));
    d.push_back(uint8_t(v >> 8));
}
void PutU32(std::vector<uint8_t>& d, uint32_t v) {
    PutU16(d, v & 0xFFFF);
    PutU16(d, v >> 16);
}

// EPR capabilities: the SPR objects padded to seven, then the EPR objects.
std::vector<uint32_t> EprList(const std::vector<uint32_t>& spr, const std::vector<uint32_t>& epr) {
    std::vector<uint32_t> all(spr.begin(), spr.begin() + std::ptrdiff_t(std::min<size_t>(spr.size(), 7)));
    all.resize(7, 0);
    all.insert(all.end(), epr.begin(), epr.end());
    return all;
}

std::vector<uint32_t> PackSvids(const std::vector<Svid>& svids) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < svids.size(); i += 2) {
        uint32_t o = uint32_t(svids[i].svid) << 16;
        if (i + 1 < svids.size()) o |= svids[i + 1].svid;
        out.push_back(o);
    }
    // A list that fills its last object ends with an empty one.
    if (svids.size() % 2 == 0) out.push_back(0);
    return out;
}

const Svid* FindSvid(const std::vector<Svid>& svids, uint16_t svid) {
    for (const Svid& s : svids)
        if (s.svid == svid) return &s;
    return nullptr;
}

uint32_t RequestFlags(FieldReader& r) {
    uint32_t f = 0;
    if (r.Number("giveBack", 0, 0, 1)) f |= kRdoGiveBack;
    if (r.Number("mismatch", 0, 0, 1)) f |= kRdoCapabilityMismatch;
    if (r.Number("usbComm", 1, 0, 1)) f |= kRdoUsbCommunications;
    if (r.Number("noSuspend", 0, 0, 1)) f |= kRdoNoUsbSuspend;
    if (r.Number("unchunked", 0, 0, 1)) f |= kRdoUnchunked;
    if (r.Number("epr", 0, 0, 1)) f |= kRdoEprCapable;
    return f;
}

uint32_t BuildRdo(FieldReader& r, const std::vector<uint32_t>& caps, MessageBody* body) {
    r.Allow({"position", "mA", "maxMa", "mV", "mW", "maxMw", "giveBack", "mismatch", "usbComm", "noSuspend",
             "unchunked", "epr"});
    const int position = int(r.Number("position", 1, 1, 15));
    const uint32_t flags = RequestFlags(r);
    const uint32_t pdo = size_t(position) <= caps.size() ? caps[size_t(position) - 1] : 0;
    PdoInfo info = DescribePdo(pdo);
    if (info.kind == PdoKind::None) info = {PdoKind::Fixed, 5000, 5000, 900, 0};
    body->selectedPdo = pdo;
    body->targetMv = info.maxMv;
    switch (info.kind) {
    case PdoKind::Battery: {
        const int32_t mW = int32_t(r.Number("mW", info.maxMw, 0, 255750));
        const int32_t limit = int32_t(r.Number("maxMw", mW, 0, 255750));
        body->operatingMa = info.maxMv > 0 ? int32_t(int64_t(mW) * 1000 / info.maxMv) : 0;
        return BatteryRdo(position, mW, limit, flags);
    }
    case PdoKind::Pps:
    case PdoKind::EprAvs:
    case PdoKind::SprAvs: {
        const int32_t mV = int32_t(r.Number("mV", std::max(info.minMv, 5000), 0, 100000));
        const int32_t mA = int32_t(r.Number("mA", info.maxMa, 0, 6350));
        body->targetMv = mV;
        body->operatingMa = mA;
        return info.kind == PdoKind::Pps ? PpsRdo(position, mV, mA, flags) : AvsRdo(position, mV, mA, flags);
    }
    case PdoKind::UnknownApdo:
        body->operatingMa = 0;
        return uint32_t(position & 0xF) << 28;
    default: {
        const int32_t mA = int32_t(r.Number("mA", info.maxMa, 0, 10230));
        const int32_t limit = int32_t(r.Number("maxMa", mA, 0, 10230));
        body->operatingMa = mA;
        return FixedRdo(position, mA, limit, flags);
    }
    }
}

bool BuildData(const MessageTypeInfo& t, FieldReader& r, const BuildContext& c, MessageBody* body) {
    const Party empty;
    const Party& p = c.party ? *c.party : empty;
    auto& o = body->objects;
    switch (t.id) {
    case SourceCapabilities:
        r.Allow({"pdos"});
        o = r.Has("pdos") ? r.Objects("pdos", 7) : p.sourceCaps;
        break;
    case SinkCapabilities:
        r.Allow({"pdos"});
        o = r.Has("pdos") ? r.Objects("pdos", 7) : p.sinkCaps;
        break;
    case Request:
        o = {BuildRdo(r, c.sourceCaps ? *c.sourceCaps : p.sourceCaps, body)};
        break;
    case EprRequest: { // the RDO and a copy of the object it selects
        const std::vector<uint32_t> own = EprList(p.sourceCaps, p.eprSourceCaps);
        const uint32_t rdo = BuildRdo(r, c.eprCaps ? *c.eprCaps : own, body);
        o = {rdo, body->selectedPdo};
        break;
    }
    case Bist: {
        r.Allow({"mode", "carrierMs", "testData"});
        const int64_t mode = r.Pick(
            "mode", {{"carrier", 5}, {"test-data", 8}, {"shared-entry", 9}, {"shared-exit", 10}}, 5, 0, 15);
        o = {uint32_t(mode) << 28};
        const auto extra = r.Objects("testData", 6);
        o.insert(o.end(), extra.begin(), extra.end());
        if (mode == 5) body->carrierMs = double(r.Number("carrierMs", 45, 1, 60));
        break;
    }
    case BatteryStatus: {
        r.Allow({"capacity", "state", "present"});
        const int64_t capacity = r.Number("capacity", 420, 0, 0xFFFF); // 0.1 Wh
        const int64_t state = r.Pick("state", {{"charging", 0}, {"discharging", 1}, {"idle", 2}}, 0, 0, 3);
        const int64_t present = r.Number("present", 1, 0, 1);
        o = {uint32_t(capacity) << 16 | uint32_t(state) << 10 | uint32_t(present) << 9};
        break;
    }
    case Alert: {
        r.Allow({"types", "fixedBatteries", "hotSwappableBatteries", "extendedType"});
        uint32_t bits = 0;
        std::string types = r.Text("types", "battery");
        size_t start = 0;
        while (start <= types.size()) {
            size_t comma = types.find(',', start);
            if (comma == std::string::npos) comma = types.size();
            std::string name = types.substr(start, comma - start);
            name.erase(0, name.find_first_not_of(' '));
            name.erase(name.find_last_not_of(' ') + 1);
            static constexpr Choice kAlerts[] = {{"battery", 25},   {"ocp", 26},   {"otp", 27},
                                                 {"operating", 28}, {"input", 29}, {"ovp", 30},
                                                 {"extended", 31}};
            bool found = name.empty();
            for (const Choice& a : kAlerts)
                if (SameText(name, a.name)) {
                    bits |= 1u << a.value;
                    found = true;
                }
            if (!found)
                r.Fail("types",
                       "\"" + name + "\" is none of battery, ocp, otp, operating, input, ovp, extended");
            start = comma + 1;
        }
        bits |= uint32_t(r.Number("fixedBatteries", (bits >> 25) & 1, 0, 15)) << 20;
        bits |= uint32_t(r.Number("hotSwappableBatteries", 0, 0, 15)) << 16;
        bits |= uint32_t(r.Number("extendedType", 0, 0, 15));
        o = {bits};
        break;
    }
    case GetCountryInfo: {
        r.Allow({"country"});
        const std::string cc = r.Text("country", "US");
        if (cc.size() != 2) r.Fail("country", "expected two letters");
        o = {cc.size() == 2 ? uint32_t(uint8_t(cc[0])) << 24 | uint32_t(uint8_t(cc[1])) << 16 : 0};
        break;
    }
    case EprMode: {
        r.Allow({"action", "data"});
        const int64_t action = r.Pick("action",
                                      {{"Enter", 1},
                                       {"Enter Acknowledged", 2},
                                       {"Enter Succeeded", 3},
                                       {"Enter Failed", 4},
                                       {"Exit", 5}},
                                      1, 0, 255);
        const int64_t pdp = p.eprPdpW ? p.eprPdpW : 140;
        const int64_t data = r.Number("data", action == 1 ? pdp : 0, 0, 255);
        o = {uint32_t(action) << 24 | uint32_t(data) << 16};
        break;
    }
    case SourceInfo: {
        r.Allow({"portType", "maxPdp", "presentPdp", "reportedPdp"});
        const int64_t pdp = p.pdpW ? p.pdpW : CapabilitiesPdp(p.sourceCaps);
        const int64_t type = r.Pick("portType", {{"managed", 0}, {"guaranteed", 1}}, 1, 0, 1);
        const int64_t maxPdp = r.Number("maxPdp", pdp, 0, 255);
        const int64_t present = r.Number("presentPdp", maxPdp, 0, 255);
        const int64_t reported = r.Number("reportedPdp", present, 0, 255);
        o = {uint32_t(type) << 31 | uint32_t(maxPdp) << 16 | uint32_t(present) << 8 | uint32_t(reported)};
        break;
    }
    case Revision: {
        r.Allow({"revision", "version"});
        auto twoDigits = [&](const char* name, const char* fallback) -> uint32_t {
            const std::string v = r.Text(name, fallback);
            if (v.size() != 3 || v[1] != '.' || !std::isdigit(uint8_t(v[0])) ||
                !std::isdigit(uint8_t(v[2]))) {
                r.Fail(name, "expected a text like \"3.1\"");
                return 0;
            }
            return uint32_t(v[0] - '0') << 4 | uint32_t(v[2] - '0');
        };
        const uint32_t rev = twoDigits("revision", "3.1");
        const uint32_t ver = twoDigits("version", "1.8");
        o = {rev << 24 | ver << 16};
        break;
    }
    case VendorDefined: {
        r.Allow({"svid", "command", "commandType", "position", "version", "vdos", "unstructured",
                 "vendorData", "hpd", "irq"});
        const uint16_t svid = uint16_t(r.Number("svid", kSvidStandard, 0, 0xFFFF));
        if (r.Number("unstructured", 0, 0, 1)) {
            o = {uint32_t(svid) << 16 | uint32_t(r.Number("vendorData", 0, 0, 0x7FFF))};
            const auto vdos = r.Objects("vdos", 6);
            o.insert(o.end(), vdos.begin(), vdos.end());
            break;
        }
        const int command = int(r.Pick("command",
                                       {{"Discover Identity", 1},
                                        {"Discover SVIDs", 2},
                                        {"Discover Modes", 3},
                                        {"Enter Mode", 4},
                                        {"Exit Mode", 5},
                                        {"Attention", 6},
                                        {"DisplayPort Status Update", 16},
                                        {"DisplayPort Configure", 17}},
                                       1, 0, 31));
        const int type =
            int(r.Pick("commandType", {{"REQ", 0}, {"ACK", 1}, {"NAK", 2}, {"BUSY", 3}}, 0, 0, 3));
        const bool modal = command >= kEnterMode;
        const int position = int(r.Number("position", modal ? 1 : 0, 0, 7));
        int major = c.revision >= kRev30 ? 1 : 0, minor = 0;
        if (r.Has("version")) {
            const int64_t v = r.Pick("version", {{"1.0", 0}, {"2.0", 1}, {"2.1", 2}}, 1, 0, 2);
            major = v == 0 ? 0 : 1;
            minor = v == 2 ? 1 : 0;
        }
        o = {VdmHeader(svid, command, type, position, major, minor)};
        std::vector<uint32_t> vdos;
        if (r.Has("vdos")) {
            vdos = r.Objects("vdos", 6);
        } else if (type == kVdmAck) {
            const std::vector<Svid>& svids = c.cable ? c.cable->svids : p.svids;
            if (command == kDiscoverIdentity) {
                vdos = c.cable ? CableIdentity(*c.cable) : PartyIdentity(p);
            } else if (command == kDiscoverSvids) {
                vdos = PackSvids(svids);
            } else if (command == kDiscoverModes) {
                if (const Svid* s = FindSvid(svids, svid)) vdos = s->modes;
            } else if (command == kDpStatusUpdate && svid == kSvidDisplayPort) {
                vdos = {0x0000009Au}; // UFP_D connected, enabled, HPD high
            }
        } else if (type == kVdmReq && svid == kSvidDisplayPort) {
            const uint32_t hpd = uint32_t(r.Number("hpd", 1, 0, 1)), irq = uint32_t(r.Number("irq", 0, 0, 1));
            if (command == kDpStatusUpdate) vdos = {0x00000001u}; // DFP_D connected
            if (command == kDpConfigure) vdos = {0x00000406u};    // UFP_U as UFP_D, pin assignment C
            if (command == kAttention) vdos = {0x0000000Au | hpd << 7 | irq << 8};
        }
        if (vdos.size() > 6) vdos.resize(6);
        o.insert(o.end(), vdos.begin(), vdos.end());
        break;
    }
    default:
        r.Allow({"objects"});
        break;
    }
    return true;
}

bool BuildExtended(const MessageTypeInfo& t, FieldReader& r, const BuildContext& c, MessageBody* body) {
    const Party empty;
    const Party& p = c.party ? *c.party : empty;
    auto& d = body->data;
    switch (t.id) {
    case SourceCapabilitiesExtended: {
        r.Allow({"pdpW", "eprPdpW"});
        PutU16(d, p.vid);
        PutU16(d, p.pid);
        PutU32(d, p.xid);
        d.insert(d.end(), {1, 1, 0, 3, 0, 0}); // FW, HW, load step, holdup 3 ms, compliance, touch current
        d.insert(d.end(), 6, 0);               // peak currents
        d.insert(d.end(), {0, 0x01, 0});       // touch temp, external supply, no batteries
        d.push_back(uint8_t(r.Number("pdpW", p.pdpW ? p.pdpW : CapabilitiesPdp(p.sourceCaps), 0, 127)));
        d.push_back(uint8_t(r.Number("eprPdpW", p.eprPdpW, 0, 255)));
        break;
    }
    case SinkCapabilitiesExtended: {
        r.Allow({"pdpW", "eprPdpW"});
        const int pdp = int(r.Number("pdpW", p.pdpW ? p.pdpW : CapabilitiesPdp(p.sinkCaps), 0, 127));
        const int epr = int(r.Number("eprPdpW", p.eprPdpW, 0, 255));
        PutU16(d, p.vid);
        PutU16(d, p.pid);
        PutU32(d, p.xid);
        d.insert(d.end(), {1, 1, 1, 0, 0, 0, 0, 0, 0, 0x0B}); // FW, HW, SKEDB 1.0, load, ..., modes
        d.insert(d.end(), {uint8_t(pdp / 4), uint8_t(pdp * 3 / 4), uint8_t(pdp)});
        d.insert(d.end(), {uint8_t(epr / 4), uint8_t(epr * 3 / 4), uint8_t(epr)});
        break;
    }
    case Status: {
        r.Allow({"temperature", "presentInput", "batteryInput", "eventFlags", "temperatureStatus",
                 "powerStatus", "powerState"});
        d.push_back(uint8_t(r.Number("temperature", p.temperature, 0, 255)));
        d.push_back(uint8_t(r.Number("presentInput", 0x06, 0, 255))); // external power, AC
        d.push_back(uint8_t(r.Number("batteryInput", 0, 0, 255)));
        d.push_back(uint8_t(r.Number("eventFlags", 0, 0, 255)));
        d.push_back(uint8_t(r.Number("temperatureStatus", 0x02, 0, 255))); // normal
        d.push_back(uint8_t(r.Number("powerStatus", 0, 0, 255)));
        d.push_back(uint8_t(r.Number("powerState", 0x09, 0, 255))); // S0, LED on
        break;
    }
    case GetBatteryCap:
    case GetBatteryStatus:
        r.Allow({"battery"});
        d.push_back(uint8_t(r.Number("battery", 0, 0, 7)));
        break;
    case BatteryCapabilities:
        r.Allow({"designCapacity", "fullCapacity"});
        PutU16(d, p.vid);
        PutU16(d, p.pid);
        PutU16(d, uint32_t(r.Number("designCapacity", 500, 0, 0xFFFF))); // 0.1 Wh
        PutU16(d, uint32_t(r.Number("fullCapacity", 468, 0, 0xFFFF)));
        d.push_back(0);
        break;
    case GetManufacturerInfo:
        r.Allow({"target", "ref"});
        d.push_back(uint8_t(r.Pick("target", {{"port", 0}, {"battery", 1}}, 0, 0, 255)));
        d.push_back(uint8_t(r.Number("ref", 0, 0, 255)));
        break;
    case ManufacturerInfo: {
        r.Allow({"text"});
        std::string text = r.Text("text", p.manufacturer.empty() ? "PD device" : p.manufacturer);
        if (text.size() > 22) r.Fail("text", "longer than 22 characters");
        text.resize(std::min<size_t>(text.size(), 22));
        PutU16(d, c.cable ? c.cable->vid : p.vid);
        PutU16(d, c.cable ? c.cable->pid : p.pid);
        d.insert(d.end(), text.begin(), text.end());
        break;
    }
    case PpsStatus: { // what the output does right now
        r.Allow({"mV", "mA", "flags"});
        PutU16(d, uint32_t(r.Number("mV", c.vbusMv, 0, 1310700) / 20));
        d.push_back(uint8_t(
            std::min<int64_t>(r.Number("mA", c.vbusMa < 0 ? -c.vbusMa : c.vbusMa, 0, 12750) / 50, 254)));
        d.push_back(uint8_t(r.Number("flags", 0x02, 0, 255))); // PTF normal
        break;
    }
    case ExtendedControl: {
        r.Allow({"type", "data"});
        d.push_back(uint8_t(r.Pick("type",
                                   {{"EPR_Get_Source_Cap", 1},
                                    {"EPR_Get_Sink_Cap", 2},
                                    {"EPR_KeepAlive", 3},
                                    {"EPR_KeepAlive_Ack", 4}},
                                   3, 0, 255)));
        d.push_back(uint8_t(r.Number("data", 0, 0, 255)));
        break;
    }
    case EprSourceCapabilities:
    case EprSinkCapabilities: {
        r.Allow({"pdos"});
        std::vector<uint32_t> objects;
        if (r.Has("pdos"))
            objects = r.Objects("pdos", 13);
        else
            objects =
                t.id == EprSourceCapabilities ? EprList(p.sourceCaps, p.eprSourceCaps) : EprList(p.sinkCaps, p.eprSinkCaps);
        for (uint32_t obj : objects) PutU32(d, obj);
        break;
    }
    default:
        break;
    }
    return true;
}

} // namespace

int CapabilitiesPdp(const std::vector<uint32_t>& caps) {
    int64_t best = 0;
    for (uint32_t pdo : caps) {
        const PdoInfo i = DescribePdo(pdo);
        best = std::max<int64_t>(best, i.maxMw ? i.maxMw : int64_t(i.maxMv) * i.maxMa / 1000);
    }
    return int(std::min<int64_t>(best / 1000, 127));
}

std::vector<uint32_t> PartyIdentity(const Party& p) {
    if (!p.identity.empty()) return p.identity;
    // A USB peripheral behind a receptacle; modal when it has alternate modes.
    const uint32_t header = (1u << 30) | (2u << 27) | (p.svids.empty() ? 0 : 1u << 26) | (2u << 21) | p.vid;
    return {header, p.xid, uint32_t(p.pid) << 16 | 0x0100};
}

std::vector<uint32_t> CableIdentity(const Cable& c) {
    if (!c.identity.empty()) return c.identity;
    const uint32_t header =
        (uint32_t(c.active ? 4 : 3) << 27) | (c.svids.empty() ? 0 : 1u << 26) | (3u << 21) | c.vid;
    const uint32_t maxV = c.maxVolts >= 50 ? 3 : c.maxVolts >= 40 ? 2 : c.maxVolts >= 30 ? 1 : 0;
    uint32_t vdo = (1u << 28) | (1u << 24) | (2u << 18) | (c.epr ? 1u << 17 : 0) | (1u << 13) | (maxV << 9) |
                   (uint32_t(c.currentA >= 5 ? 2 : 1) << 5);
    if (!c.active) return {header, 0, uint32_t(c.pid) << 16 | 0x0100, vdo | 2};
    // Active: VDO version 1.3, both ends active, VBUS through the cable, USB4 Gen3; then the second VDO.
    vdo |= (3u << 21) | (3u << 11) | (1u << 4) | (c.sopDoublePrime ? 1u << 3 : 0) | 3;
    const uint32_t vdo2 = (70u << 24) | (85u << 16) | (1u << 3) | 1u;
    return {header, 0, uint32_t(c.pid) << 16 | 0x0100, vdo, vdo2};
}

bool BuildMessage(const MessageStep& step, const BuildContext& c, MessageBody* body, std::string* error) {
    *body = MessageBody{};
    const MessageTypeInfo* t = FindMessageTypeByName(step.name);
    if (!t) {
        *error = "unknown message \"" + step.name + "\"";
        return false;
    }
    body->type = t;
    std::string reason;
    FieldReader r(step, &reason);
    if (t->family == MessageFamily::Data) {
        BuildData(*t, r, c, body);
        if (r.Has("objects")) {
            r.Allow({"objects"});
            body->objects = r.Objects("objects", 7);
        }
        if (body->objects.size() > 7) r.Fail("objects", "more than 7 data objects");
    } else if (t->family == MessageFamily::Extended) {
        BuildExtended(*t, r, c, body);
        r.Allow({"data"});
        if (r.Has("data")) {
            body->data.clear();
            for (int64_t v : r.List("data", kMaxExtendedDataBytes, 0, 255)) body->data.push_back(uint8_t(v));
        }
        if (body->data.size() > size_t(kMaxExtendedDataBytes)) r.Fail("data", "more than 260 bytes");
    }
    if (!r.Finish()) {
        *error = step.name + ": " + reason;
        return false;
    }
    return true;
}

} // namespace synth
