// The JSON forms of what qxtool says about a decoded capture: its facts (info), each connection of the
// summary, each finding and each exchange of the flow. qxtool prints them a line each; the Python module hands them over as objects,
// so both say the same by construction.
#pragma once

#include "Analyzer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;
namespace flow {
struct Flow;
struct Exchange;
}

nlohmann::ordered_json ConnectionJson(const CCaptureStore& store, const analysis::Connection& c, size_t n);
nlohmann::ordered_json FindingJson(const CCaptureStore& store, const analysis::Finding& f);

struct InfoFacts {
    std::string path;
    int64_t fileSize = 0;
    const std::vector<uint8_t>* head = nullptr; // the file's header block
};
nlohmann::ordered_json InfoJson(const CCaptureStore& store, const InfoFacts& facts);
// Exchange number `n` (from 1) with its transactions, their packets and the findings attached to it.
nlohmann::ordered_json ExchangeJson(const CCaptureStore& store, const flow::Flow& flow, const flow::Exchange& x,
                                    size_t n, const std::vector<analysis::Finding>& findings);
