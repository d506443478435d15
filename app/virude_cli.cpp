#include "app/virude_cli.h"

#include <array>

#include "app/command_line.h"
#include "felica/printable_text.h"
#include "felica/reader_selection.h"

#ifndef VIRUDE_VERSION
#define VIRUDE_VERSION "unknown"
#endif

namespace virude_cli {
namespace {

using Argument = command_line::Option::Argument;

constexpr std::array kOptions = {
    command_line::Option{'r', "reader", Argument::required, "SPEC",
                         "the reader to use; overrides VIRUDE_READER"},
    command_line::Option{'h', "help", Argument::none, "", "print this help and exit"},
    command_line::Option{'V', "version", Argument::none, "", "print the version and exit"},
};

constexpr std::string_view kUsageLine = "Usage: virude [-r SPEC] [-h] [-V]";

}  // namespace

std::string usage_text() {
    return std::string(kUsageLine) +
           "\n"
           "\n"
           "Shows the window that reads the card on the reader at each click of READ and shows\n"
           "the four services as hex dumps.\n"
           "\n"
           "Options:\n" +
           command_line::help_lines(kOptions) +
           "\n"
           "SPEC takes the forms that virude-dump --help lists, and virude-dump --list-readers\n"
           "prints the SPEC of each reader it sees. Without --reader the reader comes from the\n"
           "environment variable VIRUDE_READER (unset: the first reader found).\n";
}

std::variant<ShowWindow, EndNow> start(std::span<const std::string_view> arguments) {
    const auto parsed = command_line::parse(kOptions, arguments);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        return EndNow{kExitUsage, "",
                      "virude: " + *problem + "\n" + std::string(kUsageLine) + "\n"};
    }
    const command_line::Given& given = std::get<command_line::Given>(parsed);
    if (given.count("help") != 0) {
        return EndNow{0, usage_text(), ""};
    }
    if (given.count("version") != 0) {
        return EndNow{0, std::string("virude ") + VIRUDE_VERSION + "\n", ""};
    }
    ShowWindow show;
    if (const auto it = given.find("reader"); it != given.end()) {
        show.reader = it->second;
    }
    // A setting that names no reader is the user's slip: said once, before any window.
    const felica::ReaderSetting setting = felica::reader_setting(show.reader);
    const auto choice = felica::parse_reader_setting(setting.value, setting.source);
    if (const auto* problem = std::get_if<std::string>(&choice)) {
        return EndNow{kExitUsage, "", "virude: " + felica::printable_text(*problem) + "\n"};
    }
    return show;
}

}  // namespace virude_cli
