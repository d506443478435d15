#include "app/command_line.h"

#include <algorithm>

namespace command_line {
namespace {

using Argument = Option::Argument;

const Option* by_long_name(std::span<const Option> options, std::string_view name) {
    const auto found = std::find_if(options.begin(), options.end(), [name](const Option& option) {
        return option.long_name == name;
    });
    return found == options.end() ? nullptr : &*found;
}

const Option* by_short_name(std::span<const Option> options, char name) {
    const auto found = std::find_if(options.begin(), options.end(), [name](const Option& option) {
        return option.short_name == name;
    });
    return found == options.end() ? nullptr : &*found;
}

// "-r, --reader" or "--watch". (Built by appending: MinGW's g++ 12 warns of overlaps in the
// temporaries of a chain of +.)
std::string both_names(const Option& option) {
    std::string names;
    if (option.short_name != '\0') {
        names += '-';
        names += option.short_name;
        names += ", ";
    }
    names += "--";
    names += option.long_name;
    return names;
}

// "-r, --reader SPEC", "-w, --wait[=SECONDS]"
std::string synopsis(const Option& option) {
    std::string text = option.short_name != '\0' ? "" : "    ";
    text += both_names(option);
    if (option.argument == Argument::required) {
        text += ' ';
        text += option.argument_name;
    } else if (option.argument == Argument::optional) {
        text += "[=";
        text += option.argument_name;
        text += ']';
    }
    return text;
}

}  // namespace

std::variant<Given, std::string> parse(std::span<const Option> options,
                                       std::span<const std::string_view> arguments) {
    Given given;
    const auto take = [&given](const Option& option,
                               std::optional<std::string> value) -> std::optional<std::string> {
        if (!given.emplace(std::string(option.long_name), std::move(value)).second) {
            return "option " + both_names(option) + " given twice";
        }
        return std::nullopt;
    };
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (options_ended || word == "-" || !word.starts_with("-")) {
            return "unexpected argument '" + std::string(word) + "'";
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        if (word.starts_with("--")) {
            const std::string_view body = word.substr(2);
            const std::size_t equals = body.find('=');
            const Option* option = by_long_name(options, body.substr(0, equals));
            if (option == nullptr) {
                return "unknown option '" + std::string(word) + "'";
            }
            std::optional<std::string> value;
            if (equals != std::string_view::npos) {
                if (option->argument == Argument::none) {
                    return "option --" + std::string(option->long_name) + " takes no argument";
                }
                value = std::string(body.substr(equals + 1));
            } else if (option->argument == Argument::required) {
                if (i + 1 == arguments.size()) {
                    return "option --" + std::string(option->long_name) + " needs " +
                           std::string(option->argument_name);
                }
                value = std::string(arguments[++i]);
            }
            if (auto problem = take(*option, std::move(value))) {
                return *problem;
            }
            continue;
        }
        // One or more short options in one word; an argument takes the rest of it.
        for (std::size_t at = 1; at < word.size(); ++at) {
            const Option* option = by_short_name(options, word[at]);
            if (option == nullptr) {
                return "unknown option '-" + std::string(1, word[at]) + "'";
            }
            std::optional<std::string> value;
            const std::string_view rest = word.substr(at + 1);
            if (option->argument != Argument::none && !rest.empty()) {
                value = std::string(rest);
                at = word.size();
            } else if (option->argument == Argument::required) {
                if (i + 1 == arguments.size()) {
                    return "option -" + std::string(1, option->short_name) + " needs " +
                           std::string(option->argument_name);
                }
                value = std::string(arguments[++i]);
            }
            if (auto problem = take(*option, std::move(value))) {
                return *problem;
            }
        }
    }
    return given;
}

std::string help_lines(std::span<const Option> options) {
    std::size_t width = 0;
    for (const Option& option : options) {
        width = std::max(width, synopsis(option).size());
    }
    std::string text;
    for (const Option& option : options) {
        const std::string left = synopsis(option);
        text += "  " + left + std::string(width - left.size() + 2, ' ') + std::string(option.help) +
                "\n";
    }
    return text;
}

}  // namespace command_line
