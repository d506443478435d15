#include "felica/reader_selection.h"

#include <variant>

#include "felica/libnfc/libnfc_reader.h"
#include "felica/pcsc/pcsc_reader.h"
#include "felica/rcs380/rcs380_reader.h"
#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"
#include "felica/system/system.h"

namespace felica {
namespace {

constexpr std::string_view kExpected =
    "expected sim, sim:PATH, pcsc[:NAME], rcs380[:BUS:DEVICE] or libnfc[:CONNSTRING]";

OpenedReader failure(RwError error, std::string reason) {
    return {nullptr, error, std::move(reason)};
}

OpenedReader open_simulated(std::string_view path) {
    if (path.empty()) {
        return {std::make_unique<SimReader>(std::make_shared<SimulatedCard>(demo_card())),
                RwError::none,
                {}};
    }
    auto loaded = load_card_image(std::string(path));
    if (auto* message = std::get_if<std::string>(&loaded)) {
        return failure(RwError::reader_setting, *message);
    }
    auto& card = std::get<LoadedCard>(loaded);
    return {std::make_unique<SimReader>(
                std::make_shared<SimulatedCard>(std::move(card.image), card.faults)),
            RwError::none,
            {}};
}

// Is `setting` the word `kind`, alone or followed by ":" and an argument?
bool names(std::string_view setting, std::string_view kind, std::string_view& argument,
           bool& has_argument) {
    if (setting.substr(0, kind.size()) != kind) {
        return false;
    }
    const std::string_view rest = setting.substr(kind.size());
    if (rest.empty()) {
        has_argument = false;
        argument = {};
        return true;
    }
    if (rest.front() != ':') {
        return false;
    }
    has_argument = true;
    argument = rest.substr(1);
    return true;
}

std::optional<std::string> optional_argument(std::string_view argument, bool has_argument) {
    if (!has_argument || argument.empty()) {
        return std::nullopt;
    }
    return std::string(argument);
}

// Automatic discovery: PC/SC readers first, then an RC-S380, then libnfc devices.
OpenedReader open_first_real_reader(const Deadline& deadline) {
    OpenedReader pcsc = open_pcsc_reader(std::nullopt, deadline);
    if (pcsc.backend) {
        return pcsc;
    }
    OpenedReader rcs380 = open_rcs380_reader(std::nullopt, deadline);
    if (rcs380.backend) {
        return rcs380;
    }
    OpenedReader libnfc = open_libnfc_reader(std::nullopt, deadline);
    if (libnfc.backend) {
        return libnfc;
    }
    // Each reason names its own stack ("PC/SC: …", "… RC-S380 …", "libnfc …").
    return failure(RwError::no_reader, "no reader found (" + pcsc.reason + "; " + rcs380.reason +
                                           "; " + libnfc.reason + ")");
}

}  // namespace

std::variant<ReaderChoice, std::string> parse_reader_setting(
    const std::optional<std::string>& setting) {
    using Kind = ReaderChoice::Kind;
    if (!setting || setting->empty()) {
        return ReaderChoice{};
    }
    const std::string_view value = *setting;
    std::string_view argument;
    bool has_argument = false;
    if (names(value, "sim", argument, has_argument)) {
        if (has_argument && argument.empty()) {
            return std::string(kReaderVariable) + "=sim: names no card image file";
        }
        return ReaderChoice{Kind::sim, optional_argument(argument, has_argument)};
    }
    if (names(value, "pcsc", argument, has_argument)) {
        return ReaderChoice{Kind::pcsc, optional_argument(argument, has_argument)};
    }
    if (names(value, "rcs380", argument, has_argument)) {
        return ReaderChoice{Kind::rcs380, optional_argument(argument, has_argument)};
    }
    if (names(value, "libnfc", argument, has_argument)) {
        return ReaderChoice{Kind::libnfc, optional_argument(argument, has_argument)};
    }
    return "unknown " + std::string(kReaderVariable) + " value \"" + std::string(value) + "\" (" +
           std::string(kExpected) + ")";
}

OpenedReader open_reader(const std::optional<std::string>& setting, const Deadline& deadline) {
    const auto parsed = parse_reader_setting(setting);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        return failure(RwError::reader_setting, *reason);
    }
    const ReaderChoice& choice = std::get<ReaderChoice>(parsed);
    switch (choice.kind) {
        case ReaderChoice::Kind::first_found:
            return open_first_real_reader(deadline);
        case ReaderChoice::Kind::sim:
            return open_simulated(choice.argument.value_or(""));
        case ReaderChoice::Kind::pcsc:
            return open_pcsc_reader(choice.argument, deadline);
        case ReaderChoice::Kind::rcs380:
            return open_rcs380_reader(choice.argument, deadline);
        case ReaderChoice::Kind::libnfc:
            return open_libnfc_reader(choice.argument, deadline);
    }
    return failure(RwError::reader_setting, "unknown reader kind");
}

ReaderOpener reader_opener_from_environment() {
    return [](const Deadline& deadline) {
        return open_reader(system::environment_variable(kReaderVariable), deadline);
    };
}

}  // namespace felica
