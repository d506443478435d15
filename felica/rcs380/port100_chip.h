// The Port-100 commands of the FeliCa initiator path, over a bulk pipe: each command is sent,
// acknowledged by the chip and answered. Every USB wait is the smaller of its own bound and
// what is left of the click's deadline.
//
// A command whose answer does not come in time is aborted with an ACK and the pipe drained;
// after that, or after any broken answer, the chip takes no more commands in this session, so
// that a late answer can never pass for the answer to a later command.
#pragma once

#include <chrono>
#include <string>

#include "felica/deadline.h"
#include "felica/errors.h"
#include "felica/rcs380/bulk_pipe.h"
#include "felica/rcs380/port100_frames.h"

namespace felica::rcs380 {

// The outcome of one command: the answer's data (after D7 <code+1>, and for InCommRF the
// card's frame) or why there is none.
struct ChipResult {
    RwError error = RwError::none;
    Bytes data;
    std::string detail;  // what went wrong, for the diagnostic log

    bool ok() const { return error == RwError::none; }
};

// Time the host gives the chip beyond an InCommRF's own RF timeout before it aborts.
inline constexpr std::chrono::milliseconds kUsbMargin{100};

class Port100Chip {
  public:
    Port100Chip(BulkPipe& pipe, Deadline deadline) : pipe_(pipe), deadline_(deadline) {}

    // Soft reset: an ACK cancels whatever the chip was doing; what it still had to say is
    // read and dropped.
    ChipResult reset();
    ChipResult set_command_type(Byte type);
    // Firmware version: data holds minor, major (11 01 = 1.11).
    ChipResult get_firmware_version();
    ChipResult switch_rf_off();
    // 212 kbit/s FeliCa for sending and receiving.
    ChipResult in_set_rf_212f();
    // The initiator's protocol settings for FeliCa (the chip adds and checks the CRC).
    ChipResult in_set_protocol_defaults();
    // Sends a FeliCa frame (with its LEN byte) and returns the card's answer; the chip waits
    // `rf_timeout` for the card.
    ChipResult in_comm_rf(ByteView frame, std::chrono::microseconds rf_timeout);
    // Ends the session: the field off, then an ACK; only while the click has time left.
    void close();

    bool gone() const { return gone_; }
    bool broken() const { return broken_; }

  private:
    ChipResult command(Command command, ByteView arguments, std::chrono::milliseconds bound);
    // A command the chip answered with a status byte: 00 is success.
    ChipResult status_command(Command command, ByteView arguments);
    ChipResult pipe_failure(const PipeResult& result, std::string_view what);
    ChipResult broken_answer(std::string detail);
    // Aborts the command in progress (ACK), then drains what the chip still sends.
    void abort();
    void drain();
    // `bound`, or what is left of the deadline when that is less.
    std::chrono::milliseconds cap(std::chrono::milliseconds bound) const;

    BulkPipe& pipe_;
    Deadline deadline_;
    bool gone_ = false;
    bool broken_ = false;
};

// An InCommRF timeout for the wire: units of 0.1 ms, little-endian, 1 … 0xFFFF.
std::array<Byte, 2> rf_timeout_units(std::chrono::microseconds timeout);

}  // namespace felica::rcs380
