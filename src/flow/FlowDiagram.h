// The sequence diagram of a capture's transactions, laid out without a toolkit: one lane per party, one
// arrow per frame (GoodCRC small), the exchanges as bands beside the lanes, Hard Resets across every lane.
// Time runs down. Short gaps keep their length at the chosen scale, longer ones are cut short and marked
// with what they last, so that a capture of seconds reads as a ladder. The layout ends in shapes both the
// window (QPainter) and qxtool (SVG) draw as they are, so that both draw the same picture.
#pragma once

#include "FlowGrouper.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace analysis {
struct Finding;
}

namespace flow {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// The scale a diagram opens at, and the range zooming keeps to, in pixels per µs: at the default a
// millisecond takes 2 px and the rows of a conversation lie at their least spacing.
inline constexpr double kDefaultDiagramScale = 0.002;
inline constexpr double kMinDiagramScale = 0.00002;
inline constexpr double kMaxDiagramScale = 1.0;

struct DiagramOptions {
    int64_t timeOrigin = 0; // times are shown from it
    // The frames drawn: packets fromPacket..toPacket that start at startTime or later (µs from the capture
    // origin), until the diagram is maxHeight pixels tall (0: no limit).
    int64_t fromPacket = 0;
    int64_t toPacket = std::numeric_limits<int64_t>::max();
    int64_t startTime = std::numeric_limits<int64_t>::min();
    int32_t maxHeight = 0;
    double scale = kDefaultDiagramScale;
    int32_t fontHeight = 12; // pixels
    bool tips = false;       // say in words what each arrow, dot and bracket stands for (Shape::tip)
};

// Drawn as they are: a line, a filled polygon (an arrowhead), a text, a filled circle, a rectangle.
struct Shape {
    enum class Type : uint8_t { Line, Polygon, Text, Circle, Rect };
    enum class Anchor : uint8_t { Start, Middle, End };
    Type type = Type::Line;
    Rgb color;
    Rgb fill;            // Rect: its fill; Circle and Polygon fill with `color`
    bool filled = false; // Rect only
    bool dashed = false; // Line
    bool bold = false;   // Text
    bool small = false;  // Text in the smaller size
    Anchor anchor = Anchor::Start;
    float width = 1; // Line, Rect outline
    int32_t x[3] = {},
            y[3] = {}; // Line: 0→1; Polygon: three corners; Text: the baseline's anchor point;
                       // Circle: centre and x[1] its radius; Rect: corner 0 and x[1], y[1] its size
    std::string text;
    std::string tip; // what the shape stands for, in words (a tool tip); empty for none
};

// One frame's arrow, for finding what lies under the pointer.
struct DiagramArrow {
    int32_t y = 0;
    int32_t x1 = 0, x2 = 0;
    int32_t transaction = -1;
    int64_t number = -1; // the packet
    int64_t time = 0;
};

struct DiagramBand {
    int32_t top = 0, bottom = 0;
    int32_t exchange = -1;
};

struct DiagramLayout {
    int32_t width = 0, height = 0;
    int32_t headerHeight = 0;
    std::vector<Shape> shapes; // in drawing order
    std::vector<DiagramArrow> arrows;
    std::vector<DiagramBand> bands;
    int64_t firstTime = 0, lastTime = 0; // of the frames laid out
    bool complete = true;                // false: the height limit ended it before the last frame
};

DiagramLayout LayoutDiagram(const Flow& flow, const std::vector<analysis::Finding>& findings,
                            const DiagramOptions& o);

// The arrow nearest to a point, within a few pixels of it; -1 for none.
int32_t ArrowAt(const DiagramLayout& layout, int32_t x, int32_t y);

Rgb ResultColor(Result r);

// "1.234567" seconds from the time origin.
std::string DiagramTimeText(int64_t time, int64_t timeOrigin);
// "350 us", "12.5 ms", "1.20 s".
std::string DurationText(int64_t us);

} // namespace flow
