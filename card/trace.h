// Developer-facing diagnostic lines. They go to a sink that discards them unless the
// program turns its debug log on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace card {

using TraceSink = std::function<void(std::string_view)>;

// Installs the sink for trace lines (an empty sink discards them); returns the previous one.
TraceSink set_trace_sink(TraceSink sink);

// Installs a sink for as long as it lives, then puts the previous one back. A program's main
// holds one for the program's whole run.
class TraceSinkScope {
  public:
    explicit TraceSinkScope(TraceSink sink) : previous_(set_trace_sink(std::move(sink))) {}
    ~TraceSinkScope() { set_trace_sink(std::move(previous_)); }
    TraceSinkScope(const TraceSinkScope&) = delete;
    TraceSinkScope& operator=(const TraceSinkScope&) = delete;

  private:
    TraceSink previous_;
};

// The line: the message, followed directly by the value's decimal text when there is one.
std::string compose_trace_line(std::string_view message, std::optional<std::int32_t> value);

// Composes the line and hands it to the sink. No value = the message alone.
void TraceLine(std::string_view message, std::optional<std::int32_t> value = std::nullopt);

}  // namespace card
