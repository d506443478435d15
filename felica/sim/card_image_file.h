// Card images in JSON, for the simulated reader (VIRUDE_READER=sim:PATH).
//
// {
//   "idm": "012E4CD3A1B2C3D4",            8 bytes as hex
//   "pmm": "0120220427674EFF",            8 bytes as hex
//   "system_code": "802B",                optional, default 802B
//   "block_limit": 15,                    optional, 1..15, default 15
//   "services": { "090F": ["<32 hex digits>", ...], ... },
//   "faults": { "removed_after": 3, "silent": false,        optional test knobs
//               "garble": "truncate", "sf1": "index" },
//   "reader": "simulated reader",                          optional: where it was read
//   "outcome": { "exit_code": 5, "message": "…",           optional: how that read ended
//                "felica_error_type": 0, "rw_error_type": 6,
//                "reason": "…", "failed_services": ["108F", "10CB"] }
// }
// virude-dump --json writes "reader" and "outcome"; the simulated card does not use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "felica/sim/sim_card.h"

namespace felica {

// A card image is a few kilobytes; anything past this is not one.
inline constexpr std::size_t kMaxCardImageSize = 1024 * 1024;

// How the read that wrote a card image ended.
struct ReadOutcome {
    int exit_code = 0;                   // virude-dump's, 0 to 255
    std::string message;                 // the window's message line after the read
    std::int32_t felica_error_type = 0;  // the library's error types of the failure
    std::int32_t rw_error_type = 0;
    std::string reason;                          // why the read failed, in English
    std::vector<std::uint16_t> failed_services;  // services of the plan that were not read
    bool operator==(const ReadOutcome&) const = default;
};

struct LoadedCard {
    CardImage image;
    CardFaults faults;
    std::optional<std::string> reader;   // the reader the card was read on
    std::optional<ReadOutcome> outcome;  // how that read ended
};

// The card of the file, or a message naming the file and what is wrong with it.
std::variant<LoadedCard, std::string> load_card_image(const std::string& path);
// The same for JSON text already read; `origin` names it in messages.
std::variant<LoadedCard, std::string> parse_card_image(const std::string& json_text,
                                                       const std::string& origin);

// The card image as JSON that parse_card_image reads back as the same card: keys in the order
// above, blocks in upper-case hex, "block_limit" and "faults" only when they are not the
// defaults. `indent` spaces per level, or all on one line with -1.
std::string card_image_json(const LoadedCard& card, int indent = 2);

}  // namespace felica
