// What the Qt windows draw from the window system's plain data: colours, a
// control's own mouse pointer, and the program's icon.
#pragma once

#include <QCursor>
#include <QIcon>
#include <QPixmap>

#include "platform/window_system.h"

class QColor;

namespace vel::platform {

// 0x00BBGGRR as a Qt colour.
QColor ToQColor(Colour colour);

// The 32 x 32 monochrome image as a Qt cursor (black where image and mask
// are 1, white where only the mask is 1, transparent elsewhere).
QCursor ToQCursor(const CursorImage& cursor);

// The program's icon, a clock face, drawn at `size` pixels.
QPixmap ProgramIconPixmap(int size);
QIcon ProgramIcon();

}  // namespace vel::platform
