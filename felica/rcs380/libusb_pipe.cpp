#include "felica/rcs380/libusb_pipe.h"

#include <libusb.h>

#include <cstdio>
#include <string_view>

namespace felica::rcs380 {
namespace {

constexpr int kInterface = 0;

// What to do when the reader's device node is not the user's.
constexpr std::string_view kPermissionFix =
    "install the udev rule 60-virude-rcs380.rules (the Debian package does), or join the group "
    "plugdev, then replug the reader";

std::string location_text(int bus, int device) {
    char text[40];
    std::snprintf(text, sizeof text, "bus %03d device %03d", bus, device);
    return text;
}

PipeResult result_of(int code) {
    switch (code) {
        case LIBUSB_SUCCESS:
            return {};
        case LIBUSB_ERROR_TIMEOUT:
            return {PipeStatus::timeout, {}, {}};
        case LIBUSB_ERROR_NO_DEVICE:
            return {PipeStatus::no_device, {}, libusb_error_name(code)};
        default:
            return {PipeStatus::error, {}, libusb_error_name(code)};
    }
}

unsigned int milliseconds_of(std::chrono::milliseconds timeout) {
    // 0 would mean "no limit" to libusb.
    return static_cast<unsigned int>(std::max<std::int64_t>(timeout.count(), 1));
}

struct ContextCloser {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
struct DeviceListFreer {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
struct ConfigFreer {
    void operator()(libusb_config_descriptor* config) const {
        libusb_free_config_descriptor(config);
    }
};
using Context = std::unique_ptr<libusb_context, ContextCloser>;
using DeviceList = std::unique_ptr<libusb_device*, DeviceListFreer>;
using Config = std::unique_ptr<libusb_config_descriptor, ConfigFreer>;

// The bulk endpoints of interface 0's first setting.
struct Endpoints {
    Byte in = 0;
    Byte out = 0;
    std::size_t packet_size = 0;  // of the OUT endpoint: a write of a multiple of it needs a ZLP
};

std::optional<Endpoints> bulk_endpoints(libusb_device* device) {
    libusb_config_descriptor* raw = nullptr;
    if (libusb_get_active_config_descriptor(device, &raw) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &raw) != LIBUSB_SUCCESS) {
        return std::nullopt;
    }
    const Config config(raw);
    if (config->bNumInterfaces <= kInterface || config->interface[kInterface].num_altsetting < 1) {
        return std::nullopt;
    }
    const libusb_interface_descriptor& setting = config->interface[kInterface].altsetting[0];
    Endpoints found;
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
        if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
            continue;
        }
        if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
            if (found.in == 0) {
                found.in = endpoint.bEndpointAddress;
            }
        } else if (found.out == 0) {
            found.out = endpoint.bEndpointAddress;
            found.packet_size = endpoint.wMaxPacketSize & 0x7FF;
        }
    }
    if (found.in == 0 || found.out == 0 || found.packet_size == 0) {
        return std::nullopt;
    }
    return found;
}

class LibusbPipe final : public BulkPipe {
  public:
    LibusbPipe(Context context, libusb_device_handle* handle, Endpoints endpoints,
               const Deadline& deadline)
        : context_(std::move(context)),
          handle_(handle),
          endpoints_(endpoints),
          deadline_(deadline) {}

    ~LibusbPipe() override {
        // Gives interface 0 back, and libusb gives the reader back to the kernel driver it
        // detached. That driver then sets the reader up, talking to it: once the click's time
        // is spent, the reader is let go without it.
        if (deadline_.expired()) {
            libusb_set_auto_detach_kernel_driver(handle_, 0);
        }
        libusb_release_interface(handle_, kInterface);
        libusb_close(handle_);
    }

    PipeResult write(ByteView bytes, std::chrono::milliseconds timeout) override {
        Bytes copy(bytes.begin(), bytes.end());  // libusb takes a mutable buffer
        int sent = 0;
        const int code =
            libusb_bulk_transfer(handle_, endpoints_.out, copy.data(),
                                 static_cast<int>(copy.size()), &sent, milliseconds_of(timeout));
        if (code != LIBUSB_SUCCESS) {
            return result_of(code);
        }
        if (static_cast<std::size_t>(sent) != copy.size()) {
            return {PipeStatus::error, {}, "short write"};
        }
        // A transfer that fills its last packet is ended by a zero-length packet.
        if (copy.size() % endpoints_.packet_size == 0) {
            return result_of(libusb_bulk_transfer(handle_, endpoints_.out, copy.data(), 0, &sent,
                                                  milliseconds_of(timeout)));
        }
        return {};
    }

    PipeResult read(std::size_t max, std::chrono::milliseconds timeout) override {
        Bytes buffer(max);
        int received = 0;
        const int code = libusb_bulk_transfer(handle_, endpoints_.in, buffer.data(),
                                              static_cast<int>(buffer.size()), &received,
                                              milliseconds_of(timeout));
        if (code != LIBUSB_SUCCESS) {
            return result_of(code);
        }
        buffer.resize(static_cast<std::size_t>(received));
        return {PipeStatus::ok, std::move(buffer), {}};
    }

  private:
    Context context_;  // outlives the handle: members are destroyed after the destructor body
    libusb_device_handle* handle_;
    Endpoints endpoints_;
    Deadline deadline_;
};

OpenedPipe failure(RwError error, std::string reason, std::string where = {}) {
    return {nullptr, error, std::move(reason), std::move(where), false};
}

