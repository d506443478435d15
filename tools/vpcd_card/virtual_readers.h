// The three virtual reader models behind make_virtual_reader.
#pragma once

#include "tools/vpcd_card/virtual_reader.h"

namespace vpcd_card {

// Sony RC-S300: a PC/SC transparent session (FF C2), FeliCa after a switch of protocol, the
// exchange's timer honoured when the card stays silent (C0 03 01 64 01). An answer that does
// not fit a short response APDU is refused with an error status.
class TransparentSessionReader final : public VirtualReader {
  public:
    using VirtualReader::VirtualReader;
    ReaderReply respond(ByteView command) override;
    void power_up() override { session_ = felica_ = false; }

  private:
    ReaderReply exchange(ByteView objects);
    bool session_ = false;
    bool felica_ = false;
};

// ACS ACR122U: a PN532 behind Direct Transmit (FF 00 00 00 Lc D4 …). Polling through
// InListPassiveTarget, frames through InCommunicateThru with the RF timeout RFConfiguration
// set; answers longer than the chip's 255-byte frames are refused with its error 07.
class Pn532Reader final : public VirtualReader {
  public:
    Pn532Reader(std::shared_ptr<felica::SimulatedCard> card, bool t0_get_response)
        : VirtualReader(std::move(card)), t0_get_response_(t0_get_response) {}
    ReaderReply respond(ByteView command) override;
    void power_up() override { pending_.clear(); }

  private:
    ReaderReply chip(ByteView command);
    ReaderReply answer(Bytes data, std::chrono::microseconds wait = {});

    bool t0_get_response_;
    Bytes pending_;                // an answer announced with 61 xx, for GET RESPONSE
    Byte rf_timeout_code_ = 0x0A;  // the chip's default: 51.2 ms
};

// ACS ACR1252U: frames behind Direct Transmit (FF 00 00 00 Lc <frame>), 63 00 when the card
// stays silent for the reader's own timeout.
class DirectTransmitReader final : public VirtualReader {
  public:
    using VirtualReader::VirtualReader;
    ReaderReply respond(ByteView command) override;
};

}  // namespace vpcd_card
