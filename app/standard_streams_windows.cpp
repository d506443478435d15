// Windows: main's argv comes through the ANSI code page, so the arguments are taken from the
// UTF-16 command line instead. The C runtime's text mode would turn LF into CR LF, and a
// console shows bytes in its own code page: standard output and error go binary, and the
// console is told that the bytes are UTF-8.
#include <windows.h>  // before shellapi.h, which builds on it

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "app/standard_streams.h"
#include "felica/system/utf16.h"

namespace standard_streams {

std::vector<std::string> arguments(int, char**) {
    std::vector<std::string> result;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return result;
    }
    for (int i = 1; i < count; ++i) {
        result.push_back(felica::system::utf8_from_utf16(wide[i]));
    }
    LocalFree(wide);
    return result;
}

void prepare() {
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
    (void)SetConsoleOutputCP(CP_UTF8);
}

}  // namespace standard_streams
