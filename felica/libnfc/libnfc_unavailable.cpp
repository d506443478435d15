// The Windows build has no libnfc (Debian ships it for Linux only, and Windows' own reader
// stack is PC/SC): a libnfc reader is refused with the reason.
#include "felica/libnfc/libnfc_reader.h"

namespace felica {

OpenedReader open_libnfc_reader(const std::optional<std::string>&, const Deadline&,
                                const std::filesystem::path&) {
    return {nullptr, RwError::reader_setting,
            "libnfc: not available in the Windows build; use VIRUDE_READER=pcsc[:NAME] "
            "(PC/SC readers) or sim"};
}

FamilyListing list_libnfc_readers(const Deadline&, const std::filesystem::path&) {
    return {{}, "libnfc: not available in the Windows build"};
}

bool libnfc_reader_built() {
    return false;
}

std::filesystem::path libnfc_helper_path() {
    return {};
}

}  // namespace felica
