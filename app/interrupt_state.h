// What each system's interrupt handling (interrupt_posix.cpp, interrupt_windows.cpp) calls when
// Ctrl-C comes.
#pragma once

namespace interrupt {

// Notes an interrupt and wakes every wait.
void note_interrupt();

}  // namespace interrupt
