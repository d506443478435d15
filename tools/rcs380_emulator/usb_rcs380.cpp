#include "tools/rcs380_emulator/usb_rcs380.h"

#include <dlfcn.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace port100 {
namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

// A reference to umockdev's copy of client memory, dropped with the holder.
struct DataRef {
    UMockdevIoctlData* data = nullptr;

    explicit DataRef(UMockdevIoctlData* d = nullptr) : data(d) {}
    DataRef(DataRef&& other) noexcept : data(std::exchange(other.data, nullptr)) {}
    DataRef& operator=(DataRef&& other) noexcept {
        std::swap(data, other.data);
        return *this;
    }
    ~DataRef() {
        if (data) {
            g_object_unref(data);
        }
    }
};

// A submitted URB: the URB itself and its buffer, both resolved into this process.
struct Urb {
    DataRef urb;
    DataRef buffer;

    usbdevfs_urb& fields() const { return *reinterpret_cast<usbdevfs_urb*>(urb.data->data); }
};

std::string hex(const std::vector<Byte>& bytes) {
    std::string out;
    char two[3];
    for (const Byte b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

// Device descriptor, then the one configuration: interface 0 (vendor class) with its two
// bulk endpoints, as the sysfs "descriptors" file holds them.
std::vector<Byte> descriptors(const UsbSetup& setup) {
    const Byte packet_low = setup.packet_size & 0xFF;
    const Byte packet_high = setup.packet_size >> 8;
    return {
        0x12,
        0x01,
        0x00,
        0x02,
        0x00,
        0x00,
        0x00,
        0x40,
        0x4C,
        0x05,
        static_cast<Byte>(setup.product_id & 0xFF),
        static_cast<Byte>(setup.product_id >> 8),
        0x00,
        0x01,
        0x01,
        0x02,
        0x00,
        0x01,  // device
        0x09,
        0x02,
        0x20,
        0x00,
        0x01,
        0x01,
        0x00,
        0x80,
        0xFA,  // configuration 1
        0x09,
        0x04,
        0x00,
        0x00,
        0x02,
        0xFF,
        0x00,
        0x00,
        0x00,  // interface 0
        0x07,
        0x05,
        setup.in_endpoint,
        0x02,
        packet_low,
        packet_high,
        0x00,
        0x07,
        0x05,
        setup.out_endpoint,
        0x02,
        packet_low,
        packet_high,
        0x00,
    };
}

std::string device_record(const UsbSetup& setup) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/0000:00:14.0/usb%d/%d-1\n"
                  "N: bus/usb/%03d/%03d\n"
                  "E: DEVNAME=/dev/bus/usb/%03d/%03d\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: PRODUCT=54c/%x/100\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: BUSNUM=%03d\n"
                  "E: DEVNUM=%03d\n"
                  "A: busnum=%d\n"
                  "A: devnum=%d\n"
                  "A: speed=12\n"
                  "A: bConfigurationValue=1\n"
                  "A: bNumInterfaces= 1\n"
                  "A: idVendor=054c\n"
                  "A: idProduct=%04x\n"
                  "A: dev=189:%d\n",
                  setup.bus, setup.bus, setup.bus, setup.device, setup.bus, setup.device,
                  setup.product_id, setup.bus, setup.device, setup.bus, setup.device,
                  setup.product_id, (setup.bus - 1) * 128 + setup.device - 1);
    return std::string(text) + "H: descriptors=" + hex(descriptors(setup)) + "\n";
}

std::string node_of(const UsbSetup& setup) {
    char text[64];
    std::snprintf(text, sizeof text, "/dev/bus/usb/%03d/%03d", setup.bus, setup.device);
    return text;
}

}  // namespace

