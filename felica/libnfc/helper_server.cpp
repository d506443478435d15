#include "felica/libnfc/helper_server.h"

#include <unistd.h>

#include <cerrno>

#include "felica/libnfc/helper_protocol.h"

namespace felica::libnfc {
namespace {

namespace proto = protocol;

bool write_all(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Reads more of the program's bytes; false at the end of the pipe.
bool read_more(int fd, Bytes& buffer) {
    Byte chunk[1024];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        buffer.insert(buffer.end(), chunk, chunk + got);
        return true;
    }
}

proto::Message transfer_reply(const ReaderBackend& reader, Transfer transfer) {
    proto::TransferDone done{transfer.error, {}, {}};
    if (transfer.ok()) {
        done.response = std::move(transfer.response);
    } else {
        done.detail = reader.failure_detail();
    }
    if (!proto::encode(done)) {  // an answer longer than any FeliCa frame
        return proto::TransferDone{RwError::malformed_response, {}, "libnfc: answer too long"};
    }
    return done;
}

class Session {
  public:
    Session(const DeviceOpener& open, const DeviceLister& list) : open_(open), list_(list) {}

    // The reply to `request`, or nothing when it is out of turn.
    std::optional<proto::Message> handle(const proto::Message& request) {
        if (std::holds_alternative<proto::ListRequest>(request)) {
            if (opened_ || !list_) {
                return std::nullopt;
            }
            opened_ = true;
            ended_ = true;
            proto::Message listed = list_();
            if (!proto::encode(listed)) {  // what the lister gave cannot be sent as it is
                return proto::OpenFailed{RwError::io_error, "libnfc listed what cannot be sent"};
            }
            return listed;
        }
        if (const auto* open = std::get_if<proto::OpenRequest>(&request)) {
            if (opened_) {
                return std::nullopt;
            }
            opened_ = true;
            OpenedReader opened = open_(open->connstring);
            if (!opened.backend) {
                ended_ = true;
                const RwError error =
                    opened.error == RwError::none ? RwError::no_reader : opened.error;
                return proto::OpenFailed{error, opened.reason};
            }
            reader_ = std::move(opened.backend);
            return proto::Opened{reader_->max_blocks_per_read(), reader_->name()};
        }
        if (!reader_) {
            return std::nullopt;
        }
        if (const auto* poll = std::get_if<proto::PollRequest>(&request)) {
            const std::chrono::microseconds timeout{poll->timeout_us};
            return transfer_reply(*reader_, reader_->poll(poll->frame, timeout));
        }
        if (const auto* exchange = std::get_if<proto::ExchangeRequest>(&request)) {
            const std::chrono::microseconds timeout{exchange->timeout_us};
            return transfer_reply(*reader_, reader_->exchange(exchange->frame, timeout));
        }
        if (std::holds_alternative<proto::CloseRequest>(request)) {
            reader_->close();
            reader_.reset();
            ended_ = true;
            return proto::Closed{};
        }
        return std::nullopt;
    }

    bool ended() const { return ended_; }

    ~Session() {
        if (reader_) {
            reader_->close();
        }
    }

  private:
    const DeviceOpener& open_;
    const DeviceLister& list_;
    std::unique_ptr<ReaderBackend> reader_;
    bool opened_ = false;
    bool ended_ = false;
};

}  // namespace

int serve_session(int requests, int replies, const DeviceOpener& open, const DeviceLister& list) {
    Session session(open, list);
    Bytes buffer;
    while (!session.ended()) {
        const proto::Parsed parsed = proto::parse_message(buffer);
        if (parsed.status == proto::Parsed::Status::malformed) {
            return kProtocolBroken;
        }
        if (parsed.status == proto::Parsed::Status::incomplete) {
            if (!read_more(requests, buffer)) {
                return kServedSession;  // the program went away: the reader closes
            }
            continue;
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(parsed.size));
        const std::optional<proto::Message> reply = session.handle(parsed.message);
        if (!reply) {
            return kProtocolBroken;
        }
        const std::optional<Bytes> bytes = proto::encode(*reply);
        if (!bytes || !write_all(replies, *bytes)) {
            return kPipeBroken;
        }
    }
    return kServedSession;
}

}  // namespace felica::libnfc
