// The PC/SC transparent session for contactless readers (Sony RC-S300 and RC-S660, ACS
// ACR1252U and others): every command is FF C2 00 <function> with BER-TLV data objects.
//   start session     FF C2 00 00 02 81 00 00
//   switch to FeliCa  FF C2 00 02 04 8F 02 03 00 00
//   exchange          FF C2 00 01 Lc 5F 46 04 <timer, µs, LE32> 95 <len> <frame> 00
//                     → C0 03 00 90 00  92 01 00  96 02 00 00  97 <len> <frame>  90 00
//   end session       FF C2 00 00 02 82 00 00
// The generic error status C0 03 <object> SW1 SW2 reports each command's outcome; 64 01 says
// that the card did not answer.
#pragma once

#include <chrono>

#include "felica/pcsc/dialect.h"

namespace felica::pcsc::transparent {

Bytes start_session_command();
Bytes switch_to_felica_command();
Bytes end_session_command();
// `timer` is how long the reader waits for the card's answer.
std::optional<Bytes> exchange_command(ByteView frame, std::chrono::microseconds timer);

// The answer to a session or switch command: none when it reports success, the error
// otherwise (malformed_response for an answer that is not of this dialect).
RwError parse_control_response(ByteView response);
// The card's frame out of the answer to an exchange, or why there is none.
Transfer parse_exchange_response(ByteView response);

// Frame room: a short response APDU's 256 bytes hold the status objects (12 bytes) and the
// response object's tag and length (up to 3 bytes) before the frame: 14 blocks.
int max_blocks_per_read();

std::unique_ptr<Dialect> make_dialect();

}  // namespace felica::pcsc::transparent
