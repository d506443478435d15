// The window's twips on Qt's grid: 15 twips make one device-independent pixel (96 pixels an
// inch), so the layout scales on HiDPI screens with Qt's own scaling. Font sizes are put on
// the same grid: 9 pt is 12 pixels, 18 pt is 24, whatever dpi the desktop claims, so that
// text keeps the size the boxes were drawn for.
#pragma once

#include <QRect>

#include "ui/form1_controls.h"

namespace ui {

constexpr QRect twips_rect(int left, int top, int width, int height) {
    return QRect(twips_to_pixels(left), twips_to_pixels(top), twips_to_pixels(width),
                 twips_to_pixels(height));
}

}  // namespace ui
