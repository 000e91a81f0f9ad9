#include "CaptureJson.h"

#include "AnalysisTexts.h"
#include "CaptureStore.h"
#include "FlowGrouper.h"
#include "MessageTypes.h"
#include "RecordStream.h"

#include <cstdio>

using namespace analysis;
using Json = nlohmann::ordered_json;

namespace {

Json RefJson(const CCaptureStore& store, const PacketRef& r) {
    if (r.number < 0) return nullptr;
    return Json{{"packet", r.number}, {"time_us", store.DisplayTime(r.time)}};
}

Json ObjectJson(const PowerObject& o) {
    return Json{{"position", o.position}, {"raw", HexText(o.raw, 8)},  {"kind", SupplyKindName(o.kind)},
                {"min_mV", o.minMv},      {"max_mV", o.maxMv},     {"max_mA", o.maxMa},
                {"max_mW", o.maxMw}};
}

Json AskJson(const Ask& a) {
    return Json{{"kind", SupplyKindName(a.kind)}, {"epr", a.epr},
                {"mV", a.mV},                     {"min_mV", a.minMv},
                {"max_mV", a.maxMv},              {"operating_mA", a.operatingMa},
                {"limit_mA", a.limitMa},          {"operating_mW", a.operatingMw}};
}

} // namespace

Json ConnectionJson(const CCaptureStore& store, const Connection& c, size_t n) {
    Json j;
    j["connection"] = n;
    j["start_us"] = store.DisplayTime(c.startTime);
    j["start_reason"] = c.startReason;
    j["end_us"] = c.endTime < 0 ? Json(nullptr) : Json(store.DisplayTime(c.endTime));
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
                            {"rdo", HexText(r.rdo, 8)},
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
                             {"to_us", k.endTime < 0 ? Json(nullptr) : Json(store.DisplayTime(k.endTime))},
                             {"end_reason", k.endTime < 0 ? Json(nullptr) : Json(k.endReason)},
                             {"position", k.position},
                             {"power", AskJson(k.ask)}});
    j["contracts"] = contracts;
    if (c.hasCable)
        j["cable"] = {{"at", RefJson(store, c.cable.packet)}, {"active", c.cable.active},
                      {"current_mA", c.cable.currentMa},      {"max_vbus_mV", c.cable.maxVbusMv},
                      {"speed", c.cable.speed},               {"epr", c.cable.epr},
                      {"vid", HexText(c.cable.vid, 4)},           {"pid", HexText(c.cable.pid, 4)}};
    else
        j["cable"] = nullptr;
    Json modes = Json::array();
    for (const AltMode& m : c.altModes) {
        Json list = Json::array();
        for (uint32_t v : m.modes) list.push_back(HexText(v, 8));
        modes.push_back({{"sop", OrderedSetName(m.kind)},
                         {"svid", HexText(m.svid, 4)},
                         {"modes", list},
                         {"entered_position", m.enteredPosition ? Json(m.enteredPosition) : Json(nullptr)},
                         {"entered_at", RefJson(store, m.entered)},
                         {"exited_at", RefJson(store, m.exited)},
                         {"configuration", m.configuration ? Json(HexText(m.configuration, 8)) : Json(nullptr)}});
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

Json FindingJson(const CCaptureStore& store, const Finding& f) {
    Json packets = Json::array();
    for (const PacketRef& r : f.packets) packets.push_back(r.number);
    return Json{{"rule", RuleInfoOf(f.rule).key},
                {"severity", SeverityName(f.severity)},
                {"time_us", store.DisplayTime(f.time)},
                {"end_us", store.DisplayTime(f.endTime)},
                {"packets", packets},
                {"measured", f.hasMeasured ? Json(f.measured) : Json(nullptr)},
                {"limit", f.limit},
                {"unit", f.unit},
                {"text", f.text}};
}


Json InfoJson(const CCaptureStore& s, const InfoFacts& facts) {
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
                for (int k = e.length - 1; k >= 0; --k) serial += HexText(e.value[k], 2);
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
    return j;
}

// The exchanges' own names (Party, Transaction, ...) are the grouping's.
using namespace flow;

Json ExchangeJson(const CCaptureStore& store, const flow::Flow& flow, const flow::Exchange& x, size_t n,
                  const std::vector<analysis::Finding>& findings) {
    Json txs = Json::array();
    for (int32_t i : x.transactions) {
        const Transaction& t = flow.transactions[size_t(i)];
        Json packets = Json::array();
        for (const FlowPacket& p : t.packets)
            packets.push_back({{"number", p.number},
                               {"time_us", store.DisplayTime(p.time)},
                               {"role", PacketRoleName(p.role)}});
        txs.push_back(
            {{"label", t.label},
             {"message_type",
              t.type == MessageTypeId::Count ? Json(nullptr) : Json(MessageTypeInfoOf(t.type).name)},
             {"ordered_set", analysis::OrderedSetName(t.kind)},
             {"start_us", store.DisplayTime(t.start)},
             {"end_us", store.DisplayTime(t.end)},
             {"from", t.from == Party::Unknown ? Json(nullptr) : Json(PartyName(t.from))},
             {"to", t.to == Party::Unknown ? Json(nullptr) : Json(PartyName(t.to))},
             {"message_id", t.messageId < 0 ? Json(nullptr) : Json(t.messageId)},
             {"transmissions", t.transmissions},
             {"retries", t.Retries()},
             {"acknowledged", t.acknowledged},
             {"outcome", OutcomeName(t.outcome)},
             {"packets", packets}});
    }
    Json found = Json::array();
    for (int32_t i : x.findings) {
        const analysis::Finding& f = findings[size_t(i)];
        Json numbers = Json::array();
        for (const analysis::PacketRef& r : f.packets) numbers.push_back(r.number);
        found.push_back({{"rule", analysis::RuleInfoOf(f.rule).key},
                         {"severity", analysis::SeverityName(f.severity)},
                         {"time_us", store.DisplayTime(f.time)},
                         {"packets", numbers},
                         {"text", f.text}});
    }
    return Json{{"exchange", n},
                {"kind", ExchangeKindName(x.kind)},
                {"title", x.title},
                {"ordered_set", analysis::OrderedSetName(x.orderedSet)},
                {"start_us", store.DisplayTime(x.start)},
                {"end_us", store.DisplayTime(x.end)},
                {"duration_us", x.Duration()},
                {"initiator", x.initiator == Party::Unknown ? Json(nullptr) : Json(PartyName(x.initiator))},
                {"result", ResultName(x.result)},
                {"transactions", txs},
                {"findings", found}};
}
