// One READ click through libusb-1.0 and the emulated RC-S380 under umockdev: wall time, the
// CPU time of the whole process (the emulator's thread answering libusb included) and the
// USB transfers of a click. The program runs itself again under umockdev's preload library.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

#include "bench/click_loop.h"
#include "felica/rcs380/rcs380_reader.h"
#include "felica/reader_library.h"
#include "tools/rcs380_emulator/usb_rcs380.h"

namespace {

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void click_through_libusb(benchmark::State& state) {
    if (const auto why = port100::usb_emulation_unavailable()) {
        state.SkipWithError(why->c_str());
        return;
    }
    port100::UsbSetup setup;
    setup.card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    port100::UsbRcs380 reader(setup);
    felica::ReaderLibrary library([location = reader.location()](const felica::Deadline& deadline) {
        return felica::open_rcs380_reader(location, deadline);
    });
    const double cpu_before = process_cpu_seconds();
    const std::int64_t clicks = bench::click_repeatedly(state, library);
    if (clicks > 0) {
        const double per_click = 1.0 / static_cast<double>(clicks);
        state.counters["process_cpu_ms_per_click"] =
            (process_cpu_seconds() - cpu_before) * 1000.0 * per_click;
        state.counters["usb_transfers_per_click"] = reader.transfers() * per_click;
        reader.inspect([&](const port100::Port100Model& model) {
            state.counters["chip_commands_per_click"] =
                static_cast<double>(model.commands().size()) * per_click;
        });
    }
}
BENCHMARK(click_through_libusb)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    port100::run_under_umockdev_preload(argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
