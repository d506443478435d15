// The card as a storage card, for reader drivers that pass no raw FeliCa frames (Sony's
// driver on Windows, as third parties describe it; not yet checked on hardware):
//   GET DATA      FF CA 00 00 00                  → IDm (8 bytes) 90 00
//   SELECT FILE   FF A4 00 01 02 <service code, low byte first>  → 90 00
//   READ BINARY   FF B0 <block, high> <block, low> 00            → 16 bytes 90 00
// The driver polls the card itself, so the system code of a polling frame cannot be passed
// on and the card's PMm is not known: polling answers with the IDm and a PMm of zeros (the
// library then waits its shortest time per command, and each command gets the reader's
// allowance on top). A Read Without Encryption of n blocks of one service becomes one SELECT
// FILE (when the service changes) and n READ BINARY; their answers are put together into the
// card's response frame.
#pragma once

#include "felica/pcsc/dialect.h"

namespace felica::pcsc::storage {

Bytes get_data_command();
Bytes select_file_command(std::uint16_t service_code);
Bytes read_binary_command(std::uint16_t block);

// Frame room: the answer is built here, so the frame's own limit: 15 blocks.
int max_blocks_per_read();

std::unique_ptr<Dialect> make_dialect();

}  // namespace felica::pcsc::storage
