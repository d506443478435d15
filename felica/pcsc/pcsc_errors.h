// PC/SC return codes as reader/writer error types and as text for the diagnostic log.
#pragma once

#include <cstdint>
#include <string>

#include "felica/errors.h"

namespace felica::pcsc {

// `code` is a PC/SC LONG return code (SCARD_S_SUCCESS, SCARD_E_…, SCARD_W_…, SCARD_F_…).
RwError rw_error_of_pcsc(std::int64_t code);
// The code's name ("SCARD_E_NO_SERVICE"), or its hex value when it has none here.
std::string pcsc_code_name(std::int64_t code);

}  // namespace felica::pcsc
