// What every harness shares: a reader of the fuzzer's bytes and a check that stops the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "felica/types.h"

// A broken invariant: says which, and aborts, so that libFuzzer keeps the input as a crash
// and a replay fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

// Takes the fuzzer's bytes from the front; once they run out, every read yields zeros or
// nothing, so that a harness never has to check for the end.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    bool empty() const { return rest_.empty(); }

    felica::Byte byte() {
        if (rest_.empty()) {
            return 0;
        }
        const felica::Byte value = rest_.front();
        rest_ = rest_.subspan(1);
        return value;
    }

    // Up to `count` bytes (fewer at the end).
    felica::ByteView take(std::size_t count) {
        const felica::ByteView taken = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(taken.size());
        return taken;
    }

    // A run of bytes whose length the next byte gives.
    felica::ByteView counted() { return take(byte()); }

    felica::ByteView rest() { return take(rest_.size()); }

    std::string text(std::size_t count) {
        const felica::ByteView bytes = take(count);
        return std::string(bytes.begin(), bytes.end());
    }

  private:
    felica::ByteView rest_;
};

}  // namespace fuzz
