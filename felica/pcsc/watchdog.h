// Runs a reader's blocking calls on a worker thread and waits for each no longer than its
// deadline. PC/SC gives SCardTransmit, SCardConnect and SCardBeginTransaction no timeout of
// their own, and SCardCancel only interrupts SCardGetStatusChange: a reader or a service that
// stops answering would hold the click for ever. A call that overruns is left to finish in
// the background; the watchdog then refuses every further call, so that the session ends at
// once, and its thread lets itself go when the watchdog is destroyed.
//
// A job may still run after its caller has given up on it: it must own (or share) all it
// touches.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace felica::pcsc {

class Watchdog {
  public:
    Watchdog();
    // Stops the worker; when a call overran or jobs are still queued, the worker is let go
    // and finishes them on its own.
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Runs `job` on the worker and waits at most `limit` for it. True when it finished in
    // time. False when it overran (`on_overrun` has then been called, on this thread) or when
    // an earlier call had overrun (`job` is then dropped).
    bool run(std::function<void()> job, std::chrono::microseconds limit,
             const std::function<void()>& on_overrun = {});

    // `job`'s result, or nothing when `run` returned false.
    template <class Result>
    std::optional<Result> call(std::function<Result()> job, std::chrono::microseconds limit,
                               const std::function<void()>& on_overrun = {}) {
        auto result = std::make_shared<std::optional<Result>>();
        if (!run([job = std::move(job), result] { *result = job(); }, limit, on_overrun)) {
            return std::nullopt;
        }
        return std::move(*result);
    }

    // Queues `job` after every earlier one, overrun or not, and returns at once.
    void post(std::function<void()> job);

    // Has a call overrun its deadline?
    bool overran() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace felica::pcsc
