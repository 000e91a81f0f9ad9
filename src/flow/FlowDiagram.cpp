#include "FlowDiagram.h"

#include "Analyzer.h"
#include "CCPacket.h"
#include "TimeMath.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace flow {

namespace {

// clang-format off
constexpr Rgb kInk{0x20, 0x20, 0x20};
constexpr Rgb kLaneLine{0xB0, 0xB0, 0xB0};
constexpr Rgb kMessageColor{0x1F, 0x4E, 0x9A};
constexpr Rgb kCableColor{0x00, 0x7A, 0x7A};
constexpr Rgb kRetryColor{0xE0, 0x7A, 0x00};
constexpr Rgb kDamagedColor{0xC8, 0x10, 0x10};
constexpr Rgb kGoodCrcColor{0x8C, 0x8C, 0x8C};
constexpr Rgb kHardResetColor{0xD0, 0x00, 0x00};
constexpr Rgb kCableResetColor{0xA0, 0x50, 0x00};
constexpr Rgb kTimeColor{0x60, 0x60, 0x60};
constexpr Rgb kGapColor{0x90, 0x90, 0x90};
constexpr Rgb kSeverityColors[3] = {{0x30, 0x70, 0xD0}, {0xE0, 0x90, 0x00}, {0xD0, 0x10, 0x10}};
// clang-format on

// Bands are filled with their colour mixed into white.
Rgb Pale(Rgb c) {
    return {uint8_t(255 - (255 - c.r) / 10), uint8_t(255 - (255 - c.g) / 10),
            uint8_t(255 - (255 - c.b) / 10)};
}

struct Geometry {
    int32_t font = 12;
    int32_t row = 24;      // a message's row: its label above the arrow
    int32_t smallRow = 12; // a GoodCRC's
    int32_t timeRight = 0; // right edge of the time column
    int32_t marker = 0;    // centre of the findings column
    int32_t lanesLeft = 0;
    int32_t laneSpacing = 0;
    int32_t bandLeft = 0;
    int32_t bandColumn = 0;
    int32_t header = 0;
    int32_t laneX[kLaneCount] = {};
    bool laneShown[kLaneCount] = {};
    int32_t lanes = 0;
};

Geometry Measure(const Flow& flow, int32_t fontHeight) {
    Geometry g;
    g.font = std::max(8, fontHeight);
    g.row = g.font * 2;
    g.smallRow = g.font;
    g.timeRight = g.font * 6;
    g.marker = g.timeRight + g.font;
    g.lanesLeft = g.marker + g.font;
    g.laneSpacing = g.font * 18;
    g.header = g.font * 3;
    // Source and sink always; a cable plug when it speaks.
    for (int p = 0; p < kLaneCount; ++p) {
        g.laneShown[p] = Party(p) == Party::Source || Party(p) == Party::Sink || (flow.speakers >> p) & 1;
        if (!g.laneShown[p]) continue;
        g.laneX[p] = g.lanesLeft + g.laneSpacing * g.lanes + g.laneSpacing / 2;
        ++g.lanes;
    }
    g.bandLeft = g.lanesLeft + g.laneSpacing * g.lanes + g.font / 2;
    g.bandColumn = g.font;
    return g;
}

std::string Format(const char* f, double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// One frame to draw, in time order.
struct Item {
    int64_t time;
    int64_t number;
    int32_t tx;
    uint32_t index; // in the transaction's packets
};

Shape Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Rgb c, float width = 1, bool dashed = false) {
    Shape s;
    s.type = Shape::Type::Line;
    s.color = c;
    s.width = width;
    s.dashed = dashed;
    s.x[0] = x0;
    s.y[0] = y0;
    s.x[1] = x1;
    s.y[1] = y1;
    return s;
}

Shape Text(int32_t x, int32_t y, std::string text, Rgb c, Shape::Anchor a, bool small = false,
           bool bold = false) {
    Shape s;
    s.type = Shape::Type::Text;
    s.color = c;
    s.x[0] = x;
    s.y[0] = y;
    s.anchor = a;
    s.small = small;
    s.bold = bold;
    s.text = std::move(text);
    return s;
}

Shape Head(int32_t x, int32_t y, int dir, int32_t size, Rgb c) {
    Shape s;
    s.type = Shape::Type::Polygon;
    s.color = c;
    s.x[0] = x;
    s.y[0] = y;
    s.x[1] = x - dir * size;
    s.y[1] = y - size / 2;
    s.x[2] = x - dir * size;
    s.y[2] = y + size / 2;
    return s;
}

} // namespace

