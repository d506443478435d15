// virude-dump's options, output and exit codes.
#include "app/dump_cli.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ostream>

#include "app/command_line.h"
#include "app/interrupt.h"
#include "felica/printable_text.h"
#include "felica/reader_selection.h"
#include "felica/sim/card_image_file.h"

#ifndef VIRUDE_VERSION
#define VIRUDE_VERSION "unknown"
#endif

namespace dump_cli {

namespace {

using Argument = command_line::Option::Argument;
using card::ClickOutcome;

constexpr std::array kOptions = {
    command_line::Option{'r', "reader", Argument::required, "SPEC",
                         "the reader to use (see Readers); overrides VIRUDE_READER"},
    command_line::Option{'l', "list-readers", Argument::none, "",
                         "list the readers virude-dump can see, one per line, and exit"},
    command_line::Option{'w', "wait", Argument::optional, "SECONDS",
                         "wait for a card (at most SECONDS), then read it"},
    command_line::Option{'\0', "watch", Argument::none, "",
                         "read every card put on the reader, once each, until Ctrl-C"},
    command_line::Option{'j', "json", Argument::none, "",
                         "print each card read as a card image (JSON) instead of the dumps"},
    command_line::Option{'v', "verbose", Argument::none, "",
                         "print the reader and the card's IDm and PMm on stderr"},
    command_line::Option{'\0', "trace", Argument::none, "",
                         "print trace and reader diagnostic lines on stderr"},
    command_line::Option{'h', "help", Argument::none, "", "print this help and exit"},
    command_line::Option{'V', "version", Argument::none, "", "print the version and exit"},
};

// At most a year: longer is a typing slip, and it keeps every sum of times in range.
constexpr double kMaxWaitSeconds = 365.0 * 24 * 3600;

// Writes the text's bytes unchanged (UTF-8 in, UTF-8 out).
void write(std::ostream& out, std::string_view text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void write_line(std::ostream& out, std::string_view text) {
    write(out, text);
    out.put('\n');
}

void say(std::ostream& err, std::string_view text) {
    write_line(err, "virude-dump: " + std::string(text));
    err.flush();
}

// The output has to reach whoever reads it: a full disk or a closed standard output makes
// the run fail, not succeed quietly.
int finish(std::ostream& out, std::ostream& err, int code) {
    errno = 0;
    out.flush();
    if (!out) {
        const int error = errno;
        say(err, std::string("cannot write to standard output") +
                     (error != 0 ? std::string(" (") + std::strerror(error) + ")" : ""));
        return kExitInternalError;
    }
    return code;
}

std::optional<std::chrono::milliseconds> parse_seconds(std::string_view text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(seconds) || seconds < 0 || seconds > kMaxWaitSeconds) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
}

std::string hex(std::span<const felica::Byte> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const felica::Byte b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::string service_text(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", code);
    return text;
}

bool unusable_setting(const CardRead& read) {
    return read.outcome == ClickOutcome::no_reader &&
           read.rw_error == static_cast<std::int32_t>(felica::RwError::reader_setting);
}

int exit_code_of(const CardRead& read) {
    return unusable_setting(read) ? kExitUsage : exit_code(read.outcome);
}

// Why the card's error types say the read failed: "card removed", "card reported an error
// status (SF1 A6, SF2 00)".
std::string error_words(const CardRead& read) {
    const auto rw = static_cast<felica::RwError>(read.rw_error);
    std::string words(felica::to_string(rw));
    if (rw == felica::RwError::status_error) {
        char flags[32];
        std::snprintf(flags, sizeof flags, " (SF1 %02X, SF2 %02X)", (read.felica_error >> 8) & 0xFF,
                      read.felica_error & 0xFF);
        words += flags;
    }
    return words;
}

// The English line that says why the read failed; empty when it did not.
std::string failure_reason(const CardRead& read) {
    switch (read.outcome) {
        case ClickOutcome::success:
            return {};
        case ClickOutcome::no_reader:
            if (unusable_setting(read)) {
                return read.open_failure;
            }
            return "could not open a reader: " + read.open_failure;
        case ClickOutcome::no_card:
            return "no card of system 0x802B answered on " + read.reader + " (" +
                   error_words(read) + ")";
        case ClickOutcome::read_error:
            return (read.failed_service ? "reading service " + service_text(*read.failed_service)
                                        : std::string("a read")) +
                   " failed on " + read.reader + " (" + error_words(read) + ")";
    }
    return {};
}

// The services of the plan that the read did not bring.
std::vector<std::uint16_t> unread_services(const CardRead& read) {
    std::vector<std::uint16_t> unread;
    for (const card::PlannedService& row : card::kServicePlan) {
        if (read.card.services.count(row.service_code) == 0) {
            unread.push_back(row.service_code);
        }
    }
    return unread;
}

// The read as a card image: the card, the reader and how the read ended.
std::string card_image_of(const CardRead& read, const std::string& reason, int indent) {
    felica::LoadedCard image;
    image.image = read.card;
    image.reader = read.reader;
    image.outcome =
        felica::ReadOutcome{exit_code_of(read),
                            read.view.message(),
                            read.felica_error,
                            read.rw_error,
                            reason,
                            read.outcome == ClickOutcome::success ? std::vector<std::uint16_t>{}
                                                                  : unread_services(read)};
    return felica::card_image_json(image, indent);
}

// Prints what one read brought: the dumps (or the card image) on `out`, then on `err` the
// reader and the card's identity (--verbose), the message line and the reason of a failure.
// `reason` replaces the read's own reason when given. Returns the exit code.
int report(const CardRead& read, const Options& options, std::ostream& out, std::ostream& err,
           const std::optional<std::string>& reason = std::nullopt) {
    const std::string why = reason.value_or(failure_reason(read));
    if (options.json) {
        // A document for every card that answered; nothing when none did.
        if (read.polled) {
            write_line(out, card_image_of(read, why, options.watch ? -1 : 2));
        }
    } else {
        print_boxes(out, read.view);
    }
    const int code = finish(out, err, exit_code_of(read));
    if (options.verbose && !read.reader.empty()) {
        write_line(err, "reader: " + read.reader);
        if (read.polled) {
            write_line(err, "IDm: " + hex(read.card.idm));
            write_line(err, "PMm: " + hex(read.card.pmm));
        }
    }
    // An unusable setting is the user's to mend: its reason says all.
    if (!unusable_setting(read) && !read.view.message().empty()) {
        write_line(err, read.view.message());
    }
    if (!why.empty()) {
        say(err, why);
    }
    err.flush();
    return code;
}

int list_readers(std::ostream& out, std::ostream& err) {
    int listed = 0;
    for (const felica::ReaderFamily* family : felica::reader_families()) {
        if (family->list == nullptr) {
            continue;
        }
        // Each family on its own clock: a stuck service does not take the others' time.
        const felica::FamilyListing listing =
            family->list(felica::Deadline::after(std::chrono::seconds(10)));
        for (const felica::ListedReader& reader : listing.readers) {
            write_line(out, felica::printable_text(reader.spec) + "\t" +
                                felica::printable_text(reader.name) + "\t" +
                                felica::printable_text(reader.details));
            ++listed;
        }
        out.flush();
        if (!listing.problem.empty()) {
            say(err, felica::printable_text(listing.problem));
        }
    }
    if (listed == 0) {
        say(err, "no reader found");
    }
    return finish(out, err, listed > 0 ? kExitSuccess : kExitNoReader);
}

// --wait: reads as soon as a card answers, trying every kPollInterval.
int wait_and_read(const felica::ReaderOpener& opener, const Options& options,
                  const felica::DiagnosticSink& diagnostics, const LoopControl& control,
                  std::ostream& out, std::ostream& err) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    while (true) {
        const Clock::time_point attempt = Clock::now();
        const CardRead read = read_card(opener, diagnostics);
        if (read.outcome != ClickOutcome::no_card) {
            return report(read, options, out, err);
        }
        if (control.stopped()) {
            say(err, "interrupted while waiting for a card");
            return interrupt::kExitInterrupted;
        }
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (options.wait_limit && waited >= *options.wait_limit) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g",
                          static_cast<double>(options.wait_limit->count()) / 1000);
            return report(read, options, out, err,
                          "no card of system 0x802B answered on " + read.reader + " within " +
                              seconds + " s (" + error_words(read) + ")");
        }
        auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(attempt + kPollInterval -
                                                                           Clock::now());
        if (options.wait_limit) {
            pause = std::min(pause, *options.wait_limit - waited);
        }
        if (control.pause(std::max(pause, std::chrono::milliseconds::zero()))) {
            say(err, "interrupted while waiting for a card");
            return interrupt::kExitInterrupted;
        }
    }
}

