// The interrupt flag and the wait it ends, the same on every system.
#include <condition_variable>
#include <mutex>

#include "app/interrupt.h"
#include "app/interrupt_state.h"

namespace interrupt {
namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
bool g_interrupted = false;

}  // namespace

void note_interrupt() {
    const std::lock_guard lock(g_mutex);
    g_interrupted = true;
    g_changed.notify_all();
}

bool interrupted() {
    const std::lock_guard lock(g_mutex);
    return g_interrupted;
}

bool wait(std::chrono::milliseconds time) {
    std::unique_lock lock(g_mutex);
    return g_changed.wait_for(lock, time, [] { return g_interrupted; });
}

}  // namespace interrupt
