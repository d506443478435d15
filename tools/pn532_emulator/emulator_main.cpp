// pn532-emulator: an emulated PN532 on a pseudo-terminal for libnfc's pn532_uart driver,
// with the demo card (or a card image) in its field. Prints the terminal's path, then
// answers until interrupted:
//   $ pn532-emulator &            → /dev/pts/3
//   $ LIBNFC_DEVICE=pn532_uart:/dev/pts/3 nfc-list
//   $ VIRUDE_READER=libnfc:pn532_uart:/dev/pts/3 virude-dump
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "felica/sim/card_image_file.h"
#include "tools/pn532_emulator/pn532_emulator.h"

namespace {

constexpr const char* kUsage =
    "Usage: pn532-emulator [--card FILE | --no-card] [--card-leaves N] [--silent]\n"
    "                      [--fault KIND[:N[:CMD]]]... [--delay MS] [--answer-delay MS]\n"
    "\n"
    "Emulates a PN532 on a serial line (a pseudo-terminal) with a FeliCa card in its field,\n"
    "prints the terminal's path and answers until interrupted. libnfc reaches it as\n"
    "pn532_uart:PATH.\n"
    "\n"
    "  --card FILE      the card image FILE (JSON, as for VIRUDE_READER=sim:FILE);\n"
    "                   default: the built-in demo card\n"
    "  --no-card        no card on the reader\n"
    "  --card-leaves N  the card answers N commands (polling included), then leaves\n"
    "  --silent         the chip answers nothing at all\n"
    "  --fault KIND[:N[:CMD]]\n"
    "                   fail the N-th (default 1st) command with code CMD (hex, default\n"
    "                   40 = InDataExchange); KIND: no-ack, drop-reply, late-reply,\n"
    "                   bad-lcs, bad-dcs, error-frame, truncated, close-port,\n"
    "                   more-info (status 0x40 and no data, then the same to every\n"
    "                   InDataExchange until another command), nad-status (status\n"
    "                   with bit 7 set)\n"
    "  --delay MS       how late a late-reply comes (default 600)\n"
    "  --answer-delay MS\n"
    "                   every answer comes MS late after its ACK\n";

std::optional<pn532::Fault> fault_named(std::string_view name) {
    using pn532::Fault;
    static constexpr std::pair<std::string_view, Fault> kNames[] = {
        {"no-ack", Fault::no_ack},
        {"drop-reply", Fault::drop_reply},
        {"late-reply", Fault::late_reply},
        {"bad-lcs", Fault::bad_length_checksum},
        {"bad-dcs", Fault::bad_data_checksum},
        {"error-frame", Fault::error_frame},
        {"truncated", Fault::truncated_reply},
        {"close-port", Fault::close_port},
        {"more-info", Fault::more_information},
        {"nad-status", Fault::nad_status},
    };
    for (const auto& [known, fault] : kNames) {
        if (known == name) {
            return fault;
        }
    }
    return std::nullopt;
}

template <typename Number>
bool parse_number(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// KIND[:N[:CMD]]
std::optional<pn532::FaultRule> parse_fault(std::string_view text) {
    pn532::FaultRule rule;
    const auto first = text.find(':');
    const auto kind = fault_named(text.substr(0, first));
    if (!kind) {
        return std::nullopt;
    }
    rule.fault = *kind;
    if (first == std::string_view::npos) {
        return rule;
    }
    std::string_view rest = text.substr(first + 1);
    const auto second = rest.find(':');
    if (!parse_number(rest.substr(0, second), rule.occurrence) || rule.occurrence < 1) {
        return std::nullopt;
    }
    if (second != std::string_view::npos &&
        !parse_number(rest.substr(second + 1), rule.command, 16)) {
        return std::nullopt;
    }
    return rule;
}

int usage_error(const std::string& problem) {
    std::cerr << "pn532-emulator: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<felica::LoadedCard> card = felica::LoadedCard{felica::demo_card(), {}, {}, {}};
    std::optional<int> leaves_after;
    pn532::EmulatorSetup setup;
    std::chrono::milliseconds delay{600};
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--no-card") {
            card.reset();
        } else if (argument == "--silent") {
            setup.silent = true;
        } else if (argument == "--card" && has_value) {
            auto loaded = felica::load_card_image(argv[++i]);
            if (const auto* problem = std::get_if<std::string>(&loaded)) {
                std::cerr << "pn532-emulator: " << *problem << "\n";
                return 2;
            }
            card = std::get<felica::LoadedCard>(std::move(loaded));
        } else if (argument == "--card-leaves" && has_value) {
            int n = 0;
            if (!parse_number(std::string_view(argv[++i]), n) || n < 0) {
                return usage_error("--card-leaves needs a count");
            }
            leaves_after = n;
        } else if (argument == "--fault" && has_value) {
            const auto rule = parse_fault(argv[++i]);
            if (!rule) {
                return usage_error(std::string("bad fault '") + argv[i] + "'");
            }
            setup.faults.push_back(*rule);
        } else if (argument == "--delay" && has_value) {
            int ms = 0;
            if (!parse_number(std::string_view(argv[++i]), ms) || ms < 0) {
                return usage_error("--delay needs milliseconds");
            }
            delay = std::chrono::milliseconds(ms);
        } else if (argument == "--answer-delay" && has_value) {
            int ms = 0;
            if (!parse_number(std::string_view(argv[++i]), ms) || ms < 0) {
                return usage_error("--answer-delay needs milliseconds");
            }
            setup.answer_delay = std::chrono::milliseconds(ms);
        } else {
            return usage_error("unexpected argument '" + std::string(argument) + "'");
        }
    }
    for (pn532::FaultRule& rule : setup.faults) {
        rule.delay = delay;
    }
    if (card) {
        if (leaves_after) {
            card->faults.removed_after = leaves_after;
        }
        setup.card = std::make_shared<felica::SimulatedCard>(std::move(card->image), card->faults);
    }

    // The emulator's thread inherits the blocked signals; this thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        pn532::Emulator emulator(std::move(setup));
        std::cout << emulator.device_path() << std::endl;
        int received = 0;
        sigwait(&signals, &received);
    } catch (const std::exception& error) {
        std::cerr << "pn532-emulator: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
