// VIRUDE_READER values: what a setting asks for, parsed without opening any reader.
// Input: the setting's text (no input at all: the variable unset).
#include "felica/reader_selection.h"
#include "fuzz/fuzz_support.h"

namespace {

using felica::ReaderChoice;

std::string_view word_of(ReaderChoice::Kind kind) {
    switch (kind) {
        case ReaderChoice::Kind::first_found:
            return "";
        case ReaderChoice::Kind::sim:
            return "sim";
        case ReaderChoice::Kind::pcsc:
            return "pcsc";
        case ReaderChoice::Kind::rcs380:
            return "rcs380";
        case ReaderChoice::Kind::libnfc:
            return "libnfc";
    }
    return "?";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> setting =
        size == 0
            ? std::nullopt
            : std::optional<std::string>(std::string(reinterpret_cast<const char*>(data), size));
    const auto parsed = felica::parse_reader_setting(setting);

    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        // The reason quotes the setting as the user wrote it (diagnostics make it printable).
        FUZZ_CHECK(setting && reason->find(*setting) != std::string::npos);
        return 0;
    }
    const ReaderChoice& choice = std::get<ReaderChoice>(parsed);
    if (choice.kind == ReaderChoice::Kind::first_found) {
        FUZZ_CHECK(!setting || setting->empty());
        return 0;
    }
    // The setting is the reader's word and, when there is one, ":" and the argument.
    FUZZ_CHECK(!choice.argument || !choice.argument->empty());
    const std::string word(word_of(choice.kind));
    FUZZ_CHECK(*setting == word || *setting == word + ":" + choice.argument.value_or(""));
    return 0;
}
