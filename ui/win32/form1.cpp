#include "ui/win32/form1.h"

#include <string>

#include "card/read_command.h"
#include "card/service_dump.h"
#include "felica/system/utf16.h"

namespace ui::win32 {
namespace {

using felica::system::utf16_from_utf8;

// A Windows edit box's default: a tab stop every 32 dialog units, 8 average character
// widths, as the Linux window puts them.
constexpr UINT kTabStopDialogUnits = 32;

DWORD style_of(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
            return WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
        case ControlKind::box:
            // Editable, no scroll bars, no wrapping; Enter is a line break in the box.
            return WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOHSCROLL |
                   ES_AUTOVSCROLL | ES_WANTRETURN;
        case ControlKind::button:
            return WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
    }
    return WS_CHILD;
}

const wchar_t* class_of(ControlKind kind) {
    switch (kind) {
        case ControlKind::label:
            return L"STATIC";
        case ControlKind::box:
            return L"EDIT";
        case ControlKind::button:
            return L"BUTTON";
    }
    return L"STATIC";
}

std::size_t row_of(const Form1Control& control) {
    return static_cast<std::size_t>(&control - kForm1Controls.data());
}

// The window's frame around its fixed client area, at `dpi`.
SIZE window_size(DWORD style, UINT dpi) {
    RECT rect = {0, 0, twips_to_pixels(kClientWidthTwips, static_cast<int>(dpi)),
                 twips_to_pixels(kClientHeightTwips, static_cast<int>(dpi))};
    AdjustWindowRectExForDpi(&rect, style, FALSE, 0, dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The wait cursor, for as long as a click runs: the window handles no messages meanwhile, so
// nothing sets another cursor until it is over.
class WaitCursor {
  public:
    WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    HCURSOR previous_;
};

}  // namespace

int control_id(std::string_view name) {
    for (const Form1Control& control : kForm1Controls) {
        if (control.name == name) {
            return kFirstControlId + static_cast<int>(row_of(control));
        }
    }
    return 0;
}

Form1::Form1(felica::Library& library) : library_(library) {}

Form1::~Form1() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

bool Form1::create(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = &Form1::window_procedure;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    window_class.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszClassName = kForm1Class;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    // Sized for 96 dpi first; WM_CREATE knows the monitor's DPI and sizes it again.
    const SIZE size = window_size(kWindowStyle, 96);
    window_ = CreateWindowExW(0, kForm1Class, utf16_from_utf8(kForm1Caption).c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr,
                              instance, this);
    return window_ != nullptr;
}

LRESULT CALLBACK Form1::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) {
        return DefWindowProcW(window, message, wparam, lparam);
    }
    return form->handle(message, wparam, lparam);
}

LRESULT Form1::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: {
            create_controls();
            const UINT dpi = GetDpiForWindow(window_);
            const SIZE size = window_size(kWindowStyle, dpi);
            SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            lay_out(dpi);
            return 0;
        }
        case WM_DPICHANGED: {
            // Windows proposes the window's new place and size; the controls follow.
            const auto* suggested = reinterpret_cast<const RECT*>(lparam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            lay_out(HIWORD(wparam));
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == control_id("Command") && HIWORD(wparam) == BN_CLICKED) {
                Command_Click();
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            // The last message: the window is gone, and the destructor has nothing to destroy.
            const HWND window = window_;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            window_ = nullptr;
            return DefWindowProcW(window, message, wparam, lparam);
        }
        default:
            break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

void Form1::create_controls() {
    // Windows moves the focus through controls in the order they were made: the tab order.
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    for (const Form1Control* control : form1_tab_order()) {
        const std::size_t row = row_of(*control);
        const DWORD extended = control->kind == ControlKind::box ? WS_EX_CLIENTEDGE : 0;
        controls_[row] = CreateWindowExW(
            extended, class_of(control->kind), utf16_from_utf8(control->text).c_str(),
            style_of(control->kind), 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + row)), instance,
            nullptr);
    }
}

void Form1::lay_out(UINT dpi) {
    fonts_.create(dpi);
    const int at = static_cast<int>(dpi);
    for (const Form1Control& control : kForm1Controls) {
        const HWND handle = controls_[row_of(control)];
        MoveWindow(handle, twips_to_pixels(control.left, at), twips_to_pixels(control.top, at),
                   twips_to_pixels(control.width, at), twips_to_pixels(control.height, at), TRUE);
        SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.get(control.font)), TRUE);
        if (control.kind == ControlKind::box) {
            // Tab stops count in dialog units of the box's font: set after the font.
            UINT stop = kTabStopDialogUnits;
            SendMessageW(handle, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
        }
    }
}

bool Form1::TULMNorv(std::span<const std::uint8_t> bytCardIdm,
                     std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
                     std::string_view strTarget) {
    return card::TULMNorv(library_, *this, bytCardIdm, bytServiceCodeList, intBlocknumber,
                          strTarget);
}

HWND Form1::control(std::string_view name) const {
    return controls_[static_cast<std::size_t>(control_id(name) - kFirstControlId)];
}

void Form1::set_message(std::string_view text) {
    SetWindowTextW(control("Message"), utf16_from_utf8(text).c_str());
}

void Form1::set_box_text(card::OutputBox box, std::string_view text) {
    // CR LF, the dump's line break, is the edit box's own.
    SetWindowTextW(control(card::box_name(box)), utf16_from_utf8(text).c_str());
}

void Form1::Command_Click() {
    WaitCursor wait;
    card::Command_Click(library_, *this);
}

}  // namespace ui::win32
