// The Sony RC-S380's Port-100 frames, and its chip's commands over a USB pipe whose every
// read is the fuzzer's. Input: a byte choosing what (even: one response frame, after a byte
// naming the command; odd: a session), then for a session one record per pipe operation: a
// byte (FD…FF: the operation fails with a timeout, the reader gone, a USB error; otherwise a
// read's length) and a read's bytes.
#include <algorithm>
#include <array>

#include "felica/frames.h"
#include "felica/rcs380/port100_chip.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace felica;
using namespace felica::rcs380;

constexpr std::array kCommands = {
    Command::in_set_rf, Command::in_set_protocol,      Command::in_comm_rf,
    Command::switch_rf, Command::get_firmware_version, Command::set_command_type};

Byte sum(ByteView bytes) {
    Byte total = 0;
    for (const Byte b : bytes) {
        total = static_cast<Byte>(total + b);
    }
    return total;
}

// An accepted response is the whole frame: start code, LEN, checksums, D7 and code + 1.
void check_response(ByteView frame, Command command) {
    const ResponseParse parsed = parse_response(frame, command);
    if (parsed.fault != FrameFault::none) {
        FUZZ_CHECK(parsed.data.empty());
        return;
    }
    const std::size_t length = frame[5] | (frame[6] << 8);
    FUZZ_CHECK(frame.size() == 10 + length && parsed.data.size() == length - 2);
    FUZZ_CHECK(frame[0] == 0 && frame[1] == 0 && frame[2] == 0xFF && frame[3] == 0xFF &&
               frame[4] == 0xFF);
    FUZZ_CHECK(sum(frame.subspan(5, 3)) == 0 && sum(frame.subspan(8, length + 1)) == 0);
    FUZZ_CHECK(frame[8] == kResponseCode && frame[9] == static_cast<Byte>(command) + 1);
    FUZZ_CHECK(std::equal(parsed.data.begin(), parsed.data.end(), frame.begin() + 10));
}

// A command frame, turned into the chip's answer, parses back to its arguments.
void check_command_frame(Command command, ByteView arguments) {
    Bytes frame = build_command(command, arguments);
    FUZZ_CHECK(frame.size() == 12 + arguments.size() && frame[8] == kCommandCode);
    frame[8] = kResponseCode;
    frame[9] = static_cast<Byte>(frame[9] + 1);
    frame[frame.size() - 2] = frame_checksum(ByteView(frame).subspan(8, frame.size() - 10));
    const ResponseParse parsed = parse_response(frame, command);
    FUZZ_CHECK(
        parsed.fault == FrameFault::none &&
        std::equal(parsed.data.begin(), parsed.data.end(), arguments.begin(), arguments.end()));
}

class FuzzedPipe final : public BulkPipe {
  public:
    explicit FuzzedPipe(fuzz::FuzzInput& input) : input_(input) {}

    PipeResult write(ByteView bytes, std::chrono::milliseconds timeout) override {
        FUZZ_CHECK(timeout.count() > 0);
        // The host sends ACKs and whole command frames only.
        FUZZ_CHECK(is_ack(bytes) || (bytes.size() >= 12 && bytes[8] == kCommandCode));
        ++writes;
        return outcome();
    }

    PipeResult read(std::size_t max, std::chrono::milliseconds timeout) override {
        FUZZ_CHECK(timeout.count() > 0);
        PipeResult result = outcome();
        if (result.ok()) {
            const ByteView bytes = input_.take(std::min<std::size_t>(last_head_, max));
            result.data.assign(bytes.begin(), bytes.end());
            last_read = result.data;
        }
        return result;
    }

    int writes = 0;
    Bytes last_read;

  private:
    PipeResult outcome() {
        last_head_ = input_.byte();
        switch (last_head_) {
            case 0xFD:
                return {PipeStatus::timeout, {}, {}};
            case 0xFE:
                return {PipeStatus::no_device, {}, "gone"};
            case 0xFF:
                return {PipeStatus::error, {}, "LIBUSB_ERROR_IO"};
            default:
                return {};
        }
    }

    fuzz::FuzzInput& input_;
    Byte last_head_ = 0;
};

// A failed command tells why; once a session has failed, the chip sends nothing more, so that
// a late answer can never pass for the answer to a later command.
void check_result(const ChipResult& result, const FuzzedPipe& pipe, bool failed_before,
                  int writes_before) {
    FUZZ_CHECK(result.ok() || (result.data.empty() && !result.detail.empty()));
    if (failed_before) {
        FUZZ_CHECK(!result.ok() && pipe.writes == writes_before);
    }
}

void check_session(fuzz::FuzzInput& input) {
    FuzzedPipe pipe(input);
    Port100Chip chip(pipe, Deadline{});
    const ChipResult reset = chip.reset();
    FUZZ_CHECK(reset.ok() || !reset.detail.empty());

    const Bytes polling = build_polling(kSystemCode, RequestCode::none, 0);
    for (int step = 0; step < 8; ++step) {
        const bool failed_before = chip.broken() || chip.gone();
        const int writes_before = pipe.writes;
        ChipResult result;
        switch (step) {
            case 0:
                result = chip.set_command_type(0x01);
                break;
            case 1:
                result = chip.get_firmware_version();
                FUZZ_CHECK(!result.ok() || result.data.size() == 2);
                break;
            case 2:
                result = chip.switch_rf_off();
                break;
            case 3:
                result = chip.in_set_rf_212f();
                break;
            case 4:
                result = chip.in_set_protocol_defaults();
                break;
            default:
                result = chip.in_comm_rf(polling, std::chrono::milliseconds(100));
                // The card's frame comes out of the chip's answer as it was.
                FUZZ_CHECK(!result.ok() || result.data.empty() ||
                           std::search(pipe.last_read.begin(), pipe.last_read.end(),
                                       result.data.begin(),
                                       result.data.end()) != pipe.last_read.end());
                break;
        }
        check_result(result, pipe, failed_before, writes_before);
    }
    chip.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const Byte what = input.byte();
    if (what % 2 == 1) {
        check_session(input);
        return 0;
    }
    const Command command = kCommands[input.byte() % kCommands.size()];
    const ByteView frame = input.rest();
    check_response(frame, command);
    check_command_frame(command, frame.first(std::min<std::size_t>(frame.size(), 1000)));
    return 0;
}
