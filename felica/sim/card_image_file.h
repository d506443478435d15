// Card images in JSON, for the simulated reader (VIRUDE_READER=sim:PATH).
//
// {
//   "idm": "012E4CD3A1B2C3D4",            8 bytes as hex
//   "pmm": "0120220427674EFF",            8 bytes as hex
//   "system_code": "802B",                optional, default 802B
//   "block_limit": 15,                    optional, 1..15, default 15
//   "services": { "090F": ["<32 hex digits>", ...], ... },
//   "faults": { "removed_after": 3, "silent": false,        optional test knobs
//               "garble": "truncate", "sf1": "index" }
// }
#pragma once

#include <string>
#include <variant>

#include "felica/sim/sim_card.h"

namespace felica {

// A card image is a few kilobytes; anything past this is not one.
inline constexpr std::size_t kMaxCardImageSize = 1024 * 1024;

struct LoadedCard {
    CardImage image;
    CardFaults faults;
};

// The card of the file, or a message naming the file and what is wrong with it.
std::variant<LoadedCard, std::string> load_card_image(const std::string& path);
// The same for JSON text already read; `origin` names it in messages.
std::variant<LoadedCard, std::string> parse_card_image(const std::string& json_text,
                                                       const std::string& origin);

}  // namespace felica
