// An emulated RC-S380 on the USB, for real libusb in this process and its children: umockdev
// shows libusb a fake 054c:06c1 in sysfs and /dev, and passes every usbdevfs ioctl on the fake
// device node to a handler here, which answers the bulk transfers with the Port-100 model.
//
// The process (and its children) must run with umockdev's preload library:
// run_under_umockdev_preload() arranges that at the start of main.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tools/rcs380_emulator/port100_model.h"

namespace port100 {

struct UsbSetup {
    std::shared_ptr<felica::SimulatedCard> card;  // null: no card on the reader
    std::vector<FaultRule> faults;
    bool kernel_driver_bound = false;    // port100 has the reader when it is opened
    bool kernel_driver_refuses = false;  // … and cannot be detached
    // The descriptor, which a driver must read: the real values are not known.
    std::uint16_t product_id = 0x06C1;
    Byte in_endpoint = 0x81;
    Byte out_endpoint = 0x02;
    std::uint16_t packet_size = 64;
    int bus = 1;
    int device = 5;
};

// Re-runs the program with umockdev's preload library (and ASan told to accept it) unless it
// already has it. Returns only when no re-run happened.
void run_under_umockdev_preload(char** argv);
// Why no emulated reader can be set up in this process, or nothing when one can.
std::optional<std::string> usb_emulation_unavailable();

class UsbRcs380 {
  public:
    // Throws std::runtime_error when umockdev refuses the device.
    explicit UsbRcs380(UsbSetup setup);
    ~UsbRcs380();
    UsbRcs380(const UsbRcs380&) = delete;
    UsbRcs380& operator=(const UsbRcs380&) = delete;

    // "BUS:DEVICE", as VIRUDE_READER=rcs380:BUS:DEVICE takes it.
    std::string location() const;

    void place_card(std::shared_ptr<felica::SimulatedCard> card);
    void add_fault(FaultRule rule);
    // Ends an `unplugged` fault: the reader is back, its chip starts afresh.
    void plug_back_in();
    // As `modprobe -r port100` would: no kernel driver holds the reader from now on.
    void unload_kernel_driver();
    bool kernel_driver_bound() const;
    // Bulk transfers (URBs) libusb submitted.
    int transfers() const;
    // Looks at the chip's model while the handler is kept out.
    void inspect(const std::function<void(const Port100Model&)>& look) const;

    struct Device;

  private:
    std::unique_ptr<Device> device_;
};

}  // namespace port100
