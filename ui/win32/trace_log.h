// Trace lines of the read command and diagnostics of the FeliCa library go to the debug log
// (OutputDebugString: DebugView, a debugger, or Wine's +debugstr channel), and only when the
// environment variable VIRUDE_TRACE is 1. Off by default.
#pragma once

#include <string_view>

namespace ui::win32 {

void log_trace_line(std::string_view line);

}  // namespace ui::win32
