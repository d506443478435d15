// The RC-S380 backend: the chip is set up when the reader is opened, the field comes up with
// the first polling, and every frame goes to the card through InCommRF.
#include "felica/rcs380/rcs380_reader.h"

#include <charconv>
#include <cstdio>

#include "felica/rcs380/libusb_pipe.h"
#include "felica/rcs380/port100_chip.h"

namespace felica {
namespace {

using rcs380::BulkPipe;
using rcs380::ChipResult;
using rcs380::Port100Chip;

// What the chip adds to the card's own time: the frames at 212 kbit/s and its own work. The
// wait on the USB side has a margin of its own on top.
constexpr std::chrono::microseconds kReaderOverhead{10'000};

class Rcs380Reader final : public ReaderBackend {
  public:
    Rcs380Reader(std::unique_ptr<BulkPipe> pipe, std::unique_ptr<Port100Chip> chip,
                 std::string name)
        : pipe_(std::move(pipe)), chip_(std::move(chip)), name_(std::move(name)) {}

    std::string name() const override { return name_; }
    int max_blocks_per_read() const override { return kMaxBlocksPerFrame; }
    std::chrono::microseconds overhead() const override { return kReaderOverhead; }

    Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) override {
        if (!rf_ready_) {
            for (auto set_up :
                 {&Port100Chip::in_set_rf_212f, &Port100Chip::in_set_protocol_defaults}) {
                if (const ChipResult result = ((*chip_).*set_up)(); !result.ok()) {
                    return failed(result);
                }
            }
            rf_ready_ = true;
        }
        return exchange(polling_frame, timeout);
    }

    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        if (!chip_) {
            return {RwError::not_initialized, {}};
        }
        ChipResult result = chip_->in_comm_rf(frame, timeout);
        if (!result.ok()) {
            return failed(result);
        }
        detail_.clear();
        return {RwError::none, std::move(result.data)};
    }

    void close() override {
        if (chip_) {
            chip_->close();
        }
        chip_.reset();
        pipe_.reset();
    }

    std::string failure_detail() const override { return detail_; }

  private:
    Transfer failed(const ChipResult& result) {
        detail_ = result.detail;
        return {result.error, {}};
    }

    std::unique_ptr<BulkPipe> pipe_;
    std::unique_ptr<Port100Chip> chip_;  // uses *pipe_
    std::string name_;
    std::string detail_;
    bool rf_ready_ = false;
};

// "BUS:DEVICE" in decimal, each 1 … 255.
std::optional<rcs380::UsbLocation> parse_location(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto number = [](std::string_view part) -> std::optional<int> {
        int value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || end != part.data() + part.size() || value < 1 ||
            value > 255) {
            return std::nullopt;
        }
        return value;
    };
    const auto bus = number(text.substr(0, colon));
    const auto device = number(text.substr(colon + 1));
    if (!bus || !device) {
        return std::nullopt;
    }
    return rcs380::UsbLocation{*bus, *device};
}

}  // namespace

namespace rcs380 {

OpenedReader open_rcs380_on_pipe(std::unique_ptr<BulkPipe> pipe, const std::string& where,
                                 const std::string& notes, const Deadline& deadline) {
    auto chip = std::make_unique<Port100Chip>(*pipe, deadline);
    const auto failure = [&where](const ChipResult& result) {
        return OpenedReader{
            nullptr, result.error == RwError::reader_timeout ? result.error : RwError::no_reader,
            "the RC-S380 at " + where + " did not set up: " + result.detail};
    };
    // Whatever an earlier session left in the chip is cancelled and read away first.
    ChipResult result = chip->reset();
    if (result.ok()) {
        result = chip->set_command_type(1);
    }
    if (!result.ok()) {
        return failure(result);
    }
    const ChipResult firmware = chip->get_firmware_version();
    if (!firmware.ok()) {
        return failure(firmware);
    }
    if (result = chip->switch_rf_off(); !result.ok()) {
        return failure(result);
    }
    char version[16];
    std::snprintf(version, sizeof version, "%X.%02X", firmware.data[1], firmware.data[0]);
    std::string name = "Sony RC-S380 at " + where + " (firmware " + version;
    name += notes.empty() ? ")" : "; " + notes + ")";
    return {std::make_unique<Rcs380Reader>(std::move(pipe), std::move(chip), std::move(name)),
            RwError::none,
            {}};
}

}  // namespace rcs380

OpenedReader open_rcs380_reader(const std::optional<std::string>& bus_device,
                                const Deadline& deadline) {
    std::optional<rcs380::UsbLocation> location;
    if (bus_device) {
        location = parse_location(*bus_device);
        if (!location) {
            return {nullptr, RwError::reader_setting,
                    "RC-S380 location \"" + *bus_device +
                        "\" is not BUS:DEVICE (decimal numbers as lsusb shows them)"};
        }
    }
    rcs380::OpenedPipe opened = rcs380::open_libusb_pipe(location, deadline);
    if (!opened.pipe) {
        return {nullptr, opened.error, std::move(opened.reason)};
    }
    return rcs380::open_rcs380_on_pipe(
        std::move(opened.pipe), opened.where,
        opened.kernel_driver_detached ? "kernel driver port100 detached" : "", deadline);
}

FamilyListing list_rcs380_readers(const Deadline&) {
    // Listing, opening and closing are quick system calls: no deadline is needed.
    const rcs380::Rcs380Search search = rcs380::find_libusb_rcs380();
    FamilyListing listing;
    if (!search.problem.empty()) {
        listing.problem = "RC-S380: " + search.problem;
    }
    for (const rcs380::FoundRcs380& found : search.found) {
        char where[48];
        std::snprintf(where, sizeof where, "bus %03d device %03d", found.location.bus,
                      found.location.device);
        std::string details = where;
        if (!found.problem.empty()) {
            details += ", " + found.problem;
        }
        listing.readers.push_back(
            {"rcs380:" + std::to_string(found.location.bus) + ":" +
                 std::to_string(found.location.device),
             found.product_id == rcs380::kRcs380pProductId ? "Sony RC-S380/P" : "Sony RC-S380/S",
             std::move(details)});
    }
    return listing;
}

bool rcs380_reader_built() {
    return true;
}

}  // namespace felica
