// Contrast between a text and its background, as the WCAG measure of relative luminance gives it, and
// the colour of the same hue that reads on a background: every list row and every graph label picks its
// ink here, so that no combination of colours, settings or palette leaves a text unreadable.
#pragma once

#include <QColor>

// The least contrast a text needs on its background (WCAG AA for normal text).
inline constexpr double kReadableContrast = 4.5;

// 0 for black to 1 for white, from linear sRGB.
double RelativeLuminance(const QColor& c);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ContrastRatio(const QColor& a, const QColor& b);

// The ink as it is when it reads on the background; otherwise the same hue, darkened toward black or
// lightened toward white only as far as the contrast needs. It goes the way that keeps it on its own
// side of the background, unless only the other way can reach the contrast.
QColor ReadableInk(const QColor& ink, const QColor& background, double ratio = kReadableContrast);

// Black or white, whichever reads better on the background (at least 4.58:1 on any colour).
QColor InkOn(const QColor& background);
