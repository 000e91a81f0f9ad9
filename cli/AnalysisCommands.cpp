#include "AnalysisCommands.h"

#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"
#include "RecordStream.h"
#include "TextCommands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <sstream>

using namespace analysis;
using Json = nlohmann::ordered_json;

namespace {

void PutLine(const Json& j) {
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
}

std::string Seconds(const CCaptureStore& store, int64_t t) {
    char buf[32];
    const int64_t d = t - store.timeOrigin;
    std::snprintf(buf, sizeof buf, "%s%" PRId64 ".%06" PRId64 " s", d < 0 ? "-" : "", (d < 0 ? -d : d) / 1000000,
                  (d < 0 ? -d : d) % 1000000);
    return buf;
}

std::string Fixed(double v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

std::string Hex(uint32_t v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, unsigned(v));
    return buf;
}

std::string At(const CCaptureStore& store, const PacketRef& r) {
    if (r.number < 0) return "-";
    return "#" + std::to_string(r.number) + " at " + Seconds(store, r.time);
}

Json RefJson(const CCaptureStore& store, const PacketRef& r) {
    if (r.number < 0) return nullptr;
    return Json{{"packet", r.number}, {"time_us", r.time - store.timeOrigin}};
}

std::string ObjectText(const PowerObject& o) {
    std::string t = std::to_string(o.position) + ": " + SupplyKindName(o.kind);
    switch (o.kind) {
    case SupplyKind::Fixed:
        return t + " " + Fixed(o.maxMv / 1000.0, 2) + " V " + Fixed(o.maxMa / 1000.0, 2) + " A";
    case SupplyKind::Variable:
    case SupplyKind::Pps:
        return t + " " + Fixed(o.minMv / 1000.0, 2) + "-" + Fixed(o.maxMv / 1000.0, 2) + " V " +
               Fixed(o.maxMa / 1000.0, 2) + " A";
    case SupplyKind::Battery:
    case SupplyKind::EprAvs:
        return t + " " + Fixed(o.minMv / 1000.0, 2) + "-" + Fixed(o.maxMv / 1000.0, 2) + " V " +
               Fixed(o.maxMw / 1000.0, 2) + " W";
    case SupplyKind::SprAvs:
        return t + " 9-20 V " + Fixed(o.maxMa / 1000.0, 2) + " A at 15 V";
    case SupplyKind::Unknown:
        break;
    }
    return t + " " + Hex(o.raw, 8);
}

Json ObjectJson(const PowerObject& o) {
    return Json{{"position", o.position}, {"raw", Hex(o.raw, 8)},  {"kind", SupplyKindName(o.kind)},
                {"min_mV", o.minMv},      {"max_mV", o.maxMv},     {"max_mA", o.maxMa},
                {"max_mW", o.maxMw}};
}

std::string AskText(const Ask& a) {
    if (a.kind == SupplyKind::Unknown) return "object not offered in this capture";
    std::string v = a.minMv != a.maxMv ? Fixed(a.minMv / 1000.0, 2) + "-" + Fixed(a.maxMv / 1000.0, 2) + " V"
                                       : Fixed(a.mV / 1000.0, 2) + " V";
    std::string t = std::string(SupplyKindName(a.kind)) + (a.epr ? " (EPR)" : "") + " " + v;
    if (a.operatingMw) t += ", operating " + Fixed(a.operatingMw / 1000.0, 2) + " W";
    t += ", operating " + Fixed(a.operatingMa / 1000.0, 2) + " A";
    if (a.limitMa) t += ", limit " + Fixed(a.limitMa / 1000.0, 2) + " A";
    return t;
}

Json AskJson(const Ask& a) {
    return Json{{"kind", SupplyKindName(a.kind)}, {"epr", a.epr},
                {"mV", a.mV},                     {"min_mV", a.minMv},
                {"max_mV", a.maxMv},              {"operating_mA", a.operatingMa},
                {"limit_mA", a.limitMa},          {"operating_mW", a.operatingMw}};
}

const char* KindName(int32_t kind) {
    return kind == kKindSopPrime ? "SOP'" : kind == kKindSopDoublePrime ? "SOP''" : "SOP";
}

Json ConnectionJson(const CCaptureStore& store, const Connection& c, size_t n) {
    Json j;
    j["connection"] = n;
    j["start_us"] = c.startTime - store.timeOrigin;
    j["start_reason"] = c.startReason;
    j["end_us"] = c.endTime < 0 ? Json(nullptr) : Json(c.endTime - store.timeOrigin);
    j["end_reason"] = c.endTime < 0 ? Json(nullptr) : Json(c.endReason);
    j["revisions"] = {{"SOP", RevisionsText(c.revisions[0])},
                      {"SOP'", RevisionsText(c.revisions[1])},
                      {"SOP''", RevisionsText(c.revisions[2])}};
    Json offers = Json::array();
    for (const Offer& o : c.offers) {
        Json objects = Json::array();
        for (const PowerObject& x : o.objects) objects.push_back(ObjectJson(x));
        offers.push_back({{"at", RefJson(store, o.packet)}, {"epr", o.epr}, {"objects", objects}});
    }
    j["offers"] = offers;
    Json requests = Json::array();
    for (const RequestEntry& r : c.requests)
        requests.push_back({{"at", RefJson(store, r.packet)},
                            {"position", r.position},
                            {"rdo", Hex(r.rdo, 8)},
                            {"object", r.objectKnown ? ObjectJson(r.object) : Json(nullptr)},
                            {"asks", AskJson(r.ask)},
                            {"answer", r.answer.empty() ? Json(nullptr) : Json(r.answer)},
                            {"answer_at", RefJson(store, r.answerPacket)},
                            {"ps_rdy_at", RefJson(store, r.psRdyPacket)},
                            {"accept_to_ps_rdy_us", r.acceptToPsRdyUs < 0 ? Json(nullptr) : Json(r.acceptToPsRdyUs)}});
    j["requests"] = requests;
    Json contracts = Json::array();
    for (const Contract& k : c.contracts)
        contracts.push_back({{"from", RefJson(store, k.psRdy)},
                             {"to_us", k.endTime < 0 ? Json(nullptr) : Json(k.endTime - store.timeOrigin)},
                             {"end_reason", k.endTime < 0 ? Json(nullptr) : Json(k.endReason)},
                             {"position", k.position},
                             {"power", AskJson(k.ask)}});
    j["contracts"] = contracts;
    if (c.hasCable)
        j["cable"] = {{"at", RefJson(store, c.cable.packet)}, {"active", c.cable.active},
                      {"current_mA", c.cable.currentMa},      {"max_vbus_mV", c.cable.maxVbusMv},
                      {"speed", c.cable.speed},               {"epr", c.cable.epr},
                      {"vid", Hex(c.cable.vid, 4)},           {"pid", Hex(c.cable.pid, 4)}};
    else
        j["cable"] = nullptr;
    Json modes = Json::array();
    for (const AltMode& m : c.altModes) {
        Json list = Json::array();
        for (uint32_t v : m.modes) list.push_back(Hex(v, 8));
        modes.push_back({{"sop", KindName(m.kind)},
                         {"svid", Hex(m.svid, 4)},
                         {"modes", list},
                         {"entered_position", m.enteredPosition ? Json(m.enteredPosition) : Json(nullptr)},
                         {"entered_at", RefJson(store, m.entered)},
                         {"exited_at", RefJson(store, m.exited)},
                         {"configuration", m.configuration ? Json(Hex(m.configuration, 8)) : Json(nullptr)}});
    }
    j["alt_modes"] = modes;
    auto events = [&](const std::vector<EventEntry>& list) {
        Json a = Json::array();
        for (const EventEntry& e : list)
            a.push_back({{"what", e.what},
                         {"at", RefJson(store, e.packet)},
                         {"by", e.by.empty() ? Json(nullptr) : Json(e.by)},
                         {"answer", e.answer.empty() ? Json(nullptr) : Json(e.answer)}});
        return a;
    };
    j["resets"] = events(c.resets);
    j["swaps"] = events(c.swaps);
    return j;
}

void PrintConnectionText(const CCaptureStore& store, const Connection& c, size_t n) {
    std::printf("Connection %zu\t%s (%s) .. %s\n", n, Seconds(store, c.startTime).c_str(), c.startReason.c_str(),
                c.endTime < 0 ? "end of capture" : (Seconds(store, c.endTime) + " (" + c.endReason + ")").c_str());
    std::printf("Revisions\tSOP %s; SOP' %s; SOP'' %s\n", RevisionsText(c.revisions[0]).c_str(),
                RevisionsText(c.revisions[1]).c_str(), RevisionsText(c.revisions[2]).c_str());
    for (const Offer& o : c.offers) {
        std::string objects;
        for (const PowerObject& x : o.objects) objects += (objects.empty() ? "" : "; ") + ObjectText(x);
        std::printf("%s\t%s\t%s\n", o.epr ? "EPR offer" : "Offer", At(store, o.packet).c_str(), objects.c_str());
    }
    for (const RequestEntry& r : c.requests) {
        std::string answer = r.answer.empty() ? "no answer" : r.answer + " " + At(store, r.answerPacket);
        if (r.psRdyPacket.number >= 0)
            answer += ", PS_RDY " + At(store, r.psRdyPacket) + ", " + Fixed(r.acceptToPsRdyUs / 1000.0, 1) +
                      " ms after Accept";
        std::printf("Request\t%s\tposition %d: %s\t%s\n", At(store, r.packet).c_str(), r.position,
                    AskText(r.ask).c_str(), answer.c_str());
    }
    for (const Contract& k : c.contracts)
        std::printf("Contract\t%s .. %s\t%s\n", At(store, k.psRdy).c_str(),
                    k.endTime < 0 ? "end of capture" : (Seconds(store, k.endTime) + " (" + k.endReason + ")").c_str(),
                    AskText(k.ask).c_str());
    if (c.hasCable)
        std::printf("Cable\t%s\t%s, %s, %s V, %s, EPR %s, VID %s PID %s\n", At(store, c.cable.packet).c_str(),
                    c.cable.active ? "active" : "passive",
                    c.cable.currentMa ? (Fixed(c.cable.currentMa / 1000.0, 0) + " A").c_str() : "current not given",
                    Fixed(c.cable.maxVbusMv / 1000.0, 0).c_str(), c.cable.speed.c_str(), c.cable.epr ? "yes" : "no",
                    Hex(c.cable.vid, 4).c_str(), Hex(c.cable.pid, 4).c_str());
    for (const AltMode& m : c.altModes) {
        std::string modes;
        for (uint32_t v : m.modes) modes += (modes.empty() ? "" : " ") + Hex(v, 8);
        std::string state = m.enteredPosition ? "entered mode " + std::to_string(m.enteredPosition) + " " +
                                                    At(store, m.entered)
                                              : "not entered";
        if (m.exited.number >= 0) state += ", exited " + At(store, m.exited);
        if (m.configuration) state += ", configuration " + Hex(m.configuration, 8);
        std::printf("Alternate mode\t%s SVID %s\tmodes %s\t%s\n", KindName(m.kind), Hex(m.svid, 4).c_str(),
                    modes.empty() ? "-" : modes.c_str(), state.c_str());
    }
    for (const EventEntry& e : c.resets)
        std::printf("Reset\t%s\t%s%s\n", At(store, e.packet).c_str(), e.what.c_str(),
                    e.by.empty() ? "" : (" by " + e.by).c_str());
    for (const EventEntry& e : c.swaps)
        std::printf("Swap\t%s\t%s by %s\t%s\n", At(store, e.packet).c_str(), e.what.c_str(), e.by.c_str(),
                    e.answer.empty() ? "no answer" : e.answer.c_str());
}

Json FindingJson(const CCaptureStore& store, const Finding& f) {
    Json packets = Json::array();
    for (const PacketRef& r : f.packets) packets.push_back(r.number);
    return Json{{"rule", RuleInfoOf(f.rule).key},
                {"severity", SeverityName(f.severity)},
                {"time_us", f.time - store.timeOrigin},
                {"end_us", f.endTime - store.timeOrigin},
                {"packets", packets},
                {"measured", f.hasMeasured ? Json(f.measured) : Json(nullptr)},
                {"limit", f.limit},
                {"unit", f.unit},
                {"text", f.text}};
}

} // namespace

