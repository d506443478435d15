// How long libnfc waits, known to both the program and its libnfc helper: the helper hands
// libnfc its timeouts, the program bounds its waits for the helper's answers by them.
#pragma once

#include <chrono>

namespace felica::libnfc {

// libnfc waits this long at least: shorter waits misbehave on USB readers.
inline constexpr std::chrono::milliseconds kMinTimeout{300};
// Time a serial or USB reader adds to each command: two frames of up to 265 bytes at
// 115200 baud take about 23 ms each way, plus the chip's own work.
inline constexpr std::chrono::milliseconds kReaderOverhead{50};

// A wait for libnfc in whole milliseconds: rounded up, at least kMinTimeout, never 0
// (which libnfc takes as "wait forever").
int timeout_ms(std::chrono::microseconds timeout);

}  // namespace felica::libnfc
