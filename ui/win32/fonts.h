// The window's fonts at one DPI, as GDI font handles owned here. Both gothic fonts are asked
// for by cell height (a positive height): by character height, IPAGothic under Wine comes out
// a pixel taller per line and the 0x090F box shows 18 of its 20 lines.
#pragma once

#include <windows.h>

#include "ui/form1_controls.h"

namespace ui::win32 {

class Fonts {
  public:
    Fonts() = default;
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;

    // Creates the three fonts for `dpi`, replacing those of an earlier DPI.
    void create(UINT dpi);
    HFONT get(ControlFont font) const;

  private:
    void release();

    HFONT window_default_ = nullptr;  // the default GUI font, scaled to the DPI
    HFONT gothic_ = nullptr;          // "ＭＳ ゴシック" 9 pt, Shift-JIS
    HFONT title_ = nullptr;           // "ＭＳ Ｐゴシック" 18 pt, bold, underlined, Shift-JIS
};

}  // namespace ui::win32
