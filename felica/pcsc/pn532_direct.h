// PN532 commands behind Direct Transmit (FF 00 00 00 Lc …), as the ACS ACR122U takes them:
//   InCommunicateThru     D4 42 <frame>                      → D5 43 <status> <frame>
//   InListPassiveTarget   D4 4A 01 01 00 SChi SClo RC TSN    → D5 4B 01 01 <LEN 01 IDm PMm …>
//                                                              or D5 4B 00 when no card answers
//   RFConfiguration       D4 32 <item> <values>              → D5 33
//   GetFirmwareVersion    D4 02                              → D5 03 IC Ver Rev Support
// each answer followed by 90 00. The low 6 bits of InCommunicateThru's status are the chip's
// error code, 01 when the card did not answer in time.
#pragma once

#include <chrono>
#include <optional>

#include "felica/pcsc/dialect.h"

namespace felica::pcsc::pn532 {

Bytes get_firmware_version_command();
// One try at activating a card per InListPassiveTarget, so that polling an empty field ends
// at once instead of the chip retrying for ever.
Bytes passive_activation_retries_command();
// InListPassiveTarget at 212 kbit/s with the polling frame's payload (the frame without its
// LEN byte); nothing when `polling_frame` is not a 6-byte polling frame.
std::optional<Bytes> list_passive_target_command(ByteView polling_frame);
std::optional<Bytes> communicate_thru_command(ByteView frame);
// RFConfiguration item 02: `code` sets InCommunicateThru's timeout to 100 µs × 2^(code − 1).
Bytes rf_timeout_command(Byte code);

// The smallest timeout code whose time is at least `timeout` (0x01 … 0x10, 100 µs … 3.28 s).
Byte rf_timeout_code(std::chrono::microseconds timeout);

// Is this the chip's answer to GetFirmwareVersion?
bool is_firmware_version_response(ByteView response);
// Is this the chip's answer to RFConfiguration?
bool is_rf_configuration_response(ByteView response);
// The card's polling response frame out of InListPassiveTarget's answer.
Transfer parse_list_passive_target_response(ByteView response);
// The card's response frame out of InCommunicateThru's answer.
Transfer parse_communicate_thru_response(ByteView response);

// Frame room: the chip's frames hold 255 bytes, 3 of them D5 43 <status>: 14 blocks.
int max_blocks_per_read();

std::unique_ptr<Dialect> make_dialect();

}  // namespace felica::pcsc::pn532
