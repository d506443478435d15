// The libnfc backend as the program sees it: frames go to the libnfc helper process and its
// answers come back, every wait bounded by the command's own time and the click's deadline.
#include "felica/libnfc/libnfc_reader.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "felica/libnfc/helper_process.h"
#include "felica/libnfc/helper_protocol.h"
#include "felica/libnfc/libnfc_timing.h"

namespace felica {
namespace {

using namespace std::chrono_literals;
namespace proto = libnfc::protocol;
using libnfc::HelperProcess;

// Starting the helper and opening the device: libnfc takes about 1.4 s to give up on a
// silent serial reader, and searching for the default device may take longer.
constexpr std::chrono::microseconds kOpenWait = 5s;
// Listing: libnfc searches its drivers' buses, then each device found is opened for its name.
constexpr std::chrono::microseconds kListWait = 10s;
// Closing: libnfc powers the chip down and waits for its answer.
constexpr std::chrono::microseconds kCloseWait = 1s;
// A helper that has answered "closed" or "open failed" ends by itself in this time.
constexpr std::chrono::microseconds kExitGrace = 200ms;
// Beyond libnfc's own waits: the pipes, and libnfc aborting a command the chip let time out.
constexpr std::chrono::microseconds kReplySlack = 250ms;

// How long the helper may take to answer a command that libnfc gives `timeout`: libnfc waits
// that long for the chip's ACK and as long again for its answer.
std::chrono::microseconds reply_wait(std::chrono::microseconds timeout) {
    return 2 * std::chrono::milliseconds(libnfc::timeout_ms(timeout)) + kReplySlack;
}

std::uint32_t timeout_us(std::chrono::microseconds timeout) {
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(timeout.count(), 0, std::numeric_limits<std::uint32_t>::max()));
}

// The reply to one request, or why the helper gave none (it is killed then).
struct Reply {
    std::optional<proto::Message> message;
    RwError error = RwError::none;
    std::string why;
};

// Sends `request` and waits at most `wait` for the one reply to it. A helper that dies,
// hangs, or sends what is not one well-formed message is killed.
Reply ask(HelperProcess& helper, const Bytes& request, std::chrono::microseconds wait) {
    const Deadline until = Deadline::after(wait);
    const auto lost = [&helper](RwError error, const std::string& what) {
        helper.end(0us);
        const std::string fate = helper.fate();
        return Reply{std::nullopt, error,
                     "libnfc helper " + what + (fate.empty() ? "" : ", " + fate)};
    };
    switch (helper.write(request, until.remaining())) {
        case HelperProcess::Io::done:
            break;
        case HelperProcess::Io::timed_out:
            return lost(RwError::reader_timeout, "took no request in time");
        case HelperProcess::Io::closed:
            return lost(RwError::io_error, "died");
    }
    Bytes received;
    while (true) {
        const proto::Parsed parsed = proto::parse_message(received);
        if (parsed.status == proto::Parsed::Status::complete && parsed.size == received.size()) {
            return {parsed.message, RwError::none, {}};
        }
        if (parsed.status != proto::Parsed::Status::incomplete) {
            return lost(RwError::io_error, "sent a malformed answer");
        }
        switch (helper.read(received, until.remaining())) {
            case HelperProcess::Io::done:
                break;
            case HelperProcess::Io::timed_out:
                return lost(RwError::reader_timeout, "did not answer in time");
            case HelperProcess::Io::closed:
                return lost(RwError::io_error, "died");
        }
    }
}

class LibnfcReader final : public ReaderBackend {
  public:
    LibnfcReader(std::unique_ptr<HelperProcess> helper, const Deadline& deadline,
                 proto::Opened opened)
        : helper_(std::move(helper)), deadline_(deadline), opened_(std::move(opened)) {}

    ~LibnfcReader() override { helper_->end(0us); }

    std::string name() const override { return opened_.name; }
    int max_blocks_per_read() const override { return opened_.max_blocks; }
    std::chrono::microseconds overhead() const override { return libnfc::kReaderOverhead; }

    Transfer poll(ByteView polling_frame, std::chrono::microseconds timeout) override {
        return transfer(proto::PollRequest{timeout_us(timeout),
                                           Bytes(polling_frame.begin(), polling_frame.end())},
                        timeout);
    }

    Transfer exchange(ByteView frame, std::chrono::microseconds timeout) override {
        return transfer(
            proto::ExchangeRequest{timeout_us(timeout), Bytes(frame.begin(), frame.end())},
            timeout);
    }

    // Lets the helper close the device and end; after the deadline it is killed at once.
    void close() override {
        if (gone_ || deadline_.expired()) {
            helper_->end(0us);
            return;
        }
        const Reply reply =
            ask(*helper_, *proto::encode(proto::CloseRequest{}), deadline_.cap(kCloseWait));
        helper_->end(reply.message ? deadline_.cap(kExitGrace) : 0us);
    }

    std::string failure_detail() const override { return detail_; }

