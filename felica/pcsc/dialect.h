// How a PC/SC reader carries FeliCa frames. Readers differ: some open a PC/SC transparent
// session, the ACR122U passes commands to its PN532 chip, the ACR1252U sends the frame as it
// is, and drivers that take no raw frames at all (Sony's on Windows, say) serve a card as a
// storage card. A dialect turns frames into the reader's command APDUs and its answers back
// into frames.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "felica/pcsc/apdu_channel.h"
#include "felica/reader_backend.h"

namespace felica::pcsc {

enum class DialectKind {
    transparent_session,  // PC/SC transparent session (Sony RC-S300, RC-S660, ACS ACR1252U …)
    pn532,                // PN532 commands behind the reader's Direct Transmit (ACS ACR122U)
    direct,               // the frame itself behind Direct Transmit (ACS ACR1252U)
    storage_card,         // GET DATA, SELECT FILE and READ BINARY: no raw frames at all
};

std::string_view to_string(DialectKind kind);

// The most blocks one read may ask for through a reader of this dialect: what its answer
// holds.
int max_blocks_per_read(DialectKind kind);

// Why a dialect is tried on a reader: its model's name says so, or it is a guess (from the
// ATR, or one of the dialects tried in turn) that the reader has to confirm.
enum class DialectChoice { named, guessed };

struct DialectStart {
    enum class Status {
        started,      // the reader speaks the dialect and is ready
        unsupported,  // the reader answered, but not in this dialect: try another
        failed,       // the reader or the card failed (`error` tells)
    };
    Status status = Status::started;
    RwError error = RwError::none;
};

class Dialect {
  public:
    virtual ~Dialect() = default;

    virtual DialectKind kind() const = 0;
    // Opens the dialect on a freshly connected card.
    virtual DialectStart start(ApduChannel& channel, DialectChoice choice) = 0;
    // Sends a polling frame; the answer is the card's polling response frame.
    virtual Transfer poll(ApduChannel& channel, ByteView polling_frame,
                          std::chrono::microseconds timeout) = 0;
    // Sends one command frame to the polled card; the answer is its response frame.
    virtual Transfer exchange(ApduChannel& channel, ByteView frame,
                              std::chrono::microseconds timeout) = 0;
    // Closes what start opened; failures are of no consequence.
    virtual void end(ApduChannel& channel) = 0;
    // What the dialect knows of its last failure beyond the PC/SC call (the reader command
    // and the status word it got), for the diagnostic log; empty when nothing.
    virtual std::string failure_detail() const { return {}; }
};


std::unique_ptr<Dialect> make_dialect(DialectKind kind);

}  // namespace felica::pcsc
