#include "felica/printable_text.h"

#include <cstdint>

namespace felica {
namespace {

void append_escaped(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// The length of the valid UTF-8 sequence at the start of `text` and its code point, or 0.
std::size_t utf8_sequence(std::string_view text, std::uint32_t& code_point) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
        code_point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
        code_point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
        code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code_point = (code_point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not valid UTF-8.
    if (code_point < min || (code_point >= 0xD800 && code_point <= 0xDFFF) ||
        code_point > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool is_control(std::uint32_t code_point) {
    return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

}  // namespace

std::string printable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::uint32_t code_point = 0;
        const std::size_t length = utf8_sequence(text, code_point);
        if (length == 0 || is_control(code_point)) {
            // A C1 control is two bytes in UTF-8: both are shown.
            const std::size_t shown = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < shown; ++i) {
                append_escaped(out, static_cast<unsigned char>(text[i]));
            }
            text.remove_prefix(shown);
            continue;
        }
        out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace felica
