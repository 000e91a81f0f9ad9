#include "FlowCommand.h"

#include "AnalysisTexts.h"
#include "Analyzer.h"
#include "CaptureJson.h"
#include "CaptureStore.h"
#include "FlowGrouper.h"
#include "FlowSvg.h"
#include "QXDoc.h"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>

using Json = nlohmann::ordered_json;
using namespace flow;

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;

int Fail(int status, const std::string& what) {
    std::fprintf(stderr, "qxtool: %s\n", what.c_str());
    return status;
}

// Whether the exchange has a packet in [from, to].
bool InRange(const Flow& flow, const Exchange& x, int64_t from, int64_t to) {
    for (int32_t tx : x.transactions)
        for (const FlowPacket& p : flow.transactions[size_t(tx)].packets)
            if (p.number >= from && p.number <= to) return true;
    return false;
}

std::string PacketList(const Transaction& t) {
    std::string text;
    for (const FlowPacket& p : t.packets) text += (text.empty() ? "" : ",") + std::to_string(p.number);
    return text;
}

void PutLine(const Json& j) {
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
}

void PrintText(const CCaptureStore& store, const Flow& flow, const Exchange& x, size_t n,
               const std::vector<analysis::Finding>& findings) {
    std::printf("%zu\t%s\t%s\t%" PRId64 "\t%" PRId64 "\t%s\t%s\t%zu\n", n, x.title.c_str(),
                ExchangeKindName(x.kind), store.DisplayTime(x.start), x.Duration(), PartyName(x.initiator),
                ResultName(x.result), x.findings.size());
    for (int32_t i : x.transactions) {
        const Transaction& t = flow.transactions[size_t(i)];
        std::printf("\t%s\t%" PRId64 "\t%" PRId64 "\t%s -> %s\t%s\t%s\n", t.label.c_str(),
                    store.DisplayTime(t.start), t.end - t.start, PartyName(t.from), PartyName(t.to),
                    OutcomeText(t).c_str(), PacketList(t).c_str());
    }
    for (int32_t i : x.findings) {
        const analysis::Finding& f = findings[size_t(i)];
        std::printf("\t!\t%s\t%s\t%" PRId64 "\t%s\n", analysis::SeverityName(f.severity),
                    analysis::RuleInfoOf(f.rule).key, store.DisplayTime(f.time), f.text.c_str());
    }
}

} // namespace

int FlowCommand(const FlowArgs& a, const std::function<bool(CQXDoc&)>& open) {
    if (a.from >= 0 && a.to >= 0 && a.from > a.to) return Fail(kUsageError, "--from must not lie after --to");
    std::error_code ec;
    if (!a.svg.empty()) {
        if (std::filesystem::is_directory(a.svg, ec)) return Fail(kInputError, a.svg + ": is a folder");
        if (std::filesystem::exists(a.svg, ec) && !a.overwrite)
            return Fail(kInputError, a.svg + ": exists already (--overwrite replaces it)");
    }
    CQXDoc doc;
    if (!open(doc)) return kInputError;
    const CCaptureStore& store = doc.store;
    const int64_t last = int64_t(store.PacketCount()) - 1;
    for (const int64_t n : {a.from, a.to})
        if (n > last)
            return Fail(kInputError, a.file + ": there is no packet " + std::to_string(n) + " (" +
                                         std::to_string(store.PacketCount()) + " packets)");
    const int64_t from = a.from < 0 ? 0 : a.from, to = a.to < 0 ? last : a.to;

    const analysis::Results results = analysis::Analyze(store);
    const Flow flow = Group(store, results.findings);

    if (!a.svg.empty()) {
        DiagramOptions o;
        o.timeOrigin = store.timeOrigin;
        o.fromPacket = from;
        o.toPacket = to;
        const std::string part = a.svg + ".part";
        {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            if (out) out << FlowSvg(flow, results.findings, o);
            if (!out.flush()) {
                std::filesystem::remove(part, ec);
                return Fail(kInputError, a.svg + ": cannot be written");
            }
        }
        std::filesystem::rename(part, a.svg, ec);
        if (ec) {
            std::filesystem::remove(part, ec);
            return Fail(kInputError, a.svg + ": cannot be written");
        }
        return 0;
    }

    if (!a.json) std::puts("Exchange\tTitle\tKind\tTime[us]\tDuration[us]\tInitiator\tResult\tFindings");
    for (size_t n = 0; n < flow.exchanges.size(); ++n) {
        const Exchange& x = flow.exchanges[n];
        if (!InRange(flow, x, from, to)) continue;
        if (a.json)
            PutLine(ExchangeJson(store, flow, x, n + 1, results.findings));
        else
            PrintText(store, flow, x, n + 1, results.findings);
    }
    return 0;
}
