// Form1 on Windows: the control table of ui/form1_controls.h drawn with the Win32 API, the
// controls the original was made of: STATIC labels, multi-line EDIT boxes without scroll
// bars, and a BUTTON. Clicking READ runs one read command on the window's thread, under the
// wait cursor; the command writes into the boxes and the message line. The window follows
// its monitor's DPI: twips become pixels at the window's DPI (519 × 358 client pixels at 96).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "card/read_view.h"
#include "felica/library.h"
#include "ui/form1_controls.h"
#include "ui/win32/fonts.h"

namespace ui::win32 {

// The window class, by which tests and tools find the window.
inline constexpr const wchar_t* kForm1Class = L"VirudeForm1";

// Each control's ID: its row in the control table, from 1000 on.
inline constexpr int kFirstControlId = 1000;
int control_id(std::string_view name);

class Form1 final : public card::ReadView {
  public:
    // The window uses `library` for every click; the library must outlive the window.
    explicit Form1(felica::Library& library);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window and its controls (not shown yet); false when Windows refuses.
    bool create(HINSTANCE instance);
    HWND window() const { return window_; }

    // Reads blocks 0 … intBlocknumber − 1 of a service of the polled card and shows their
    // dump in the box strTarget names ("Text008B" …), within the reader session the
    // current click opened. Returns false once the session has ended.
    bool TULMNorv(std::span<const std::uint8_t> bytCardIdm,
                  std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
                  std::string_view strTarget);

    // card::ReadView: the message line and the four boxes.
    void set_message(std::string_view text) override;
    void set_box_text(card::OutputBox box, std::string_view text) override;

  private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

    void create_controls();
    HWND control(std::string_view name) const;
    // Places the controls and sets their fonts for the window's current DPI.
    void lay_out(UINT dpi);
    // The READ button: one whole read command, run to its end before the window takes
    // further input, under the wait cursor.
    void Command_Click();

    felica::Library& library_;
    HWND window_ = nullptr;
    std::array<HWND, kForm1Controls.size()> controls_{};
    Fonts fonts_;
};

}  // namespace ui::win32
