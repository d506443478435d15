#include "felica/libnfc/libnfc_timing.h"

#include <algorithm>
#include <climits>

namespace felica::libnfc {

int timeout_ms(std::chrono::microseconds timeout) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout);
    return static_cast<int>(
        std::clamp<std::chrono::milliseconds::rep>(ms.count(), kMinTimeout.count(), INT_MAX));
}

}  // namespace felica::libnfc
