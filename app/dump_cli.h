// virude-dump: one click of the READ button from the command line, for scripts and
// machines without a display.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "card/read_command.h"
#include "card/read_view.h"

namespace dump_cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitInternalError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoReader = 3;
inline constexpr int kExitNoCard = 4;
inline constexpr int kExitReadError = 5;

struct Options {
    bool trace = false;
    bool help = false;
    bool version = false;
};

// The options of the arguments after the program name, or what is wrong with them.
std::variant<Options, std::string> parse_arguments(std::span<const std::string_view> arguments);

std::string usage_text();
std::string version_text();

// Keeps what the read command shows, as the window would.
class RecordingView final : public card::ReadView {
  public:
    void set_message(std::string_view text) override;
    void set_box_text(card::OutputBox box, std::string_view text) override;

    const std::string& message() const { return message_; }
    // The box's text, if this run wrote it.
    std::optional<std::string> box_text(card::OutputBox box) const;

  private:
    std::string message_;
    std::map<card::OutputBox, std::string> boxes_;
};

// Each box this run filled, in plan order: its caption line, then its dump lines ending in LF.
void print_boxes(std::ostream& out, const RecordingView& view);

int exit_code(card::ClickOutcome outcome);

// The whole program after main's argument handling: parses, reads through the reader
// VIRUDE_READER names and prints. Returns the exit code.
int run(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err);

}  // namespace dump_cli
