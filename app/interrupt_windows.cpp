// Windows: the console calls the handler on a thread of its own for Ctrl-C and Ctrl-Break.
#include <windows.h>

#include "app/interrupt.h"
#include "app/interrupt_state.h"

namespace interrupt {
namespace {

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    note_interrupt();
    return TRUE;
}

}  // namespace

void catch_interrupts() {
    (void)SetConsoleCtrlHandler(&on_console_event, TRUE);
}

}  // namespace interrupt
