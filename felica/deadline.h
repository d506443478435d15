// The moment by which a click must be over. A click runs on the window's thread, so its
// length is the user's wait: every wait inside it (opening the reader, each command, closing)
// is the smaller of its own bound and what is left of the click's budget.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace felica {

// What the reader may take of one click, from initialize_library to the last command. The
// click's promise is 2 s; the rest is room for closing the reader and showing the result on a
// loaded machine.
inline constexpr std::chrono::milliseconds kClickBudget{1800};

class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    // No deadline: each wait keeps its own bound (tools and tests outside a click).
    Deadline() = default;

    static Deadline after(std::chrono::microseconds budget) {
        Deadline deadline;
        deadline.at_ = Clock::now() + budget;
        return deadline;
    }

    bool bounded() const { return at_.has_value(); }
    bool expired() const { return at_ && Clock::now() >= *at_; }

    // Time left, never negative; a very long time without a deadline.
    std::chrono::microseconds remaining() const {
        if (!at_) {
            return std::chrono::hours(24);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(*at_ - Clock::now());
        return std::max(left, std::chrono::microseconds::zero());
    }

    // `wait`, or what is left of the budget when that is less.
    std::chrono::microseconds cap(std::chrono::microseconds wait) const {
        return std::min(wait, remaining());
    }

  private:
    std::optional<Clock::time_point> at_;
};

}  // namespace felica
