// NFC devices driven by libnfc (the PN53x family), in the process that runs libnfc: the
// libnfc helper. libnfc can abort() or loop for ever on a reader's answer, so the program
// itself never calls it (see libnfc_reader.h).
#pragma once

#include <optional>
#include <string>

#include "felica/reader_backend.h"

namespace felica {

// Opens the libnfc device `connstring` names, or libnfc's default device without one.
OpenedReader open_libnfc_device(const std::optional<std::string>& connstring);

}  // namespace felica
