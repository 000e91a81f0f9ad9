// The graph font between its stored record ("GraphFont": face name, signed height, weight, italic ...)
// and QFont. The record's height is a character height in pixels; its absolute value is the height the
// graph lays itself out by.
#pragma once

#include "Settings.h"

#include <QFont>

#include <cstdint>

QFont FontFromRecord(const FontRecord& record);
// The record of a font, as a font dialog hands it back; `dpi` turns a point size into pixels.
FontRecord RecordFromFont(const QFont& font, double dpi = 96.0);
// The height the graph lays itself out by: |height|, or 16 for a record without one.
int32_t FontHeightOf(const FontRecord& record);
