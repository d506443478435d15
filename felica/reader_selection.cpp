#include "felica/reader_selection.h"

#include <array>
#include <variant>

#include "felica/libnfc/libnfc_reader.h"
#include "felica/pcsc/pcsc_listing.h"
#include "felica/pcsc/pcsc_reader.h"
#include "felica/rcs380/rcs380_reader.h"
#include "felica/sim/card_image_file.h"
#include "felica/sim/sim_reader.h"
#include "felica/system/system.h"

namespace felica {
namespace {

OpenedReader failure(RwError error, std::string reason) {
    return {nullptr, error, std::move(reason)};
}

OpenedReader open_simulated(const std::optional<std::string>& path, const Deadline&) {
    if (!path) {
        return {std::make_unique<SimReader>(std::make_shared<SimulatedCard>(demo_card())),
                RwError::none,
                {}};
    }
    auto loaded = load_card_image(*path);
    if (auto* message = std::get_if<std::string>(&loaded)) {
        return failure(RwError::reader_setting, *message);
    }
    auto& card = std::get<LoadedCard>(loaded);
    return {std::make_unique<SimReader>(
                std::make_shared<SimulatedCard>(std::move(card.image), card.faults)),
            RwError::none,
            {}};
}

OpenedReader open_libnfc(const std::optional<std::string>& connstring, const Deadline& deadline) {
    return open_libnfc_reader(connstring, deadline);
}

FamilyListing list_libnfc(const Deadline& deadline) {
    return list_libnfc_readers(deadline);
}

// The reader families. The automatic search tries PC/SC readers first (the readers most
// users have, with the system's own drivers), then an RC-S380 on USB, then libnfc devices.
constexpr std::array kFamilies = {
    ReaderFamily{"sim", "simulated reader", "PATH",
                 "a simulated reader with the demo card, or with the card image PATH", false, true,
                 &open_simulated, nullptr, nullptr},
    ReaderFamily{"pcsc", "PC/SC", "NAME", "a PC/SC reader (NAME: part of the reader's name)", true,
                 false, &open_pcsc_reader, &list_pcsc_readers, nullptr},
    ReaderFamily{"rcs380", "RC-S380", "BUS:DEVICE",
                 "a Sony RC-S380 on USB (BUS, DEVICE: as lsusb numbers it)", true, false,
                 &open_rcs380_reader, &list_rcs380_readers, &rcs380_reader_built},
    ReaderFamily{"libnfc", "libnfc", "CONNSTRING",
                 "a libnfc device (CONNSTRING: libnfc's connection string)", true, false,
                 &open_libnfc, &list_libnfc, &libnfc_reader_built},
};

bool is_built(const ReaderFamily& family) {
    return family.built == nullptr || family.built();
}

// "expected sim[:PATH], pcsc[:NAME] or libnfc[:CONNSTRING]"
std::string expected_settings() {
    const std::vector<const ReaderFamily*> families = reader_families();
    std::string text = "expected ";
    for (std::size_t i = 0; i < families.size(); ++i) {
        if (i > 0) {
            text += i + 1 == families.size() ? " or " : ", ";
        }
        text += setting_form(*families[i]);
    }
    return text;
}

// The first real reader found, trying the families of the automatic search in order.
OpenedReader open_first_real_reader(const Deadline& deadline) {
    std::string reasons;
    for (const ReaderFamily* family : reader_families()) {
        if (!family->automatic) {
            continue;
        }
        OpenedReader opened = family->open(std::nullopt, deadline);
        if (opened.backend) {
            return opened;
        }
        // Each reason names its own stack ("PC/SC: …", "… RC-S380 …", "libnfc …").
        reasons += (reasons.empty() ? "" : "; ") + opened.reason;
    }
    return failure(RwError::no_reader, "no reader found (" + reasons + ")");
}

}  // namespace

std::vector<const ReaderFamily*> reader_families() {
    std::vector<const ReaderFamily*> built;
    for (const ReaderFamily& family : kFamilies) {
        if (is_built(family)) {
            built.push_back(&family);
        }
    }
    return built;
}

std::string setting_form(const ReaderFamily& family) {
    return std::string(family.word) + "[:" + std::string(family.argument) + "]";
}

std::variant<ReaderChoice, std::string> parse_reader_setting(
    const std::optional<std::string>& setting, std::string_view source) {
    if (!setting || setting->empty()) {
        return ReaderChoice{};
    }
    const std::string_view value = *setting;
    const std::string_view word = value.substr(0, value.find(':'));
    // Families this build lacks are known all the same: opening one says why it is missing.
    for (const ReaderFamily& family : kFamilies) {
        if (family.word != word) {
            continue;
        }
        if (word.size() == value.size()) {
            return ReaderChoice{&family, std::nullopt};
        }
        const std::string_view argument = value.substr(word.size() + 1);
        if (argument.empty()) {
            if (family.argument_required) {
                return std::string(source) + ": \"" + std::string(value) + "\" has no " +
                       std::string(family.argument) + " after the colon";
            }
            return ReaderChoice{&family, std::nullopt};
        }
        return ReaderChoice{&family, std::string(argument)};
    }
    return std::string(source) + ": unknown reader \"" + std::string(value) + "\" (" +
           expected_settings() + ")";
}

OpenedReader open_reader(const std::optional<std::string>& setting, const Deadline& deadline,
                         std::string_view source) {
    const auto parsed = parse_reader_setting(setting, source);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        return failure(RwError::reader_setting, *reason);
    }
    const ReaderChoice& choice = std::get<ReaderChoice>(parsed);
    if (choice.family == nullptr) {
        return open_first_real_reader(deadline);
    }
    return choice.family->open(choice.argument, deadline);
}

ReaderSetting reader_setting(const std::optional<std::string>& option) {
    if (option) {
        return {option, "--reader"};
    }
    return {system::environment_variable(kReaderVariable), kReaderVariable};
}

ReaderOpener reader_opener(std::optional<std::string> setting) {
    return [setting = std::move(setting)](const Deadline& deadline) {
        const ReaderSetting chosen = reader_setting(setting);
        return open_reader(chosen.value, deadline, chosen.source);
    };
}

}  // namespace felica
