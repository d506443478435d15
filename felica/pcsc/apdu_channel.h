// Where a reader dialect sends its command APDUs: the PC/SC card connection, or in tests a
// stand-in.
#pragma once

#include <chrono>

#include "felica/errors.h"
#include "felica/types.h"

namespace felica::pcsc {

// A response APDU (data and status word), or why none came back.
struct ApduReply {
    RwError error = RwError::none;
    Bytes response;

    bool ok() const { return error == RwError::none; }
};

class ApduChannel {
  public:
    virtual ~ApduChannel() = default;
    // Sends one command APDU. `card_time` is how long the reader may itself wait for the card
    // before it answers; the channel allows the transport's own time on top of it.
    virtual ApduReply transmit(ByteView command, std::chrono::microseconds card_time) = 0;
};

}  // namespace felica::pcsc
