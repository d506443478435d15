// The loop both click benchmarks time: one READ click per iteration on a view that shows
// nothing.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "card/read_command.h"
#include "felica/library.h"

namespace bench {

class DiscardingView final : public card::ReadView {
  public:
    void set_message(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    void set_box_text(card::OutputBox, std::string_view text) override {
        benchmark::DoNotOptimize(text.data());
    }
};

// Clicks once per iteration and returns how many clicks ran; a click that does not read the
// card stops the benchmark with an error.
inline std::int64_t click_repeatedly(benchmark::State& state, felica::Library& library) {
    DiscardingView view;
    std::int64_t clicks = 0;
    for (auto _ : state) {
        if (card::Command_Click(library, view) != card::ClickOutcome::success) {
            state.SkipWithError("the click did not read the card");
            break;
        }
        ++clicks;
    }
    return clicks;
}

}  // namespace bench
