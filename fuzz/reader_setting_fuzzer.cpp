// Reader settings (VIRUDE_READER, --reader): what a setting asks for, parsed without opening any
// reader. Input: the setting's text (no input at all: the variable unset).
#include "felica/reader_selection.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> setting =
        size == 0
            ? std::nullopt
            : std::optional<std::string>(std::string(reinterpret_cast<const char*>(data), size));
    const auto parsed = felica::parse_reader_setting(setting, "--reader");

    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        // One line that says where the setting came from and quotes it as the user wrote it
        // (diagnostics make it printable).
        FUZZ_CHECK(setting && reason->starts_with("--reader: ") &&
                   reason->find(*setting) != std::string::npos);
        return 0;
    }
    const felica::ReaderChoice& choice = std::get<felica::ReaderChoice>(parsed);
    if (choice.family == nullptr) {
        FUZZ_CHECK(!setting || setting->empty());
        return 0;
    }
    // The setting is the family's word and, when there is one, ":" and the argument.
    FUZZ_CHECK(!choice.argument || !choice.argument->empty());
    const std::string word(choice.family->word);
    FUZZ_CHECK(*setting == word || *setting == word + ":" ||
               *setting == word + ":" + choice.argument.value_or(""));
    return 0;
}
