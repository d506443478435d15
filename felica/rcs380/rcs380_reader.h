// Sony RC-S380 (NFC Port-100 chip) driven directly over USB.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "felica/rcs380/bulk_pipe.h"
#include "felica/reader_backend.h"
#include "felica/reader_listing.h"

namespace felica {

// Opens the first RC-S380, or the one `bus_device` ("BUS:DEVICE", as lsusb numbers them)
// names.
OpenedReader open_rcs380_reader(const std::optional<std::string>& bus_device,
                                const Deadline& deadline = {});
// Every RC-S380 on the USB, and whether it can be opened; nothing is sent to them.
FamilyListing list_rcs380_readers(const Deadline& deadline = {});
// Whether this build drives the RC-S380 over USB (the Windows build does not).
bool rcs380_reader_built();

namespace rcs380 {

// Sets up the chip behind an open pipe and makes it a reader; `where` and `notes` go into
// the reader's name.
OpenedReader open_rcs380_on_pipe(std::unique_ptr<BulkPipe> pipe, const std::string& where,
                                 const std::string& notes, const Deadline& deadline);

}  // namespace rcs380
}  // namespace felica
