// Chooses the reader from the VIRUDE_READER setting:
//   sim                 the built-in demo card on the simulated reader
//   sim:PATH            a card image file on the simulated reader
//   pcsc[:NAME]         a PC/SC reader (NAME: part of the reader's name)
//   rcs380[:BUS:DEVICE] a Sony RC-S380 on USB (the first, or the one lsusb numbers so)
//   libnfc[:CONNSTRING] a libnfc device
//   unset or empty      the first real reader found: PC/SC, then RC-S380, then libnfc
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "felica/reader_library.h"

namespace felica {

inline constexpr const char* kReaderVariable = "VIRUDE_READER";

// The reader a setting names, before anything is opened.
struct ReaderChoice {
    enum class Kind { first_found, sim, pcsc, rcs380, libnfc };
    Kind kind = Kind::first_found;
    // sim: the card image file (none: the demo card); pcsc: part of the reader's name;
    // rcs380: BUS:DEVICE; libnfc: the connection string. Never empty when present.
    std::optional<std::string> argument;
};

// What the setting asks for, or why it is unusable (one line; the setting is quoted as it is,
// diagnostics make it printable).
std::variant<ReaderChoice, std::string> parse_reader_setting(
    const std::optional<std::string>& setting);

// Opens the reader the setting names, waiting no longer than `deadline`; never throws.
OpenedReader open_reader(const std::optional<std::string>& setting, const Deadline& deadline = {});
// The opener the program uses: reads VIRUDE_READER at each open.
ReaderOpener reader_opener_from_environment();

}  // namespace felica
