// PC/SC readers (pcsc-lite on Linux, the system's PC/SC on Windows and macOS).
#pragma once

#include <optional>
#include <string>

#include "felica/reader_backend.h"

namespace felica {

// Opens the first PC/SC reader with a card present, or the reader whose name contains
// `name` when one is given. No PC/SC call of the reader waits past `deadline`.
OpenedReader open_pcsc_reader(const std::optional<std::string>& name,
                              const Deadline& deadline = {});

}  // namespace felica
