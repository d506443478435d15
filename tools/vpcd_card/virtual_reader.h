// Virtual PC/SC readers with a simulated FeliCa card on them: each answers command APDUs as
// its real model does (Sony RC-S300: PC/SC transparent session; ACS ACR122U: PN532 commands
// behind Direct Transmit; ACS ACR1252U: frames behind Direct Transmit) and refuses the
// others' commands.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "felica/sim/sim_card.h"

namespace vpcd_card {

using felica::Byte;
using felica::Bytes;
using felica::ByteView;

enum class ReaderModel { rcs300, acr122u, acr1252u };

// "rcs300", "acr122u", "acr1252u"
std::string_view model_key(ReaderModel model);
std::optional<ReaderModel> model_by_key(std::string_view key);
// The name pcscd gives the real reader, without the slot numbers it appends.
std::string_view friendly_name(ReaderModel model);
// The ATR the real reader reports for a FeliCa card.
Bytes card_atr(ReaderModel model);

struct ReaderReply {
    Bytes response;                     // data and status word
    std::chrono::microseconds wait{0};  // how long the reader waited for a silent card first
};

class VirtualReader {
  public:
    explicit VirtualReader(std::shared_ptr<felica::SimulatedCard> card) : card_(std::move(card)) {}
    virtual ~VirtualReader() = default;

    virtual ReaderReply respond(ByteView command) = 0;
    // The card was powered up again: whatever the reader had open is gone.
    virtual void power_up() {}

    void set_card(std::shared_ptr<felica::SimulatedCard> card) { card_ = std::move(card); }
    const std::shared_ptr<felica::SimulatedCard>& card() const { return card_; }
    // Commands refused as not of this reader (another dialect's, when a program probes).
    int refused() const { return refused_; }

  protected:
    // The card's answer to a frame; nothing when it stays silent or no card is there.
    std::optional<Bytes> ask_card(ByteView frame) {
        return card_ ? card_->respond(frame) : std::nullopt;
    }
    ReaderReply refuse() {
        ++refused_;
        return {{0x6A, 0x81}, {}};  // function not supported
    }

  private:
    std::shared_ptr<felica::SimulatedCard> card_;
    int refused_ = 0;
};

struct ReaderOptions {
    // The ACR122U's firmware in T=0 mode announces its answers with 61 xx and hands them
    // over on GET RESPONSE (FF C0 00 00 xx).
    bool t0_get_response = true;
};

std::unique_ptr<VirtualReader> make_virtual_reader(ReaderModel model,
                                                   std::shared_ptr<felica::SimulatedCard> card,
                                                   ReaderOptions options = {});

}  // namespace vpcd_card
