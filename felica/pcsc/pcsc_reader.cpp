#include "felica/pcsc/pcsc_reader.h"

namespace felica {

OpenedReader open_pcsc_reader(const std::optional<std::string>&) {
    return {nullptr, RwError::no_reader, "PC/SC readers are not supported by this build"};
}

}  // namespace felica
