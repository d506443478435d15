// virude-dump: one click of the READ button from the command line, for scripts and machines
// without a display; or a list of the readers, a wait for a card, or a watch that reads every
// card put on the reader.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "app/card_read.h"
#include "card/read_command.h"
#include "card/trace.h"
#include "felica/reader_library.h"

namespace dump_cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitInternalError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoReader = 3;
inline constexpr int kExitNoCard = 4;
inline constexpr int kExitReadError = 5;

// How often --wait and --watch look for a card.
inline constexpr std::chrono::milliseconds kPollInterval{250};

struct Options {
    std::optional<std::string> reader;  // --reader
    bool list_readers = false;
    bool wait = false;
    std::optional<std::chrono::milliseconds> wait_limit;  // --wait=SECONDS
    bool watch = false;
    bool json = false;
    bool verbose = false;
    bool trace = false;
    bool help = false;
    bool version = false;
};

// The options of the arguments after the program name, or what is wrong with them.
std::variant<Options, std::string> parse_arguments(std::span<const std::string_view> arguments);

std::string usage_line();
std::string usage_text();
std::string version_text();

// The sink for the read command's trace lines: `err` with --trace, none otherwise (also when
// the arguments are unusable).
card::TraceSink trace_sink(const std::variant<Options, std::string>& parsed, std::ostream& err);

// Each box this run filled, in plan order: its caption line, then its dump lines ending in LF.
void print_boxes(std::ostream& out, const RecordingView& view);

int exit_code(card::ClickOutcome outcome);

// What --wait and --watch ask of the world around them: whether to stop (Ctrl-C), and a pause
// that ends early when they should stop (true then).
struct LoopControl {
    std::function<bool()> stopped;
    std::function<bool(std::chrono::milliseconds)> pause;
};

// --watch: reads every card put on the reader `opener` opens, once per placement, and prints
// each read, until `control` says stop. Returns the exit code.
int watch(const felica::ReaderOpener& opener, const Options& options, const LoopControl& control,
          std::ostream& out, std::ostream& err);

// The whole program after main's argument handling: reads through the reader --reader or
// VIRUDE_READER names (or lists the readers) and prints. Returns the exit code.
int run(const std::variant<Options, std::string>& parsed, std::ostream& out, std::ostream& err);

}  // namespace dump_cli
