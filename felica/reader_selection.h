// Chooses the reader from a reader setting (VIRUDE_READER, or a program's --reader option):
// the word of a reader family, alone or followed by ":" and the family's argument. Unset or
// empty: the first real reader found, trying the families of the automatic search in table
// order. One table of the families drives parsing, opening, the automatic order, listing and
// the programs' help.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "felica/reader_library.h"
#include "felica/reader_listing.h"

namespace felica {

inline constexpr const char* kReaderVariable = "VIRUDE_READER";

struct ReaderFamily {
    std::string_view word;      // "pcsc"
    std::string_view title;     // "PC/SC", for texts
    std::string_view argument;  // what may follow the word and a colon ("NAME")
    std::string_view help;      // one line for the programs' help
    bool automatic;             // tried, in table order, when the setting names no reader
    bool argument_required;     // the word with ":" and nothing after it is unusable
    OpenedReader (*open)(const std::optional<std::string>& argument, const Deadline& deadline);
    FamilyListing (*list)(const Deadline& deadline);  // null: the family lists nothing
    bool (*built)();  // null: always; else whether this build has the family
};

// Every family this build has, in table order.
std::vector<const ReaderFamily*> reader_families();

// "sim[:PATH]", "pcsc[:NAME]" …: how a setting names the family.
std::string setting_form(const ReaderFamily& family);

// The reader a setting names, before anything is opened.
struct ReaderChoice {
    const ReaderFamily* family = nullptr;  // null: the first real reader found
    // The family's argument; never empty when present.
    std::optional<std::string> argument;
};

// What the setting asks for, or why it is unusable: one line beginning with `source` (where
// the setting came from: "VIRUDE_READER", "--reader"); the setting is quoted as it is,
// diagnostics make it printable.
std::variant<ReaderChoice, std::string> parse_reader_setting(
    const std::optional<std::string>& setting, std::string_view source = kReaderVariable);

// Opens the reader the setting names, waiting no longer than `deadline`; never throws.
OpenedReader open_reader(const std::optional<std::string>& setting, const Deadline& deadline = {},
                         std::string_view source = kReaderVariable);
// The opener a program uses: the reader `setting` names when there is one (a --reader
// option), else the one VIRUDE_READER names, read anew at each open.
ReaderOpener reader_opener(std::optional<std::string> setting = std::nullopt);

// The setting a program uses and where it comes from: `option` when given, else
// VIRUDE_READER (nothing when that is unset).
struct ReaderSetting {
    std::optional<std::string> value;
    std::string_view source;
};
ReaderSetting reader_setting(const std::optional<std::string>& option);

}  // namespace felica
