#include "felica/sim/card_image_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "felica/system/system.h"

namespace felica {
namespace {

using nlohmann::json;

// A problem with the image; caught at the top and turned into the one-line message.
struct ImageError {
    std::string what;
};

std::optional<Byte> hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<Byte>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<Byte>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<Byte>(c - 'A' + 10);
    }
    return std::nullopt;
}

// Exactly `length` bytes of hex, either case; spaces may separate whole bytes ("01 2E").
std::optional<Bytes> parse_hex(std::string_view text, std::size_t length) {
    Bytes bytes;
    std::optional<Byte> high;
    for (const char c : text) {
        if (c == ' ') {
            if (high) {
                return std::nullopt;  // a space inside a byte
            }
            continue;
        }
        const auto digit = hex_digit(c);
        if (!digit) {
            return std::nullopt;
        }
        if (high) {
            bytes.push_back(static_cast<Byte>((*high << 4) | *digit));
            high.reset();
        } else {
            high = digit;
        }
    }
    if (high || bytes.size() != length) {
        return std::nullopt;
    }
    return bytes;
}

template <std::size_t N>
std::array<Byte, N> hex_field(const json& value, const std::string& name) {
    const std::string problem = '"' + name + "\" must be " + std::to_string(2 * N) + " hex digits";
    if (!value.is_string()) {
        throw ImageError{problem};
    }
    const auto bytes = parse_hex(value.get_ref<const std::string&>(), N);
    if (!bytes) {
        throw ImageError{problem};
    }
    std::array<Byte, N> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return out;
}

std::optional<std::uint16_t> service_code_of(std::string_view text) {
    const auto bytes = parse_hex(text, 2);
    if (!bytes) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(((*bytes)[0] << 8) | (*bytes)[1]);
}

std::string hex4(std::uint16_t code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[code & 0x0F];
        code = static_cast<std::uint16_t>(code >> 4);
    }
    return text;
}

void reject_unknown_keys(const json& object, std::initializer_list<std::string_view> known,
                         const std::string& where) {
    for (const auto& item : object.items()) {
        bool found = false;
        for (const std::string_view key : known) {
            found = found || item.key() == key;
        }
        if (!found) {
            throw ImageError{"unknown key \"" + item.key() + "\"" + where};
        }
    }
}

std::map<std::uint16_t, std::vector<Block>> parse_services(const json& services) {
    if (!services.is_object()) {
        throw ImageError{"\"services\" must be an object of service code to blocks"};
    }
    std::map<std::uint16_t, std::vector<Block>> out;
    for (const auto& item : services.items()) {
        const auto code = service_code_of(item.key());
        if (!code) {
            throw ImageError{"service code \"" + item.key() + "\" must be 4 hex digits"};
        }
        const std::string name = "service " + hex4(*code);
        if (out.count(*code) != 0) {
            throw ImageError{name + " appears twice"};
        }
        const json& blocks = item.value();
        if (!blocks.is_array() || blocks.empty()) {
            throw ImageError{name + " must be a non-empty array of blocks"};
        }
        // Block numbers in a read are at most 16 bits.
        if (blocks.size() > 0x10000) {
            throw ImageError{name + " has more than 65536 blocks"};
        }
        std::vector<Block> data;
        data.reserve(blocks.size());
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const json& block = blocks[i];
            const auto bytes = block.is_string()
                                   ? parse_hex(block.get_ref<const std::string&>(), kBlockSize)
                                   : std::nullopt;
            if (!bytes) {
                throw ImageError{name + " block " + std::to_string(i) +
                                 " must be 32 hex digits (16 bytes)"};
            }
            Block b{};
            std::copy(bytes->begin(), bytes->end(), b.begin());
            data.push_back(b);
        }
        out.emplace(*code, std::move(data));
    }
    return out;
}

