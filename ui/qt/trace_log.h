// Trace lines of the read command and diagnostics of the FeliCa library go to the logging
// category "virude.trace", which is off unless QT_LOGGING_RULES turns it on
// (QT_LOGGING_RULES="virude.trace.debug=true").
#pragma once

#include <QLoggingCategory>
#include <string_view>

namespace ui {

Q_DECLARE_LOGGING_CATEGORY(lcTrace)

// Writes one line to the category.
void log_trace_line(std::string_view line);

}  // namespace ui
