// The window is laid out in twips, as its controls were designed; on screen 15 twips make
// one device-independent pixel (96 pixels an inch), so the layout scales on HiDPI screens.
#pragma once

#include <QRect>

namespace ui {

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kTwipsPerPoint = 20;

constexpr int twips_to_pixels(int twips) {
    return twips / kTwipsPerPixel;
}

// Font sizes are put on the same grid: 9 pt is 12 pixels, 18 pt is 24, whatever dpi the
// desktop claims, so that text keeps the size the boxes were drawn for.
constexpr int points_to_pixels(int points) {
    return points * kTwipsPerPoint / kTwipsPerPixel;
}

constexpr QRect twips_rect(int left, int top, int width, int height) {
    return QRect(twips_to_pixels(left), twips_to_pixels(top), twips_to_pixels(width),
                 twips_to_pixels(height));
}

}  // namespace ui