CardFaults parse_faults(const json& faults) {
    if (!faults.is_object()) {
        throw ImageError{"\"faults\" must be an object"};
    }
    reject_unknown_keys(faults, {"removed_after", "silent", "garble", "sf1"}, " in \"faults\"");
    CardFaults out;
    if (const auto it = faults.find("removed_after"); it != faults.end()) {
        if (!it->is_number_integer() || it->get<long long>() < 0 ||
            it->get<long long>() > 1'000'000'000) {
            throw ImageError{"\"removed_after\" must be a whole number of exchanges, 0 or more"};
        }
        out.removed_after = static_cast<int>(it->get<long long>());
    }
    if (const auto it = faults.find("silent"); it != faults.end()) {
        if (!it->is_boolean()) {
            throw ImageError{"\"silent\" must be true or false"};
        }
        out.silent = it->get<bool>();
    }
    if (const auto it = faults.find("garble"); it != faults.end()) {
        static const std::map<std::string, Garble> kGarbles{
            {"none", Garble::none},
            {"truncate", Garble::truncate},
            {"wrong_length", Garble::wrong_length},
            {"wrong_response_code", Garble::wrong_response_code},
            {"wrong_idm", Garble::wrong_idm},
            {"wrong_block_count", Garble::wrong_block_count},
        };
        const auto found = it->is_string() ? kGarbles.find(it->get<std::string>()) : kGarbles.end();
        if (found == kGarbles.end()) {
            throw ImageError{
                "\"garble\" must be one of none, truncate, wrong_length, wrong_response_code, "
                "wrong_idm, wrong_block_count"};
        }
        out.garble = found->second;
    }
    if (const auto it = faults.find("sf1"); it != faults.end()) {
        static const std::map<std::string, Sf1Encoding> kEncodings{
            {"index", Sf1Encoding::element_index},
            {"bitmask", Sf1Encoding::bitmask},
            {"ff", Sf1Encoding::ff},
        };
        const auto found =
            it->is_string() ? kEncodings.find(it->get<std::string>()) : kEncodings.end();
        if (found == kEncodings.end()) {
            throw ImageError{"\"sf1\" must be one of index, bitmask, ff"};
        }
        out.sf1_encoding = found->second;
    }
    return out;
}

std::int32_t int32_field(const json& value, const char* name) {
    if (!value.is_number_integer() || value.get<long long>() < INT32_MIN ||
        value.get<long long>() > INT32_MAX) {
        throw ImageError{std::string("\"") + name + "\" must be a whole number of 32 bits"};
    }
    return static_cast<std::int32_t>(value.get<long long>());
}

std::string text_field(const json& value, const char* name) {
    if (!value.is_string()) {
        throw ImageError{std::string("\"") + name + "\" must be a string"};
    }
    return value.get<std::string>();
}

ReadOutcome parse_outcome(const json& outcome) {
    if (!outcome.is_object()) {
        throw ImageError{"\"outcome\" must be an object"};
    }
    reject_unknown_keys(
        outcome,
        {"exit_code", "message", "felica_error_type", "rw_error_type", "reason", "failed_services"},
        " in \"outcome\"");
    ReadOutcome out;
    if (const auto it = outcome.find("exit_code"); it != outcome.end()) {
        if (!it->is_number_integer() || it->get<long long>() < 0 || it->get<long long>() > 255) {
            throw ImageError{"\"exit_code\" must be a whole number from 0 to 255"};
        }
        out.exit_code = static_cast<int>(it->get<long long>());
    }
    if (const auto it = outcome.find("message"); it != outcome.end()) {
        out.message = text_field(*it, "message");
    }
    if (const auto it = outcome.find("felica_error_type"); it != outcome.end()) {
        out.felica_error_type = int32_field(*it, "felica_error_type");
    }
    if (const auto it = outcome.find("rw_error_type"); it != outcome.end()) {
        out.rw_error_type = int32_field(*it, "rw_error_type");
    }
    if (const auto it = outcome.find("reason"); it != outcome.end()) {
        out.reason = text_field(*it, "reason");
    }
    if (const auto it = outcome.find("failed_services"); it != outcome.end()) {
        const std::string problem = "\"failed_services\" must be an array of service codes";
        if (!it->is_array() || it->size() > 0x10000) {
            throw ImageError{problem};
        }
        for (const json& item : *it) {
            const auto code = item.is_string() ? service_code_of(item.get_ref<const std::string&>())
                                               : std::nullopt;
            if (!code) {
                throw ImageError{problem + " (4 hex digits each)"};
            }
            out.failed_services.push_back(*code);
        }
    }
    return out;
}