void PrintSummary(const CCaptureStore& store, const Results& results, bool json) {
    for (size_t n = 0; n < results.connections.size(); ++n) {
        if (json) {
            PutLine(ConnectionJson(store, results.connections[n], n + 1));
        } else {
            if (n) std::puts("");
            PrintConnectionText(store, results.connections[n], n + 1);
        }
    }
    if (!json && !results.analogSeen) std::puts("\nVBUS\tno readings that move: the VBUS and current rules were not judged");
}

size_t PrintFindings(const CCaptureStore& store, const Results& results, const std::vector<RuleId>& rules,
                     Severity threshold, bool json) {
    size_t above = 0;
    if (!json) std::puts("Severity\tRule\tTime[us]\tPackets\tMeasured\tLimit\tText");
    for (const Finding& f : results.findings) {
        if (!rules.empty() && std::find(rules.begin(), rules.end(), f.rule) == rules.end()) continue;
        if (f.severity >= threshold) ++above;
        if (json) {
            PutLine(FindingJson(store, f));
            continue;
        }
        std::string packets;
        for (const PacketRef& r : f.packets) packets += (packets.empty() ? "" : ",") + std::to_string(r.number);
        char measured[48] = "-", limit[48] = "-";
        if (f.hasMeasured) std::snprintf(measured, sizeof measured, "%g %s", f.measured, f.unit.c_str());
        if (f.limit != 0 || f.hasMeasured) std::snprintf(limit, sizeof limit, "%g %s", f.limit, f.unit.c_str());
        std::printf("%s\t%s\t%" PRId64 "\t%s\t%s\t%s\t%s\n", SeverityName(f.severity), RuleInfoOf(f.rule).key,
                    f.time - store.timeOrigin, packets.empty() ? "-" : packets.c_str(), measured, limit, f.text.c_str());
    }
    return above;
}

