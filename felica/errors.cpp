#include "felica/errors.h"

namespace felica {

std::string_view to_string(RwError error) {
    switch (error) {
        case RwError::none:
            return "no error";
        case RwError::not_initialized:
            return "library not initialised or reader not open";
        case RwError::invalid_argument:
            return "invalid argument";
        case RwError::no_reader:
            return "no reader";
        case RwError::reader_setting:
            return "unusable reader setting";
        case RwError::timeout:
            return "card did not answer in time";
        case RwError::card_removed:
            return "card removed";
        case RwError::io_error:
            return "reader I/O error";
        case RwError::status_error:
            return "card reported an error status";
        case RwError::frame_too_short:
            return "response too short";
        case RwError::frame_length_mismatch:
            return "response length mismatch";
        case RwError::wrong_response_code:
            return "wrong response code";
        case RwError::wrong_idm:
            return "answer from another card";
        case RwError::wrong_block_count:
            return "wrong number of blocks";
        case RwError::wrong_data_length:
            return "block data of the wrong length";
        case RwError::wrong_system_code:
            return "card of another system";
        case RwError::malformed_response:
            return "malformed reader response";
        case RwError::not_polled:
            return "no card polled";
        case RwError::no_service:
            return "PC/SC service not running";
        case RwError::reader_timeout:
            return "reader did not answer in time";
        case RwError::reader_busy:
            return "reader in use by another program";
    }
    return "unknown error";
}

RwError rw_error_of(FrameError error) {
    switch (error) {
        case FrameError::none:
            return RwError::none;
        case FrameError::too_short:
            return RwError::frame_too_short;
        case FrameError::length_mismatch:
            return RwError::frame_length_mismatch;
        case FrameError::wrong_response_code:
            return RwError::wrong_response_code;
        case FrameError::wrong_idm:
            return RwError::wrong_idm;
        case FrameError::status_error:
            return RwError::status_error;
        case FrameError::wrong_block_count:
            return RwError::wrong_block_count;
        case FrameError::wrong_data_length:
            return RwError::wrong_data_length;
        case FrameError::wrong_system_code:
            return RwError::wrong_system_code;
    }
    return RwError::malformed_response;
}

}  // namespace felica
