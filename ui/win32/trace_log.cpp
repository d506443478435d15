#include "ui/win32/trace_log.h"

#include <windows.h>

#include <string>

#include "felica/system/system.h"
#include "felica/system/utf16.h"

namespace ui::win32 {

void log_trace_line(std::string_view line) {
    static const bool enabled = felica::system::environment_variable("VIRUDE_TRACE") == "1";
    if (enabled) {
        OutputDebugStringW(felica::system::utf16_from_utf8(std::string(line) + "\n").c_str());
    }
}

}  // namespace ui::win32
