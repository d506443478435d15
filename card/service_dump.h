// Reads a run of blocks of one service and shows them as a hex dump in a named box.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "card/read_view.h"
#include "felica/library.h"

namespace card {

inline constexpr int kMaxDumpBlocks = 20;

// One line per block: " N:<TAB>" and 32 upper-case hex digits; lines joined by CR LF.
// `block_data` must hold at least 16 × `blocks` bytes.
std::string render_dump(std::span<const std::uint8_t> block_data, int blocks);

// Reads blocks 0 … intBlocknumber − 1 of the service in bytServiceCodeList (low byte first)
// from the card bytCardIdm and sets the text of the box strTarget names. On a failed read
// the message line shows the read error and the session is reported and ended.
// Returns false when the reader session has ended, so that the caller reads no further.
bool TULMNorv(felica::Library& library, ReadView& view, std::span<const std::uint8_t> bytCardIdm,
              std::span<const std::uint8_t> bytServiceCodeList, std::int16_t intBlocknumber,
              std::string_view strTarget);

}  // namespace card
