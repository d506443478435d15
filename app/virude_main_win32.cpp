// virude's entry point on Windows: shows the main window. The reader is the one
// VIRUDE_READER names (the built-in simulated card with VIRUDE_READER=sim), looked up anew at
// every click.
#include <windows.h>

#include "felica/reader_library.h"
#include "felica/reader_selection.h"
#include "ui/win32/form1.h"
#include "ui/win32/trace_log.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    felica::ReaderLibrary library(felica::reader_opener_from_environment(),
                                  &ui::win32::log_trace_line);
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
