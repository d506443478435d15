// NFC devices driven by libnfc (the PN53x family), in the process that runs libnfc: the
// libnfc helper. libnfc can abort() or loop for ever on a reader's answer, so the program
// itself never calls it (see libnfc_reader.h).
#pragma once

#include <optional>
#include <string>

#include "felica/libnfc/helper_protocol.h"
#include "felica/reader_backend.h"

namespace felica {

// Opens the libnfc device `connstring` names, or libnfc's default device without one.
OpenedReader open_libnfc_device(const std::optional<std::string>& connstring);

// The devices libnfc sees (those a configuration or LIBNFC_DEVICE names, and those its drivers
// find), each opened for a moment to ask its name: a DevicesListed reply, or OpenFailed when
// libnfc could not start.
libnfc::protocol::Message list_libnfc_devices();

}  // namespace felica
