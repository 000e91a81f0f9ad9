// The pictures of the graph's 25 buttons, drawn by code like the window's other pictures: area
// switches with their name and a lamp, trace switches with a stroke of the trace's colour, and arrows,
// magnifiers and brackets for moving, zooming and fitting. Nothing is loaded from files.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>

#include <cstdint>

namespace graphbutton {

// Button ids.
inline constexpr uint32_t kVoltageArea = 339;
inline constexpr uint32_t kCurrentArea = 340;
inline constexpr uint32_t kWattageArea = 365;
inline constexpr uint32_t kVbusVoltage = 324, kCc1Voltage = 326, kCc2Voltage = 328;
inline constexpr uint32_t kVbusCurrent = 325, kCc1Current = 327, kCc2Current = 329;
inline constexpr uint32_t kVoltageZoomIn = 322, kVoltageZoomOut = 323;
inline constexpr uint32_t kVoltageUp = 312, kVoltageDown = 313;
inline constexpr uint32_t kFitVoltage = 341;
inline constexpr uint32_t kCurrentZoomIn = 320, kCurrentZoomOut = 321;
inline constexpr uint32_t kCurrentUp = 314, kCurrentDown = 315;
inline constexpr uint32_t kFitCurrent = 342;
inline constexpr uint32_t kCurrentFlip = 344;
inline constexpr uint32_t kScrollLeft = 316, kScrollRight = 317;
inline constexpr uint32_t kTimeZoomOut = 319, kTimeZoomIn = 318;
inline constexpr uint32_t kFitTime = 343;

// The picture of a button in its state: `on` for a switched area or trace, `ink` the trace colour of a
// trace switch. Null for an empty size or an unknown id.
QPixmap Picture(uint32_t id, QSize size, bool on, const QColor& ink = QColor());

// The button's tool tip.
const char* ToolTip(uint32_t id);

} // namespace graphbutton
