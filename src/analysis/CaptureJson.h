// The JSON forms of what qxtool says about a decoded capture: its facts (info), each connection of the
// summary and each finding. qxtool prints them a line each; the Python module hands them over as objects,
// so both say the same by construction.
#pragma once

#include "Analyzer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;

nlohmann::ordered_json ConnectionJson(const CCaptureStore& store, const analysis::Connection& c, size_t n);
nlohmann::ordered_json FindingJson(const CCaptureStore& store, const analysis::Finding& f);

struct InfoFacts {
    std::string path;
    int64_t fileSize = 0;
    const std::vector<uint8_t>* head = nullptr; // the file's header block
};
nlohmann::ordered_json InfoJson(const CCaptureStore& store, const InfoFacts& facts);
