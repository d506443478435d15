// virude-dump's options, output and exit codes.
#include "app/dump_cli.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <ostream>
#include <utility>

#include "card/trace.h"
#include "felica/reader_library.h"
#include "felica/reader_selection.h"

#ifndef VIRUDE_VERSION
#define VIRUDE_VERSION "unknown"
#endif

namespace dump_cli {

namespace {

// Writes the text's bytes unchanged (UTF-8 in, UTF-8 out).
void write(std::ostream& out, std::string_view text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void write_line(std::ostream& out, std::string_view text) {
    write(out, text);
    out.put('\n');
}

// The output has to reach whoever reads it: a full disk or a closed standard output makes
// the run fail, not succeed quietly.
int finish(std::ostream& out, std::ostream& err, int code) {
    errno = 0;
    out.flush();
    if (!out) {
        const int error = errno;
        write_line(err, std::string("virude-dump: cannot write to standard output") +
                            (error != 0 ? std::string(" (") + std::strerror(error) + ")" : ""));
        return kExitInternalError;
    }
    return code;
}

// Puts the previous trace sink back when the run ends.
class TraceSinkScope {
  public:
    explicit TraceSinkScope(card::TraceSink sink)
        : previous_(card::set_trace_sink(std::move(sink))) {}
    ~TraceSinkScope() { card::set_trace_sink(std::move(previous_)); }
    TraceSinkScope(const TraceSinkScope&) = delete;
    TraceSinkScope& operator=(const TraceSinkScope&) = delete;

  private:
    card::TraceSink previous_;
};

}  // namespace

std::variant<Options, std::string> parse_arguments(std::span<const std::string_view> arguments) {
    Options options;
    for (std::string_view argument : arguments) {
        if (argument == "--trace") {
            options.trace = true;
        } else if (argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument.starts_with("-")) {
            return "unknown option '" + std::string(argument) + "'";
        } else {
            return "unexpected argument '" + std::string(argument) + "'";
        }
    }
    return options;
}

std::string usage_text() {
    return "Usage: virude-dump [--trace] [--help] [--version]\n"
           "\n"
           "Reads the card on the reader once and prints the four services as hex dumps:\n"
           "each service's caption, then one line per block.\n"
           "\n"
           "Options:\n"
           "  --trace    print trace and reader diagnostic lines on stderr\n"
           "  --help     print this help and exit\n"
           "  --version  print the version and exit\n"
           "\n"
           "The reader comes from the environment variable VIRUDE_READER:\n"
           "  sim                  the built-in demo card on a simulated reader\n"
           "  sim:PATH             the card image file PATH (JSON) on a simulated reader\n"
           "  pcsc[:NAME]          a PC/SC reader (NAME: part of the reader's name)\n"
           "  rcs380[:BUS:DEVICE]  a Sony RC-S380 on USB (BUS, DEVICE: as lsusb numbers it)\n"
           "  libnfc[:CONNSTRING]  a libnfc device\n"
           "  (unset or empty)     the first reader found: PC/SC, RC-S380, then libnfc\n"
           "\n"
           "Exit codes:\n"
           "  0  the card was read\n"
           "  1  internal error\n"
           "  2  bad usage\n"
           "  3  no reader\n"
           "  4  no card on the reader\n"
           "  5  read error\n";
}

std::string version_text() {
    return std::string("virude-dump ") + VIRUDE_VERSION;
}

void RecordingView::set_message(std::string_view text) {
    message_ = text;
}

void RecordingView::set_box_text(card::OutputBox box, std::string_view text) {
    boxes_[box] = std::string(text);
}

std::optional<std::string> RecordingView::box_text(card::OutputBox box) const {
    const auto found = boxes_.find(box);
    if (found == boxes_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void print_boxes(std::ostream& out, const RecordingView& view) {
    for (const card::PlannedService& row : card::kServicePlan) {
        // A box this run did not fill has nothing of this card to show: it is left out, so
        // that a failed run prints only what was really read.
        const auto text = view.box_text(row.box);
        if (!text) {
            continue;
        }
        write_line(out, card::box_caption(row.box));
        if (text->empty()) {
            continue;
        }
        // CR LF (the window's line break) becomes LF; the last line gets one too.
        std::string_view rest = *text;
        while (true) {
            const auto end = rest.find("\r\n");
            write_line(out, rest.substr(0, end));
            if (end == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(end + 2);
        }
    }
}

int exit_code(card::ClickOutcome outcome) {
    switch (outcome) {
        case card::ClickOutcome::success:
            return kExitSuccess;
        case card::ClickOutcome::no_reader:
            return kExitNoReader;
        case card::ClickOutcome::no_card:
            return kExitNoCard;
        case card::ClickOutcome::read_error:
            return kExitReadError;
    }
    return kExitInternalError;
}

int run(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err) {
    const auto parsed = parse_arguments(arguments);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        write_line(err, "virude-dump: " + *problem);
        write(err, usage_text());
        return kExitUsage;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        write(out, usage_text());
        return finish(out, err, kExitSuccess);
    }
    if (options.version) {
        write_line(out, version_text());
        return finish(out, err, kExitSuccess);
    }

    try {
        card::TraceSink trace_sink;
        felica::DiagnosticSink diagnostics;
        if (options.trace) {
            trace_sink = [&err](std::string_view line) {
                write_line(err, line);
                err.flush();
            };
            diagnostics = trace_sink;
        }
        const TraceSinkScope trace_scope(trace_sink);

        RecordingView view;
        card::ClickOutcome outcome;
        std::string setting_problem;
        {
            felica::ReaderLibrary library(felica::reader_opener_from_environment(), diagnostics);
            outcome = card::Command_Click(library, view);
            std::int32_t felica_error = 0;
            std::int32_t rw_error = 0;
            (void)library.get_last_error_types(felica_error, rw_error);
            // A mistyped VIRUDE_READER or a broken card image is the user's to mend: say what
            // is wrong with it (--trace has said it already).
            if (outcome == card::ClickOutcome::no_reader && !options.trace &&
                rw_error == static_cast<std::int32_t>(felica::RwError::reader_setting)) {
                setting_problem = library.open_failure();
            }
        }

        print_boxes(out, view);
        const int code = finish(out, err, exit_code(outcome));
        if (!setting_problem.empty()) {
            write_line(err, "virude-dump: " + setting_problem);
        }
        if (!view.message().empty()) {
            write_line(err, view.message());
        }
        return code;
    } catch (const std::exception& error) {
        write_line(err, std::string("virude-dump: ") + error.what());
        return kExitInternalError;
    }
}

}  // namespace dump_cli
