#include "felica/pcsc/watchdog.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace felica::pcsc {

struct Watchdog::State {
    std::mutex mutex;
    std::condition_variable work;  // the worker waits for jobs
    std::condition_variable done;  // callers wait for their job
    std::deque<std::function<void()>> jobs;
    std::uint64_t queued = 0;    // jobs ever queued
    std::uint64_t finished = 0;  // jobs the worker has finished, in queue order
    bool overran = false;
    bool stopping = false;
    std::thread worker;

    void serve() {
        std::unique_lock lock(mutex);
        while (true) {
            work.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty()) {
                return;  // stopping, and nothing is left to do
            }
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // its captures go before the caller hears it is done
            lock.lock();
            ++finished;
            done.notify_all();
        }
    }
};

Watchdog::Watchdog() : state_(std::make_shared<State>()) {
    // The thread shares the state, so that it may outlive the watchdog.
    state_->worker = std::thread([state = state_] { state->serve(); });
}

Watchdog::~Watchdog() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->work.notify_all();
    // A job still queued or running may be stuck behind a call that overran, or be one
    // itself: the worker finishes it on its own.
    const bool let_go = state_->overran || state_->finished < state_->queued;
    lock.unlock();
    if (let_go) {
        state_->worker.detach();
    } else {
        state_->worker.join();
    }
}

bool Watchdog::run(std::function<void()> job, std::chrono::microseconds limit,
                   const std::function<void()>& on_overrun) {
    std::unique_lock lock(state_->mutex);
    if (state_->overran) {
        return false;
    }
    state_->jobs.push_back(std::move(job));
    const std::uint64_t ticket = ++state_->queued;
    state_->work.notify_all();
    if (state_->done.wait_for(lock, limit, [&] { return state_->finished >= ticket; })) {
        return true;
    }
    state_->overran = true;
    lock.unlock();
    if (on_overrun) {
        on_overrun();
    }
    return false;
}

void Watchdog::post(std::function<void()> job) {
    std::lock_guard lock(state_->mutex);
    state_->jobs.push_back(std::move(job));
    ++state_->queued;
    state_->work.notify_all();
}

bool Watchdog::overran() const {
    std::lock_guard lock(state_->mutex);
    return state_->overran;
}

}  // namespace felica::pcsc
