#include "felica/timeouts.h"

#include <algorithm>
#include <cmath>

namespace felica {
namespace {

constexpr double kTimeUnitUs = 302.1;  // FeliCa's response time unit, 256 × 16 / fc
constexpr double kPollingBaseUs = 2417.0;
constexpr double kPollingSlotUs = 1208.0;

}  // namespace

std::chrono::microseconds read_response_time(const Pmm& pmm, int blocks) {
    const Byte parameter = pmm[5];
    const int a = parameter & 0x07;
    const int b = (parameter >> 3) & 0x07;
    const int e = (parameter >> 6) & 0x03;
    const double units = static_cast<double>((b + 1) * blocks + a + 1);
    const double us = kTimeUnitUs * units * static_cast<double>(1 << (2 * e));
    return std::chrono::microseconds{static_cast<long long>(std::ceil(us))};
}

std::chrono::microseconds polling_response_time(int time_slots) {
    const double us = kPollingBaseUs + kPollingSlotUs * std::max(time_slots, 1);
    return std::chrono::microseconds{static_cast<long long>(std::ceil(us))};
}

std::chrono::microseconds bounded_timeout(std::chrono::microseconds card_time,
                                          std::chrono::microseconds reader_overhead) {
    return std::clamp(card_time + reader_overhead, kMinCommandTimeout, kMaxCommandTimeout);
}

}  // namespace felica
