// virude-dump --watch against the simulated reader with its card swapped for another every
// second: the reads per minute, and how many placements were missed or read twice. Runs the
// watch loop for the seconds given as the argument (a minute by default), in real time.
#include <benchmark/benchmark.h>

#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "app/dump_cli.h"
#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

// The card on the reader at `since` seconds into the run: the demo card in even seconds,
// another one (its IDm says which second) in odd ones, so that each second is a placement.
felica::CardImage card_at(std::int64_t second) {
    felica::CardImage card = felica::demo_card();
    card.idm[6] = static_cast<felica::Byte>(second >> 8);
    card.idm[7] = static_cast<felica::Byte>(second);
    return card;
}

void watch_with_a_card_swapped_every_second(benchmark::State& state) {
    const std::chrono::seconds length(state.range(0));
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const auto second = [start] {
            return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
        };
        const felica::ReaderOpener opener = [&second](const felica::Deadline&) {
            auto card = std::make_shared<felica::SimulatedCard>(card_at(second()));
            return felica::OpenedReader{std::make_unique<felica::SimReader>(card), {}, {}};
        };
        const dump_cli::LoopControl control{[&] { return Clock::now() - start >= length; },
                                            [&](std::chrono::milliseconds pause) {
                                                std::this_thread::sleep_for(pause);
                                                return Clock::now() - start >= length;
                                            }};
        dump_cli::Options options;
        options.watch = true;
        options.json = true;
        std::ostringstream out;
        std::ostringstream err;
        dump_cli::watch(opener, options, control, out, err);

        // Each document names the card it read, and so the second it was on the reader.
        std::istringstream lines(out.str());
        std::set<std::int64_t> seconds_read;
        std::int64_t reads = 0;
        for (std::string line; std::getline(lines, line);) {
            const auto card = std::get<felica::LoadedCard>(felica::parse_card_image(line, "read"));
            seconds_read.insert((card.image.idm[6] << 8) | card.image.idm[7]);
            ++reads;
        }
        const double minutes = std::chrono::duration<double>(length).count() / 60;
        state.counters["reads_per_minute"] = static_cast<double>(reads) / minutes;
        state.counters["placements"] = static_cast<double>(length.count());
        state.counters["missed"] =
            static_cast<double>(length.count() - static_cast<std::int64_t>(seconds_read.size()));
        state.counters["read_twice"] =
            static_cast<double>(reads) - static_cast<double>(seconds_read.size());
    }
}
BENCHMARK(watch_with_a_card_swapped_every_second)
    ->Arg(60)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