bool is_rcs380(const libusb_device_descriptor& descriptor) {
    return descriptor.idVendor == kSonyVendorId &&
           (descriptor.idProduct == kRcs380sProductId || descriptor.idProduct == kRcs380pProductId);
}

// Takes the context over only on success; the caller's device list must be freed before the
// context ends.
OpenedPipe claim(Context& context, libusb_device* device, const std::string& where,
                 const Deadline& deadline) {
    const std::optional<Endpoints> endpoints = bulk_endpoints(device);
    if (!endpoints) {
        return failure(RwError::no_reader,
                       "the RC-S380 at " + where + " has no bulk endpoints on interface 0", where);
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened == LIBUSB_ERROR_ACCESS) {
        return failure(RwError::no_reader,
                       "no permission to open the RC-S380 at " + where +
                           " (LIBUSB_ERROR_ACCESS): " + std::string(kPermissionFix),
                       where);
    }
    if (opened != LIBUSB_SUCCESS) {
        return failure(
            RwError::no_reader,
            "could not open the RC-S380 at " + where + " (" + libusb_error_name(opened) + ")",
            where);
    }
    // The kernel's port100 driver takes the reader when it is plugged in; libusb detaches
    // it when claiming and gives it back on release.
    const bool driver_bound = libusb_kernel_driver_active(handle, kInterface) == 1;
    libusb_set_auto_detach_kernel_driver(handle, 1);
    const int claimed = libusb_claim_interface(handle, kInterface);
    if (claimed != LIBUSB_SUCCESS) {
        const bool still_bound = libusb_kernel_driver_active(handle, kInterface) == 1;
        libusb_close(handle);
        const std::string code = libusb_error_name(claimed);
        if (still_bound) {
            return failure(RwError::no_reader,
                           "the kernel driver port100 holds the RC-S380 at " + where +
                               " and could not be detached (" + code +
                               "): unload it with \"sudo modprobe -r port100\", and keep it "
                               "off with the line \"blacklist port100\" in a file in "
                               "/etc/modprobe.d/",
                           where);
        }
        if (claimed == LIBUSB_ERROR_BUSY) {
            return failure(
                RwError::reader_busy,
                "another program has claimed the RC-S380 at " + where + " (" + code + ")", where);
        }
        return failure(claimed == LIBUSB_ERROR_NO_DEVICE ? RwError::no_reader : RwError::io_error,
                       "could not claim the RC-S380 at " + where + " (" + code + ")", where);
    }
    return {std::make_unique<LibusbPipe>(std::move(context), handle, *endpoints, deadline),
            RwError::none,
            {},
            where,
            driver_bound};
}

}  // namespace

// Opening sends nothing to the reader: listing, opening and claiming are quick system calls,
// so the deadline bounds only what follows.
OpenedPipe open_libusb_pipe(const std::optional<UsbLocation>& location, const Deadline& deadline) {
    libusb_context* raw_context = nullptr;
    if (const int code = libusb_init(&raw_context); code != LIBUSB_SUCCESS) {
        return failure(RwError::no_reader, std::string("libusb could not start (") +
                                               libusb_error_name(code) +
                                               "), so no RC-S380 could be looked for");
    }
    Context context(raw_context);
    libusb_device** raw_list = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &raw_list);
    if (count < 0) {
        return failure(RwError::no_reader, std::string("libusb could not list the USB devices (") +
                                               libusb_error_name(static_cast<int>(count)) + ")");
    }
    const DeviceList list(raw_list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = raw_list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
            !is_rcs380(descriptor)) {
            continue;
        }
        const int bus = libusb_get_bus_number(device);
        const int address = libusb_get_device_address(device);
        if (location && (location->bus != bus || location->device != address)) {
            continue;
        }
        return claim(context, device, location_text(bus, address), deadline);
    }
    if (location) {
        return failure(RwError::no_reader, "no RC-S380 at " +
                                               location_text(location->bus, location->device) +
                                               " (see lsusb -d 054c:)");
    }
    return failure(RwError::no_reader, "no RC-S380 (USB 054c:06c1 or 054c:06c3) found");
}

Rcs380Search find_libusb_rcs380() {
    Rcs380Search search;
    libusb_context* raw_context = nullptr;
    if (const int code = libusb_init(&raw_context); code != LIBUSB_SUCCESS) {
        search.problem = std::string("libusb could not start (") + libusb_error_name(code) + ")";
        return search;
    }
    const Context context(raw_context);
    libusb_device** raw_list = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &raw_list);
    if (count < 0) {
        search.problem = std::string("libusb could not list the USB devices (") +
                         libusb_error_name(static_cast<int>(count)) + ")";
        return search;
    }
    const DeviceList list(raw_list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = raw_list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
            !is_rcs380(descriptor)) {
            continue;
        }
        FoundRcs380 found{{libusb_get_bus_number(device), libusb_get_device_address(device)},
                          descriptor.idProduct,
                          {}};
        libusb_device_handle* handle = nullptr;
        const int opened = libusb_open(device, &handle);
        if (opened == LIBUSB_SUCCESS) {
            libusb_close(handle);
        } else if (opened == LIBUSB_ERROR_ACCESS) {
            found.problem =
                "no permission to open it (LIBUSB_ERROR_ACCESS): " + std::string(kPermissionFix);
        } else {
            found.problem = std::string("cannot be opened (") + libusb_error_name(opened) + ")";
        }
        search.found.push_back(std::move(found));
    }
    return search;
}

}  // namespace felica::rcs380
