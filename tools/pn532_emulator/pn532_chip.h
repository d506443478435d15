// The PN532's command set as far as libnfc uses it to read a FeliCa card, answering each
// command the way the chip does, with a simulated card in its field. No I/O: the emulator
// feeds it the commands it decodes and sends back what it answers.
#pragma once

#include <map>
#include <memory>
#include <optional>

#include "felica/sim/sim_card.h"
#include "tools/pn532_emulator/pn532_framing.h"

namespace pn532 {

// Command codes (the byte after TFI D4); the answer's code is one more.
enum Command : Byte {
    kDiagnose = 0x00,
    kGetFirmwareVersion = 0x02,
    kReadRegister = 0x06,
    kWriteRegister = 0x08,
    kSetParameters = 0x12,
    kSamConfiguration = 0x14,
    kPowerDown = 0x16,
    kRfConfiguration = 0x32,
    kInDataExchange = 0x40,
    kInCommunicateThru = 0x42,
    kInDeselect = 0x44,
    kInListPassiveTarget = 0x4A,
    kInRelease = 0x52,
};

// Status bytes of the In… answers. Bit 7 stays clear: libnfc 1.8.0 abort()s on a status
// byte with it set (it takes the bit for NAD); bit 6 asks the host for the rest of the answer.
inline constexpr Byte kStatusOk = 0x00;
inline constexpr Byte kStatusMoreInformation = 0x40;
inline constexpr Byte kStatusTimeout = 0x01;     // the card did not answer
inline constexpr Byte kStatusNotAllowed = 0x27;  // no target to talk to

// What the chip does with one command.
struct ChipAnswer {
    enum class Kind {
        answer,        // `data`: TFI D5 and the answer bytes
        syntax_error,  // the chip's error frame: a command it does not know or cannot parse
    };
    Kind kind = Kind::answer;
    Bytes data;
    bool sleeps_after = false;  // PowerDown: the chip sleeps once the answer is sent
};

class Pn532Chip {
  public:
    // Card in the field, or none.
    void place_card(std::shared_ptr<felica::SimulatedCard> card);
    const std::shared_ptr<felica::SimulatedCard>& card() const { return card_; }

    // Runs one command: `data` holds TFI D4 and the command bytes.
    ChipAnswer handle(ByteView data);

    bool field_on() const { return field_on_; }
    bool target_selected() const { return target_selected_; }
    std::optional<Byte> register_value(std::uint16_t address) const;

  private:
    ChipAnswer list_passive_target(ByteView args);
    ChipAnswer data_exchange(ByteView args);
    ChipAnswer rf_configuration(ByteView args);

    std::shared_ptr<felica::SimulatedCard> card_;
    std::map<std::uint16_t, Byte> registers_;
    bool field_on_ = false;
    bool target_selected_ = false;
};

}  // namespace pn532
