// The RC-S380 on USB through libusb-1.0: finding the reader, taking its bulk endpoints from
// its descriptors, detaching the kernel's own driver (port100) and claiming interface 0.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "felica/deadline.h"
#include "felica/errors.h"
#include "felica/rcs380/bulk_pipe.h"

namespace felica::rcs380 {

inline constexpr std::uint16_t kSonyVendorId = 0x054C;
inline constexpr std::uint16_t kRcs380sProductId = 0x06C1;
inline constexpr std::uint16_t kRcs380pProductId = 0x06C3;

// A device's place on the USB, as lsusb shows it ("Bus 001 Device 005").
struct UsbLocation {
    int bus = 0;
    int device = 0;
};

struct OpenedPipe {
    std::unique_ptr<BulkPipe> pipe;  // null on failure
    RwError error = RwError::none;
    std::string reason;  // why opening failed, naming the fix where there is one
    std::string where;   // "bus 001 device 005"
    bool kernel_driver_detached = false;
};

// Opens the first RC-S380 (054c:06c1 or 054c:06c3), or the one at `location`.
OpenedPipe open_libusb_pipe(const std::optional<UsbLocation>& location, const Deadline& deadline);

// An RC-S380 on the USB, as a list of readers shows it.
struct FoundRcs380 {
    UsbLocation location;
    std::uint16_t product_id = 0;
    std::string problem;  // why it could not be opened (no permission …); empty when it can
};
struct Rcs380Search {
    std::vector<FoundRcs380> found;
    std::string problem;  // why the USB could not be searched
};

// Every RC-S380 on the USB. Each is opened and closed again to see whether it can be: nothing
// is claimed and nothing is sent to it.
Rcs380Search find_libusb_rcs380();

}  // namespace felica::rcs380
