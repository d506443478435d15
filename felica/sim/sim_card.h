// A simulated FeliCa card that answers raw command frames as a real card would. It sits
// behind the simulated reader and behind the reader emulators used in tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "felica/types.h"

namespace felica {

// How SF1 points at the block list element a per-element error (A6, A7, A8) is about.
enum class Sf1Encoding {
    element_index,  // 1-based index of the element
    bitmask,        // bit (index - 1) set, for the first eight elements; FF beyond
    ff,             // always FF
};

// Ways a garbled card answer is broken, for exercising response validation.
enum class Garble {
    none,
    truncate,            // last byte missing (LEN no longer matches)
    wrong_length,        // LEN byte off by one
    wrong_response_code, // response code not command + 1
    wrong_idm,           // answers with another IDm
    wrong_block_count,   // one block fewer than asked, LEN consistent
};

struct CardImage {
    Idm idm{};
    Pmm pmm{};
    std::uint16_t system_code = kSystemCode;
    int block_limit = kMaxBlocksPerFrame;                // most blocks one read may ask for
    std::map<std::uint16_t, std::vector<Block>> services;  // by service code
};

// Test knobs that make the card misbehave.
struct CardFaults {
    std::optional<int> removed_after;  // exchanges answered before the card leaves the field
    bool silent = false;               // never answers
    Garble garble = Garble::none;      // applied to every read response
    Sf1Encoding sf1_encoding = Sf1Encoding::element_index;
};

class SimulatedCard {
public:
    explicit SimulatedCard(CardImage image, CardFaults faults = {});

    // The card's answer to one command frame (with LEN), or nothing when it stays silent.
    std::optional<Bytes> respond(ByteView frame);

    // True once the card has left the field (after `removed_after` exchanges).
    bool removed() const;
    // Frames this card was sent, answered or not.
    int exchanges() const { return exchanges_; }

    const CardImage& image() const { return image_; }
    CardFaults& faults() { return faults_; }

private:
    std::optional<Bytes> answer_polling(ByteView frame) const;
    std::optional<Bytes> answer_read(ByteView frame) const;

    CardImage image_;
    CardFaults faults_;
    int exchanges_ = 0;
    int answered_ = 0;      // exchanges the card answered, counted against removed_after
    bool removed_ = false;  // set once, when the card has left the field
};

// The built-in demo card: synthetic data for the four services the program reads, a
// 15-block read limit.
CardImage demo_card();

}  // namespace felica
