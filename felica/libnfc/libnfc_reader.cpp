#include "felica/libnfc/libnfc_reader.h"

namespace felica {

OpenedReader open_libnfc_reader(const std::optional<std::string>&) {
    return {nullptr, RwError::no_reader, "libnfc devices are not supported by this build"};
}

}  // namespace felica
