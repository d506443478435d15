// The two error types the library reports for its last failure.
#pragma once

#include <cstdint>
#include <string_view>

#include "felica/frames.h"

namespace felica {

// Reader/writer error type: what went wrong between the program, the reader and the card.
// The numbers are part of the trace output and documented in the README; never renumber.
enum class RwError : std::int32_t {
    none = 0,
    not_initialized = 1,     // call before initialize_library, after dispose_library, or no session
    invalid_argument = 2,    // a record or buffer the library cannot use
    no_reader = 3,           // no reader found or the reader could not be opened
    reader_setting = 4,      // VIRUDE_READER (or the card image it names) is unusable
    timeout = 5,             // the card did not answer in time (no card, or a silent card)
    card_removed = 6,        // the reader saw the card leave
    io_error = 7,            // the reader itself failed
    status_error = 8,        // the card answered with SF1/SF2 other than 00 00
    frame_too_short = 9,
    frame_length_mismatch = 10,
    wrong_response_code = 11,
    wrong_idm = 12,
    wrong_block_count = 13,
    wrong_data_length = 14,
    wrong_system_code = 15,
    malformed_response = 16,  // the reader's own answer around the frame was broken
    not_polled = 17,          // a read before any card was polled in this session
    no_service = 18,          // the PC/SC service (pcscd) is not running
    reader_timeout = 19,      // the reader itself did not answer in time; the call was abandoned
    reader_busy = 20,         // another program holds the reader exclusively
};

std::string_view to_string(RwError error);

// The reader/writer error type of a refused response frame.
RwError rw_error_of(FrameError error);

}  // namespace felica
