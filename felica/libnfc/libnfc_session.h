// Ownership of libnfc's context and device: nfc_close and nfc_exit run on every path.
#pragma once

#include <nfc/nfc.h>

#include <memory>

namespace felica::libnfc {

struct ContextCloser {
    void operator()(nfc_context* context) const { nfc_exit(context); }
};
struct DeviceCloser {
    void operator()(nfc_device* device) const { nfc_close(device); }
};

using ContextHandle = std::unique_ptr<nfc_context, ContextCloser>;
using DeviceHandle = std::unique_ptr<nfc_device, DeviceCloser>;

// An open device and the context it belongs to. Members are destroyed in reverse order:
// the device closes before its context ends.
struct Session {
    ContextHandle context;
    DeviceHandle device;

    void end() {
        device.reset();
        context.reset();
    }
};

}  // namespace felica::libnfc
