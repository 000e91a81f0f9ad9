#include "GraphFont.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
constexpr int32_t kDefaultHeight = 16;
constexpr int32_t kDefaultWeight = 400; // a stored weight of 0 asks for the default
} // namespace

int32_t FontHeightOf(const FontRecord& record) {
    const int32_t h = std::abs(record.height);
    return h == 0 ? kDefaultHeight : h;
}

QFont FontFromRecord(const FontRecord& record) {
    QFont font(QString::fromStdU16String(record.FaceName()));
    font.setPixelSize(FontHeightOf(record));
    const int32_t weight = record.weight == 0 ? kDefaultWeight : std::clamp(record.weight, 1, 1000);
    font.setWeight(QFont::Weight(weight));
    font.setItalic(record.italic != 0);
    font.setUnderline(record.underline != 0);
    font.setStrikeOut(record.strikeOut != 0);
    return font;
}

FontRecord RecordFromFont(const QFont& font, double dpi) {
    FontRecord r = FontRecord::Default();
    int pixels = font.pixelSize();
    if (pixels <= 0) pixels = int(std::lround(font.pointSizeF() * dpi / 72.0));
    r.height = -std::max(1, pixels);
    r.weight = int32_t(font.weight());
    r.italic = font.italic() ? 1 : 0;
    r.underline = font.underline() ? 1 : 0;
    r.strikeOut = font.strikeOut() ? 1 : 0;
    r.SetFaceName(font.family().toStdU16String());
    return r;
}
