// One READ click through the libnfc helper process, libnfc's pn532_uart driver and the
// emulated PN532 on a pseudo-terminal, beside libnfc's own nfc-list on the same emulator, and
// the cost of starting the helper alone. Wall time is what the user waits; the CPU column is
// the calling thread's; helper_cpu_ms is what the child processes (the helper, nfc-list) used.
// Most of a click is libnfc's 50 ms port flush in nfc_open.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/click_loop.h"
#include "felica/libnfc/libnfc_reader.h"
#include "felica/reader_library.h"
#include "tools/pn532_emulator/pn532_emulator.h"

extern char** environ;

namespace {

pn532::EmulatorSetup demo_reader() {
    pn532::EmulatorSetup setup;
    setup.card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    return setup;
}

// CPU time, in milliseconds, of the child processes that have ended and been reaped so far.
double children_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void per_run(benchmark::State& state, std::int64_t runs, double children_before, const char* name) {
    if (runs > 0) {
        state.counters[name] = (children_cpu_ms() - children_before) / static_cast<double>(runs);
    }
}

void click_through_libnfc(benchmark::State& state) {
    pn532::Emulator emulator(demo_reader());
    felica::ReaderLibrary library(
        [connstring = emulator.connstring()](const felica::Deadline& deadline) {
            return felica::open_libnfc_reader(connstring, deadline, VIRUDE_LIBNFC_HELPER_PATH);
        });
    const double before = children_cpu_ms();
    const std::int64_t clicks = bench::click_repeatedly(state, library);
    per_run(state, clicks, before, "helper_cpu_ms");
    if (clicks > 0) {
        state.counters["chip_commands_per_click"] =
            static_cast<double>(emulator.commands().size()) / static_cast<double>(clicks);
    }
}
BENCHMARK(click_through_libnfc)->Unit(benchmark::kMillisecond)->UseRealTime();

// The helper started, asked to open a device that does not exist, and gone: what every
// libnfc click pays before it reaches the reader.
void helper_start_and_end(benchmark::State& state) {
    const double before = children_cpu_ms();
    std::int64_t runs = 0;
    for (auto _ : state) {
        const felica::OpenedReader opened =
            felica::open_libnfc_reader("pn532_uart:/nonexistent", {}, VIRUDE_LIBNFC_HELPER_PATH);
        if (opened.backend || opened.error != felica::RwError::no_reader) {
            state.SkipWithError(("unexpected open: " + opened.reason).c_str());
            break;
        }
        ++runs;
    }
    per_run(state, runs, before, "helper_cpu_ms");
}
BENCHMARK(helper_start_and_end)->Unit(benchmark::kMillisecond)->UseRealTime();

// nfc-list with the emulator as libnfc's only device; its output is discarded.
bool run_nfc_list(const std::string& connstring) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with("LIBNFC_")) {
            variables.emplace_back(*entry);
        }
    }
    variables.push_back("LIBNFC_DEVICE=" + connstring);
    variables.push_back("LIBNFC_LOG_LEVEL=0");
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = NFC_LIST_PATH;
    char* argv[] = {program.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void nfc_list_on_emulator(benchmark::State& state) {
    pn532::Emulator emulator(demo_reader());
    const double before = children_cpu_ms();
    std::int64_t runs = 0;
    for (auto _ : state) {
        if (!run_nfc_list(emulator.connstring())) {
            state.SkipWithError("nfc-list failed");
            break;
        }
        ++runs;
    }
    per_run(state, runs, before, "nfc_list_cpu_ms");
    if (runs > 0) {
        state.counters["chip_commands_per_run"] =
            static_cast<double>(emulator.commands().size()) / static_cast<double>(runs);
    }
}
BENCHMARK(nfc_list_on_emulator)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
