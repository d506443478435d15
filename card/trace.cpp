// Trace lines: composed here, handed to whatever sink the program installed.
#include "card/trace.h"

#include <utility>

namespace card {

namespace {

TraceSink& current_sink() {
    static TraceSink sink;
    return sink;
}

}  // namespace

TraceSink set_trace_sink(TraceSink sink) {
    return std::exchange(current_sink(), std::move(sink));
}

std::string compose_trace_line(std::string_view message, std::optional<std::int32_t> value) {
    std::string line(message);
    if (value) {
        line += std::to_string(*value);
    }
    return line;
}

void TraceLine(std::string_view message, std::optional<std::int32_t> value) {
    const TraceSink& sink = current_sink();
    if (sink) {
        sink(compose_trace_line(message, value));
    }
}

}  // namespace card
