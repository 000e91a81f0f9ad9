// Scenarios from JSON. The schema is documented in the README ("Scenarios"); every error names the place
// in the document, as in "steps[2].mA: expected a number".
#include "CCPacket.h"
#include "PdObjects.h"
#include "Scenario.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

namespace synth {

namespace {

using nlohmann::json;

struct JsonError {
    std::string text;
};

// Keys and texts from the file may hold any character: an error stays one line, with control
// characters written as escapes.
std::string OneLine(const std::string& text) {
    std::string line;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c != 0x7F) {
            line += char(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02X", c);
            line += escape;
        }
    }
    return line;
}

[[noreturn]] void Throw(const std::string& where, const std::string& what) {
    throw JsonError{OneLine(where.empty() ? what : where + ": " + what)};
}

std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}
std::string Index(const std::string& path, size_t i) {
    return path + "[" + std::to_string(i) + "]";
}

void OnlyKeys(const json& j, const std::string& path, std::initializer_list<const char*> keys) {
    if (!j.is_object()) Throw(path, "expected an object");
    for (const auto& [k, v] : j.items()) {
        bool known = false;
        for (const char* name : keys) known = known || k == name;
        if (!known) Throw(Join(path, k), "unknown key");
    }
}

bool ParseHex(const std::string& s, int64_t* v) {
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
    char* end = nullptr;
    const long long x = std::strtoll(s.c_str() + 2, &end, 16);
    if (!end || *end) return false;
    *v = x;
    return true;
}