bool ParseRuleList(const std::string& list, std::vector<RuleId>* rules, std::string* unknown) {
    rules->clear();
    std::stringstream in(list);
    std::string key;
    while (std::getline(in, key, ',')) {
        if (key.empty()) continue;
        const RuleInfo* r = FindRule(key);
        if (!r) {
            *unknown = key;
            return false;
        }
        rules->push_back(r->id);
    }
    return true;
}

std::string RuleHelp() {
    std::string text = "Rules for --rules, comma-separated (default: all):\n";
    for (const RuleInfo& r : kRules)
        text += "  " + std::string(r.key) + std::string(22 - std::min<size_t>(21, std::strlen(r.key)), ' ') +
                SeverityName(r.severity) + "  " + r.title + "\n";
    text += "Limits for --limit KEY=VALUE (settings group \"Analysis\"):\n";
    for (const LimitRow& l : kLimitRows) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-20s %g %s (%s; %s)\n", l.key, l.value, l.unit, l.revision, l.source);
        text += line;
    }
    return text;
}

void PrintPacketsJson(const CCaptureStore& store, const std::vector<int>& ids, bool invertCurrent) {
    char buf[8];
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        Json j;
        if (ids.empty()) {
            std::string bytes;
            for (int32_t k = 0; k < p.messageByteCount; ++k) {
                std::snprintf(buf, sizeof buf, k ? " %02X" : "%02X", p.messageBytes[k]);
                bytes += buf;
            }
            j = Json{{"number", p.index},
                     {"channel", "CC" + std::to_string(p.channel + 1)},
                     {"time_us", store.DisplayTime(p)},
                     {"ordered_set", p.preambleFound ? Json(p.GetColumnText(kColumnOrderedSet, false)) : Json(nullptr)},
                     {"crc", !p.hasCrc ? Json(nullptr) : Json(p.crcGood ? "good" : "bad")},
                     {"message_type", p.GetMessageTypeText()},
                     {"bytes", bytes}};
        } else {
            for (int id : ids) j[kColumns[id].header] = p.GetColumnText(id, invertCurrent);
        }
        PutLine(j);
    }
}

