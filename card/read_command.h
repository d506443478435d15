// The READ button's command: one whole reader session that polls the card and dumps the
// four services of the service plan into their boxes.
#pragma once

#include <array>
#include <cstdint>

#include "card/read_view.h"
#include "felica/library.h"

namespace card {

struct PlannedService {
    std::uint16_t service_code;
    std::int16_t blocks;
    OutputBox box;
};

inline constexpr std::array<PlannedService, 4> kServicePlan = {{
    {0x008B, 1, OutputBox::Text008B},
    {0x090F, 20, OutputBox::Text090F},
    {0x108F, 3, OutputBox::Text108F},
    {0x10CB, 2, OutputBox::Text10CB},
}};

// How a click ended, for front ends that report it (the window shows only the message line).
enum class ClickOutcome { success, no_reader, no_card, read_error };

ClickOutcome Command_Click(felica::Library& library, ReadView& view);

}  // namespace card