int64_t Integer(const json& j, const std::string& path, int64_t lo, int64_t hi) {
    int64_t v = 0;
    if (j.is_number_integer()) {
        v = j.get<int64_t>();
    } else if (j.is_number_float() && std::floor(j.get<double>()) == j.get<double>() &&
               std::abs(j.get<double>()) < 9e15) {
        v = int64_t(j.get<double>());
    } else if (j.is_boolean()) {
        v = j.get<bool>() ? 1 : 0;
    } else if (!j.is_string() || !ParseHex(j.get<std::string>(), &v)) {
        Throw(path, "expected an integer (or a hexadecimal text like \"0x1A2B\")");
    }
    if (v < lo || v > hi)
        Throw(path, "out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return v;
}

double Real(const json& j, const std::string& path, double lo, double hi) {
    if (!j.is_number()) Throw(path, "expected a number");
    const double v = j.get<double>();
    if (!(v >= lo && v <= hi)) Throw(path, "out of range");
    return v;
}

bool Flag(const json& j, const std::string& path) {
    if (!j.is_boolean()) Throw(path, "expected true or false");
    return j.get<bool>();
}

std::string Text(const json& j, const std::string& path) {
    if (!j.is_string()) Throw(path, "expected a text");
    return j.get<std::string>();
}

// A [min, max] pair, or one number for both.
void Range(const json& j, const std::string& path, double* lo, double* hi) {
    if (j.is_number()) {
        *lo = *hi = Real(j, path, 0, 1e7);
        return;
    }
    if (!j.is_array() || j.size() != 2) Throw(path, "expected a number or [min, max]");
    *lo = Real(j[0], Index(path, 0), 0, 1e7);
    *hi = Real(j[1], Index(path, 1), 0, 1e7);
}

int Revision(const json& j, const std::string& path) {
    const std::string v = Text(j, path);
    if (v == "2.0") return kRev20;
    if (v == "3.0" || v == "3.1" || v == "3.2") return kRev30;
    Throw(path, "expected \"2.0\", \"3.0\", \"3.1\" or \"3.2\"");
}

uint32_t Pdo(const json& j, const std::string& path) {
    if (!j.is_object()) return uint32_t(Integer(j, path, 0, 0xFFFFFFFFll));
    auto pair = [&](const char* key) {
        const json& v = j.at(key);
        if (!v.is_array() || v.size() != 2) Throw(Join(path, key), "expected [min mV, max mV]");
        return std::pair<int32_t, int32_t>(int32_t(Integer(v[0], Index(Join(path, key), 0), 0, 100000)),
                                           int32_t(Integer(v[1], Index(Join(path, key), 1), 0, 100000)));
    };
    auto num = [&](const char* key, int64_t fallback, int64_t hi) {
        return j.contains(key) ? int32_t(Integer(j.at(key), Join(path, key), 0, hi)) : int32_t(fallback);
    };
    if (j.contains("fixed")) {
        OnlyKeys(j, path, {"fixed", "mA", "flags"});
        uint32_t flags = 0;
        if (j.contains("flags")) {
            const json& f = j.at("flags");
            if (!f.is_array()) Throw(Join(path, "flags"), "expected a list of names");
            for (size_t i = 0; i < f.size(); ++i) {
                const std::string n = Text(f[i], Index(Join(path, "flags"), i));
                static const std::pair<const char*, uint32_t> kFlags[] = {
                    {"drp", kPdoDualRolePower},           {"suspend", kPdoUsbSuspend},
                    {"higherCapability", kPdoUsbSuspend}, {"unconstrained", kPdoUnconstrained},
                    {"usbComm", kPdoUsbCommunications},   {"drd", kPdoDualRoleData},
                    {"unchunked", kPdoUnchunked},         {"epr", kPdoEprCapable}};
                bool found = false;
                for (const auto& [name, bit] : kFlags)
                    if (n == name) {
                        flags |= bit;
                        found = true;
                    }
                if (!found)
                    Throw(Index(Join(path, "flags"), i),
                          "\"" + n +
                              "\" is none of drp, suspend, higherCapability, unconstrained, usbComm, drd, "
                              "unchunked, epr");
            }
        }
        return FixedPdo(int32_t(Integer(j.at("fixed"), Join(path, "fixed"), 0, 51150)),
                        num("mA", 3000, 10230), flags);
    }
    if (j.contains("variable")) {
        OnlyKeys(j, path, {"variable", "mA"});
        const auto [lo, hi] = pair("variable");
        return VariablePdo(lo, hi, num("mA", 3000, 10230));
    }
    if (j.contains("battery")) {
        OnlyKeys(j, path, {"battery", "mW"});
        const auto [lo, hi] = pair("battery");
        return BatteryPdo(lo, hi, num("mW", 60000, 255750));
    }
    if (j.contains("pps")) {
        OnlyKeys(j, path, {"pps", "mA", "limited"});
        const auto [lo, hi] = pair("pps");
        return PpsApdo(lo, hi, num("mA", 3000, 6350),
                       j.contains("limited") && Flag(j.at("limited"), Join(path, "limited")));
    }
    if (j.contains("avs")) {
        OnlyKeys(j, path, {"avs", "pdpW"});
        const auto [lo, hi] = pair("avs");
        return EprAvsApdo(lo, hi, num("pdpW", 140, 255));
    }
    if (j.contains("sprAvs")) {
        OnlyKeys(j, path, {"sprAvs"});
        const auto [a15, a20] = pair("sprAvs");
        return SprAvsApdo(a15, a20);
    }
    Throw(path, "a power object needs one of fixed, variable, battery, pps, avs, sprAvs");
}

std::vector<uint32_t> PdoList(const json& j, const std::string& path, size_t max) {
    if (!j.is_array()) Throw(path, "expected a list of power objects");
    if (j.size() > max) Throw(path, "more than " + std::to_string(max) + " power objects");
    std::vector<uint32_t> out;
    for (size_t i = 0; i < j.size(); ++i) out.push_back(Pdo(j[i], Index(path, i)));
    return out;
}

std::vector<uint32_t> Words(const json& j, const std::string& path, size_t max) {
    if (!j.is_array()) Throw(path, "expected a list");
    if (j.size() > max) Throw(path, "more than " + std::to_string(max) + " entries");
    std::vector<uint32_t> out;
    for (size_t i = 0; i < j.size(); ++i)
        out.push_back(uint32_t(Integer(j[i], Index(path, i), 0, 0xFFFFFFFFll)));
    return out;
}

// Bytes as a list of numbers or a text of hexadecimal pairs ("A1 61 2C").
std::vector<uint8_t> Bytes(const json& j, const std::string& path) {
    std::vector<uint8_t> out;
    if (j.is_string()) {
        std::string digits;
        for (char c : j.get<std::string>())
            if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
        if (digits.size() % 2) Throw(path, "odd number of hexadecimal digits");
        for (size_t i = 0; i < digits.size(); i += 2) {
            char* end = nullptr;
            const std::string pairText = digits.substr(i, 2);
            const long v = std::strtol(pairText.c_str(), &end, 16);
            if (!end || *end) Throw(path, "\"" + pairText + "\" is not hexadecimal");
            out.push_back(uint8_t(v));
        }
        return out;
    }
    if (!j.is_array()) Throw(path, "expected bytes: a list or a hexadecimal text");
    for (size_t i = 0; i < j.size(); ++i) out.push_back(uint8_t(Integer(j[i], Index(path, i), 0, 255)));
    return out;
}

std::vector<Svid> Svids(const json& j, const std::string& path) {
    if (!j.is_array()) Throw(path, "expected a list of {\"svid\", \"modes\"}");
    std::vector<Svid> out;
    for (size_t i = 0; i < j.size(); ++i) {
        const std::string p = Index(path, i);
        OnlyKeys(j[i], p, {"svid", "modes"});
        Svid s;
        if (!j[i].contains("svid")) Throw(p, "missing \"svid\"");
        s.svid = uint16_t(Integer(j[i].at("svid"), Join(p, "svid"), 1, 0xFFFF));
        if (j[i].contains("modes")) s.modes = Words(j[i].at("modes"), Join(p, "modes"), 6);
        out.push_back(s);
    }
    return out;
}

Party ParseParty(const json& j, const std::string& path, Party p) {
    OnlyKeys(j, path,
             {"revision", "rp", "unitIntervalUs", "sourceCaps", "eprSourceCaps", "sinkCaps", "eprSinkCaps",
              "vid", "pid", "xid", "identity", "svids", "manufacturer", "pdpW", "eprPdpW", "temperature"});
    for (const auto& [k, v] : j.items()) {
        const std::string at = Join(path, k);
        if (k == "revision")
            p.revision = Revision(v, at);
        else if (k == "rp") {
            const std::string r = Text(v, at);
            if (r == "default")
                p.rp = 0;
            else if (r == "1.5A")
                p.rp = 1;
            else if (r == "3.0A")
                p.rp = 2;
            else
                Throw(at, "expected \"default\", \"1.5A\" or \"3.0A\"");
        } else if (k == "unitIntervalUs")
            p.unitInterval = Real(v, at, 2.5, 4.5);
        else if (k == "sourceCaps")
            p.sourceCaps = PdoList(v, at, 7);
        else if (k == "eprSourceCaps")
            p.eprSourceCaps = PdoList(v, at, 6);
        else if (k == "sinkCaps")
            p.sinkCaps = PdoList(v, at, 7);
        else if (k == "eprSinkCaps")
            p.eprSinkCaps = PdoList(v, at, 6);
        else if (k == "vid")
            p.vid = uint16_t(Integer(v, at, 0, 0xFFFF));
        else if (k == "pid")
            p.pid = uint16_t(Integer(v, at, 0, 0xFFFF));
        else if (k == "xid")
            p.xid = uint32_t(Integer(v, at, 0, 0xFFFFFFFFll));
        else if (k == "identity")
            p.identity = Words(v, at, 6);
        else if (k == "svids")
            p.svids = Svids(v, at);
        else if (k == "manufacturer")
            p.manufacturer = Text(v, at);
        else if (k == "pdpW")
            p.pdpW = int(Integer(v, at, 0, 127));
        else if (k == "eprPdpW")
            p.eprPdpW = int(Integer(v, at, 0, 255));
        else if (k == "temperature")
            p.temperature = int(Integer(v, at, 0, 255));
    }
    return p;
}

Cable ParseCable(const json& j, const std::string& path) {
    Cable c;
    c.present = true;
    if (j.is_null()) {
        c.present = false;
        return c;
    }
    OnlyKeys(j, path,
             {"present", "type", "sopDoublePrime", "revision", "currentA", "maxVolts", "epr",
              "unitIntervalUs", "vid", "pid", "identity", "svids", "vconnMa"});
    for (const auto& [k, v] : j.items()) {
        const std::string at = Join(path, k);
        if (k == "present")
            c.present = Flag(v, at);
        else if (k == "type") {
            const std::string t = Text(v, at);
            if (t != "passive" && t != "active") Throw(at, "expected \"passive\" or \"active\"");
            c.active = t == "active";
        } else if (k == "sopDoublePrime")
            c.sopDoublePrime = Flag(v, at);
        else if (k == "revision")
            c.revision = Revision(v, at);
        else if (k == "currentA") {
            c.currentA = int(Integer(v, at, 3, 5));
            if (c.currentA == 4) Throw(at, "expected 3 or 5");
        } else if (k == "maxVolts")
            c.maxVolts = int(Integer(v, at, 20, 50));
        else if (k == "epr")
            c.epr = Flag(v, at);
        else if (k == "unitIntervalUs")
            c.unitInterval = Real(v, at, 2.5, 4.5);
        else if (k == "vid")
            c.vid = uint16_t(Integer(v, at, 0, 0xFFFF));
        else if (k == "pid")
            c.pid = uint16_t(Integer(v, at, 0, 0xFFFF));
        else if (k == "identity")
            c.identity = Words(v, at, 6);
        else if (k == "svids")
            c.svids = Svids(v, at);
        else if (k == "vconnMa")
            c.vconnMa = int(Integer(v, at, 0, 1000));
    }
    return c;
}

void ParseTiming(const json& j, const std::string& path, Timing* t) {
    OnlyKeys(j, path,
             {"jitterUs", "goodCrcUs", "retryUs", "responseMs", "requestMs", "transitionMs", "settleMs",
              "slewMvPerMs"});
    for (const auto& [k, v] : j.items()) {
        const std::string at = Join(path, k);
        if (k == "jitterUs")
            t->jitter = Real(v, at, 0, 0.2);
        else if (k == "goodCrcUs")
            Range(v, at, &t->goodCrcMinUs, &t->goodCrcMaxUs);
        else if (k == "retryUs")
            Range(v, at, &t->retryMinUs, &t->retryMaxUs);
        else if (k == "responseMs")
            Range(v, at, &t->responseMinMs, &t->responseMaxMs);
        else if (k == "requestMs")
            Range(v, at, &t->requestMinMs, &t->requestMaxMs);
        else if (k == "transitionMs")
            Range(v, at, &t->transitionMinMs, &t->transitionMaxMs);
        else if (k == "settleMs")
            Range(v, at, &t->settleMinMs, &t->settleMaxMs);
        else if (k == "slewMvPerMs")
            t->slewMvPerMs = Real(v, at, 1, 100000);
    }
}

LoadProfile Load(const json& j, const std::string& path) {
    if (j.is_number()) return {{1000, int32_t(Integer(j, path, -32000, 32000))}};
    if (!j.is_array() || j.empty()) Throw(path, "expected mA or a list of [ms, mA] steps");
    LoadProfile p;
    for (size_t i = 0; i < j.size(); ++i) {
        const std::string at = Index(path, i);
        if (!j[i].is_array() || j[i].size() != 2) Throw(at, "expected [ms, mA]");
        const double ms = Real(j[i][0], Index(at, 0), 0.001, 3.6e6);
        p.push_back({ms, int32_t(Integer(j[i][1], Index(at, 1), -32000, 32000))});
    }
    return p;
}

void ParseAnalog(const json& j, const std::string& path, Analog* a) {
    OnlyKeys(j, path,
             {"sampleIntervalMs", "samplesPerBlock", "attach", "noiseMv", "noiseMa", "cableMilliohms",
              "vconnMv", "idleMa", "load"});
    for (const auto& [k, v] : j.items()) {
        const std::string at = Join(path, k);
        if (k == "sampleIntervalMs")
            a->sampleIntervalMs = int(Integer(v, at, 1, 1000));
        else if (k == "samplesPerBlock")
            a->samplesPerBlock = int(Integer(v, at, 1, 3));
        else if (k == "attach")
            a->attach = Flag(v, at);
        else if (k == "noiseMv")
            a->noiseMv = int(Integer(v, at, 0, 2000));
        else if (k == "noiseMa")
            a->noiseMa = int(Integer(v, at, 0, 2000));
        else if (k == "cableMilliohms")
            a->cableMilliohms = int(Integer(v, at, 0, 10000));
        else if (k == "vconnMv")
            a->vconnMv = int(Integer(v, at, 0, 6000));
        else if (k == "idleMa")
            a->idleMa = int(Integer(v, at, 0, 3000));
        else if (k == "load")
            a->load = Load(v, at);
    }
}

Actor ParseActor(const json& j, const std::string& path) {
    const std::string a = Text(j, path);
    static const std::pair<const char*, Actor> kActors[] = {
        {"source", Actor::Source}, {"sink", Actor::Sink},   {"dfp", Actor::Dfp},    {"ufp", Actor::Ufp},
        {"port1", Actor::Port1},   {"port2", Actor::Port2}, {"cable", Actor::Cable}};
    for (const auto& [name, actor] : kActors)
        if (a == name) return actor;
    Throw(path, "\"" + a + "\" is none of source, sink, dfp, ufp, port1, port2, cable");
}

int32_t ParseSop(const json& j, const std::string& path) {
    const std::string s = Text(j, path);
    static const std::pair<const char*, int32_t> kSops[] = {{"SOP", kKindSop},
                                                            {"SOP'", kKindSopPrime},
                                                            {"SOP''", kKindSopDoublePrime},
                                                            {"SOP'_Debug", kKindSopPrimeDebug},
                                                            {"SOP''_Debug", kKindSopDoublePrimeDebug}};
    for (const auto& [name, kind] : kSops)
        if (s == name) return kind;
    Throw(path, "\"" + s + "\" is none of SOP, SOP', SOP'', SOP'_Debug, SOP''_Debug");
}

FrameError ParseError(const json& j, const std::string& path) {
    const std::string e = Text(j, path);
    if (e == "crc") return FrameError::BadCrc;
    if (e == "truncate") return FrameError::Truncated;
    if (e == "nopreamble") return FrameError::NoPreamble;
    if (e == "noreply") return FrameError::NoReply;
    Throw(path, "\"" + e + "\" is none of crc, truncate, nopreamble, noreply");
}

// A message field: numbers, texts, lists of numbers; lists of texts are joined with commas.
FieldValue ParseField(const std::string& key, const json& v, const std::string& path) {
    if (key == "pdos") {
        std::vector<int64_t> l;
        for (uint32_t p : PdoList(v, path, 13)) l.push_back(p);
        return FieldValue(std::move(l));
    }
    if (key == "data") {
        std::vector<int64_t> l;
        for (uint8_t b : Bytes(v, path)) l.push_back(b);
        return FieldValue(std::move(l));
    }
    if (v.is_string()) return FieldValue(v.get<std::string>());
    if (v.is_array()) {
        if (!v.empty() && v[0].is_string() && !(v[0].get<std::string>().rfind("0x", 0) == 0)) {
            std::string joined;
            for (size_t i = 0; i < v.size(); ++i) joined += (i ? "," : "") + Text(v[i], Index(path, i));
            return FieldValue(joined);
        }
        std::vector<int64_t> l;
        for (size_t i = 0; i < v.size(); ++i)
            l.push_back(Integer(v[i], Index(path, i), INT64_MIN / 2, INT64_MAX / 2));
        return FieldValue(std::move(l));
    }
    return FieldValue(Integer(v, path, INT64_MIN / 2, INT64_MAX / 2));
}

std::vector<Step> ParseSteps(const json& j, const std::string& path);

Step ParseStep(const json& j, const std::string& path) {
    if (!j.is_object()) Throw(path, "expected an object");
    Step s;
    static const char* const kKinds[] = {"message", "raw", "wait", "load", "glitch", "repeat"};
    int kinds = 0;
    for (const char* k : kKinds) kinds += j.contains(k) ? 1 : 0;
    if (kinds != 1) Throw(path, "a step has exactly one of message, raw, wait, load, glitch, repeat");
    if (j.contains("after")) s.afterMs = Real(j.at("after"), Join(path, "after"), 0, 3.6e9);
    if (j.contains("at")) s.atMs = Real(j.at("at"), Join(path, "at"), 0, 3.6e9);

    if (j.contains("message") || j.contains("raw")) {
        MessageStep& m = s.message;
        s.type = Step::Type::Message;
        if (!j.contains("from")) Throw(path, "missing \"from\"");
        static const std::set<std::string> kCommon = {"message",        "raw",   "from", "sop", "error",
                                                      "unitIntervalUs", "after", "at"};
        for (const auto& [k, v] : j.items()) {
            const std::string at = Join(path, k);
            if (k == "message")
                m.name = Text(v, at);
            else if (k == "raw") {
                m.raw = Bytes(v, at);
                if (m.raw.empty()) Throw(at, "no bytes");
            } else if (k == "from")
                m.from = ParseActor(v, at);
            else if (k == "sop")
                m.kind = ParseSop(v, at);
            else if (k == "error")
                m.error = ParseError(v, at);
            else if (k == "unitIntervalUs")
                m.unitInterval = Real(v, at, 2.5, 4.5);
            else if (!kCommon.count(k)) {
                if (j.contains("raw")) Throw(at, "raw messages take no fields");
                m.fields[k] = ParseField(k, v, at);
            }
        }
        return s;
    }
    if (j.contains("wait")) {
        OnlyKeys(j, path, {"wait"});
        s.type = Step::Type::Wait;
        s.waitMs = Real(j.at("wait"), Join(path, "wait"), 0, 3.6e9);
        return s;
    }
    if (j.contains("load")) {
        OnlyKeys(j, path, {"load", "after", "at"});
        s.type = Step::Type::Load;
        s.load = Load(j.at("load"), Join(path, "load"));
        return s;
    }
    if (j.contains("glitch")) {
        OnlyKeys(j, path, {"glitch", "after", "at"});
        s.type = Step::Type::Glitch;
        const json& g = j.at("glitch");
        const std::string at = Join(path, "glitch");
        if (g.is_number()) {
            s.glitch.transitions = int(Integer(g, at, 1, 1000));
            return s;
        }
        OnlyKeys(g, at, {"line", "transitions"});
        if (g.contains("transitions"))
            s.glitch.transitions = int(Integer(g.at("transitions"), Join(at, "transitions"), 1, 1000));
        if (g.contains("line")) {
            const std::string l = Text(g.at("line"), Join(at, "line"));
            if (l == "active")
                s.glitch.line = GlitchStep::Line::Active;
            else if (l == "other")
                s.glitch.line = GlitchStep::Line::Other;
            else if (l == "CC1")
                s.glitch.line = GlitchStep::Line::Cc1;
            else if (l == "CC2")
                s.glitch.line = GlitchStep::Line::Cc2;
            else
                Throw(Join(at, "line"), "expected active, other, CC1 or CC2");
        }
        return s;
    }
    OnlyKeys(j, path, {"repeat"});
    s.type = Step::Type::Repeat;
    const json& r = j.at("repeat");
    const std::string at = Join(path, "repeat");
    OnlyKeys(r, at, {"times", "everyMs", "steps"});
    if (r.contains("times")) s.repeatTimes = int(Integer(r.at("times"), Join(at, "times"), 1, 1000000000));
    if (r.contains("everyMs")) s.everyMs = Real(r.at("everyMs"), Join(at, "everyMs"), 0, 3.6e9);
    if (!r.contains("steps")) Throw(at, "missing \"steps\"");
    s.body = ParseSteps(r.at("steps"), Join(at, "steps"));
    return s;
}

std::vector<Step> ParseSteps(const json& j, const std::string& path) {
    if (!j.is_array()) Throw(path, "expected a list of steps");
    std::vector<Step> steps;
    for (size_t i = 0; i < j.size(); ++i) steps.push_back(ParseStep(j[i], Index(path, i)));
    return steps;
}

Party DefaultSource() {
    Party p;
    p.sourceCaps = {FixedPdo(5000, 3000, kPdoUnconstrained), FixedPdo(9000, 3000), FixedPdo(15000, 3000),
                    FixedPdo(20000, 3000)};
    p.unitInterval = 3.31;
    return p;
}

Party DefaultSink() {
    Party p;
    p.sinkCaps = {FixedPdo(5000, 3000, kPdoUsbCommunications), FixedPdo(9000, 3000), FixedPdo(15000, 3000),
                  FixedPdo(20000, 3000)};
    p.unitInterval = 3.36;
    return p;
}

// "number overflow at line L, column C: '1E400'" from the parser's message, which quotes the literal;
// the place is that of its first occurrence in the text.
std::string NumberOverflowText(const std::string& text, const std::string& what) {
    const size_t open = what.find('\'');
    const size_t close = open == std::string::npos ? open : what.find('\'', open + 1);
    if (close == std::string::npos) {
        const size_t cut = what.find("] ");
        return cut == std::string::npos ? what : what.substr(cut + 2);
    }
    const std::string literal = what.substr(open + 1, close - open - 1);
    const size_t at = text.find(literal);
    if (at == std::string::npos) return "number overflow: '" + literal + "'";
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "number overflow at line " + std::to_string(line) + ", column " + std::to_string(column) + ": '" +
           literal + "'";
}

} // namespace

