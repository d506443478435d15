#include "felica/pcsc/pcsc_errors.h"

#include <cstdio>

#include "felica/pcsc/pcsc_system.h"

namespace felica::pcsc {

RwError rw_error_of_pcsc(std::int64_t code) {
    switch (static_cast<LONG>(code)) {
        case SCARD_S_SUCCESS:
            return RwError::none;
        case SCARD_E_NO_SERVICE:
        case SCARD_E_SERVICE_STOPPED:
            return RwError::no_service;
        case SCARD_E_NO_READERS_AVAILABLE:
        case SCARD_E_UNKNOWN_READER:
        case SCARD_E_READER_UNAVAILABLE:
            return RwError::no_reader;
        // No card on the reader, or none that wakes up: to the program, no card answered.
        case SCARD_E_NO_SMARTCARD:
        case SCARD_W_UNPOWERED_CARD:
        case SCARD_W_UNRESPONSIVE_CARD:
        case SCARD_E_TIMEOUT:
            return RwError::timeout;
        case SCARD_W_REMOVED_CARD:
        case SCARD_W_RESET_CARD:
            return RwError::card_removed;
        case SCARD_E_SHARING_VIOLATION:
            return RwError::reader_busy;
        case SCARD_E_CANCELLED:
            return RwError::reader_timeout;
        default:
            // SCARD_E_NOT_TRANSACTED, SCARD_F_COMM_ERROR and every other failure of the
            // reader or the service.
            return RwError::io_error;
    }
}

std::string pcsc_code_name(std::int64_t code) {
    switch (static_cast<LONG>(code)) {
#define VIRUDE_PCSC_CODE(name) \
    case name:                 \
        return #name;
        VIRUDE_PCSC_CODE(SCARD_S_SUCCESS)
        VIRUDE_PCSC_CODE(SCARD_E_NO_SERVICE)
        VIRUDE_PCSC_CODE(SCARD_E_SERVICE_STOPPED)
        VIRUDE_PCSC_CODE(SCARD_E_NO_READERS_AVAILABLE)
        VIRUDE_PCSC_CODE(SCARD_E_UNKNOWN_READER)
        VIRUDE_PCSC_CODE(SCARD_E_READER_UNAVAILABLE)
        VIRUDE_PCSC_CODE(SCARD_E_NO_SMARTCARD)
        VIRUDE_PCSC_CODE(SCARD_W_UNPOWERED_CARD)
        VIRUDE_PCSC_CODE(SCARD_W_UNRESPONSIVE_CARD)
        VIRUDE_PCSC_CODE(SCARD_E_TIMEOUT)
        VIRUDE_PCSC_CODE(SCARD_W_REMOVED_CARD)
        VIRUDE_PCSC_CODE(SCARD_W_RESET_CARD)
        VIRUDE_PCSC_CODE(SCARD_E_SHARING_VIOLATION)
        VIRUDE_PCSC_CODE(SCARD_E_CANCELLED)
        VIRUDE_PCSC_CODE(SCARD_E_NOT_TRANSACTED)
        VIRUDE_PCSC_CODE(SCARD_F_COMM_ERROR)
        VIRUDE_PCSC_CODE(SCARD_F_INTERNAL_ERROR)
        VIRUDE_PCSC_CODE(SCARD_E_INVALID_HANDLE)
        VIRUDE_PCSC_CODE(SCARD_E_INVALID_PARAMETER)
        VIRUDE_PCSC_CODE(SCARD_E_INSUFFICIENT_BUFFER)
        VIRUDE_PCSC_CODE(SCARD_E_PROTO_MISMATCH)
        VIRUDE_PCSC_CODE(SCARD_E_NO_MEMORY)
#undef VIRUDE_PCSC_CODE
        default:
            break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code & 0xFFFFFFFF));
    return text;
}

}  // namespace felica::pcsc