bool PrintFieldsJson(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                     std::string* error) {
    std::vector<PDFieldRow> rows;
    if (!FieldRowsOf(store, index, blockView, range, &rows, error)) return false;
    for (const PDFieldRow& row : rows) {
        // The table's own texts: offsets and lengths in bits may be ranges ("0..4").
        PutLine(Json{{"offset", row[0]}, {"length", row[1]}, {"name", row[2]}, {"value", row[3]},
                     {"description", row[4]}, {"hex", row[5]}, {"ascii", row[6]}});
    }
    return true;
}

void PrintInfoJson(const CCaptureStore& s, const InfoFacts& facts) {
    Json j;
    j["file"] = facts.path;
    j["file_size"] = facts.fileSize;
    j["decoded_bytes"] = s.decodePosition;
    j["samples"] = s.SampleCount();
    j["packets"] = s.PacketCount();
    j["capture_origin_us"] = s.captureOrigin;
    j["last_sample_us"] = s.SampleCount() ? Json(s.SampleAt(s.SampleCount() - 1)->time) : Json(nullptr);
    j["time_origin_us"] = s.timeOrigin;
    Json header = nullptr;
    if (facts.head && facts.head->size() >= size_t(rec::kBlockSize) &&
        rec::ClassifyBlock(facts.head->data()) == rec::BlockKind::Marker) {
        header = Json::object();
        rec::ForEachMarkerEntry(facts.head->data(), [&](const rec::MarkerEntry& e) {
            if (e.type == 2 && e.length >= 2) {
                const uint16_t v = rec::ReadU16(e.value);
                char buf[16];
                std::snprintf(buf, sizeof buf, "%X.%02X", v >> 8, v & 0xFF);
                header["firmware_version"] = buf;
            } else if (e.type == 3) {
                std::string serial;
                for (int k = e.length - 1; k >= 0; --k) serial += Hex(e.value[k], 2);
                header["serial"] = serial;
            } else if (e.type == 4 && e.length >= 8) {
                header["bytes_written"] = rec::ReadU64(e.value);
            }
            return true;
        });
    }
    j["header_block"] = header;
    const CaptureTallies& t = s.tallies;
    j["tallies"] = {{"all", t.all},       {"cc1", t.cc1},         {"cc2", t.cc2},
                    {"no_preamble", t.noPreamble}, {"bad_crc", t.badCrc}, {"no_eop", t.noEop},
                    {"ui_out_of_range", t.uiOutOfRange}};
    j["ordered_sets"] = {{"SOP", t.sop},
                         {"SOP'", t.sopPrime},
                         {"SOP''", t.sopDoublePrime},
                         {"Hard Reset", t.hardReset},
                         {"Cable Reset", t.cableReset},
                         {"SOP'_Debug", t.sopPrimeDebug},
                         {"SOP''_Debug", t.sopDoublePrimeDebug},
                         {"other", t.otherKind}};
    j["sop_roles"] = {{"source", t.sopFromSource}, {"sink", t.sopFromSink}, {"dfp", t.sopFromDfp}, {"ufp", t.sopFromUfp}};
    auto byType = [](const uint32_t (&counts)[32]) {
        Json o = Json::object();
        for (int i = 0; i < 32; ++i)
            if (counts[i]) o[std::to_string(i)] = counts[i];
        return o;
    };
    j["control_messages_by_type"] = byType(t.controlByType);
    j["data_messages_by_type"] = byType(t.dataByType);
    j["extended_messages_by_type"] = byType(t.extendedByType);
    const CaptureExtremes& x = s.extremes;
    j["max_voltage_mV"] = x.maxVoltage;
    j["current_mA"] = {{"min", x.minCurrent}, {"max", x.maxCurrent}};
    j["power_mW"] = {{"min", x.minPower}, {"max", x.maxPower}};
    j["max_vbus_power"] = {{"mW", x.maxVbusPower}, {"mV", x.maxVbusPowerVoltage}, {"mA", x.maxVbusPowerCurrent}};
    j["min_vbus_power"] = {{"mW", x.minVbusPower}, {"mV", x.minVbusPowerVoltage}, {"mA", x.minVbusPowerCurrent}};
    j["marker_a"] = s.markerAPacket ? Json(s.markerAPacket->index) : Json(nullptr);
    j["marker_b"] = s.markerBPacket ? Json(s.markerBPacket->index) : Json(nullptr);
    Json bookmarks = Json::array();
    for (size_t i = 0; i < s.PacketCount(); ++i)
        if (s.PacketAt(i)->bookmarked) bookmarks.push_back(i);
    j["bookmarks"] = bookmarks;
    j["graph_marker_o_us"] = s.loadedGraphO >= 0 ? Json(s.loadedGraphO) : Json(nullptr);
    j["graph_marker_x_us"] = s.loadedGraphX >= 0 ? Json(s.loadedGraphX) : Json(nullptr);
    PutLine(j);
}
