// Linux: environment and file names are bytes, taken as UTF-8 as they are.
#include <cstdlib>

#include "felica/system/system.h"

namespace felica::system {

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::FILE* open_for_reading(const std::string& utf8_path) {
    return std::fopen(utf8_path.c_str(), "rb");
}

}  // namespace felica::system
