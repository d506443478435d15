// The watchdog: calls in time pass their result; an overrun call is abandoned within its
// deadline and blocks nothing after it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "felica/pcsc/watchdog.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using felica::pcsc::Watchdog;

// A job that blocks until released, like a PC/SC call on a reader that hangs.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;

    void wait() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
};

TEST(Watchdog, PassesResultsOfCallsInTime) {
    Watchdog watchdog;
    EXPECT_EQ(watchdog.call<int>([] { return 42; }, 1s), 42);
    const auto worker =
        watchdog.call<std::thread::id>([] { return std::this_thread::get_id(); }, 1s);
    ASSERT_TRUE(worker);
    EXPECT_NE(*worker, std::this_thread::get_id());
    EXPECT_FALSE(watchdog.overran());
}

TEST(Watchdog, AbandonsAStuckCallAndRefusesTheNext) {
    auto gate = std::make_shared<Gate>();
    auto cleaned = std::make_shared<std::promise<void>>();
    auto cleaned_up = cleaned->get_future();
    int overruns = 0;
    {
        Watchdog watchdog;
        const auto start = Clock::now();
        const auto result = watchdog.call<int>(
            [gate] {
                gate->wait();
                return 1;
            },
            50ms, [&overruns] { ++overruns; });
        const auto took = Clock::now() - start;
        EXPECT_FALSE(result);
        EXPECT_EQ(overruns, 1);
        EXPECT_GE(took, 50ms);
        EXPECT_LT(took, 1s);
        EXPECT_TRUE(watchdog.overran());

        bool ran = false;
        EXPECT_FALSE(watchdog.run([&ran] { ran = true; }, 1s));
        EXPECT_FALSE(ran);
        // A posted job runs after the stuck one, even once the watchdog is gone.
        watchdog.post([cleaned] { cleaned->set_value(); });
    }
    EXPECT_EQ(cleaned_up.wait_for(0s), std::future_status::timeout);
    gate->release();
    EXPECT_EQ(cleaned_up.wait_for(10s), std::future_status::ready);
}

TEST(Watchdog, DestructionDoesNotWaitForAStuckCall) {
    auto gate = std::make_shared<Gate>();
    const auto start = Clock::now();
    {
        Watchdog watchdog;
        EXPECT_FALSE(watchdog.run([gate] { gate->wait(); }, 10ms));
    }
    EXPECT_LT(Clock::now() - start, 1s);
    gate->release();
}

}  // namespace
