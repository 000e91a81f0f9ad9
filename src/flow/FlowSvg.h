// The sequence diagram as an SVG document, drawn from the same layout as the window's pane.
#pragma once

#include "FlowDiagram.h"

#include <string>
#include <vector>

namespace flow {

std::string FlowSvg(const Flow& flow, const std::vector<analysis::Finding>& findings,
                    const DiagramOptions& o);

} // namespace flow
