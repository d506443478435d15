// The records the read command hands to the library. Each address field is a span over a
// buffer the caller owns; the library writes its results through them.
#pragma once

#include <cstdint>
#include <span>

#include "felica/types.h"

namespace felica {

struct PollingRecord {
    std::span<const Byte> system_code;  // 2 bytes, high byte first
    Byte time_slot = 0;                 // 0 = a single response slot
};

struct CardInformationRecord {
    std::span<Byte> card_idm;  // 8 bytes, written by polling
    std::span<Byte> card_pmm;  // 8 bytes, written by polling
};

struct ReadRequestRecord {
    std::span<const Byte> card_idm;            // 8 bytes
    Byte number_of_services = 1;
    std::span<const Byte> service_code_list;   // 2 bytes per service, low byte first
    Byte number_of_blocks = 0;
    std::span<const Byte> block_list;          // encoded block list elements
};

struct ReadResultRecord {
    std::span<Byte, 1> status_flag_1;
    std::span<Byte, 1> status_flag_2;
    std::span<Byte, 1> result_number_of_blocks;
    std::span<Byte> block_data;  // filled from its start, 16 bytes per block
};

}  // namespace felica
