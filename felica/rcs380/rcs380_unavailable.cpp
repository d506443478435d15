// The Windows build has no RC-S380 over USB (Debian has no libusb for Windows): on Windows
// Sony's driver serves the reader through PC/SC, and a direct RC-S380 is refused with the
// reason.
#include "felica/rcs380/rcs380_reader.h"

namespace felica {

OpenedReader open_rcs380_reader(const std::optional<std::string>&, const Deadline&) {
    return {nullptr, RwError::reader_setting,
            "RC-S380 over USB: not available in the Windows build; Sony's NFC Port Software "
            "serves it through PC/SC (VIRUDE_READER=pcsc)"};
}

FamilyListing list_rcs380_readers(const Deadline&) {
    return {{}, "RC-S380 over USB: not available in the Windows build"};
}

bool rcs380_reader_built() {
    return false;
}

}  // namespace felica
