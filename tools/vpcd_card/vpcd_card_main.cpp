// virude-vpcd-card: a simulated FeliCa card on a virtual reader of pcscd's vpcd driver, for
// trying Virude (and pcsc_scan) through a real pcscd without hardware.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <variant>

#include "felica/sim/card_image_file.h"
#include "tools/vpcd_card/reader_conf.h"
#include "tools/vpcd_card/vpcd_card.h"

namespace {

using vpcd_card::LinkFault;

constexpr std::string_view kUsage =
    "Usage: virude-vpcd-card [options]\n"
    "\n"
    "Puts a simulated FeliCa card on a virtual reader of pcscd's vpcd driver (Debian's\n"
    "vsmartcard-vpcd) until stopped with Ctrl-C. The card answers as the chosen reader model.\n"
    "\n"
    "Options:\n"
    "  --reader MODEL        rcs300 (default), acr122u or acr1252u\n"
    "  --card PATH           a card image file (JSON, as for VIRUDE_READER=sim:PATH);\n"
    "                        default: the built-in demo card\n"
    "  --port N              the vpcd slot's port (default 35963; the second slot is 35964)\n"
    "  --no-t0               ACR122U: answer at once instead of with 61 xx and GET RESPONSE\n"
    "  --leave-at N          take the card away instead of answering APDU N (from 0)\n"
    "  --stall-at N MS       answer APDU N MS milliseconds late\n"
    "  --slow-from N MS      answer APDU N and every later one MS milliseconds late\n"
    "  --bad-status-at N     answer APDU N with the status word 6F 00 alone\n"
    "  --truncate-at N       answer APDU N with a single byte\n"
    "  --reader-conf         print a reader.conf entry that names the vpcd reader as the\n"
    "                        model, for pcscd's /etc/reader.conf.d/, and exit\n"
    "  --help                print this help and exit\n";

struct Options {
    vpcd_card::ReaderModel model = vpcd_card::ReaderModel::rcs300;
    std::string card_path;
    std::uint16_t port = vpcd_card::kDefaultPort;
    vpcd_card::ReaderOptions reader;
    LinkFault fault;
    bool reader_conf = false;
    bool help = false;
};

bool parse_number(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

std::variant<Options, std::string> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](int& out) {
            std::string_view text;
            return value(text) && parse_number(text, out);
        };
        std::string_view text;
        int n = 0;
        if (option == "--help") {
            options.help = true;
        } else if (option == "--reader-conf") {
            options.reader_conf = true;
        } else if (option == "--no-t0") {
            options.reader.t0_get_response = false;
        } else if (option == "--reader") {
            const auto model = value(text) ? vpcd_card::model_by_key(text) : std::nullopt;
            if (!model) {
                return "--reader wants rcs300, acr122u or acr1252u";
            }
            options.model = *model;
        } else if (option == "--card") {
            if (!value(text)) {
                return "--card wants a file";
            }
            options.card_path = std::string(text);
        } else if (option == "--port") {
            if (!number(n) || n < 1 || n > 65534) {
                return "--port wants a port number";
            }
            options.port = static_cast<std::uint16_t>(n);
        } else if (option == "--leave-at" || option == "--bad-status-at" ||
                   option == "--truncate-at") {
            if (!number(options.fault.at)) {
                return std::string(option) + " wants an APDU number";
            }
            options.fault.kind = option == "--leave-at"        ? LinkFault::Kind::leave
                                 : option == "--bad-status-at" ? LinkFault::Kind::bad_status
                                                               : LinkFault::Kind::truncated;
        } else if (option == "--stall-at" || option == "--slow-from") {
            if (!number(options.fault.at) || !number(n)) {
                return std::string(option) + " wants an APDU number and milliseconds";
            }
            options.fault.kind =
                option == "--stall-at" ? LinkFault::Kind::stall : LinkFault::Kind::slow;
            options.fault.delay = std::chrono::milliseconds{n};
        } else {
            return "unknown option '" + std::string(option) + "'";
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parse(argc, argv);
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << "virude-vpcd-card: " << *problem << "\n" << kUsage;
        return 2;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.reader_conf) {
        std::cout << vpcd_card::reader_conf_entry(vpcd_card::friendly_name(options.model),
                                                  options.port, vpcd_card::vpcd_driver_path());
        return 0;
    }

    felica::CardImage image = felica::demo_card();
    felica::CardFaults faults;
    if (!options.card_path.empty()) {
        auto loaded = felica::load_card_image(options.card_path);
        if (const auto* problem = std::get_if<std::string>(&loaded)) {
            std::cerr << "virude-vpcd-card: " << *problem << "\n";
            return 1;
        }
        image = std::move(std::get<felica::LoadedCard>(loaded).image);
        faults = std::get<felica::LoadedCard>(loaded).faults;
    }

    // The card's thread must not take the signals: this one waits for them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    vpcd_card::VpcdCard card(options.model,
                             std::make_shared<felica::SimulatedCard>(std::move(image), faults),
                             options.port, options.reader);
    card.arm(options.fault);
    card.insert();
    std::cerr << "virude-vpcd-card: " << vpcd_card::friendly_name(options.model) << " card on port "
              << options.port << "; Ctrl-C takes it away\n";
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