  private:
    Transfer transfer(const proto::Message& request, std::chrono::microseconds timeout) {
        detail_.clear();
        if (gone_) {
            detail_ = "libnfc helper gone";
            return {RwError::io_error, {}};
        }
        const std::optional<Bytes> bytes = proto::encode(request);
        if (!bytes) {
            return {RwError::invalid_argument, {}};
        }
        Reply reply = ask(*helper_, *bytes, deadline_.cap(reply_wait(timeout)));
        auto* done = reply.message ? std::get_if<proto::TransferDone>(&*reply.message) : nullptr;
        if (reply.message && !done) {
            helper_->end(0us);
            reply = {std::nullopt, RwError::io_error, "libnfc helper answered out of turn"};
        }
        if (!done) {
            gone_ = true;
            detail_ = reply.why;
            return {reply.error, {}};
        }
        detail_ = done->detail;
        return {done->error, std::move(done->response)};
    }

    std::unique_ptr<HelperProcess> helper_;
    Deadline deadline_;
    proto::Opened opened_;
    bool gone_ = false;  // killed or dead: nothing more is sent
    std::string detail_;
};

OpenedReader failure(RwError error, std::string reason) {
    return {nullptr, error, std::move(reason)};
}

// Where the helper may be: beside the program, then where it is installed.
std::vector<std::filesystem::path> helper_places() {
    const std::filesystem::path directory = libnfc::own_executable_directory();
    if (directory.empty()) {
        return {};
    }
    return {
        directory / VIRUDE_LIBNFC_HELPER,
        (directory / VIRUDE_LIBNFC_HELPER_INSTALLED_DIR / VIRUDE_LIBNFC_HELPER).lexically_normal()};
}

}  // namespace

std::filesystem::path libnfc_helper_path() {
    for (const std::filesystem::path& place : helper_places()) {
        std::error_code error;
        if (std::filesystem::is_regular_file(place, error)) {
            return place;
        }
    }
    return {};
}

namespace {

// The helper at `helper` (or where it is found), started; or why it could not be.
libnfc::StartedHelper start_libnfc_helper(const std::filesystem::path& helper) {
    const std::filesystem::path program = helper.empty() ? libnfc_helper_path() : helper;
    if (program.empty()) {
        std::string places;
        for (const std::filesystem::path& place : helper_places()) {
            places += (places.empty() ? " (looked for " : " and ") + place.string();
        }
        return {nullptr, std::string("libnfc helper ") + VIRUDE_LIBNFC_HELPER + " not found" +
                             (places.empty() ? "" : places + ")")};
    }
    libnfc::StartedHelper started = libnfc::start_helper(program);
    if (!started.process) {
        started.error = "libnfc helper " + program.string() + " did not start: " + started.error;
    }
    return started;
}

}  // namespace

FamilyListing list_libnfc_readers(const Deadline& deadline, const std::filesystem::path& helper) {
    FamilyListing listing;
    libnfc::StartedHelper started = start_libnfc_helper(helper);
    if (!started.process) {
        listing.problem = started.error;
        return listing;
    }
    HelperProcess& process = *started.process;
    const Reply reply = ask(process, *proto::encode(proto::ListRequest{}), deadline.cap(kListWait));
    if (!reply.message) {
        listing.problem = reply.why;
        return listing;
    }
    process.end(deadline.cap(kExitGrace));
    if (const auto* failed = std::get_if<proto::OpenFailed>(&*reply.message)) {
        listing.problem = "libnfc: " + failed->reason;
    } else if (const auto* listed = std::get_if<proto::DevicesListed>(&*reply.message)) {
        for (const proto::ListedDevice& device : listed->devices) {
            listing.readers.push_back({"libnfc:" + device.connstring,
                                       device.name.empty() ? "(could not be opened)" : device.name,
                                       device.connstring});
        }
    } else {
        listing.problem = "libnfc helper answered out of turn";
    }
    return listing;
}

bool libnfc_reader_built() {
    return true;
}

OpenedReader open_libnfc_reader(const std::optional<std::string>& connstring,
                                const Deadline& deadline, const std::filesystem::path& helper) {
    if (connstring && connstring->size() > proto::kMaxConnstring) {
        return failure(RwError::reader_setting, "libnfc connection string too long");
    }
    const std::optional<Bytes> request = proto::encode(proto::OpenRequest{connstring});
    if (!request) {
        return failure(RwError::reader_setting, "unusable libnfc connection string");
    }
    if (deadline.expired()) {
        return failure(RwError::reader_timeout, "the click ran out of time");
    }
    libnfc::StartedHelper started = start_libnfc_helper(helper);
    if (!started.process) {
        return failure(RwError::no_reader, started.error);
    }
    HelperProcess& process = *started.process;
    Reply reply = ask(process, *request, deadline.cap(kOpenWait));
    if (!reply.message) {
        return failure(reply.error,
                       reply.why + (deadline.expired() ? "; the click ran out of time" : ""));
    }
    if (auto* opened = std::get_if<proto::Opened>(&*reply.message)) {
        return {std::make_unique<LibnfcReader>(std::move(started.process), deadline,
                                               std::move(*opened)),
                RwError::none,
                {}};
    }
    process.end(deadline.cap(kExitGrace));
    if (const auto* failed = std::get_if<proto::OpenFailed>(&*reply.message)) {
        return failure(failed->error, failed->reason);
    }
    return failure(RwError::io_error, "libnfc helper answered out of turn");
}

}  // namespace felica
