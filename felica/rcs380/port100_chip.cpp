#include "felica/rcs380/port100_chip.h"

#include <algorithm>
#include <cstdio>

namespace felica::rcs380 {
namespace {

using std::chrono::milliseconds;

// Big enough for any frame the chip sends (its largest answer carries 1001 bytes of data).
constexpr std::size_t kMaxFrame = 1024;
constexpr milliseconds kWriteTimeout{100};
constexpr milliseconds kAckTimeout{100};
constexpr milliseconds kAnswerTimeout{250};
// The pipe is drained with short reads: one that times out means the chip has nothing left.
constexpr milliseconds kDrainRead{10};
constexpr int kMaxDrainReads = 8;

// InCommRF's 4-byte status: the card did not answer within the RF timeout.
constexpr std::uint32_t kReceiveTimeout = 0x80;

constexpr Byte kRfOff[] = {0x00};
// Send at 212 kbit/s FeliCa (set 01, type 01), receive the same (set 0F, type 01).
constexpr Byte kRf212F[] = {0x01, 0x01, 0x0F, 0x01};
// InSetProtocol index/value pairs: initial guard time 0x18, add and check CRC, no multi-card,
// no parity, no anticollision, 8 bits in the last byte, no crypto, no SOF/EOF, deaf time 4,
// no continuous receive, guard time at initiator 6.
constexpr Byte kProtocolDefaults[] = {0x00, 0x18, 0x01, 0x01, 0x02, 0x01, 0x03, 0x00, 0x04, 0x00,
                                      0x05, 0x00, 0x06, 0x00, 0x07, 0x08, 0x08, 0x00, 0x09, 0x00,
                                      0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0E, 0x04, 0x0F, 0x00,
                                      0x10, 0x00, 0x11, 0x00, 0x12, 0x00, 0x13, 0x06};

std::string_view command_name(Command command) {
    switch (command) {
        case Command::in_set_rf:
            return "InSetRF";
        case Command::in_set_protocol:
            return "InSetProtocol";
        case Command::in_comm_rf:
            return "InCommRF";
        case Command::switch_rf:
            return "SwitchRF";
        case Command::get_firmware_version:
            return "GetFirmwareVersion";
        case Command::set_command_type:
            return "SetCommandType";
    }
    return "command";
}

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

std::array<Byte, 2> rf_timeout_units(std::chrono::microseconds timeout) {
    const auto units = std::clamp<std::int64_t>((timeout.count() + 99) / 100, 1, 0xFFFF);
    return {static_cast<Byte>(units & 0xFF), static_cast<Byte>(units >> 8)};
}

milliseconds Port100Chip::cap(milliseconds bound) const {
    const auto left = deadline_.remaining();
    if (left >= bound) {
        return bound;
    }
    // Rounded up: a wait of 0 would mean "no limit" to the USB stack.
    return std::chrono::ceil<milliseconds>(left);
}

ChipResult Port100Chip::pipe_failure(const PipeResult& result, std::string_view what) {
    broken_ = true;
    std::string detail = std::string(what) + ": ";
    switch (result.status) {
        case PipeStatus::timeout:
            detail += "no answer in time";
            break;
        case PipeStatus::no_device:
            gone_ = true;
            detail += "the reader is gone";
            break;
        case PipeStatus::ok:
        case PipeStatus::error:
            detail += "USB error";
            break;
    }
    if (!result.detail.empty()) {
        detail += " (" + result.detail + ")";
    }
    return {result.status == PipeStatus::timeout ? RwError::reader_timeout : RwError::io_error,
            {},
            std::move(detail)};
}

ChipResult Port100Chip::broken_answer(std::string detail) {
    broken_ = true;
    return {RwError::malformed_response, {}, std::move(detail)};
}

ChipResult Port100Chip::command(Command command, ByteView arguments, milliseconds bound) {
    const std::string name(command_name(command));
    if (gone_ || broken_) {
        return {RwError::io_error, {}, name + ": not sent, the session already failed"};
    }
    if (deadline_.expired()) {
        return {RwError::reader_timeout, {}, name + ": not sent, the click ran out of time"};
    }
    const PipeResult sent = pipe_.write(build_command(command, arguments), cap(kWriteTimeout));
    if (!sent.ok()) {
        if (sent.status == PipeStatus::timeout) {
            abort();
        }
        return pipe_failure(sent, "sending " + name);
    }
    const PipeResult ack = pipe_.read(kMaxFrame, cap(kAckTimeout));
    if (!ack.ok()) {
        if (ack.status == PipeStatus::timeout) {
            abort();
        }
        return pipe_failure(ack, name + " not acknowledged");
    }
    if (!is_ack(ack.data)) {
        abort();
        return broken_answer(name + ": the chip sent another frame instead of its ACK");
    }
    const PipeResult answer = pipe_.read(kMaxFrame, cap(bound));
    if (!answer.ok()) {
        if (answer.status == PipeStatus::timeout) {
            abort();
        }
        return pipe_failure(answer, name + " not answered");
    }
    ResponseParse parsed = parse_response(answer.data, command);
    if (parsed.fault != FrameFault::none) {
        return broken_answer("answer to " + name + ": " + std::string(to_string(parsed.fault)));
    }
    return {RwError::none, std::move(parsed.data), {}};
}

ChipResult Port100Chip::status_command(Command command, ByteView arguments) {
    ChipResult result = this->command(command, arguments, kAnswerTimeout);
    if (!result.ok()) {
        return result;
    }
    if (result.data.size() != 1) {
        return broken_answer("answer to " + std::string(command_name(command)) +
                             ": no status byte");
    }
    if (result.data[0] != 0x00) {
        return {
            RwError::io_error,
            {},
            std::string(command_name(command)) + " refused with status " + hex(result.data[0], 2)};
    }
    return result;
}

ChipResult Port100Chip::reset() {
    if (deadline_.expired()) {
        return {RwError::reader_timeout, {}, "reset: the click ran out of time"};
    }
    const PipeResult sent = pipe_.write(kAck, cap(kWriteTimeout));
    if (!sent.ok()) {
        return pipe_failure(sent, "sending the reset");
    }
    drain();
    if (gone_) {
        return {RwError::io_error, {}, "reset: the reader is gone"};
    }
    return {};
}

ChipResult Port100Chip::set_command_type(Byte type) {
    const Byte arguments[] = {type};
    return status_command(Command::set_command_type, arguments);
}

ChipResult Port100Chip::get_firmware_version() {
    ChipResult result = command(Command::get_firmware_version, {}, kAnswerTimeout);
    if (result.ok() && result.data.size() != 2) {
        return broken_answer("answer to GetFirmwareVersion: not 2 bytes");
    }
    return result;
}

ChipResult Port100Chip::switch_rf_off() {
    return status_command(Command::switch_rf, kRfOff);
}

ChipResult Port100Chip::in_set_rf_212f() {
    return status_command(Command::in_set_rf, kRf212F);
}

ChipResult Port100Chip::in_set_protocol_defaults() {
    return status_command(Command::in_set_protocol, kProtocolDefaults);
}

ChipResult Port100Chip::in_comm_rf(ByteView frame, std::chrono::microseconds rf_timeout) {
    const std::array<Byte, 2> units = rf_timeout_units(rf_timeout);
    Bytes arguments(units.begin(), units.end());
    arguments.insert(arguments.end(), frame.begin(), frame.end());
    const auto rf_wait = std::chrono::ceil<milliseconds>(
        std::chrono::microseconds(100 * static_cast<std::int64_t>(units[0] | (units[1] << 8))));
    ChipResult result = command(Command::in_comm_rf, arguments, rf_wait + kUsbMargin);
    if (!result.ok()) {
        return result;
    }
    // Status (LE32); on success one byte the chip reports collisions in, then the card's
    // frame.
    if (result.data.size() < 4) {
        return broken_answer("answer to InCommRF: too short");
    }
    const std::uint32_t status = result.data[0] | (result.data[1] << 8) | (result.data[2] << 16) |
                                 (static_cast<std::uint32_t>(result.data[3]) << 24);
    if ((status & kReceiveTimeout) != 0) {
        return {RwError::timeout,
                {},
                "InCommRF: the card did not answer (status " + hex(status, 8) + ")"};
    }
    if (status != 0) {
        return {RwError::io_error, {}, "InCommRF failed with status " + hex(status, 8)};
    }
    if (result.data.size() < 5) {
        return broken_answer("answer to InCommRF: too short");
    }
    result.data.erase(result.data.begin(), result.data.begin() + 5);
    return result;
}

void Port100Chip::abort() {
    if (gone_ || deadline_.expired()) {
        return;  // the next session's reset cleans up
    }
    if (pipe_.write(kAck, cap(kWriteTimeout)).status == PipeStatus::no_device) {
        gone_ = true;
        return;
    }
    drain();
}

void Port100Chip::drain() {
    for (int i = 0; i < kMaxDrainReads && !deadline_.expired(); ++i) {
        const PipeResult leftover = pipe_.read(kMaxFrame, cap(kDrainRead));
        if (leftover.status == PipeStatus::no_device) {
            gone_ = true;
        }
        if (!leftover.ok()) {
            return;
        }
    }
}

void Port100Chip::close() {
    if (gone_ || deadline_.expired()) {
        return;
    }
    // A session that failed still turns the field off: the chip takes commands again once
    // its last one was aborted.
    broken_ = false;
    (void)switch_rf_off();
    if (!gone_ && !deadline_.expired()) {
        (void)pipe_.write(kAck, cap(kWriteTimeout));
    }
}

}  // namespace felica::rcs380
