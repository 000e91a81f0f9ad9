// qxtool's analysis commands (summary, check) and the JSON forms of packets, info and fields: objects
// with named members so that scripts never parse the tab-separated lists. Lists are JSON Lines, one
// object a line.
#pragma once

#include "Analyzer.h"
#include "CaptureJson.h"

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;
struct BitRange;

// The contract summary: one block of tab-separated lines per connection, or one JSON object per
// connection.
void PrintSummary(const CCaptureStore& store, const analysis::Results& results, bool json);

// The findings of the chosen rules (all when `rules` is empty), one line each. Returns how many are at
// or above `threshold`.
size_t PrintFindings(const CCaptureStore& store, const analysis::Results& results,
                     const std::vector<analysis::RuleId>& rules, analysis::Severity threshold, bool json);

// Rule ids from a comma-separated list of rule keys; false with the offending key.
bool ParseRuleList(const std::string& list, std::vector<analysis::RuleId>* rules, std::string* unknown);

// The rule keys and limit keys with their defaults, for --help.
std::string RuleHelp();

// JSON forms of `packets` (all columns chosen, or the default listing when `ids` is empty), `fields`
// and `info`.
void PrintPacketsJson(const CCaptureStore& store, const std::vector<int>& ids, bool invertCurrent);
bool PrintFieldsJson(const CCaptureStore& store, int64_t index, bool blockView, const BitRange& range,
                     std::string* error);
void PrintInfoJson(const CCaptureStore& store, const InfoFacts& facts);
