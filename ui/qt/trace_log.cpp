#include "ui/qt/trace_log.h"

#include <QString>

namespace ui {

Q_LOGGING_CATEGORY(lcTrace, "virude.trace", QtWarningMsg)

void log_trace_line(std::string_view line) {
    qCDebug(lcTrace).noquote() << QString::fromUtf8(line.data(),
                                                    static_cast<qsizetype>(line.size()));
}

}  // namespace ui
