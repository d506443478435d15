#include "felica/pcsc/pn532_direct.h"

#include <algorithm>

#include "felica/frames.h"
#include "felica/pcsc/apdu.h"

namespace felica::pcsc::pn532 {
namespace {

constexpr Byte kDirectTransmit = 0x00;
constexpr Byte kHostToChip = 0xD4;
constexpr Byte kChipToHost = 0xD5;
constexpr Byte kGetFirmwareVersion = 0x02;
constexpr Byte kRfConfiguration = 0x32;
constexpr Byte kInCommunicateThru = 0x42;
constexpr Byte kInListPassiveTarget = 0x4A;
constexpr Byte kFelica212 = 0x01;  // InListPassiveTarget's BrTy for FeliCa at 212 kbit/s

constexpr std::size_t kChipFrameRoom = 255;
constexpr std::size_t kCommunicateThruHeader = 3;  // D5 43 <status>
constexpr Byte kErrorTimeout = 0x01;
constexpr std::size_t kPollingFrameLength = 6;

// A chip command behind Direct Transmit; nothing when it does not fit one APDU.
std::optional<Bytes> direct_transmit(std::initializer_list<Byte> head, ByteView tail = {}) {
    Bytes data(head);
    data.insert(data.end(), tail.begin(), tail.end());
    return reader_command(kDirectTransmit, 0x00, 0x00, data);
}

// A chip command of a few fixed bytes, which always fits.
Bytes fixed_direct_transmit(std::initializer_list<Byte> head) {
    return *direct_transmit(head);
}

// The chip's answer data to the command `code`: it starts D5 <code + 1> and ends in 90 00.
std::optional<ByteView> chip_answer(ByteView response, Byte code) {
    const auto apdu = split_response(response);
    if (!apdu || apdu->sw != kSwSuccess || apdu->data.size() < 2 || apdu->data[0] != kChipToHost ||
        apdu->data[1] != code + 1) {
        return std::nullopt;
    }
    return apdu->data.subspan(2);
}

}  // namespace

Bytes get_firmware_version_command() {
    return fixed_direct_transmit({kHostToChip, kGetFirmwareVersion});
}

Bytes passive_activation_retries_command() {
    // Item 05: MxRtyATR (FF, the default), MxRtyPSL (01, the default), MxRtyPassiveActivation.
    return fixed_direct_transmit({kHostToChip, kRfConfiguration, 0x05, 0xFF, 0x01, 0x01});
}

std::optional<Bytes> list_passive_target_command(ByteView polling_frame) {
    if (polling_frame.size() != kPollingFrameLength || polling_frame[0] != kPollingFrameLength ||
        polling_frame[1] != static_cast<Byte>(CommandCode::polling)) {
        return std::nullopt;
    }
    return direct_transmit({kHostToChip, kInListPassiveTarget, 0x01, kFelica212},
                           polling_frame.subspan(1));
}

std::optional<Bytes> communicate_thru_command(ByteView frame) {
    return direct_transmit({kHostToChip, kInCommunicateThru}, frame);
}

Bytes rf_timeout_command(Byte code) {
    // Item 02: RFU, ATR_RES timeout (0B, the default), InCommunicateThru's timeout.
    return fixed_direct_transmit({kHostToChip, kRfConfiguration, 0x02, 0x00, 0x0B, code});
}

Byte rf_timeout_code(std::chrono::microseconds timeout) {
    Byte code = 0x01;
    std::chrono::microseconds time{100};
    while (code < 0x10 && time < timeout) {
        ++code;
        time *= 2;
    }
    return code;
}

bool is_firmware_version_response(ByteView response) {
    const auto answer = chip_answer(response, kGetFirmwareVersion);
    return answer && answer->size() == 4;
}

bool is_rf_configuration_response(ByteView response) {
    const auto answer = chip_answer(response, kRfConfiguration);
    return answer && answer->empty();
}

Transfer parse_list_passive_target_response(ByteView response) {
    const auto answer = chip_answer(response, kInListPassiveTarget);
    if (!answer || answer->empty()) {
        return {RwError::malformed_response, {}};
    }
    const Byte targets = (*answer)[0];
    if (targets == 0) {
        return {RwError::timeout, {}};  // no card answered
    }
    // Tg 01, then the polling response with its own LEN byte, and nothing after it.
    const ByteView target = answer->subspan(1);
    if (targets != 1 || target.size() < 2 || target[0] != 0x01 || target[1] < 2 ||
        target.size() != 1u + target[1]) {
        return {RwError::malformed_response, {}};
    }
    return {RwError::none, Bytes(target.begin() + 1, target.end())};
}

Transfer parse_communicate_thru_response(ByteView response) {
    const auto answer = chip_answer(response, kInCommunicateThru);
    if (!answer || answer->empty()) {
        return {RwError::malformed_response, {}};
    }
    const Byte error = (*answer)[0] & 0x3F;
    if (error == kErrorTimeout) {
        return {RwError::timeout, {}};
    }
    if (error != 0) {
        return {RwError::io_error, {}};
    }
    return {RwError::none, Bytes(answer->begin() + 1, answer->end())};
}

int max_blocks_per_read() {
    return blocks_fitting(kChipFrameRoom - kCommunicateThruHeader);
}

namespace {

class Pn532Direct final : public Dialect {
  public:
    DialectKind kind() const override { return DialectKind::pn532; }

