// virude's command line: the reader to use, or the help and the version, which are printed
// before any window (so without a display). Nothing else of the window depends on it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace virude_cli {

inline constexpr int kExitUsage = 2;

// Show the window, reading through the reader --reader names (VIRUDE_READER without it).
struct ShowWindow {
    std::optional<std::string> reader;
};

// End at once: print `out` on standard output and `err` on standard error, exit with `code`.
struct EndNow {
    int code = 0;
    std::string out;
    std::string err;
};

// What the arguments after the program name ask for. An unknown option, an unusable reader
// setting (by option or by VIRUDE_READER) and anything else wrong end with kExitUsage.
std::variant<ShowWindow, EndNow> start(std::span<const std::string_view> arguments);

std::string usage_text();

}  // namespace virude_cli
