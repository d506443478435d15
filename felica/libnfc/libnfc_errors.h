// libnfc's error codes as reader/writer error types.
#pragma once

#include "felica/errors.h"

namespace felica::libnfc {

// The reader/writer error type of a negative libnfc return value (NFC_E…).
RwError rw_error_of_libnfc(int code);

}  // namespace felica::libnfc