LoopControl interrupt_control() {
    return {&interrupt::interrupted, &interrupt::wait};
}

}  // namespace

std::variant<Options, std::string> parse_arguments(std::span<const std::string_view> arguments) {
    const auto parsed = command_line::parse(kOptions, arguments);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        return *problem;
    }
    const command_line::Given& given = std::get<command_line::Given>(parsed);
    const auto has = [&given](std::string_view name) { return given.count(name) != 0; };
    Options options;
    if (const auto it = given.find("reader"); it != given.end()) {
        options.reader = it->second;
    }
    options.list_readers = has("list-readers");
    options.wait = has("wait");
    if (const auto it = given.find("wait"); it != given.end() && it->second) {
        options.wait_limit = parse_seconds(*it->second);
        if (!options.wait_limit) {
            return "--wait: \"" + *it->second + "\" is not a number of seconds from 0 to 31536000";
        }
    }
    options.watch = has("watch");
    options.json = has("json");
    options.verbose = has("verbose");
    options.trace = has("trace");
    options.help = has("help");
    options.version = has("version");
    if (options.help || options.version) {
        return options;
    }
    if (options.wait && options.watch) {
        return "--wait and --watch cannot be given together";
    }
    if (options.list_readers && (options.reader || options.wait || options.watch || options.json)) {
        return "--list-readers takes none of --reader, --wait, --watch and --json";
    }
    return options;
}

