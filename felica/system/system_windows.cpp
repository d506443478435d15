// Windows: the environment and file names are UTF-16. The ANSI functions (getenv, fopen)
// would see them through the code page, which loses every character outside it; the wide
// ones keep them.
#include <cstdlib>

#include "felica/system/system.h"
#include "felica/system/utf16.h"

namespace felica::system {

std::optional<std::string> environment_variable(const char* name) {
    const wchar_t* value = _wgetenv(utf16_from_utf8(name).c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return utf8_from_utf16(value);
}

std::FILE* open_for_reading(const std::string& utf8_path) {
    return _wfopen(utf16_from_utf8(utf8_path).c_str(), L"rb");
}

}  // namespace felica::system