void run_under_umockdev_preload(char** argv) {
    if (usb_emulation_unavailable() == std::nullopt || std::getenv("VIRUDE_UMOCKDEV_RERUN")) {
        return;
    }
    setenv("VIRUDE_UMOCKDEV_RERUN", "1", 1);
    const char* preload = std::getenv("LD_PRELOAD");
    setenv(
        "LD_PRELOAD",
        (std::string(kPreload) + (preload && *preload ? std::string(":") + preload : "")).c_str(),
        1);
    // ASan insists on coming first among the preloaded libraries; umockdev's does instead.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS",
           ((asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0").c_str(),
           1);
    execv("/proc/self/exe", argv);
    // Could not re-run: the tests say why they skip.
}

std::optional<std::string> usb_emulation_unavailable() {
    if (dlopen(kPreload, RTLD_LAZY | RTLD_NOLOAD) == nullptr) {
        return std::string("umockdev's preload library ") + kPreload +
               " is not loaded (is umockdev installed?)";
    }
    return std::nullopt;
}

struct UsbRcs380::Device {
    UsbSetup setup;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string node;

    mutable std::mutex mutex;  // guards everything below; the handler runs on umockdev's thread
    Port100Model model;
    bool driver_bound = false;
    bool driver_detached = false;
    std::deque<Urb> in_waiting;  // IN URBs waiting for a frame from the chip
    std::deque<Urb> done;        // completed, to be reaped
    std::deque<Urb> discarded;   // cancelled, to be reaped
    int transfers = 0;

    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Device*>(self)->handle(client);
        return TRUE;
    }

    void handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard lock(mutex);
        int error = 0;
        if (!model.unplugged()) {
            error = run(request, arg);
        } else if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
            // As the kernel does: what completed before the reader went away is still reaped.
            error = reap(arg) == 0 ? 0 : ENODEV;
        } else {
            error = ENODEV;
        }
        umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
    }

    // Copies the argument the client points at into this process.
    static DataRef resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t size) {
        return DataRef(umockdev_ioctl_data_resolve(data, offset, size, nullptr));
    }

    int run(unsigned long request, UMockdevIoctlData* arg) {
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                const DataRef caps = resolve(arg, 0, sizeof(std::uint32_t));
                const std::uint32_t value =
                    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
                std::memcpy(caps.data->data, &value, sizeof value);
                return 0;
            }
            case USBDEVFS_GETDRIVER: {
                if (!driver_bound) {
                    return ENODATA;
                }
                const DataRef info = resolve(arg, 0, sizeof(usbdevfs_getdriver));
                auto* getdriver = reinterpret_cast<usbdevfs_getdriver*>(info.data->data);
                std::snprintf(getdriver->driver, sizeof getdriver->driver, "port100");
                return 0;
            }
            case USBDEVFS_IOCTL: {
                const DataRef info = resolve(arg, 0, sizeof(usbdevfs_ioctl));
                const auto* command = reinterpret_cast<usbdevfs_ioctl*>(info.data->data);
                if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                    return detach_driver();
                }
                if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                    driver_bound = driver_bound || driver_detached;
                    driver_detached = false;
                    return 0;
                }
                return ENOTTY;
            }
            case USBDEVFS_DISCONNECT_CLAIM:
                return driver_bound ? detach_driver() : 0;
            case USBDEVFS_CLAIMINTERFACE:
                return driver_bound ? EBUSY : 0;
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_RESETEP:
            case USBDEVFS_SETINTERFACE:
                return 0;
            case USBDEVFS_SUBMITURB:
                return submit(arg);
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                return reap(arg);
            case USBDEVFS_DISCARDURB:
                return discard(arg);
            default:
                return ENOTTY;
        }
    }

    int detach_driver() {
        if (!driver_bound) {
            return ENODATA;
        }
        if (setup.kernel_driver_refuses) {
            return EBUSY;
        }
        driver_bound = false;
        driver_detached = true;
        return 0;
    }

    int submit(UMockdevIoctlData* arg) {
        Urb urb{resolve(arg, 0, sizeof(usbdevfs_urb)), DataRef()};
        usbdevfs_urb& fields = urb.fields();
        const bool in = (fields.endpoint & 0x80) != 0;
        if (fields.type != USBDEVFS_URB_TYPE_BULK ||
            fields.endpoint != (in ? setup.in_endpoint : setup.out_endpoint)) {
            return ENOENT;  // no such endpoint
        }
        ++transfers;
        if (fields.buffer_length > 0) {
            urb.buffer = resolve(urb.urb.data, offsetof(usbdevfs_urb, buffer),
                                 static_cast<std::size_t>(fields.buffer_length));
        }
        if (in) {
            in_waiting.push_back(std::move(urb));
            return 0;
        }
        const Byte* bytes = urb.buffer.data ? urb.buffer.data->data : nullptr;
        model.receive(ByteView(bytes, static_cast<std::size_t>(fields.buffer_length)),
                      Clock::now());
        fields.status = 0;
        fields.actual_length = fields.buffer_length;
        done.push_back(std::move(urb));
        if (model.unplugged()) {
            fail_pending_urbs();
        }
        return 0;
    }

    // The reader is gone: the kernel ends every URB in flight with -ESHUTDOWN.
    void fail_pending_urbs() {
        done.back().fields().status = -ESHUTDOWN;
        for (Urb& urb : in_waiting) {
            urb.fields().status = -ESHUTDOWN;
            urb.fields().actual_length = 0;
            done.push_back(std::move(urb));
        }
        in_waiting.clear();
    }

    int reap(UMockdevIoctlData* arg) {
        std::deque<Urb>* from = !discarded.empty() ? &discarded : !done.empty() ? &done : nullptr;
        if (!from && !in_waiting.empty()) {
            if (std::optional<Bytes> frame = model.take_in(Clock::now())) {
                Urb& urb = in_waiting.front();
                usbdevfs_urb& fields = urb.fields();
                const std::size_t room = static_cast<std::size_t>(fields.buffer_length);
                std::memcpy(urb.buffer.data->data, frame->data(), std::min(room, frame->size()));
                fields.actual_length = static_cast<int>(std::min(room, frame->size()));
                fields.status = frame->size() > room ? -EOVERFLOW : 0;
                done.push_back(std::move(urb));
                in_waiting.pop_front();
                from = &done;
            }
        }
        if (!from) {
            return EAGAIN;
        }
        const DataRef cell = resolve(arg, 0, sizeof(void*));
        umockdev_ioctl_data_set_ptr(cell.data, 0, from->front().urb.data);
        from->pop_front();
        return 0;
    }

    int discard(UMockdevIoctlData* arg) {
        const unsigned long address = *reinterpret_cast<const unsigned long*>(arg->data);
        for (std::deque<Urb>* list : {&in_waiting, &done}) {
            const auto found = std::find_if(list->begin(), list->end(), [&](const Urb& urb) {
                return urb.urb.data->client_addr == address;
            });
            if (found != list->end()) {
                found->fields().status = -ENOENT;
                found->fields().actual_length = 0;
                discarded.push_back(std::move(*found));
                list->erase(found);
                return 0;
            }
        }
        return EINVAL;
    }
};