std::string usage_line() {
    std::string line = "Usage: virude-dump";
    for (const command_line::Option& option : kOptions) {
        line += " [-";
        if (option.short_name != '\0') {
            line += option.short_name;
        } else {
            line += '-';
            line += option.long_name;
        }
        if (option.argument == Argument::required) {
            line += ' ';
            line += option.argument_name;
        } else if (option.argument == Argument::optional) {
            line += '[';
            line += option.argument_name;
            line += ']';
        }
        line += ']';
    }
    return line;
}

std::string usage_text() {
    std::string text = usage_line() +
                       "\n"
                       "\n"
                       "Reads the card on the reader once and prints the four services as hex "
                       "dumps:\n"
                       "each service's caption, then one line per block.\n"
                       "\n"
                       "Options:\n" +
                       command_line::help_lines(kOptions) +
                       "\n"
                       "Readers (SPEC, or the environment variable VIRUDE_READER):\n";
    std::vector<std::pair<std::string, std::string>> rows;
    std::string automatic;
    for (const felica::ReaderFamily* family : felica::reader_families()) {
        rows.emplace_back(felica::setting_form(*family), std::string(family->help));
        if (family->automatic) {
            automatic += (automatic.empty() ? "" : ", ") + std::string(family->title);
        }
    }
    if (const auto last = automatic.rfind(", "); last != std::string::npos) {
        automatic.replace(last, 2, ", then ");
    }
    rows.emplace_back("(unset or empty)", "the first reader found: " + automatic);
    std::size_t width = 0;
    for (const auto& [form, help] : rows) {
        width = std::max(width, form.size());
    }
    for (const auto& [form, help] : rows) {
        text += "  " + form + std::string(width - form.size() + 2, ' ') + help + "\n";
    }
    text +=
        "virude-dump --list-readers prints each reader's SPEC first.\n"
        "\n"
        "Exit codes:\n"
        "  0    the card was read (--list-readers: a reader was listed)\n"
        "  1    internal error\n"
        "  2    bad usage, or an unusable reader setting\n"
        "  3    no reader\n"
        "  4    no card on the reader (--wait: none came in time)\n"
        "  5    read error\n"
        "  130  interrupted (Ctrl-C)\n";
    return text;
}

