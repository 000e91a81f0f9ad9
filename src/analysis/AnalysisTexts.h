// The results in words, as `qxtool summary` and `check` print them and the window's Analysis pane shows
// them: one line per summary entry with its cells, and the cells of a finding.
#pragma once

#include "Analyzer.h"

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;

namespace analysis {

// "1.234567 s" from the time origin.
std::string SecondsText(const CCaptureStore& store, int64_t t);
std::string FixedText(double v, int digits);
std::string HexText(uint32_t v, int width);
// "#12 at 1.234567 s"; "-" for no packet.
std::string AtText(const CCaptureStore& store, const PacketRef& r);
// "3: fixed 20.00 V 3.00 A".
std::string ObjectText(const PowerObject& o);
// "fixed 20.00 V, operating 3.00 A, limit 3.00 A".
std::string AskText(const Ask& a);
const char* OrderedSetName(int32_t kind); // "SOP", "SOP'", "SOP''"

// One line of a connection's summary: its label ("Offer", "Request", ...), the cells after it and, for
// offers, the objects (the last cell, "; "-separated, in a line of text).
struct SummaryLine {
    std::string label;
    std::vector<std::string> cells;
    std::vector<std::string> items;
    PacketRef packet; // the packet the line begins at; number -1 for none
    // The line as a list prints it: label and cells, tab-separated.
    std::string Text() const;
};
// Connection n (1-based): its heading, revisions, offers, requests, contracts, cable, alternate modes,
// resets and swaps, in that order.
std::vector<SummaryLine> ConnectionLines(const CCaptureStore& store, const Connection& c, size_t n);

// A finding's measured value and limit with their unit; "-" where there is none.
std::string MeasuredText(const Finding& f);
std::string LimitText(const Finding& f);
// Packet numbers, comma-separated; "-" for none.
std::string PacketsText(const Finding& f);

} // namespace analysis
