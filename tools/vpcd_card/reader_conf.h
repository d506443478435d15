// pcscd's reader.conf entries for vpcd readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vpcd_card {

// The vpcd driver Debian's vsmartcard-vpcd installs, as its /etc/reader.conf.d/vpcd names it.
std::string vpcd_driver_path();

// A reader.conf entry for a vpcd reader named `friendly_name` (pcscd appends " 00 00" and
// " 00 01" for its two slots) whose first slot listens on `port`, the second on `port` + 1.
std::string reader_conf_entry(std::string_view friendly_name, std::uint16_t port,
                              const std::string& driver_path);

}  // namespace vpcd_card
