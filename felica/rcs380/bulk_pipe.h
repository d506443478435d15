// The two bulk endpoints a Port-100 chip talks through, as the command layer sees them: one
// transfer out, one transfer in, each with its own time limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "felica/types.h"

namespace felica::rcs380 {

enum class PipeStatus {
    ok,
    timeout,    // nothing (or not all) went through in time
    no_device,  // the reader is gone (unplugged)
    error,      // any other failure of the USB stack
};

struct PipeResult {
    PipeStatus status = PipeStatus::ok;
    Bytes data;          // what a read received
    std::string detail;  // the USB stack's own word for a failure, for the diagnostic log

    bool ok() const { return status == PipeStatus::ok; }
};

class BulkPipe {
  public:
    virtual ~BulkPipe() = default;

    // Sends `bytes` as one transfer, ended by a zero-length packet where the USB needs one.
    virtual PipeResult write(ByteView bytes, std::chrono::milliseconds timeout) = 0;
    // Receives one transfer of at most `max` bytes.
    virtual PipeResult read(std::size_t max, std::chrono::milliseconds timeout) = 0;
};

}  // namespace felica::rcs380
