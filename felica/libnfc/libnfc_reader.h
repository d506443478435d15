// NFC devices driven by libnfc (the PN53x family).
#pragma once

#include <optional>
#include <string>

#include "felica/reader_backend.h"

namespace felica {

// Opens the libnfc device `connstring` names, or libnfc's default device without one.
OpenedReader open_libnfc_reader(const std::optional<std::string>& connstring,
                                const Deadline& deadline = {});

}  // namespace felica
