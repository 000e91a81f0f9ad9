// qxtool flow: the capture's exchanges and transactions as text or JSON Lines, or its sequence diagram as
// an SVG file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CQXDoc;

struct FlowArgs {
    std::string file;
    bool json = false;
    int64_t from = -1, to = -1; // packet numbers; -1: the capture's top or end
    std::string svg;            // the diagram's file; empty: list instead
    bool overwrite = false;
};

// `open` decodes the file into the document as every command of the tool does (false: it said why).
int FlowCommand(const FlowArgs& a, const std::function<bool(CQXDoc&)>& open);