std::string version_text() {
    return std::string("virude-dump ") + VIRUDE_VERSION;
}

card::TraceSink trace_sink(const std::variant<Options, std::string>& parsed, std::ostream& err) {
    const auto* options = std::get_if<Options>(&parsed);
    if (options == nullptr || !options->trace) {
        return {};
    }
    return [&err](std::string_view line) {
        write_line(err, line);
        err.flush();
    };
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

int watch(const felica::ReaderOpener& opener, const Options& options, const LoopControl& control,
          std::ostream& out, std::ostream& err) {
    const felica::DiagnosticSink diagnostics = [&options, &err](std::string_view line) {
        if (options.trace) {
            write_line(err, line);
            err.flush();
        }
    };
    // The card read last, while it stays on the reader.
    std::optional<felica::Idm> on_reader;
    bool printed = false;
    while (!control.stopped()) {
        const auto attempt = std::chrono::steady_clock::now();
        const CardRead seen = look_for_card(opener, diagnostics);
        if (seen.outcome == ClickOutcome::no_reader) {
            // The reader went away, or was never there: nothing is left to watch.
            return report(seen, options, out, err);
        }
        if (seen.outcome == ClickOutcome::no_card) {
            on_reader.reset();
        } else if (on_reader != seen.card.idm) {
            const CardRead read = read_card(opener, diagnostics);
            // A card taken away between the look and the read is no placement to report.
            if (read.outcome != ClickOutcome::no_card) {
                if (printed && !options.json) {
                    write_line(out, "");  // a blank line between the dumps of two reads
                }
                printed = true;
                const int code = report(read, options, out, err);
                if (code == kExitInternalError || read.outcome == ClickOutcome::no_reader) {
                    return code;
                }
            }
            // Read once per placement, whatever the read gave.
            if (read.polled) {
                on_reader = read.card.idm;
            } else {
                on_reader.reset();
            }
        }
        const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(
            attempt + kPollInterval - std::chrono::steady_clock::now());
        if (control.pause(std::max(pause, std::chrono::milliseconds::zero()))) {
            break;
        }
    }
    return interrupt::kExitInterrupted;
}

int run(const std::variant<Options, std::string>& parsed, std::ostream& out, std::ostream& err) {
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        say(err, *problem);
        write_line(err, usage_line());
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
        if (options.list_readers) {
            return list_readers(out, err);
        }
        // A setting that names no reader is bad usage, found before any reader is touched.
        const felica::ReaderSetting setting = felica::reader_setting(options.reader);
        const auto choice = felica::parse_reader_setting(setting.value, setting.source);
        if (const auto* problem = std::get_if<std::string>(&choice)) {
            say(err, felica::printable_text(*problem));
            return kExitUsage;
        }
        const felica::ReaderOpener opener = felica::reader_opener(options.reader);
        const felica::DiagnosticSink diagnostics = trace_sink(parsed, err);
        if (options.watch || options.wait) {
            interrupt::catch_interrupts();
            if (options.watch) {
                return watch(opener, options, interrupt_control(), out, err);
            }
            return wait_and_read(opener, options, diagnostics, interrupt_control(), out, err);
        }
        return report(read_card(opener, diagnostics), options, out, err);
    } catch (const std::exception& error) {
        say(err, error.what());
        return kExitInternalError;
    }
}

}  // namespace dump_cli