UsbRcs380::UsbRcs380(UsbSetup setup) : device_(std::make_unique<Device>()) {
    Device& d = *device_;
    d.setup = std::move(setup);
    d.node = node_of(d.setup);
    d.driver_bound = d.setup.kernel_driver_bound;
    d.model.place_card(d.setup.card);
    for (const FaultRule& rule : d.setup.faults) {
        d.model.add_fault(rule);
    }
    d.testbed = umockdev_testbed_new();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(d.testbed, device_record(d.setup).c_str(), &error)) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(d.testbed);
        throw std::runtime_error("umockdev refused the RC-S380 device: " + message);
    }
    d.handler = umockdev_ioctl_base_new();
    g_signal_connect(d.handler, "handle-ioctl", G_CALLBACK(&Device::on_ioctl), &d);
    if (!umockdev_testbed_attach_ioctl(d.testbed, d.node.c_str(), d.handler, &error)) {
        const std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(d.handler);
        g_object_unref(d.testbed);
        throw std::runtime_error("umockdev refused the RC-S380's ioctl handler: " + message);
    }
}

UsbRcs380::~UsbRcs380() {
    Device& d = *device_;
    umockdev_testbed_detach_ioctl(d.testbed, d.node.c_str(), nullptr);
    g_object_unref(d.handler);
    g_object_unref(d.testbed);
}

std::string UsbRcs380::location() const {
    return std::to_string(device_->setup.bus) + ":" + std::to_string(device_->setup.device);
}

void UsbRcs380::place_card(std::shared_ptr<felica::SimulatedCard> card) {
    std::lock_guard lock(device_->mutex);
    device_->model.place_card(std::move(card));
}

void UsbRcs380::add_fault(FaultRule rule) {
    std::lock_guard lock(device_->mutex);
    device_->model.add_fault(rule);
}

void UsbRcs380::plug_back_in() {
    std::lock_guard lock(device_->mutex);
    device_->model.plug_back_in();
    device_->in_waiting.clear();
    device_->done.clear();
    device_->discarded.clear();
    device_->driver_bound = device_->setup.kernel_driver_bound;
    device_->driver_detached = false;
}

void UsbRcs380::unload_kernel_driver() {
    std::lock_guard lock(device_->mutex);
    device_->setup.kernel_driver_bound = false;
    device_->driver_bound = false;
    device_->driver_detached = false;
}

bool UsbRcs380::kernel_driver_bound() const {
    std::lock_guard lock(device_->mutex);
    return device_->driver_bound;
}

int UsbRcs380::transfers() const {
    std::lock_guard lock(device_->mutex);
    return device_->transfers;
}

void UsbRcs380::inspect(const std::function<void(const Port100Model&)>& look) const {
    std::lock_guard lock(device_->mutex);
    look(device_->model);
}

}  // namespace port100
