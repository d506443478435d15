// The frame itself behind Direct Transmit, as the ACS ACR1252U takes it:
//   FF 00 00 00 Lc <frame>  →  <response frame> 90 00,  or 63 00 when no card answered.
// The reader keeps its own timeout.
#pragma once

#include "felica/pcsc/dialect.h"

namespace felica::pcsc::direct {

std::optional<Bytes> exchange_command(ByteView frame);
Transfer parse_exchange_response(ByteView response);

// Frame room: a short response APDU's 256 bytes hold the whole answer: 15 blocks.
int max_blocks_per_read();

std::unique_ptr<Dialect> make_dialect();

}  // namespace felica::pcsc::direct