LoadedCard parse_document(const json& document) {
    if (!document.is_object()) {
        throw ImageError{"the top level must be a JSON object"};
    }
    reject_unknown_keys(
        document,
        {"idm", "pmm", "system_code", "block_limit", "services", "faults", "reader", "outcome"},
        "");
    // Fields are checked in the order the header documents them; the first problem is reported.
    const auto required = [&document](const char* name) -> const json& {
        const auto it = document.find(name);
        if (it == document.end()) {
            throw ImageError{std::string("\"") + name + "\" is missing"};
        }
        return *it;
    };
    LoadedCard card;
    card.image.idm = hex_field<8>(required("idm"), "idm");
    card.image.pmm = hex_field<8>(required("pmm"), "pmm");
    if (const auto it = document.find("system_code"); it != document.end()) {
        const auto code =
            it->is_string() ? service_code_of(it->get_ref<const std::string&>()) : std::nullopt;
        if (!code) {
            throw ImageError{"\"system_code\" must be 4 hex digits"};
        }
        card.image.system_code = *code;
    }
    if (const auto it = document.find("block_limit"); it != document.end()) {
        if (!it->is_number_integer() || it->get<long long>() < 1 ||
            it->get<long long>() > kMaxBlocksPerFrame) {
            throw ImageError{"\"block_limit\" must be a whole number from 1 to 15"};
        }
        card.image.block_limit = static_cast<int>(it->get<long long>());
    }
    card.image.services = parse_services(required("services"));
    if (const auto it = document.find("faults"); it != document.end()) {
        card.faults = parse_faults(*it);
    }
    if (const auto it = document.find("reader"); it != document.end()) {
        card.reader = text_field(*it, "reader");
    }
    if (const auto it = document.find("outcome"); it != document.end()) {
        card.outcome = parse_outcome(*it);
    }
    return card;
}

std::string hex_text(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const Byte b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

// nlohmann keeps the last of two equal keys without a word; an image with a key twice is
// almost certainly a copy-and-paste slip, so the parser callback refuses it.
struct DuplicateKeyCheck {
    // The keys seen so far in each object being parsed, innermost last. Shared because
    // nlohmann copies the callback.
    std::shared_ptr<std::vector<std::set<std::string>>> keys =
        std::make_shared<std::vector<std::set<std::string>>>();

    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) const {
        switch (event) {
            case json::parse_event_t::object_start:
                keys->emplace_back();
                break;
            case json::parse_event_t::object_end:
                keys->pop_back();
                break;
            case json::parse_event_t::key: {
                const auto& key = parsed.get_ref<const std::string&>();
                if (!keys->back().insert(key).second) {
                    throw ImageError{"key \"" + key + "\" appears twice"};
                }
                break;
            }
            default:
                break;
        }
        return true;
    }
};

std::string without_exception_tag(const char* what) {
    // "[json.exception.parse_error.101] parse error at line 2, ..." → "parse error at ..."
    std::string_view text(what);
    if (!text.empty() && text.front() == '[') {
        const auto end = text.find("] ");
        if (end != std::string_view::npos) {
            text.remove_prefix(end + 2);
        }
    }
    return std::string(text);
}

}  // namespace

std::variant<LoadedCard, std::string> parse_card_image(const std::string& json_text,
                                                       const std::string& origin) {
    const std::string prefix = "card image " + origin + ": ";
    try {
        const json document = json::parse(json_text, DuplicateKeyCheck{});
        return parse_document(document);
    } catch (const ImageError& error) {
        return prefix + error.what;
    } catch (const json::parse_error& error) {
        return prefix + "invalid JSON: " + without_exception_tag(error.what());
    } catch (const json::exception& error) {
        // A number too large for any field, say: the JSON library's own words, untagged.
        return prefix + without_exception_tag(error.what());
    } catch (const std::exception& error) {
        return prefix + error.what();
    } catch (...) {
        return prefix + "unreadable";
    }
}

