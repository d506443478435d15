// UTF-8 (inside the program) to UTF-16 (the Windows W API) and back. Windows only.
#pragma once

#include <string>
#include <string_view>

namespace felica::system {

// Invalid sequences become U+FFFD rather than failing: the texts are for display and names.
std::wstring utf16_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::wstring_view text);

}  // namespace felica::system
