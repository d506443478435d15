// One program's use of the PC/SC service: its context, the card connection inside a
// transaction, and command APDUs. Every call runs under the watchdog, so none takes longer
// than its deadline whatever pcscd or the reader does.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "felica/deadline.h"
#include "felica/pcsc/apdu_channel.h"
#include "felica/pcsc/watchdog.h"

namespace felica::pcsc {

// What the service and the reader may take for a call beyond the card's own time: a USB
// round trip and pcscd's work are a few milliseconds; the rest is room for a loaded machine.
inline constexpr std::chrono::milliseconds kCallAllowance{600};

// A reader's state as the service reports it: is a card on it, and the service's own word for
// the state, which also counts the card's comings and goings.
struct ReaderState {
    bool card = false;
    std::uint32_t raw = 0;
};

class PcscSession final : public ApduChannel {
  public:
    // No call waits past `deadline`, the click's.
    explicit PcscSession(const Deadline& deadline = {});
    // Ends the transaction, disconnects and releases the context: at once, or in the
    // background when a call overran (the stuck call has to return first).
    ~PcscSession() override;
    PcscSession(const PcscSession&) = delete;
    PcscSession& operator=(const PcscSession&) = delete;

    RwError establish();
    RwError list_readers(std::vector<std::string>& names);
    // Which of the readers `names` hold a card now, and the cards' ATRs when `atrs` is given
    // (empty for a reader without a card).
    RwError cards_present(const std::vector<std::string>& names, std::vector<bool>& present,
                          std::vector<Bytes>* atrs = nullptr);
    RwError reader_state(const std::string& reader, ReaderState& state);
    // Waits at most `limit` for `reader`'s state to differ from `known`; `now` is the state
    // then (unchanged when the wait ran out).
    RwError wait_for_change(const std::string& reader, const ReaderState& known,
                            std::chrono::microseconds limit, ReaderState& now);
    // Connects to the card on `reader` (shared, T=0 or T=1) and begins a transaction.
    RwError connect(const std::string& reader);
    RwError atr(Bytes& atr);
    // Ends the transaction and disconnects, leaving the card as it is.
    void disconnect();

    // Sends a command APDU on the connected card. A `61 xx` answer (more data waiting, as
    // readers in T=0 give it) is fetched with GET RESPONSE.
    ApduReply transmit(ByteView command, std::chrono::microseconds card_time) override;

    // Has a call overrun its deadline? Nothing more is sent then.
    bool stalled() const;
    // The last failed call and its return code, for the diagnostic log.
    const std::string& failure() const { return failure_; }
    // Forgets it, so that the next failure is told on its own.
    void clear_failure() { failure_.clear(); }
    // Sets what failure() tells, for a failure the caller pieced together.
    void note_failure(std::string failure) { failure_ = std::move(failure); }

  private:
    struct Handles;

    RwError failed(const std::string& call, long code);
    RwError overran(const std::string& call);
    // Runs a PC/SC call under the watchdog; nothing when it overran.
    std::optional<long> guarded(std::function<long()> call, std::chrono::microseconds limit);

    std::shared_ptr<Handles> handles_;
    Deadline deadline_;
    std::string failure_;
    Watchdog watchdog_;  // last: destroyed first, after the clean-up is queued
};

}  // namespace felica::pcsc