bool ScenarioFromJson(const std::string& text, Scenario* out, std::string* error) {
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        const size_t cut = what.find("] ");
        *error = "invalid JSON: " + (cut == std::string::npos ? what : what.substr(cut + 2));
        return false;
    } catch (const json::exception& e) {
        // A number beyond a double: the parser names the literal but not where it stands.
        *error = "invalid JSON: " + NumberOverflowText(text, e.what());
        return false;
    }
    try {
        OnlyKeys(j, "",
                 {"name", "description", "seconds", "orientation", "source", "sink", "cable", "timing",
                  "analog", "steps"});
        Scenario s;
        s.source = DefaultSource();
        s.sink = DefaultSink();
        if (j.contains("name")) s.name = Text(j.at("name"), "name");
        if (j.contains("description")) s.description = Text(j.at("description"), "description");
        if (j.contains("seconds")) s.seconds = Real(j.at("seconds"), "seconds", 0.001, 86400);
        if (j.contains("orientation")) {
            const std::string o = Text(j.at("orientation"), "orientation");
            if (o != "CC1" && o != "CC2") Throw("orientation", "expected \"CC1\" or \"CC2\"");
            s.orientation = o == "CC2" ? 1 : 0;
        }
        if (j.contains("source")) s.source = ParseParty(j.at("source"), "source", s.source);
        if (j.contains("sink")) s.sink = ParseParty(j.at("sink"), "sink", s.sink);
        if (j.contains("cable")) s.cable = ParseCable(j.at("cable"), "cable");
        if (j.contains("timing")) ParseTiming(j.at("timing"), "timing", &s.timing);
        if (j.contains("analog")) ParseAnalog(j.at("analog"), "analog", &s.analog);
        if (!j.contains("steps")) Throw("", "missing \"steps\"");
        s.steps = ParseSteps(j.at("steps"), "steps");
        if (!ValidateScenario(s, error)) return false;
        *out = std::move(s);
        return true;
    } catch (const JsonError& e) {
        *error = e.text;
        return false;
    }
}

bool LoadScenarioFile(const std::string& path, Scenario* out, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << f.rdbuf();
    if (f.bad()) {
        *error = path + ": cannot be read";
        return false;
    }
    if (!ScenarioFromJson(text.str(), out, error)) {
        *error = path + ": " + *error;
        return false;
    }
    if (out->name.empty()) {
        const size_t slash = path.find_last_of('/');
        std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
        const size_t dot = stem.rfind('.');
        out->name = dot == std::string::npos ? stem : stem.substr(0, dot);
    }
    return true;
}

} // namespace synth
