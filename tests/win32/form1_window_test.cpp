// The Win32 window from outside: virude.exe is started with a reader, found by its window
// class, and read back with WM_GETTEXT; READ is clicked with BM_CLICK, which returns once the
// click (synchronous on the window's thread) is over.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "card/messages.h"
#include "felica/sim/sim_card.h"
#include "felica/system/utf16.h"
#include "support/click.h"
#include "support/program_run.h"
#include "support/windows_path.h"
#include "ui/form1_controls.h"

namespace {

using felica::system::utf16_from_utf8;
using felica::system::utf8_from_utf16;
using Boxes = std::map<card::OutputBox, std::string>;

const std::string kData = VIRUDE_TEST_DATA;

// A control's window class, as Windows names it in lower case.
const wchar_t* window_class(ui::ControlKind kind) {
    return kind == ui::ControlKind::label ? L"static"
           : kind == ui::ControlKind::box ? L"edit"
                                          : L"button";
}

std::string text_of(HWND window) {
    const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return utf8_from_utf16(text);
}

std::wstring lower_class_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    std::wstring lower = name;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return lower;
}

// virude.exe with VIRUDE_READER set to `reader`, its window shown; closed at the end.
class Virude {
  public:
    explicit Virude(const std::string& reader) {
        SetEnvironmentVariableW(L"VIRUDE_READER", utf16_from_utf8(reader).c_str());
        std::wstring line = L"\"" + test_support::windows_path(VIRUDE_PATH) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        const auto start = std::chrono::steady_clock::now();
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_)) {
            ADD_FAILURE() << "virude.exe did not start: " << GetLastError();
            return;
        }
        while (window_ == nullptr &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EnumWindows(&find_form1, reinterpret_cast<LPARAM>(this));
        }
        if (window_ == nullptr) {
            ADD_FAILURE() << "the window did not appear";
        }
    }

    ~Virude() {
        if (process_.hProcess == nullptr) {
            return;
        }
        if (window_ != nullptr) {
            PostMessageW(window_, WM_CLOSE, 0, 0);
        }
        if (WaitForSingleObject(process_.hProcess, 10'000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "virude.exe did not end when its window was closed";
            TerminateProcess(process_.hProcess, 1);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    HWND window() const { return window_; }
    // A control of the window's definition: its row there, from ID 1000 on.
    HWND control(std::string_view name) const {
        for (std::size_t i = 0; i < ui::kForm1Controls.size(); ++i) {
            if (name == ui::kForm1Controls[i].name) {
                return GetDlgItem(window_, 1000 + static_cast<int>(i));
            }
        }
        return nullptr;
    }
    std::string text(std::string_view name) const { return text_of(control(name)); }
    void click_read() const { SendMessageW(control("Command"), BM_CLICK, 0, 0); }
    bool running() const {
        DWORD code = 0;
        return GetExitCodeProcess(process_.hProcess, &code) && code == STILL_ACTIVE;
    }
    Boxes boxes() const {
        Boxes texts;
        for (const card::OutputBox box : card::kOutputBoxes) {
            texts[box] = text(card::box_name(box));
        }
        return texts;
    }

  private:
    static BOOL CALLBACK find_form1(HWND window, LPARAM self) {
        auto* virude = reinterpret_cast<Virude*>(self);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != virude->process_.dwProcessId || lower_class_of(window) != L"virudeform1" ||
            !IsWindowVisible(window)) {
            return TRUE;
        }
        virude->window_ = window;
        return FALSE;
    }

    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

const Boxes kEmptyBoxes = {{card::OutputBox::Text008B, ""},
                           {card::OutputBox::Text090F, ""},
                           {card::OutputBox::Text108F, ""},
                           {card::OutputBox::Text10CB, ""}};

TEST(Form1Window, ControlsAtStart) {
    const Virude virude("sim");
    ASSERT_NE(virude.window(), nullptr);
    EXPECT_EQ(text_of(virude.window()), "ゆるかの Virude");
    RECT client{};
    GetClientRect(virude.window(), &client);
    EXPECT_EQ(client.right, 519);
    EXPECT_EQ(client.bottom, 358);

    // Each control of the window's definition: its class, start text, and place (pixels at
    // 96 dpi: the twips divided by 15); the boxes multi-line, editable, without scroll bars.
    for (const ui::Form1Control& expected : ui::kForm1Controls) {
        SCOPED_TRACE(expected.name);
        const HWND control = virude.control(expected.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(lower_class_of(control), window_class(expected.kind));
        EXPECT_EQ(text_of(control), expected.text);
        RECT rect{};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, virude.window(), reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_THAT((std::array{rect.left, rect.top, rect.right, rect.bottom}),
                    testing::ElementsAre(expected.left / 15, expected.top / 15,
                                         (expected.left + expected.width) / 15,
                                         (expected.top + expected.height) / 15));
        if (expected.kind == ui::ControlKind::box) {
            const auto style = GetWindowLongW(control, GWL_STYLE);
            EXPECT_TRUE(style & ES_MULTILINE);
            EXPECT_FALSE(style & (WS_VSCROLL | WS_HSCROLL | ES_READONLY));
        }
    }

    // TAB goes through the four boxes and the button in the window's tab order.
    std::vector<HWND> order = {virude.control("Text008B")};
    for (int i = 0; i < 4; ++i) {
        order.push_back(GetNextDlgTabItem(virude.window(), order.back(), FALSE));
    }
    EXPECT_THAT(order, testing::ElementsAre(virude.control("Text008B"), virude.control("Text090F"),
                                            virude.control("Text10CB"), virude.control("Text108F"),
                                            virude.control("Command")));
}

TEST(Form1Window, ReadShowsTheSimulatedCard) {
    const Virude virude("sim");
    ASSERT_NE(virude.window(), nullptr);
    SetWindowTextW(virude.control("Text090F"), L"typed by the user");
    virude.click_read();
    const test_support::Click expected = test_support::click_on_simulated_reader(
        std::make_shared<felica::SimulatedCard>(felica::demo_card()));
    EXPECT_EQ(virude.boxes(), expected.boxes);
    EXPECT_EQ(virude.text("Message"), "");

    // All 20 lines of 0x090F fit in their box, and the TAB after each block number brings
    // the digits to one column, numbers of one digit or two alike.
    const HWND box = virude.control("Text090F");
    EXPECT_EQ(SendMessageW(box, EM_GETLINECOUNT, 0, 0), 20);
    RECT inside{};
    GetClientRect(box, &inside);
    // Where a character of the box is drawn, and where a line begins.
    const auto position = [box](int index) { return SendMessageW(box, EM_POSFROMCHAR, index, 0); };
    const auto x_of = [&](int index) { return static_cast<short>(LOWORD(position(index))); };
    const auto y_of = [&](int index) { return static_cast<short>(HIWORD(position(index))); };
    const auto line_start = [box](int line) {
        return static_cast<int>(SendMessageW(box, EM_LINEINDEX, line, 0));
    };
    const int pitch = y_of(line_start(19)) - y_of(line_start(18));
    EXPECT_LE(y_of(line_start(19)) + pitch, inside.bottom);
    const int digits_9 = line_start(9) + 4;    // after " 9:\t"
    const int digits_10 = line_start(10) + 5;  // after " 10:\t"
    EXPECT_EQ(x_of(digits_9), x_of(digits_10));
    EXPECT_GT(x_of(digits_9), x_of(digits_9 - 1));

    // A second click shows the same.
    virude.click_read();
    EXPECT_EQ(virude.boxes(), expected.boxes);
}

// No card, the card taken away after 090F's first read, and no PC/SC service (Wine's winscard
// is a stub): each click ends with its message, and the window goes on.
TEST(Form1Window, NoCardReadErrorAndNoReader) {
    for (const auto& [reader, message] :
         {std::pair{"sim:" + kData + "/cli_card_silent.json", card::kMessageNoCard},
          std::pair{"sim:" + kData + "/cli_card_removed.json", card::kMessageReadError},
          std::pair{std::string("pcsc"), card::kMessageNoReader}}) {
        SCOPED_TRACE(reader);
        const Virude virude(reader);
        ASSERT_NE(virude.window(), nullptr);
        const auto start = std::chrono::steady_clock::now();
        virude.click_read();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(virude.text("Message"), message);
        Boxes boxes = virude.boxes();
        if (message == card::kMessageReadError) {
            EXPECT_THAT(boxes[card::OutputBox::Text090F], testing::StartsWith(" 0:\t090F00"));
            boxes[card::OutputBox::Text090F] = boxes[card::OutputBox::Text008B] = "";
        }
        EXPECT_EQ(boxes, kEmptyBoxes);
        EXPECT_TRUE(virude.running());
    }
}

// The command line is handled before the window: the help goes to the standard output the
// program was given, and a mistake ends the program with exit status 2.
TEST(VirudeCommandLine, HelpAndMistakesWithoutAWindow) {
    const test_support::ProgramRun help = test_support::run_program({VIRUDE_PATH, "--help"}, {});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_THAT(help.out, testing::StartsWith("Usage: virude [-r SPEC] [-h] [-V]\n"));
    const test_support::ProgramRun bogus = test_support::run_program({VIRUDE_PATH, "--bogus"}, {});
    EXPECT_EQ(bogus.exit_code, 2);
    EXPECT_EQ(bogus.err, "virude: unknown option '--bogus'\nUsage: virude [-r SPEC] [-h] [-V]\n");
    const test_support::ProgramRun mistyped =
        test_support::run_program({VIRUDE_PATH}, {{"VIRUDE_READER", "SIM"}});
    EXPECT_EQ(mistyped.exit_code, 2);
    EXPECT_THAT(mistyped.err, testing::StartsWith("virude: VIRUDE_READER: unknown reader \"SIM\" "
                                                  "(expected sim[:PATH] or pcsc[:NAME])"));
}

}  // namespace
