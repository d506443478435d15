// Form1, the program's only window, as one definition that both renderers draw: the Qt
// window on Linux (ui/qt/) and the Win32 window on Windows (ui/win32/). The caption, the
// client area and the 13 controls with their kinds, places in twips, tab indexes, start texts
// and fonts. No toolkit here.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "card/read_view.h"

namespace ui {

inline constexpr std::string_view kForm1Caption = "ゆるかの Virude";

// Positions and sizes are in twips: 15 twips make one pixel at 96 dpi, 20 make one point.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kTwipsPerPoint = 20;

// The client area, 519 × 358 pixels at 96 dpi.
inline constexpr int kClientWidthTwips = 7785;
inline constexpr int kClientHeightTwips = 5370;

enum class ControlKind { label, box, button };

enum class ControlFont {
    window_default,  // the system's default dialog font
    gothic,          // "ＭＳ ゴシック" 9 pt
    title,           // "ＭＳ Ｐゴシック" 18 pt, bold, underlined
};

struct Form1Control {
    std::string_view name;
    ControlKind kind;
    int left, top, width, height;  // twips, inside the client area
    int tab_index;
    std::string_view text;  // at start, UTF-8
    ControlFont font;
    std::optional<card::OutputBox> box = std::nullopt;  // the output box a box control is
};

// clang-format off
inline constexpr std::array<Form1Control, 13> kForm1Controls = {{
    {"Label1",    ControlKind::label,  120,  120,  3495, 375,  9,  "ゆるかの Virude",   ControlFont::title},
    {"Label2",    ControlKind::label,  3840, 240,  855,  255,  10, "Var 0.01α",        ControlFont::window_default},
    {"Label3",    ControlKind::label,  4800, 240,  1935, 255,  11, "Virude developers", ControlFont::window_default},
    {"Label008B", ControlKind::label,  120,  600,  1215, 255,  0,  "0x008Bの内容",     ControlFont::gothic},
    {"Text008B",  ControlKind::box,    120,  840,  3735, 375,  4,  "",                 ControlFont::gothic, card::OutputBox::Text008B},
    {"Label108F", ControlKind::label,  120,  1320, 1095, 255,  3,  "0x108Fの内容",     ControlFont::gothic},
    {"Text108F",  ControlKind::box,    120,  1560, 3735, 735,  7,  "",                 ControlFont::gothic, card::OutputBox::Text108F},
    {"Label10CB", ControlKind::label,  120,  2400, 1095, 255,  2,  "0x10CBの内容",     ControlFont::gothic},
    {"Text10CB",  ControlKind::box,    120,  2640, 3735, 495,  6,  "",                 ControlFont::gothic, card::OutputBox::Text10CB},
    {"Label090F", ControlKind::label,  3960, 600,  1215, 255,  1,  "0x090Fの内容",     ControlFont::gothic},
    {"Text090F",  ControlKind::box,    3960, 840,  3735, 3735, 5,  "",                 ControlFont::gothic, card::OutputBox::Text090F},
    {"Message",   ControlKind::label,  120,  4920, 6615, 375,  12, "",                 ControlFont::gothic},
    {"Command",   ControlKind::button, 6840, 4920, 855,  375,  8,  "READ",             ControlFont::window_default},
}};
// clang-format on

// The font sizes, in points.
inline constexpr int kGothicPoints = 9;
inline constexpr int kTitlePoints = 18;

// The controls in tab order.
constexpr std::array<const Form1Control*, kForm1Controls.size()> form1_tab_order() {
    std::array<const Form1Control*, kForm1Controls.size()> order{};
    for (const Form1Control& control : kForm1Controls) {
        order[static_cast<std::size_t>(control.tab_index)] = &control;
    }
    return order;
}

// Twips to pixels at `dpi` (96 = 15 twips a pixel), and points to pixels likewise.
constexpr int twips_to_pixels(int twips, int dpi = 96) {
    return twips * dpi / (kTwipsPerPixel * 96);
}
constexpr int points_to_pixels(int points, int dpi = 96) {
    return twips_to_pixels(points * kTwipsPerPoint, dpi);
}

}  // namespace ui
