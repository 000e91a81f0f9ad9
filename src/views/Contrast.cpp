#include "Contrast.h"

#include <algorithm>
#include <cmath>

namespace {

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Scaling toward black and mixing toward white both keep the hue: every channel moves by the same
// share of its distance to the end.
QColor Toward(const QColor& c, bool white, double share) {
    auto move = [&](int v) {
        const double end = white ? 255.0 : 0.0;
        return int(std::lround(v + (end - v) * share));
    };
    return QColor(move(c.red()), move(c.green()), move(c.blue()));
}

} // namespace

double RelativeLuminance(const QColor& c) {
    return 0.2126 * Linear(c.red()) + 0.7152 * Linear(c.green()) + 0.0722 * Linear(c.blue());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableInk(const QColor& ink, const QColor& background, double ratio) {
    if (ContrastRatio(ink, background) >= ratio) return ink;
    const double bg = RelativeLuminance(background);
    const bool blackReads = (bg + 0.05) / 0.05 >= ratio;
    const bool whiteReads = 1.05 / (bg + 0.05) >= ratio;
    const bool toWhite = RelativeLuminance(ink) > bg ? whiteReads : !blackReads;
    for (int step = 1; step < 255; ++step) {
        const QColor c = Toward(ink, toWhite, step / 255.0);
        if (ContrastRatio(c, background) >= ratio) return c;
    }
    return toWhite ? QColor(255, 255, 255) : QColor(0, 0, 0);
}

QColor InkOn(const QColor& background) {
    const QColor black(0, 0, 0), white(255, 255, 255);
    return ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
}
