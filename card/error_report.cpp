// Reporting a failed library call ends the reader session.
#include "card/error_report.h"

#include <cstdint>

#include "card/trace.h"

namespace card {

void ReportLastError(felica::Library& library) {
    std::int32_t felica_error_type = 0;
    std::int32_t rw_error_type = 0;
    // The cells stay 0 when the library cannot tell; the trace shows that as it is.
    (void)library.get_last_error_types(felica_error_type, rw_error_type);
    TraceLine("felica error type: ", felica_error_type);
    TraceLine("rw error type: ", rw_error_type);
    // Nothing more can be done about a failure while ending the session.
    (void)library.close_reader_writer();
    (void)library.dispose_library();
}

}  // namespace card
