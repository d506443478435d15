#include "tools/rcs380_emulator/port100_model.h"

#include <algorithm>

#include "felica/rcs380/port100_frames.h"

namespace port100 {
namespace {

using felica::rcs380::frame_checksum;
using felica::rcs380::kAck;

constexpr Byte kInSetRf = 0x00;
constexpr Byte kInCommRf = 0x04;
constexpr Byte kSwitchRf = 0x06;
constexpr Byte kGetFirmwareVersion = 0x20;
constexpr Byte kGetPdDataVersion = 0x22;
constexpr Byte kSetCommandType = 0x2A;

constexpr Byte kStatusOk = 0x00;
constexpr Byte kStatusParameterError = 0x01;
constexpr Byte kStatusCommandTypeError = 0x07;
constexpr Byte kRf212F[] = {0x01, 0x01, 0x0F, 0x01};

// The command frame's code and arguments, or nothing for a frame the chip cannot read.
std::optional<Bytes> command_of(ByteView frame) {
    constexpr Byte kStart[] = {0x00, 0x00, 0xFF, 0xFF, 0xFF};
    if (frame.size() < 12 || !std::equal(std::begin(kStart), std::end(kStart), frame.begin()) ||
        frame_checksum(frame.subspan(5, 3)) != 0) {
        return std::nullopt;
    }
    const std::size_t length = frame[5] | (frame[6] << 8);
    if (frame.size() != 8 + length + 2 || frame_checksum(frame.subspan(8, length + 1)) != 0 ||
        frame[8] != felica::rcs380::kCommandCode) {
        return std::nullopt;
    }
    return Bytes(frame.begin() + 9, frame.begin() + 8 + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

Bytes response_frame(Byte command, ByteView data) {
    const std::size_t length = 2 + data.size();
    Bytes frame = {0x00,
                   0x00,
                   0xFF,
                   0xFF,
                   0xFF,
                   static_cast<Byte>(length & 0xFF),
                   static_cast<Byte>(length >> 8)};
    frame.push_back(frame_checksum(ByteView(frame).subspan(5, 2)));
    frame.push_back(felica::rcs380::kResponseCode);
    frame.push_back(static_cast<Byte>(command + 1));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(frame_checksum(ByteView(frame).subspan(8)));
    frame.push_back(0x00);
    return frame;
}

void Port100Model::receive(ByteView transfer, Clock::time_point now) {
    if (unplugged_) {
        return;
    }
    host_transfers_.emplace_back(transfer.begin(), transfer.end());
    if (transfer.empty()) {
        ++zero_length_packets_;
        return;
    }
    if (std::ranges::equal(transfer, kAck)) {
        abort();
        return;
    }
    const std::optional<Bytes> command = command_of(transfer);
    if (!command || command->empty()) {
        return;  // a frame the chip cannot read is dropped without an ACK
    }
    run((*command)[0], ByteView(*command).subspan(1), now);
}

void Port100Model::abort() {
    // The command in progress is cancelled; an answer already on its way still comes.
    std::erase_if(outgoing_, [](const Outgoing& out) { return !out.held_until_abort; });
    for (Outgoing& out : outgoing_) {
        out.held_until_abort = false;
        out.due = Clock::time_point::min();
    }
}

std::optional<Fault> Port100Model::fault_for(Byte command) {
    const int occurrence = ++counts_[command];
    const auto rule = std::find_if(faults_.begin(), faults_.end(), [&](const FaultRule& r) {
        return r.command == command && r.occurrence == occurrence;
    });
    if (rule == faults_.end()) {
        return std::nullopt;
    }
    const Fault fault = rule->fault;
    faults_.erase(rule);
    ++faults_fired_;
    return fault;
}

void Port100Model::run(Byte command, ByteView arguments, Clock::time_point now) {
    commands_.push_back(command);
    const std::optional<Fault> fault = fault_for(command);
    if (fault == Fault::unplugged) {
        unplugged_ = true;
        outgoing_.clear();
        return;
    }
    if (fault == Fault::no_ack) {
        return;
    }
    outgoing_.push_back({Bytes(kAck.begin(), kAck.end()), now});
    Clock::duration delay{};
    Bytes data = answer(command, arguments, delay);
    if (fault == Fault::status_error && !data.empty()) {
        data = command == kInCommRf ? Bytes{0x04, 0x00, 0x00, 0x00} : Bytes{kStatusParameterError};
    }
    Bytes frame = response_frame(command, data);
    switch (fault.value_or(Fault::status_error)) {  // status_error: already in `data`
        case Fault::no_answer:
            return;
        case Fault::answer_after_abort:
            outgoing_.push_back({std::move(frame), Clock::time_point::max(), true});
            return;
        case Fault::bad_length_checksum:
            frame[7] ^= 0x01;
            break;
        case Fault::bad_data_checksum:
            frame[frame.size() - 2] ^= 0x01;
            break;
        case Fault::wrong_response_code:
            frame[9] += 2;
            frame[frame.size() - 2] -= 2;  // the checksum still fits
            break;
        default:
            break;
    }
    outgoing_.push_back({std::move(frame), now + delay});
}

Bytes Port100Model::answer(Byte command, ByteView arguments, Clock::duration& delay) {
    switch (command) {
        case kSetCommandType:
            command_type_ = arguments.empty() ? 0 : arguments[0];
            return {kStatusOk};
        case kGetFirmwareVersion:
            return {0x11, 0x01};  // 1.11, as a real RC-S380/S reports
        case kGetPdDataVersion:
            return {0x00, 0x01};
        case kSwitchRf:
            field_on_ = !arguments.empty() && arguments[0] == 0x01;
            return {kStatusOk};
        case kInSetRf:
            if (command_type_ != 1) {
                return {kStatusCommandTypeError};
            }
            rf_212f_ = std::ranges::equal(arguments, kRf212F);
            return {kStatusOk};
        case kInCommRf:
            return in_comm_rf(arguments, delay);
        default:  // InSetProtocol and the rest: accepted
            return {kStatusOk};
    }
}

Bytes Port100Model::in_comm_rf(ByteView arguments, Clock::duration& delay) {
    if (arguments.size() < 2) {
        return {kStatusParameterError};
    }
    field_on_ = true;
    const int units = arguments[0] | (arguments[1] << 8);
    const ByteView frame = arguments.subspan(2);
    // Only a card spoken to at 212 kbit/s hears the frame.
    std::optional<Bytes> card_answer;
    if (rf_212f_ && card_) {
        card_answer = card_->respond(frame);
    }
    if (!card_answer) {
        delay = std::chrono::microseconds(100 * units);
        return {0x80, 0x00, 0x00, 0x00};  // receive timeout
    }
    Bytes data = {0x00, 0x00, 0x00, 0x00, 0x00};
    data.insert(data.end(), card_answer->begin(), card_answer->end());
    return data;
}

std::optional<Bytes> Port100Model::take_in(Clock::time_point now) {
    if (unplugged_ || outgoing_.empty() || outgoing_.front().due > now) {
        return std::nullopt;
    }
    Bytes frame = std::move(outgoing_.front().frame);
    outgoing_.pop_front();
    return frame;
}

std::optional<Clock::time_point> Port100Model::next_due() const {
    if (unplugged_ || outgoing_.empty() || outgoing_.front().held_until_abort) {
        return std::nullopt;
    }
    return outgoing_.front().due;
}

int Port100Model::count(Byte command) const {
    const auto found = counts_.find(command);
    return found == counts_.end() ? 0 : found->second;
}

void Port100Model::plug_back_in() {
    unplugged_ = false;
    outgoing_.clear();
    command_type_ = 0;
    rf_212f_ = false;
    field_on_ = false;
}

}  // namespace port100
