// The error report of a failure: traces the library's two error types, then ends the
// reader session.
#pragma once

#include "felica/library.h"

namespace card {

// Fetches and traces the error types, then closes the reader and disposes the library,
// ignoring every result. Afterwards the session counts as ended.
void ReportLastError(felica::Library& library);

}  // namespace card
