// Text from outside made printable for diagnostic lines. glibc's iconv, which knows nothing
// of this program, tells valid UTF-8.
#include <iconv.h>

#include <algorithm>

#include "felica/printable_text.h"
#include "fuzz/fuzz_support.h"

namespace {

bool valid_utf8(std::string_view text) {
    static const iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in(text);
    char* from = in.data();
    std::size_t from_left = in.size();
    std::string out(4 * in.size() + 4, '\0');
    char* to = out.data();
    std::size_t to_left = out.size();
    return iconv(converter, &from, &from_left, &to, &to_left) != static_cast<std::size_t>(-1) &&
           from_left == 0;
}

// C0 controls, DEL, and C1 controls (U+0080 … U+009F, C2 80 … C2 9F in UTF-8).
bool has_control(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string shown = felica::printable_text(text);

    FUZZ_CHECK(valid_utf8(shown) && !has_control(shown));
    // Printable text stays as it is, so that making a line printable twice changes nothing.
    FUZZ_CHECK((shown == text) == (valid_utf8(text) && !has_control(text)));
    FUZZ_CHECK(felica::printable_text(shown) == shown);
    // Only whole bytes are escaped, each as \xHH: nothing is lost.
    FUZZ_CHECK(shown.size() >= text.size() && (shown.size() - text.size()) % 3 == 0);
    return 0;
}
