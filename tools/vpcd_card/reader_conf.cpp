#include "tools/vpcd_card/reader_conf.h"

#include <fstream>
#include <sstream>

namespace vpcd_card {

std::string vpcd_driver_path() {
    std::ifstream conf("/etc/reader.conf.d/vpcd");
    std::string line;
    while (std::getline(conf, line)) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (words >> key >> value && key == "LIBPATH") {
            return value;
        }
    }
    return "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
}

std::string reader_conf_entry(std::string_view friendly_name, std::uint16_t port,
                              const std::string& driver_path) {
    std::ostringstream entry;
    entry << "FRIENDLYNAME \"" << friendly_name << "\"\n"
          << "DEVICENAME   /dev/null:" << port << "\n"
          << "LIBPATH      " << driver_path << "\n"
          << "CHANNELID    " << port << "\n";
    return entry.str();
}

}  // namespace vpcd_card
