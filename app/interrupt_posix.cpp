// POSIX: SIGINT is blocked in every thread (threads started later inherit the mask) and taken
// by a thread of its own with sigwait, so that no system call of a reader's stack is ever cut
// short by it.
#include <signal.h>

#include <thread>

#include "app/interrupt.h"
#include "app/interrupt_state.h"

namespace interrupt {

void catch_interrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        while (true) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) {
                note_interrupt();
            }
        }
    }).detach();
}

}  // namespace interrupt
