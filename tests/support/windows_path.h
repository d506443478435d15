// A path of the build as a Windows program sees it. Windows only.
#pragma once

#include <string>

#include "felica/system/utf16.h"

namespace test_support {

// The build's paths are Linux paths when the tests run under Wine, whose drive Z: is the
// Linux root; other paths are only given Windows' separators.
inline std::wstring windows_path(const std::string& path) {
    std::wstring wide = felica::system::utf16_from_utf8(path);
    if (!wide.empty() && wide.front() == L'/') {
        wide.insert(0, L"Z:");
    }
    for (wchar_t& c : wide) {
        c = c == L'/' ? L'\\' : c;
    }
    return wide;
}

}  // namespace test_support
