// CPU time of one whole READ click against the simulated reader, and the frames it sends.
#include <benchmark/benchmark.h>

#include <memory>

#include "card/read_command.h"
#include "felica/reader_library.h"
#include "felica/sim_reader.h"

namespace {

class DiscardingView final : public card::ReadView {
  public:
    void set_message(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    void set_box_text(card::OutputBox, std::string_view text) override {
        benchmark::DoNotOptimize(text.data());
    }
};

void click_on_demo_card(benchmark::State& state) {
    auto card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    felica::ReaderLibrary library([card] {
        return felica::OpenedReader{std::make_unique<felica::SimReader>(card), {}, {}};
    });
    DiscardingView view;
    std::int64_t clicks = 0;
    for (auto _ : state) {
        if (card::Command_Click(library, view) != card::ClickOutcome::success) {
            state.SkipWithError("the click did not read the card");
            break;
        }
        ++clicks;
    }
    if (clicks > 0) {
        state.counters["exchanges_per_click"] =
            static_cast<double>(card->exchanges()) / static_cast<double>(clicks);
    }
}
BENCHMARK(click_on_demo_card);

}  // namespace

BENCHMARK_MAIN();