Rgb ResultColor(Result r) {
    switch (r) {
    case Result::Completed:
        return {0x2E, 0x8B, 0x57};
    case Result::Rejected:
    case Result::Wait:
    case Result::NotSupported:
        return {0xD0, 0x80, 0x00};
    case Result::InterruptedByReset:
        return {0x80, 0x40, 0xA0};
    case Result::TimedOut:
        return {0xC0, 0x20, 0x20};
    case Result::CutByCaptureEnd:
        break;
    }
    return {0x80, 0x80, 0x80};
}

std::string DiagramTimeText(int64_t time, int64_t timeOrigin) {
    const int64_t d = TimeDifference(time, timeOrigin);
    const int64_t a = d < 0 ? -d : d;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%" PRId64 ".%06" PRId64, d < 0 ? "-" : "", a / 1000000, a % 1000000);
    return buf;
}

std::string DurationText(int64_t us) {
    if (us < 1000) return std::to_string(us) + " us";
    if (us < 1000000)
        return Format(us < 10000 ? "%.2f ms" : us < 100000 ? "%.1f ms" : "%.0f ms", double(us) / 1000);
    return Format("%.2f s", double(us) / 1e6);
}

DiagramLayout LayoutDiagram(const Flow& flow, const std::vector<analysis::Finding>& findings,
                            const DiagramOptions& o) {
    const Geometry g = Measure(flow, o.fontHeight);
    DiagramLayout out;
    out.headerHeight = g.header;
    out.width = g.bandLeft + g.bandColumn * 3 + g.font * 30;

    // The frames in the window, in time order. Transactions are in the order of their first frames, and
    // none lasts long: those that began a little before the start may still hold frames after it.
    constexpr int64_t kLongestTransactionUs = 200000;
    const auto& txs = flow.transactions;
    size_t first = 0;
    if (o.startTime != std::numeric_limits<int64_t>::min()) {
        const int64_t from = TimeDifference(o.startTime, kLongestTransactionUs);
        first = size_t(std::lower_bound(txs.begin(), txs.end(), from,
                                        [](const Transaction& t, int64_t v) { return t.start < v; }) -
                       txs.begin());
    }
    std::vector<Item> items;
    // With a height limit, no more frames are needed than rows fit: at most one per pixel of height.
    const size_t most = o.maxHeight > 0 ? size_t(o.maxHeight) + 64 : SIZE_MAX;
    int64_t reached = std::numeric_limits<int64_t>::min();
    for (size_t i = first; i < txs.size(); ++i) {
        const Transaction& t = txs[i];
        if (items.size() >= most && t.start > reached) break;
        for (uint32_t k = 0; k < t.packets.size(); ++k) {
            const FlowPacket& p = t.packets[k];
            if (p.number < o.fromPacket || p.number > o.toPacket || p.time < o.startTime) continue;
            items.push_back({p.time, p.number, int32_t(i), k});
        }
        if (items.size() >= most && reached == std::numeric_limits<int64_t>::min()) reached = t.end;
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.time != b.time ? a.time < b.time : a.number < b.number;
    });

    // The worst finding of each packet in the window.
    std::unordered_map<int64_t, int32_t> severity;
    std::unordered_map<int64_t, std::string> findingTips;
    std::vector<int32_t> exchangesSeen;
    for (const Item& it : items) {
        const int32_t x = txs[size_t(it.tx)].exchange;
        if (x >= 0 && (exchangesSeen.empty() || exchangesSeen.back() != x)) exchangesSeen.push_back(x);
    }
    std::sort(exchangesSeen.begin(), exchangesSeen.end());
    exchangesSeen.erase(std::unique(exchangesSeen.begin(), exchangesSeen.end()), exchangesSeen.end());
    for (int32_t x : exchangesSeen)
        for (int32_t f : flow.exchanges[size_t(x)].findings) {
            if (size_t(f) >= findings.size()) continue; // attached to findings since replaced
            const analysis::Finding& finding = findings[size_t(f)];
            if (finding.packets.empty()) continue;
            const int64_t n = finding.packets.front().number;
            auto [at, added] = severity.emplace(n, int32_t(finding.severity));
            if (!added) at->second = std::max(at->second, int32_t(finding.severity));
            if (!o.tips) continue;
            std::string& tip = findingTips[n];
            tip += (tip.empty() ? "" : "\n") + std::string(analysis::SeverityName(finding.severity)) + " " +
                   analysis::RuleInfoOf(finding.rule).key + ": " + finding.text;
        }

    // Lanes and their titles.
    std::vector<Shape>& shapes = out.shapes;
    int32_t lo = INT32_MAX, hi = 0;
    for (int p = 0; p < kLaneCount; ++p)
        if (g.laneShown[p]) {
            lo = std::min(lo, g.laneX[p]);
            hi = std::max(hi, g.laneX[p]);
        }
    const auto laneOf = [&](Party p) { return p == Party::Unknown ? -1 : g.laneX[int(p)]; };

    // Rows: each frame below the one before by its time at the scale, at least its row, and a gap too long
    // for the scale cut short and marked.
    const int32_t capPx = g.row * 4;
    const double rowFactor = std::clamp(o.scale / kDefaultDiagramScale, 0.02, 1.0);
    int32_t y = g.header + g.row;
    int32_t lastLabelY = INT32_MIN / 2, lastTimeY = INT32_MIN / 2;
    int64_t previous = items.empty() ? 0 : items.front().time;
    std::vector<Shape> arrowShapes;
    std::unordered_map<int32_t, std::pair<int32_t, int32_t>> bandRows; // exchange: first and last row
    for (size_t n = 0; n < items.size(); ++n) {
        const Item& it = items[n];
        const Transaction& t = txs[size_t(it.tx)];
        const FlowPacket& p = t.packets[it.index];
        const bool small = p.role == PacketRole::GoodCrc;
        if (n > 0) {
            const double natural = double(it.time - previous) * o.scale;
            const int32_t least = std::max(1, int32_t(std::lround((small ? g.smallRow : g.row) * rowFactor)));
            if (natural > capPx) {
                const int32_t gap = std::max(least, int32_t(std::lround(g.row * 1.5 * rowFactor)));
                const int32_t mid = y + gap / 2 - (small ? 0 : g.font / 2);
                if (gap >= g.font) {
                    arrowShapes.push_back(Line(lo - g.font, mid, hi + g.font, mid, kGapColor, 1, true));
                    arrowShapes.push_back(Text(lo - g.font - 4, mid + g.font / 3,
                                               DurationText(it.time - previous), kGapColor,
                                               Shape::Anchor::End, true));
                }
                y += gap;
            } else {
                y += std::max(least, int32_t(std::lround(natural)));
            }
        }
        if (o.maxHeight > 0 && y > o.maxHeight) {
            out.complete = false;
            break;
        }
        previous = it.time;
        out.lastTime = it.time;
        if (n == 0) out.firstTime = it.time;

        // Who sent this frame to whom: a GoodCRC and a spoilt answer go back the other way.
        Party from = t.from, to = t.to;
        const bool back =
            p.role == PacketRole::GoodCrc || (p.role == PacketRole::Damaged && t.outcome != Outcome::Damaged);
        if (back) std::swap(from, to);
        int32_t x1 = laneOf(from), x2 = laneOf(to);
        const bool across = p.role == PacketRole::Signal || x1 < 0 || x2 < 0;
        if (across) {
            x1 = lo;
            x2 = hi;
        }
        Rgb color = t.kind == kKindSop || !IsMessageKind(t.kind) ? kMessageColor : kCableColor;
        float width = 1.5f;
        bool dashed = false, head = !across;
        std::string label = t.label;
        switch (p.role) {
        case PacketRole::Transmission:
            break;
        case PacketRole::Retry:
            color = kRetryColor;
            label += " (retry)";
            break;
        case PacketRole::Failed:
            color = kDamagedColor;
            dashed = true;
            label += " (not read)";
            break;
        case PacketRole::GoodCrc:
            color = kGoodCrcColor;
            width = 1;
            label = "GoodCRC";
            break;
        case PacketRole::Damaged:
            color = kDamagedColor;
            dashed = true;
            label = t.outcome == Outcome::Damaged ? t.label : "damaged frame";
            break;
        case PacketRole::Signal:
            color = t.label == "Hard Reset" ? kHardResetColor : kCableResetColor;
            width = 3;
            break;
        }
        const int32_t headSize = small ? g.font / 2 : g.font * 2 / 3;
        const int dir = x2 >= x1 ? 1 : -1;
        Shape line = Line(x1, y, head ? x2 - dir * headSize / 2 : x2, y, color, width, dashed);
        if (o.tips) {
            char tip[96];
            std::snprintf(tip, sizeof tip, "#%" PRId64 " %s at %s s", p.number, PacketRoleName(p.role),
                          DiagramTimeText(p.time, o.timeOrigin).c_str());
            line.tip = label + "\n" + tip;
        }
        arrowShapes.push_back(std::move(line));
        if (head) arrowShapes.push_back(Head(x2, y, dir, headSize, color));
        if (p.role == PacketRole::Failed || (p.role == PacketRole::Damaged && !across)) {
            // A cross where the frame was lost.
            const int32_t c = (x1 + x2) / 2, r = g.font / 3;
            arrowShapes.push_back(Line(c - r, y - r, c + r, y + r, kDamagedColor, 2));
            arrowShapes.push_back(Line(c - r, y + r, c + r, y - r, kDamagedColor, 2));
        }
        // Labels and times only where there is room for them.
        if (y - lastLabelY >= g.font) {
            arrowShapes.push_back(Text((x1 + x2) / 2, y - 3, label, color, Shape::Anchor::Middle, small,
                                       p.role == PacketRole::Signal));
            lastLabelY = y;
        }
        if (!small && y - lastTimeY >= g.font) {
            arrowShapes.push_back(Text(g.timeRight, y + g.font / 3, DiagramTimeText(p.time, o.timeOrigin),
                                       kTimeColor, Shape::Anchor::End, true));
            lastTimeY = y;
        }
        if (const auto s = severity.find(p.number); s != severity.end()) {
            Shape dot;
            dot.type = Shape::Type::Circle;
            dot.color = kSeverityColors[std::clamp(s->second, 0, 2)];
            dot.x[0] = g.marker;
            dot.y[0] = y;
            dot.x[1] = std::max(3, g.font / 3);
            if (o.tips) dot.tip = findingTips[p.number];
            arrowShapes.push_back(std::move(dot));
        }
        out.arrows.push_back({y, x1, x2, it.tx, p.number, p.time});
        if (t.exchange >= 0) {
            auto [at, added] = bandRows.emplace(t.exchange, std::make_pair(y, y));
            if (!added) at->second.second = y;
        }
    }
    out.height = y + g.row;

    // Exchange bands behind the arrows: a pale fill across the lanes and a bracket with the exchange's
    // kind, result and duration; conversations with the cable plugs in columns of their own.
    std::vector<std::pair<int32_t, std::pair<int32_t, int32_t>>> bands(bandRows.begin(), bandRows.end());
    std::sort(bands.begin(), bands.end());
    std::vector<Shape> bandShapes;
    int32_t lastTextY[3] = {INT32_MIN / 2, INT32_MIN / 2, INT32_MIN / 2};
    for (const auto& [x, rows] : bands) {
        const Exchange& e = flow.exchanges[size_t(x)];
        const int32_t top = std::max(g.header, rows.first - g.font - 2), bottom = rows.second + g.font / 2;
        const int col = e.orderedSet == kKindSopPrime || e.orderedSet == kKindSopPrimeDebug               ? 1
                        : e.orderedSet == kKindSopDoublePrime || e.orderedSet == kKindSopDoublePrimeDebug ? 2
                                                                                                          : 0;
        const Rgb color = ResultColor(e.result);
        Shape fill;
        fill.type = Shape::Type::Rect;
        fill.filled = true;
        fill.fill = Pale(color);
        fill.color = fill.fill;
        fill.width = 0;
        fill.x[0] = lo - g.font * 2;
        fill.y[0] = top;
        fill.x[1] = hi + g.font * 2 - fill.x[0];
        fill.y[1] = bottom - top;
        if (col == 0) bandShapes.push_back(fill);
        const int32_t bx = g.bandLeft + col * g.bandColumn;
        Shape bracket = Line(bx, top, bx, bottom, color, 3);
        std::string text = e.title + ": " + ResultName(e.result) + ", " + DurationText(e.Duration());
        if (o.tips)
            bracket.tip =
                text + (e.findings.empty() ? "" : "\n" + std::to_string(e.findings.size()) + " findings");
        bandShapes.push_back(std::move(bracket));
        bandShapes.push_back(Line(bx, top, bx + g.font / 2, top, color, 2));
        bandShapes.push_back(Line(bx, bottom, bx + g.font / 2, bottom, color, 2));
        const int32_t ty = std::max(top + g.font, lastTextY[col] + g.font + 2);
        if (ty <= bottom + g.font) {
            bandShapes.push_back(Text(g.bandLeft + g.bandColumn * 3 + 4, ty, std::move(text), color,
                                      Shape::Anchor::Start, false, col == 0));
            lastTextY[col] = ty;
        }
        out.bands.push_back({top, bottom, x});
    }

    // Drawing order: bands, lanes, arrows, then the header over everything that scrolls under it.
    shapes.reserve(bandShapes.size() + arrowShapes.size() + 16);
    for (Shape& s : bandShapes) shapes.push_back(std::move(s));
    for (int p = 0; p < kLaneCount; ++p)
        if (g.laneShown[p])
            shapes.push_back(Line(g.laneX[p], g.header, g.laneX[p], out.height, kLaneLine, 1, true));
    for (Shape& s : arrowShapes) shapes.push_back(std::move(s));
    Shape header;
    header.type = Shape::Type::Rect;
    header.filled = true;
    header.fill = {0xF4, 0xF4, 0xF4};
    header.color = kLaneLine;
    header.x[1] = out.width;
    header.y[1] = g.header;
    shapes.push_back(header);
    shapes.push_back(Text(g.timeRight, g.header - g.font, "Time [s]", kInk, Shape::Anchor::End, false, true));
    for (int p = 0; p < kLaneCount; ++p)
        if (g.laneShown[p])
            shapes.push_back(Text(g.laneX[p], g.header - g.font, PartyName(Party(p)), kInk,
                                  Shape::Anchor::Middle, false, true));
    shapes.push_back(
        Text(g.bandLeft, g.header - g.font, "Exchange", kInk, Shape::Anchor::Start, false, true));
    return out;
}

int32_t ArrowAt(const DiagramLayout& layout, int32_t x, int32_t y) {
    constexpr int32_t kReach = 5;
    auto it = std::lower_bound(layout.arrows.begin(), layout.arrows.end(), y - kReach,
                               [](const DiagramArrow& a, int32_t v) { return a.y < v; });
    int32_t best = -1, bestDistance = kReach + 1;
    for (; it != layout.arrows.end() && it->y <= y + kReach; ++it) {
        if (x < std::min(it->x1, it->x2) - kReach || x > std::max(it->x1, it->x2) + kReach) continue;
        const int32_t d = std::abs(it->y - y);
        if (d < bestDistance) {
            bestDistance = d;
            best = int32_t(it - layout.arrows.begin());
        }
    }
    return best;
}

} // namespace flow
