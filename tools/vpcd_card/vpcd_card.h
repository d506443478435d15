// A virtual card for pcscd's vpcd driver (Debian's vsmartcard-vpcd): it connects to the port
// the driver listens on, which makes the card present in that reader slot, and answers the
// driver's messages from a thread of its own:
//   2-byte big-endian length, then the payload; a 1-byte payload is a control message
//   (00 power off, 01 power on, 02 reset, 04 ATR, which wants the ATR back), any other is a
//   command APDU, which wants the response APDU back.
// Behind it, a virtual reader model with a simulated card; test knobs make the link fail on
// a chosen APDU.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/vpcd_card/virtual_reader.h"

namespace vpcd_card {

// vpcd's default port (reader.conf CHANNELID 0x8C7B); its second slot listens on the next.
inline constexpr std::uint16_t kDefaultPort = 35963;

// A fault on one APDU, counted from 0 since the fault was armed.
struct LinkFault {
    enum class Kind {
        none,
        leave,       // the card is taken away instead of answering: the connection closes
        stall,       // the answer comes `delay` late, as from a reader that hangs
        slow,        // from APDU `at` on, every answer comes `delay` late
        bad_status,  // the answer is the status word 6F 00 alone
        truncated,   // the answer is a single byte
    };
    Kind kind = Kind::none;
    int at = 0;
    std::chrono::milliseconds delay{0};
};

struct CardStats {
    bool connected = false;   // the card sits in the reader slot (the link is up)
    int power_ups = 0;        // power-on and reset messages
    int atr_requests = 0;     // the driver asks for the ATR whenever it checks for the card
    int apdus = 0;            // command APDUs received since the fault was armed
    int refused = 0;          // commands the reader model refused as not its own
    bool fault_done = false;  // the armed fault has struck (for a stall: its late answer is out)
};

class VpcdCard {
  public:
    VpcdCard(ReaderModel model, std::shared_ptr<felica::SimulatedCard> card,
             std::uint16_t port = kDefaultPort, ReaderOptions options = {});
    // Takes the card away and stops the thread.
    ~VpcdCard();
    VpcdCard(const VpcdCard&) = delete;
    VpcdCard& operator=(const VpcdCard&) = delete;

    // Puts the card on the reader: connects, and keeps trying until the driver listens.
    void insert();
    // Takes the card away: the connection closes (a stalled answer is dropped).
    void remove();
    void arm(LinkFault fault);
    void replace_card(std::shared_ptr<felica::SimulatedCard> card);

    CardStats stats() const;
    // Waits until `condition` holds; false when `limit` passed first.
    bool wait_until(const std::function<bool(const CardStats&)>& condition,
                    std::chrono::milliseconds limit) const;

  private:
    void run();
    // Answers the driver on `socket` until the link goes down or the card is taken away.
    void serve(int socket);
    // Waits `delay` unless the card is taken away or stopped first; false then.
    bool pause(std::chrono::microseconds delay);
    void wake();

    const std::uint16_t port_;
    const Bytes atr_;
    int wake_pipe_[2] = {-1, -1};

    mutable std::mutex mutex_;  // guards everything below
    mutable std::condition_variable changed_;
    std::unique_ptr<VirtualReader> reader_;
    LinkFault fault_;
    CardStats stats_;
    bool wanted_ = false;  // the card should be on the reader
    bool stopping_ = false;

    std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace vpcd_card
