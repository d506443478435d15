// rcs380-emulator: runs a program with an emulated Sony RC-S380 on its USB (umockdev), with the
// demo card (or a card image) in its field:
//   $ rcs380-emulator -- virude-dump          (VIRUDE_READER=rcs380, or unset)
//   $ rcs380-emulator --kernel-driver -- virude-dump --trace
#include <spawn.h>
#include <sys/wait.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "felica/sim/card_image_file.h"
#include "tools/rcs380_emulator/usb_rcs380.h"

extern char** environ;

namespace {

constexpr const char* kUsage =
    "Usage: rcs380-emulator [--card FILE | --no-card] [--kernel-driver]\n"
    "                       [--fault KIND[:N[:CMD]]]... -- PROGRAM [ARGUMENT]...\n"
    "\n"
    "Runs PROGRAM with an emulated Sony RC-S380 (USB 054c:06c1, bus 001 device 005) that\n"
    "libusb finds through umockdev, with a FeliCa card in its field, and exits as PROGRAM does.\n"
    "\n"
    "  --card FILE      the card image FILE (JSON, as for VIRUDE_READER=sim:FILE);\n"
    "                   default: the built-in demo card\n"
    "  --no-card        no card on the reader\n"
    "  --kernel-driver  the kernel's port100 driver holds the reader when it is opened\n"
    "  --fault KIND[:N[:CMD]]\n"
    "                   fail the N-th (default 1st) command with code CMD (hex, default\n"
    "                   04 = InCommRF); KIND: no-ack, no-answer, late-answer, bad-lcs,\n"
    "                   bad-dcs, wrong-code, status-error, unplugged\n";

std::optional<port100::Fault> fault_named(std::string_view name) {
    using port100::Fault;
    static constexpr std::pair<std::string_view, Fault> kNames[] = {
        {"no-ack", Fault::no_ack},
        {"no-answer", Fault::no_answer},
        {"late-answer", Fault::answer_after_abort},
        {"bad-lcs", Fault::bad_length_checksum},
        {"bad-dcs", Fault::bad_data_checksum},
        {"wrong-code", Fault::wrong_response_code},
        {"status-error", Fault::status_error},
        {"unplugged", Fault::unplugged},
    };
    for (const auto& [known, fault] : kNames) {
        if (known == name) {
            return fault;
        }
    }
    return std::nullopt;
}

// KIND[:N[:CMD]]
std::optional<port100::FaultRule> parse_fault(std::string_view text) {
    port100::FaultRule rule;
    const auto first = text.find(':');
    const auto fault = fault_named(text.substr(0, first));
    if (!fault) {
        return std::nullopt;
    }
    rule.fault = *fault;
    if (first == std::string_view::npos) {
        return rule;
    }
    text.remove_prefix(first + 1);
    const auto second = text.find(':');
    const std::string_view occurrence = text.substr(0, second);
    auto [end, error] =
        std::from_chars(occurrence.data(), occurrence.data() + occurrence.size(), rule.occurrence);
    if (error != std::errc() || end != occurrence.data() + occurrence.size() ||
        rule.occurrence < 1) {
        return std::nullopt;
    }
    if (second != std::string_view::npos) {
        const std::string_view code = text.substr(second + 1);
        unsigned value = 0;
        auto [code_end, code_error] =
            std::from_chars(code.data(), code.data() + code.size(), value, 16);
        if (code_error != std::errc() || code_end != code.data() + code.size() || value > 0xFF) {
            return std::nullopt;
        }
        rule.command = static_cast<felica::Byte>(value);
    }
    return rule;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "rcs380-emulator: %s\n\n%s", message.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    port100::run_under_umockdev_preload(argv);
    port100::UsbSetup setup;
    setup.card = std::make_shared<felica::SimulatedCard>(felica::demo_card());
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--no-card") {
            setup.card = nullptr;
        } else if (argument == "--kernel-driver") {
            setup.kernel_driver_bound = true;
        } else if (argument == "--card" && i + 1 < argc) {
            auto loaded = felica::load_card_image(argv[++i]);
            if (auto* message = std::get_if<std::string>(&loaded)) {
                return usage_error(*message);
            }
            auto& card = std::get<felica::LoadedCard>(loaded);
            setup.card =
                std::make_shared<felica::SimulatedCard>(std::move(card.image), card.faults);
        } else if (argument == "--fault" && i + 1 < argc) {
            const auto rule = parse_fault(argv[++i]);
            if (!rule) {
                return usage_error(std::string("unusable fault \"") + argv[i] + "\"");
            }
            setup.faults.push_back(*rule);
        } else {
            return usage_error("unknown argument \"" + std::string(argument) + "\"");
        }
    }
    if (i >= argc) {
        return usage_error("no program to run");
    }
    if (const auto why = port100::usb_emulation_unavailable()) {
        std::fprintf(stderr, "rcs380-emulator: %s\n", why->c_str());
        return 1;
    }
    try {
        port100::UsbRcs380 reader(setup);
        // The program inherits umockdev's preload and test bed, and so finds the reader.
        pid_t child = -1;
        if (const int error = posix_spawnp(&child, argv[i], nullptr, nullptr, argv + i, environ)) {
            std::fprintf(stderr, "rcs380-emulator: cannot run %s: %s\n", argv[i],
                         std::strerror(error));
            return 127;
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "rcs380-emulator: %s\n", error.what());
        return 1;
    }
}
