// How long to wait for a card's answer, from the timing parameters in its PMm.
#pragma once

#include <chrono>

#include "felica/types.h"

namespace felica {

// Bounds on every wait, whatever a card's PMm says.
inline constexpr std::chrono::microseconds kMinCommandTimeout{20'000};
inline constexpr std::chrono::microseconds kMaxCommandTimeout{1'000'000};

// The card's maximum response time to a Read Without Encryption of `blocks` blocks:
// PMm[5] holds E (bits 7–6), B (bits 5–3) and A (bits 2–0);
// time = 302.1 µs × ((B + 1) × blocks + A + 1) × 4^E.
std::chrono::microseconds read_response_time(const Pmm& pmm, int blocks);

// A card's maximum response time to polling: 2.417 ms plus 1.208 ms per time slot.
std::chrono::microseconds polling_response_time(int time_slots);

// What the library waits: the card's time plus the reader's overhead, kept within bounds.
std::chrono::microseconds bounded_timeout(std::chrono::microseconds card_time,
                                          std::chrono::microseconds reader_overhead);

}  // namespace felica