std::variant<LoadedCard, std::string> load_card_image(const std::string& path) {
    const std::string prefix = "card image " + path + ": ";
    try {
        // Only a regular file of a sane size: a device or a FIFO would be read without end
        // or block the click for ever.
        std::error_code error;
        // The name is UTF-8: taken as char8_t, not through Windows' ANSI code page.
        const std::filesystem::path file_path(std::u8string(path.begin(), path.end()));
        const auto status = std::filesystem::status(file_path, error);
        if (!error && std::filesystem::exists(status) &&
            !std::filesystem::is_regular_file(status)) {
            return prefix + "not a regular file";
        }
        if (!error && std::filesystem::is_regular_file(status) &&
            std::filesystem::file_size(file_path, error) > kMaxCardImageSize && !error) {
            return prefix + "larger than " + std::to_string(kMaxCardImageSize / 1024) + " KiB";
        }
        errno = 0;
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(system::open_for_reading(path),
                                                             &std::fclose);
        if (!file) {
            return prefix + "cannot open (" + std::strerror(errno) + ")";
        }
        std::string text;
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
            text.append(buffer, got);
            if (text.size() > kMaxCardImageSize) {  // the file grew since it was measured
                return prefix + "larger than " + std::to_string(kMaxCardImageSize / 1024) + " KiB";
            }
        }
        if (std::ferror(file.get())) {
            return prefix + "cannot read (" + std::strerror(errno) + ")";
        }
        return parse_card_image(text, path);
    } catch (const std::exception& error) {
        return prefix + error.what();
    }
}

std::string card_image_json(const LoadedCard& card, int indent) {
    using ordered = nlohmann::ordered_json;
    ordered services = ordered::object();
    for (const auto& [code, blocks] : card.image.services) {
        ordered list = ordered::array();
        for (const Block& block : blocks) {
            list.push_back(hex_text(block));
        }
        services[hex4(code)] = std::move(list);
    }
    ordered document = {{"idm", hex_text(card.image.idm)},
                        {"pmm", hex_text(card.image.pmm)},
                        {"system_code", hex4(card.image.system_code)}};
    if (card.image.block_limit != kMaxBlocksPerFrame) {
        document["block_limit"] = card.image.block_limit;
    }
    document["services"] = std::move(services);
    const CardFaults& faults = card.faults;
    if (faults.removed_after || faults.silent || faults.garble != Garble::none ||
        faults.sf1_encoding != Sf1Encoding::element_index) {
        static const char* const kGarbles[] = {"none",         "truncate",
                                               "wrong_length", "wrong_response_code",
                                               "wrong_idm",    "wrong_block_count"};
        static const char* const kSf1[] = {"index", "bitmask", "ff"};
        ordered written = ordered::object();
        if (faults.removed_after) {
            written["removed_after"] = *faults.removed_after;
        }
        written["silent"] = faults.silent;
        written["garble"] = kGarbles[static_cast<int>(faults.garble)];
        written["sf1"] = kSf1[static_cast<int>(faults.sf1_encoding)];
        document["faults"] = std::move(written);
    }
    if (card.reader) {
        document["reader"] = *card.reader;
    }
    if (card.outcome) {
        const ReadOutcome& outcome = *card.outcome;
        ordered failed = ordered::array();
        for (const std::uint16_t code : outcome.failed_services) {
            failed.push_back(hex4(code));
        }
        document["outcome"] = {{"exit_code", outcome.exit_code},
                               {"message", outcome.message},
                               {"felica_error_type", outcome.felica_error_type},
                               {"rw_error_type", outcome.rw_error_type},
                               {"reason", outcome.reason},
                               {"failed_services", std::move(failed)}};
    }
    // Texts that are not UTF-8 are written with U+FFFD in place of the broken bytes.
    return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace felica
