// The window's pictures, drawn by code: the current direction pictures, the control view's button
// pictures, the toolbar icons and the application icon. Nothing here is loaded from files.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

#include <cstdint>

// Which way the VBUS current flows between the Type-C plug and the receptacle it sits in.
enum class DirectionPicture { PlugToReceptacle, ReceptacleToPlug, NoCurrent };

// A receptacle (left) and a plug (right) with an arrow for the current; NoCurrent shows VBUS present
// without an arrow. The drawing keeps its proportions and is centred on a transparent pixmap of the
// given size; an empty size gives a null pixmap.
QPixmap DirectionPixmap(DirectionPicture which, QSize size);

// The control view's picture buttons.
enum class ButtonPicture { Run, Pause, Clear };

// A square picture of the given side on a transparent background; null when side < 1.
QPixmap ButtonPixmap(ButtonPicture which, int side);

// The toolbar icon of a main window command id; a null icon for ids without one.
QIcon CommandIcon(uint32_t commandId);

// The application icon, the same design as packaging/ambrio.svg.
QIcon AppIcon();
