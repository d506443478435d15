#include "felica/libnfc/libnfc_errors.h"

#include <nfc/nfc.h>

namespace felica::libnfc {

RwError rw_error_of_libnfc(int code) {
    switch (code) {
        case NFC_SUCCESS:
            return RwError::none;
        case NFC_ETIMEOUT:  // the reader's answer (or its ACK) did not come in time
            return RwError::reader_timeout;
        case NFC_ERFTRANS:  // the chip lost the card (its own timeout, CRC, framing)
        case NFC_ETGRELEASED:
            return RwError::card_removed;
        case NFC_EOVFLOW:  // an answer longer than any FeliCa frame
            return RwError::malformed_response;
        case NFC_EINVARG:
            return RwError::invalid_argument;
        case NFC_ENOTSUCHDEV:
            return RwError::no_reader;
        default:  // NFC_EIO, NFC_ECHIP, NFC_EOPABORTED, NFC_ESOFT, NFC_EDEVNOTSUPP, …
            return RwError::io_error;
    }
}

}  // namespace felica::libnfc
