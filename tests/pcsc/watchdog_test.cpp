// The watchdog: an overrun call is abandoned within its deadline and blocks nothing after it,
// its own watchdog's end included.
#include "felica/pcsc/watchdog.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using felica::pcsc::Watchdog;

TEST(Watchdog, AbandonsAStuckCallRefusesTheNextAndEndsWithoutIt) {
    // A call that blocks until the gate opens, like a PC/SC call on a reader that hangs.
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    auto cleaned = std::make_shared<std::promise<void>>();
    auto cleaned_up = cleaned->get_future();
    int overruns = 0;
    auto start = Clock::now();
    {
        Watchdog watchdog;
        const auto result = watchdog.call<int>(
            [opened] {
                opened.wait();
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
        start = Clock::now();
    }
    EXPECT_LT(Clock::now() - start, 1s);  // the watchdog's end did not wait for the call
    EXPECT_EQ(cleaned_up.wait_for(0s), std::future_status::timeout);
    gate.set_value();
    EXPECT_EQ(cleaned_up.wait_for(10s), std::future_status::ready);
}

}  // namespace
