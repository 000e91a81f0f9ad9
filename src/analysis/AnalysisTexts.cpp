#include "AnalysisTexts.h"

#include "CaptureStore.h"

#include <cinttypes>
#include <cstdio>

namespace analysis {

std::string SecondsText(const CCaptureStore& store, int64_t t) {
    char buf[32];
    const int64_t d = store.DisplayTime(t);
    std::snprintf(buf, sizeof buf, "%s%" PRId64 ".%06" PRId64 " s", d < 0 ? "-" : "", (d < 0 ? -d : d) / 1000000,
                  (d < 0 ? -d : d) % 1000000);
    return buf;
}

std::string FixedText(double v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

std::string HexText(uint32_t v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, unsigned(v));
    return buf;
}

std::string AtText(const CCaptureStore& store, const PacketRef& r) {
    if (r.number < 0) return "-";
    return "#" + std::to_string(r.number) + " at " + SecondsText(store, r.time);
}

std::string ObjectText(const PowerObject& o) {
    std::string t = std::to_string(o.position) + ": " + SupplyKindName(o.kind);
    switch (o.kind) {
    case SupplyKind::Fixed:
        return t + " " + FixedText(o.maxMv / 1000.0, 2) + " V " + FixedText(o.maxMa / 1000.0, 2) + " A";
    case SupplyKind::Variable:
    case SupplyKind::Pps:
        return t + " " + FixedText(o.minMv / 1000.0, 2) + "-" + FixedText(o.maxMv / 1000.0, 2) + " V " +
               FixedText(o.maxMa / 1000.0, 2) + " A";
    case SupplyKind::Battery:
    case SupplyKind::EprAvs:
        return t + " " + FixedText(o.minMv / 1000.0, 2) + "-" + FixedText(o.maxMv / 1000.0, 2) + " V " +
               FixedText(o.maxMw / 1000.0, 2) + " W";
    case SupplyKind::SprAvs:
        return t + " 9-20 V " + FixedText(o.maxMa / 1000.0, 2) + " A at 15 V";
    case SupplyKind::Unknown:
        break;
    }
    return t + " " + HexText(o.raw, 8);
}

std::string AskText(const Ask& a) {
    if (a.kind == SupplyKind::Unknown) return "object not offered in this capture";
    std::string v = a.minMv != a.maxMv
                        ? FixedText(a.minMv / 1000.0, 2) + "-" + FixedText(a.maxMv / 1000.0, 2) + " V"
                        : FixedText(a.mV / 1000.0, 2) + " V";
    std::string t = std::string(SupplyKindName(a.kind)) + (a.epr ? " (EPR)" : "") + " " + v;
    if (a.operatingMw) t += ", operating " + FixedText(a.operatingMw / 1000.0, 2) + " W";
    t += ", operating " + FixedText(a.operatingMa / 1000.0, 2) + " A";
    if (a.limitMa) t += ", limit " + FixedText(a.limitMa / 1000.0, 2) + " A";
    return t;
}

const char* OrderedSetName(int32_t kind) {
    return kind == kKindSopPrime ? "SOP'" : kind == kKindSopDoublePrime ? "SOP''" : "SOP";
}

std::string SummaryLine::Text() const {
    std::string t = label;
    for (const std::string& c : cells) t += "\t" + c;
    return t;
}

std::vector<SummaryLine> ConnectionLines(const CCaptureStore& store, const Connection& c, size_t n) {
    std::vector<SummaryLine> lines;
    auto end = [&](int64_t t, const std::string& reason) {
        return t < 0 ? std::string("end of capture") : SecondsText(store, t) + " (" + reason + ")";
    };
    lines.push_back({"Connection " + std::to_string(n),
                     {SecondsText(store, c.startTime) + " (" + c.startReason + ") .. " + end(c.endTime, c.endReason)},
                     {},
                     {-1, c.startTime}});
    lines.push_back({"Revisions",
                     {"SOP " + RevisionsText(c.revisions[0]) + "; SOP' " + RevisionsText(c.revisions[1]) +
                      "; SOP'' " + RevisionsText(c.revisions[2])},
                     {},
                     {}});
    for (const Offer& o : c.offers) {
        SummaryLine l{o.epr ? "EPR offer" : "Offer", {AtText(store, o.packet)}, {}, o.packet};
        std::string objects;
        for (const PowerObject& x : o.objects) {
            l.items.push_back(ObjectText(x));
            objects += (objects.empty() ? "" : "; ") + l.items.back();
        }
        l.cells.push_back(objects);
        lines.push_back(std::move(l));
    }
    for (const RequestEntry& r : c.requests) {
        std::string answer = r.answer.empty() ? "no answer" : r.answer + " " + AtText(store, r.answerPacket);
        if (r.psRdyPacket.number >= 0)
            answer += ", PS_RDY " + AtText(store, r.psRdyPacket) + ", " + FixedText(r.acceptToPsRdyUs / 1000.0, 1) +
                      " ms after Accept";
        lines.push_back({"Request",
                         {AtText(store, r.packet), "position " + std::to_string(r.position) + ": " + AskText(r.ask),
                          answer},
                         {},
                         r.packet});
    }
    for (const Contract& k : c.contracts)
        lines.push_back({"Contract", {AtText(store, k.psRdy) + " .. " + end(k.endTime, k.endReason), AskText(k.ask)},
                         {}, k.psRdy});
    if (c.hasCable)
        lines.push_back({"Cable",
                         {AtText(store, c.cable.packet),
                          std::string(c.cable.active ? "active" : "passive") + ", " +
                              (c.cable.currentMa ? FixedText(c.cable.currentMa / 1000.0, 0) + " A"
                                                 : std::string("current not given")) +
                              ", " + FixedText(c.cable.maxVbusMv / 1000.0, 0) + " V, " + c.cable.speed + ", EPR " +
                              (c.cable.epr ? "yes" : "no") + ", VID " + HexText(c.cable.vid, 4) + " PID " +
                              HexText(c.cable.pid, 4)},
                         {},
                         c.cable.packet});
    for (const AltMode& m : c.altModes) {
        std::string modes;
        for (uint32_t v : m.modes) modes += (modes.empty() ? "" : " ") + HexText(v, 8);
        std::string state = m.enteredPosition ? "entered mode " + std::to_string(m.enteredPosition) + " " +
                                                    AtText(store, m.entered)
                                              : "not entered";
        if (m.exited.number >= 0) state += ", exited " + AtText(store, m.exited);
        if (m.configuration) state += ", configuration " + HexText(m.configuration, 8);
        lines.push_back({"Alternate mode",
                         {std::string(OrderedSetName(m.kind)) + " SVID " + HexText(m.svid, 4),
                          "modes " + (modes.empty() ? std::string("-") : modes), state},
                         {},
                         m.entered});
    }
    for (const EventEntry& e : c.resets)
        lines.push_back({"Reset", {AtText(store, e.packet), e.what + (e.by.empty() ? "" : " by " + e.by)}, {}, e.packet});
    for (const EventEntry& e : c.swaps)
        lines.push_back({"Swap",
                         {AtText(store, e.packet), e.what + " by " + e.by, e.answer.empty() ? "no answer" : e.answer},
                         {},
                         e.packet});
    return lines;
}

std::string MeasuredText(const Finding& f) {
    if (!f.hasMeasured) return "-";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%g %s", f.measured, f.unit.c_str());
    return buf;
}

std::string LimitText(const Finding& f) {
    if (f.limit == 0 && !f.hasMeasured) return "-";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%g %s", f.limit, f.unit.c_str());
    return buf;
}

std::string PacketsText(const Finding& f) {
    std::string packets;
    for (const PacketRef& r : f.packets) packets += (packets.empty() ? "" : ",") + std::to_string(r.number);
    return packets.empty() ? "-" : packets;
}

} // namespace analysis
