// A libnfc device as a reader backend, inside the libnfc helper process: polling with
// nfc_initiator_select_passive_target, commands with nfc_initiator_transceive_bytes.
#include "felica/libnfc/libnfc_device.h"

#include <nfc/nfc.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "felica/libnfc/libnfc_errors.h"
#include "felica/libnfc/libnfc_frames.h"
#include "felica/libnfc/libnfc_session.h"
#include "felica/libnfc/libnfc_timing.h"

namespace felica {
namespace {

// Big enough for any answer a PN53x passes on (an extended frame's data).
constexpr std::size_t kReceiveBuffer = 264;

// libnfc prints its own log lines on stderr (errors by default, for instance "Unable to
// find USB busses" on every automatic search of a machine without USB). They belong to
// whoever debugs libnfc, not to this program's users: unless LIBNFC_LOG_LEVEL says
// otherwise when the program first opens a libnfc device, they are turned off. libnfc
// itself rewrites the variable in every nfc_init, so the choice is made once.
void quiet_libnfc_log_unless_asked() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("LIBNFC_LOG_LEVEL") == nullptr) {
            setenv("LIBNFC_LOG_LEVEL", "0", 0);
        }
    });
}

class LibnfcDevice final : public ReaderBackend {
  public:
    explicit LibnfcDevice(libnfc::Session session)
        : session_(std::move(session)),
          connstring_(nfc_device_get_connstring(session_.device.get())),
          name_(nfc_device_get_name(session_.device.get())),
          max_blocks_(libnfc::max_blocks_for(connstring_)) {}

    std::string name() const override {
        return "libnfc " + (name_ == connstring_ ? name_ : name_ + " (" + connstring_ + ")");
    }
    int max_blocks_per_read() const override { return max_blocks_; }
    std::chrono::microseconds overhead() const override { return libnfc::kReaderOverhead; }

    // The chip polls with its own timeout (libnfc gives it 300 ms), whatever the card's.
    Transfer poll(ByteView polling_frame, std::chrono::microseconds) override {
        if (!usable()) {
            return {RwError::io_error, {}};
        }
        const std::optional<Bytes> payload = libnfc::polling_payload(polling_frame);
        if (!payload) {
            return {RwError::invalid_argument, {}};
        }
        const nfc_modulation modulation{NMT_FELICA, NBR_212};
        nfc_target target{};
        const int found = nfc_initiator_select_passive_target(
            session_.device.get(), modulation, payload->data(), payload->size(), &target);
        if (found < 0) {
            return broken(found);
        }
        if (found == 0) {
            return {RwError::timeout, {}};  // the reader answered: no card did
        }
        return {RwError::none, libnfc::polling_answer(target.nti.nfi)};
    }

    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        if (!usable()) {
            return {RwError::io_error, {}};
        }
        Bytes answer(kReceiveBuffer);
        const int received = nfc_initiator_transceive_bytes(
            session_.device.get(), frame.data(), frame.size(), answer.data(), answer.size(),
            libnfc::timeout_ms(timeout));
        if (received < 0) {
            return broken(received);
        }
        answer.resize(static_cast<std::size_t>(received));
        return {RwError::none, std::move(answer)};
    }

    void close() override { session_.end(); }
    std::string failure_detail() const override { return detail_; }

  private:
    bool usable() const { return session_.device && !broken_; }

    // libnfc matches an answer to its command by command code only: once a command has
    // failed (a timeout above all), the chip's late answer to it could be taken for the
    // answer to the next one. Nothing more is sent in this session.
    Transfer broken(int code) {
        broken_ = true;
        detail_ = std::string("libnfc: ") + nfc_strerror(session_.device.get());
        return {libnfc::rw_error_of_libnfc(code), {}};
    }

    libnfc::Session session_;
    std::string connstring_;
    std::string name_;
    int max_blocks_;
    bool broken_ = false;
    std::string detail_;
};

OpenedReader failure(RwError error, std::string reason) {
    return {nullptr, error, std::move(reason)};
}

// Why `device` cannot poll FeliCa cards, or nothing when it can. libnfc's pn532_uart
// driver hands out a device whose set-up failed half-way (no answer to GetFirmwareVersion):
// it knows no modulations then, and polling it would fail an assertion inside libnfc.
std::optional<std::string> felica_unsupported(nfc_device* device) {
    const nfc_modulation_type* types = nullptr;
    if (nfc_device_get_supported_modulation(device, N_INITIATOR, &types) < 0 || !types) {
        return "did not finish its set-up";
    }
    for (; *types != 0; ++types) {
        if (*types == NMT_FELICA) {
            return std::nullopt;
        }
    }
    return "cannot read FeliCa cards";
}

}  // namespace

OpenedReader open_libnfc_device(const std::optional<std::string>& connstring) {
    if (connstring && connstring->size() >= NFC_BUFSIZE_CONNSTRING) {
        return failure(RwError::reader_setting, "libnfc connection string too long");
    }
    quiet_libnfc_log_unless_asked();

    libnfc::Session session;
    nfc_context* context = nullptr;
    nfc_init(&context);
    session.context.reset(context);
    if (!context) {
        return failure(RwError::no_reader, "libnfc could not start");
    }
    const std::string which = connstring ? "\"" + *connstring + "\"" : "its default device";
    session.device.reset(nfc_open(context, connstring ? connstring->c_str() : nullptr));
    if (!session.device) {
        return failure(RwError::no_reader, "libnfc could not open " + which);
    }
    nfc_device* device = session.device.get();
    if (const auto problem = felica_unsupported(device)) {
        return failure(RwError::no_reader, "libnfc device " + which + " " + *problem);
    }
    int result = nfc_initiator_init(device);
    // libnfc's initiator polls until a card comes; a click polls once.
    if (result >= 0) {
        result = nfc_device_set_property_bool(device, NP_INFINITE_SELECT, false);
    }
    if (result < 0) {
        return failure(RwError::no_reader, "libnfc could not set up " + which +
                                               " as a reader: " + nfc_strerror(device));
    }
    return {std::make_unique<LibnfcDevice>(std::move(session)), RwError::none, {}};
}

libnfc::protocol::Message list_libnfc_devices() {
    namespace proto = libnfc::protocol;
    quiet_libnfc_log_unless_asked();
    nfc_context* raw_context = nullptr;
    nfc_init(&raw_context);
    const libnfc::ContextHandle context(raw_context);
    if (!context) {
        return proto::OpenFailed{RwError::no_reader, "libnfc could not start"};
    }
    nfc_connstring found[proto::kMaxListedDevices];
    const std::size_t count = nfc_list_devices(context.get(), found, proto::kMaxListedDevices);
    proto::DevicesListed listed;
    for (std::size_t i = 0; i < count && i < proto::kMaxListedDevices; ++i) {
        const std::string connstring(found[i], strnlen(found[i], NFC_BUFSIZE_CONNSTRING));
        if (connstring.empty()) {
            continue;
        }
        // The name is the device's answer to being opened; a device another program holds
        // is listed without one.
        const libnfc::DeviceHandle device(nfc_open(context.get(), connstring.c_str()));
        listed.devices.push_back(
            {connstring, device ? std::string(nfc_device_get_name(device.get())) : std::string()});
    }
    return listed;
}

}  // namespace felica
