// Options as both programs take them: short options (-h, -r SPEC, -rSPEC, several flags in one
// word such as -jv), long options (--reader SPEC, --reader=SPEC, --wait=5), "--" ending the
// options, in any order. One table of options drives parsing and the help's option lines.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace command_line {

struct Option {
    enum class Argument { none, required, optional };
    char short_name;  // '\0': none
    std::string_view long_name;
    Argument argument;
    std::string_view argument_name;  // "SPEC", "SECONDS"
    std::string_view help;           // one line
};

// The options given, by long name, each with its argument (none for a flag, or an optional
// argument left out).
using Given = std::map<std::string, std::optional<std::string>, std::less<>>;

// The options of `arguments` (those after the program name), or what is wrong with them
// (an unknown option, an option given twice, a missing argument, an argument where none is
// taken, or any word that is not an option).
std::variant<Given, std::string> parse(std::span<const Option> options,
                                       std::span<const std::string_view> arguments);

// The option lines of a help text: "  -r, --reader SPEC   help", aligned.
std::string help_lines(std::span<const Option> options);

}  // namespace command_line
