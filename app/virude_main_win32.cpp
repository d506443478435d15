// virude's entry point on Windows: shows the main window. The reader is the one --reader names,
// else the one VIRUDE_READER names (the built-in simulated card with VIRUDE_READER=sim), looked
// up anew at every click.
#include <windows.h>

#include <string>

#include "app/standard_streams.h"
#include "app/virude_cli.h"
#include "card/trace.h"
#include "felica/reader_library.h"
#include "felica/reader_selection.h"
#include "felica/system/utf16.h"
#include "ui/win32/form1.h"
#include "ui/win32/trace_log.h"

namespace {

bool usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool write_to(HANDLE handle, const std::string& text) {
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = felica::system::utf16_from_utf8(text);
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }
    DWORD written = 0;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
               0 &&
           written == text.size();
}

// A window program has no console of its own: its text goes where its caller can see it: to
// the standard handle the caller gave it (a pipe, a file), else to the console of the command
// prompt that started it, else into a message box.
bool show_text(DWORD which, const std::string& text) {
    if (text.empty()) {
        return true;
    }
    if (const HANDLE given = GetStdHandle(which); usable(given)) {
        return write_to(given, text);
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE) {
            const bool done = write_to(console, text);
            CloseHandle(console);
            return done;
        }
    }
    MessageBoxW(nullptr, felica::system::utf16_from_utf8(text).c_str(), L"virude",
                MB_OK | (which == STD_ERROR_HANDLE ? MB_ICONERROR : MB_ICONINFORMATION));
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    const std::vector<std::string> given = standard_streams::arguments(0, nullptr);
    const std::vector<std::string_view> arguments(given.begin(), given.end());
    const auto started = virude_cli::start(arguments);
    if (const auto* end = std::get_if<virude_cli::EndNow>(&started)) {
        const bool shown = show_text(STD_OUTPUT_HANDLE, end->out);
        show_text(STD_ERROR_HANDLE, end->err);
        return shown ? end->code : 1;
    }
    const auto& reader = std::get<virude_cli::ShowWindow>(started).reader;

    const card::TraceSinkScope trace(&ui::win32::log_trace_line);
    felica::ReaderLibrary library(felica::reader_opener(reader), &ui::win32::log_trace_line);
    ui::win32::Form1 form(library);
    if (!form.create(instance)) {
        return 1;
    }
    ShowWindow(form.window(), show);
    UpdateWindow(form.window());

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // TAB and Shift+TAB move between the boxes and the button.
        if (!IsDialogMessageW(form.window(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
