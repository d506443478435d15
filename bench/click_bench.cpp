// CPU time of one whole READ click against the simulated reader, and the frames it sends.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/click_loop.h"
#include "felica/reader_library.h"
#include "felica/sim/sim_reader.h"

namespace {

void click_on_demo_card(benchmark::State& state) {
    auto card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    felica::ReaderLibrary library([card](const felica::Deadline&) {
        return felica::OpenedReader{std::make_unique<felica::SimReader>(card), {}, {}};
    });
    const std::int64_t clicks = bench::click_repeatedly(state, library);
    if (clicks > 0) {
        state.counters["exchanges_per_click"] =
            static_cast<double>(card->exchanges()) / static_cast<double>(clicks);
    }
}
BENCHMARK(click_on_demo_card);

}  // namespace

BENCHMARK_MAIN();
