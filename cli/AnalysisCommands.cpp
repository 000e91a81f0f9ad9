#include "AnalysisCommands.h"

#include "AnalysisTexts.h"
#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"
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

void PrintConnectionText(const CCaptureStore& store, const Connection& c, size_t n) {
    for (const SummaryLine& line : ConnectionLines(store, c, n)) std::puts(line.Text().c_str());
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
        std::printf("%s\t%s\t%" PRId64 "\t%s\t%s\t%s\t%s\n", SeverityName(f.severity), RuleInfoOf(f.rule).key,
                    store.DisplayTime(f.time), PacketsText(f).c_str(), MeasuredText(f).c_str(), LimitText(f).c_str(),
                    f.text.c_str());
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
    PutLine(InfoJson(s, facts));
}
