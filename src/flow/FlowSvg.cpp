#include "FlowSvg.h"

#include <cstdio>

namespace flow {

namespace {

std::string Color(Rgb c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void Close(std::string& svg, const Shape& s) {
    if (s.tip.empty()) {
        svg += "/>\n";
        return;
    }
    svg += "><title>" + Escaped(s.tip) + "</title></";
    svg += s.type == Shape::Type::Line ? "line" : s.type == Shape::Type::Circle ? "circle" : "rect";
    svg += ">\n";
}

} // namespace

std::string FlowSvg(const Flow& flow, const std::vector<analysis::Finding>& findings,
                    const DiagramOptions& o) {
    DiagramOptions withTips = o;
    withTips.tips = true; // a reader of the file hovers over an arrow to learn what it was
    const DiagramLayout layout = LayoutDiagram(flow, findings, withTips);
    const int32_t font = std::max(8, o.fontHeight);
    char buf[256];
    std::string svg;
    svg.reserve(layout.shapes.size() * 96 + 512);
    std::snprintf(
        buf, sizeof buf,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
        "font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"%d\">\n",
        layout.width, layout.height, layout.width, layout.height, font);
    svg += buf;
    std::snprintf(buf, sizeof buf, "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n",
                  layout.width, layout.height);
    svg += buf;
    for (const Shape& s : layout.shapes) {
        switch (s.type) {
        case Shape::Type::Line:
            std::snprintf(buf, sizeof buf,
                          "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"%g\"%s",
                          s.x[0], s.y[0], s.x[1], s.y[1], Color(s.color).c_str(), double(s.width),
                          s.dashed ? " stroke-dasharray=\"5 3\"" : "");
            svg += buf;
            Close(svg, s);
            break;
        case Shape::Type::Polygon:
            std::snprintf(buf, sizeof buf, "<polygon points=\"%d,%d %d,%d %d,%d\" fill=\"%s\"/>\n", s.x[0],
                          s.y[0], s.x[1], s.y[1], s.x[2], s.y[2], Color(s.color).c_str());
            svg += buf;
            break;
        case Shape::Type::Circle:
            std::snprintf(buf, sizeof buf, "<circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"%s\"", s.x[0], s.y[0],
                          s.x[1], Color(s.color).c_str());
            svg += buf;
            Close(svg, s);
            break;
        case Shape::Type::Rect:
            std::snprintf(buf, sizeof buf, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"",
                          s.x[0], s.y[0], s.x[1], s.y[1], s.filled ? Color(s.fill).c_str() : "none");
            svg += buf;
            if (s.width > 0) {
                std::snprintf(buf, sizeof buf, " stroke=\"%s\" stroke-width=\"%g\"", Color(s.color).c_str(),
                              double(s.width));
                svg += buf;
            }
            Close(svg, s);
            break;
        case Shape::Type::Text: {
            static const char* const kAnchors[] = {"start", "middle", "end"};
            std::snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"%s\" fill=\"%s\"%s%s>",
                          s.x[0], s.y[0], kAnchors[int(s.anchor)], Color(s.color).c_str(),
                          s.bold ? " font-weight=\"bold\"" : "", s.small ? " font-size=\"0.85em\"" : "");
            svg += buf;
            svg += Escaped(s.text) + "</text>\n";
            break;
        }
        }
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace flow