    DialectStart start(ApduChannel& channel, DialectChoice) override {
        const ApduReply version = channel.transmit(get_firmware_version_command(), {});
        if (!version.ok()) {
            return {DialectStart::Status::failed, version.error};
        }
        if (!is_firmware_version_response(version.response)) {
            return {DialectStart::Status::unsupported, RwError::none};
        }
        const ApduReply retries = channel.transmit(passive_activation_retries_command(), {});
        if (!retries.ok()) {
            return {DialectStart::Status::failed, retries.error};
        }
        if (!is_rf_configuration_response(retries.response)) {
            return {DialectStart::Status::failed, RwError::malformed_response};
        }
        rf_timeout_code_ = 0;
        return {};
    }

    Transfer poll(ApduChannel& channel, ByteView polling_frame,
                  std::chrono::microseconds timeout) override {
        const auto command = list_passive_target_command(polling_frame);
        if (!command) {
            return {RwError::invalid_argument, {}};
        }
        const ApduReply reply = channel.transmit(*command, timeout);
        if (!reply.ok()) {
            return {reply.error, {}};
        }
        return parse_list_passive_target_response(reply.response);
    }

    Transfer exchange(ApduChannel& channel, ByteView frame,
                      std::chrono::microseconds timeout) override {
        const std::optional<Bytes> command = communicate_thru_command(frame);
        if (!command) {
            return {RwError::invalid_argument, {}};
        }
        // The chip keeps its timeout: it is set again only when a command needs another.
        const Byte code = rf_timeout_code(timeout);
        if (code != rf_timeout_code_) {
            const ApduReply set = channel.transmit(rf_timeout_command(code), {});
            if (!set.ok()) {
                return {set.error, {}};
            }
            if (!is_rf_configuration_response(set.response)) {
                return {RwError::malformed_response, {}};
            }
            rf_timeout_code_ = code;
        }
        const ApduReply reply = channel.transmit(*command, timeout);
        if (!reply.ok()) {
            return {reply.error, {}};
        }
        return parse_communicate_thru_response(reply.response);
    }

    void end(ApduChannel&) override {}

  private:
    Byte rf_timeout_code_ = 0;  // 0: not set in this session
};

}  // namespace

std::unique_ptr<Dialect> make_dialect() {
    return std::make_unique<Pn532Direct>();
}

}  // namespace felica::pcsc::pn532
