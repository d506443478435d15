#include "ui/win32/fonts.h"

namespace ui::win32 {
namespace {

HFONT gothic(const wchar_t* face, int points, UINT dpi, bool title) {
    return CreateFontW(points_to_pixels(points, static_cast<int>(dpi)), 0, 0, 0,
                       title ? FW_BOLD : FW_NORMAL, FALSE, title ? TRUE : FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       (title ? VARIABLE_PITCH : FIXED_PITCH) | FF_MODERN, face);
}

}  // namespace

Fonts::~Fonts() {
    release();
}

void Fonts::release() {
    for (HFONT* font : {&window_default_, &gothic_, &title_}) {
        if (*font != nullptr) {
            DeleteObject(*font);
            *font = nullptr;
        }
    }
}

void Fonts::create(UINT dpi) {
    release();
    // The stock font is made for the system's DPI; scaled from it, it keeps its size on a
    // monitor of another DPI.
    LOGFONTW stock{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
    stock.lfHeight =
        MulDiv(stock.lfHeight, static_cast<int>(dpi), static_cast<int>(GetDpiForSystem()));
    window_default_ = CreateFontIndirectW(&stock);
    gothic_ = gothic(L"ＭＳ ゴシック", kGothicPoints, dpi, false);
    title_ = gothic(L"ＭＳ Ｐゴシック", kTitlePoints, dpi, true);
}

HFONT Fonts::get(ControlFont font) const {
    switch (font) {
        case ControlFont::gothic:
            return gothic_;
        case ControlFont::title:
            return title_;
        case ControlFont::window_default:
            break;
    }
    return window_default_;
}

}  // namespace ui::win32
