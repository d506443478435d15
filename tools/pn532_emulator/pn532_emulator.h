// An emulated PN532 on a serial line: a pseudo-terminal whose slave side (/dev/pts/N) a
// program opens as libnfc's pn532_uart device, with a simulated FeliCa card in the field.
// A thread of its own answers the line; test knobs make the chip misbehave on cue.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "felica/sim/sim_card.h"
#include "tools/pn532_emulator/pn532_chip.h"
#include "tools/pn532_emulator/pn532_framing.h"
#include "tools/pn532_emulator/pseudo_terminal.h"

namespace pn532 {

// Ways the chip or the line can fail one command.
enum class Fault {
    no_ack,               // the chip ignores the command: no ACK, no answer
    drop_reply,           // ACK, the command runs, its answer never comes
    late_reply,           // ACK, the answer comes `delay` late
    bad_length_checksum,  // the answer's length checksum (LCS) is wrong
    bad_data_checksum,    // the answer's data checksum (DCS) is wrong
    error_frame,          // the chip's error frame instead of the answer
    truncated_reply,      // only the first half of the answer frame
    close_port,           // ACK, then the line goes away (the pseudo-terminal closes)
    // Status byte faults of an In… answer (InDataExchange above all):
    more_information,  // status 0x40 ("more information") and no data; the chip then answers
                       // every further InDataExchange the same until another command comes
    nad_status,        // the answer's status byte has bit 7 (the NAD flag) set
};

// One fault, on the `occurrence`-th time (counted from 1 since the emulator started) the
// chip receives `command`. Each rule fires once.
struct FaultRule {
    Fault fault = Fault::drop_reply;
    Byte command = kInDataExchange;
    int occurrence = 1;
    std::chrono::milliseconds delay{600};  // for late_reply
};

struct EmulatorSetup {
    std::shared_ptr<felica::SimulatedCard> card;  // null: no card on the reader
    bool silent = false;                          // the chip answers nothing at all
    std::vector<FaultRule> faults;
    // Every answer comes this late after its ACK (a slow chip, each answer inside its wait).
    std::chrono::milliseconds answer_delay{0};
};

class Emulator {
  public:
    // Opens the pseudo-terminal and starts answering; throws std::system_error without one.
    explicit Emulator(EmulatorSetup setup);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // /dev/pts/N, and the libnfc connection string that names it.
    const std::string& device_path() const { return device_path_; }
    std::string connstring() const { return "pn532_uart:" + device_path_; }

    // Puts a card on the reader (null takes it away).
    void place_card(std::shared_ptr<felica::SimulatedCard> card);
    void set_silent(bool silent);
    void set_answer_delay(std::chrono::milliseconds delay);
    void add_fault(FaultRule rule);

    // Commands received (information frames with TFI D4), in order, answered or not.
    std::vector<Byte> commands() const;
    int count(Byte command) const;
    // Faults that have fired.
    int faults_fired() const;
    bool asleep() const;
    // True once a close_port fault has closed the line.
    bool port_closed() const;

  private:
    void run();
    void receive(ByteView bytes);
    void handle(const HostFrame& frame);
    void send(ByteView bytes);
    // Waits `delay` unless the emulator is being stopped; false when it is.
    bool pause(std::chrono::milliseconds delay);

    PseudoTerminal port_;
    std::string device_path_;
    int stop_pipe_[2] = {-1, -1};

    mutable std::mutex mutex_;  // guards everything below; the thread holds it per command
    Pn532Chip chip_;
    bool silent_ = false;
    bool asleep_ = true;  // a PN532 on a serial line starts in low-power mode
    bool port_closed_ = false;
    bool more_information_ = false;  // stuck answering "more information" to InDataExchange
    std::chrono::milliseconds answer_delay_{0};
    std::vector<FaultRule> faults_;
    int faults_fired_ = 0;
    std::vector<Byte> commands_;
    std::map<Byte, int> counts_;

    // Touched by the thread only.
    FrameDecoder decoder_;
    Bytes last_sent_;

    std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace pn532
