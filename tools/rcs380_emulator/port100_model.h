// A model of the RC-S380's NFC Port-100 chip as the host sees it on its two bulk endpoints,
// with a simulated FeliCa card in its field: each bulk OUT transfer goes in, bulk IN transfers
// come out when they fall due (the ACK at once, the answer at once or after the RF timeout).
// No I/O and no locking: the pipe of the unit tests and the emulated USB device drive it.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "felica/sim/sim_card.h"

namespace port100 {

using felica::Byte;
using felica::Bytes;
using felica::ByteView;
using Clock = std::chrono::steady_clock;

// Ways the chip (or the USB cable) can fail one command.
enum class Fault {
    no_ack,               // the command is ignored: no ACK, no answer
    no_answer,            // ACK, then the answer never comes
    answer_after_abort,   // ACK; the answer only comes once the host aborts, crossing its ACK
    bad_length_checksum,  // the answer's LCS is wrong
    bad_data_checksum,    // the answer's DCS is wrong
    wrong_response_code,  // the answer carries another command's code
    status_error,         // InCommRF: status 00000004 (CRC error); others: status 01
    unplugged,            // the reader is pulled out as the command arrives
};

// One fault, the `occurrence`-th time (from 1) the chip receives `command`; fires once.
struct FaultRule {
    Fault fault = Fault::no_answer;
    Byte command = 0x04;  // InCommRF
    int occurrence = 1;
};

class Port100Model {
  public:
    void place_card(std::shared_ptr<felica::SimulatedCard> card) { card_ = std::move(card); }
    void add_fault(FaultRule rule) { faults_.push_back(rule); }

    // One bulk OUT transfer from the host (empty: a zero-length packet).
    void receive(ByteView transfer, Clock::time_point now);
    // The next bulk IN transfer, once it is due.
    std::optional<Bytes> take_in(Clock::time_point now);
    // When the next bulk IN transfer falls due; nothing when none is coming.
    std::optional<Clock::time_point> next_due() const;

    // Pulled out (an `unplugged` fault fired); plugging back in starts the chip afresh.
    bool unplugged() const { return unplugged_; }
    void plug_back_in();

    // Command codes received, in order; transfers as the host wrote them.
    const std::vector<Byte>& commands() const { return commands_; }
    int count(Byte command) const;
    const std::vector<Bytes>& host_transfers() const { return host_transfers_; }
    int zero_length_packets() const { return zero_length_packets_; }
    int faults_fired() const { return faults_fired_; }
    bool field_on() const { return field_on_; }

  private:
    struct Outgoing {
        Bytes frame;
        Clock::time_point due;
        bool held_until_abort = false;
    };

    void abort();
    void run(Byte command, ByteView arguments, Clock::time_point now);
    std::optional<Fault> fault_for(Byte command);
    // The answer's data (after D7 <code+1>) and how long the chip takes to give it.
    Bytes answer(Byte command, ByteView arguments, Clock::duration& delay);
    Bytes in_comm_rf(ByteView arguments, Clock::duration& delay);

    std::shared_ptr<felica::SimulatedCard> card_;
    std::vector<FaultRule> faults_;
    std::deque<Outgoing> outgoing_;
    std::map<Byte, int> counts_;
    std::vector<Byte> commands_;
    std::vector<Bytes> host_transfers_;
    int zero_length_packets_ = 0;
    int faults_fired_ = 0;
    bool unplugged_ = false;
    Byte command_type_ = 0;
    bool rf_212f_ = false;
    bool field_on_ = false;
};

// A response frame to `command` carrying `data`.
Bytes response_frame(Byte command, ByteView data);

}  // namespace port100
