#include "tools/vpcd_card/vpcd_card.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vpcd_card {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kConnectRetry = 10ms;

constexpr Byte kPowerOn = 0x01;
constexpr Byte kReset = 0x02;
constexpr Byte kGetAtr = 0x04;

// The driver sends a message's length and its payload in two writes: without these, every
// message would wait for the delayed ACK of the one before (40 ms each).
void no_delays(int socket) {
    const int on = 1;
    (void)setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    (void)setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool read_exact(int socket, Byte* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = recv(socket, buffer + done, size - done, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// One message: nothing when the link went down.
std::optional<Bytes> receive(int socket) {
    no_delays(socket);  // TCP_QUICKACK does not stick: set it before every read
    Byte header[2];
    if (!read_exact(socket, header, sizeof header)) {
        return std::nullopt;
    }
    Bytes payload((header[0] << 8) | header[1]);
    if (!read_exact(socket, payload.data(), payload.size())) {
        return std::nullopt;
    }
    return payload;
}

bool send_message(int socket, ByteView payload) {
    Bytes message(2 + payload.size());
    message[0] = static_cast<Byte>(payload.size() >> 8);
    message[1] = static_cast<Byte>(payload.size() & 0xFF);
    std::copy(payload.begin(), payload.end(), message.begin() + 2);
    std::size_t done = 0;
    while (done < message.size()) {
        const ssize_t sent =
            send(socket, message.data() + done, message.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

int connect_once(std::uint16_t port) {
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(sock);
        return -1;
    }
    no_delays(sock);
    return sock;
}

}  // namespace

VpcdCard::VpcdCard(ReaderModel model, std::shared_ptr<felica::SimulatedCard> card,
                   std::uint16_t port, ReaderOptions options)
    : port_(port),
      atr_(card_atr(model)),
      reader_(make_virtual_reader(model, std::move(card), options)) {
    if (pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    thread_ = std::thread([this] { run(); });
}

VpcdCard::~VpcdCard() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wanted_ = false;
        changed_.notify_all();
    }
    wake();
    thread_.join();
    close(wake_pipe_[0]);
    close(wake_pipe_[1]);
}

void VpcdCard::wake() {
    const Byte byte = 1;
    (void)!write(wake_pipe_[1], &byte, 1);
}

void VpcdCard::insert() {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    changed_.notify_all();
}

void VpcdCard::remove() {
    {
        std::lock_guard lock(mutex_);
        wanted_ = false;
        changed_.notify_all();
    }
    wake();
}

void VpcdCard::arm(LinkFault fault) {
    std::lock_guard lock(mutex_);
    fault_ = fault;
    stats_.apdus = 0;
    stats_.fault_done = false;
    changed_.notify_all();
}

void VpcdCard::replace_card(std::shared_ptr<felica::SimulatedCard> card) {
    std::lock_guard lock(mutex_);
    reader_->set_card(std::move(card));
}

CardStats VpcdCard::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

bool VpcdCard::wait_until(const std::function<bool(const CardStats&)>& condition,
                          std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return condition(stats_); });
}

bool VpcdCard::pause(std::chrono::microseconds delay) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, delay, [this] { return stopping_ || !wanted_; });
}

void VpcdCard::run() {
    while (true) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || wanted_; });
            if (stopping_) {
                return;
            }
        }
        const int sock = connect_once(port_);
        if (sock < 0) {
            (void)pause(kConnectRetry);  // the driver does not listen yet
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            stats_.connected = true;
            changed_.notify_all();
        }
        serve(sock);
        close(sock);
        std::lock_guard lock(mutex_);
        stats_.connected = false;
        changed_.notify_all();
    }
}

void VpcdCard::serve(int socket) {
    while (true) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents) {
            Byte drain[16];
            while (read(wake_pipe_[0], drain, sizeof drain) > 0) {
            }
            std::lock_guard lock(mutex_);
            if (stopping_ || !wanted_) {
                return;
            }
        }
        if (!fds[0].revents) {
            continue;
        }
        const std::optional<Bytes> message = receive(socket);
        if (!message) {
            return;  // the driver closed the link
        }
        if (message->size() == 1) {
            const Byte control = (*message)[0];
            if (control == kGetAtr) {
                if (!send_message(socket, atr_)) {
                    return;
                }
                std::lock_guard lock(mutex_);
                ++stats_.atr_requests;
                changed_.notify_all();
            } else if (control == kPowerOn || control == kReset) {
                std::lock_guard lock(mutex_);
                reader_->power_up();
                ++stats_.power_ups;
                changed_.notify_all();
            }
            continue;  // power off needs nothing
        }

        LinkFault fault;
        ReaderReply reply;
        {
            std::lock_guard lock(mutex_);
            const int index = stats_.apdus++;
            if (fault_.kind != LinkFault::Kind::none &&
                (fault_.at == index ||
                 (fault_.kind == LinkFault::Kind::slow && fault_.at < index))) {
                fault = fault_;
            }
            if (fault.kind == LinkFault::Kind::leave) {
                wanted_ = false;
                stats_.fault_done = true;
                changed_.notify_all();
                return;
            }
            reply = reader_->respond(*message);
            stats_.refused = reader_->refused();
            changed_.notify_all();
        }
        switch (fault.kind) {
            case LinkFault::Kind::bad_status:
                reply = {{0x6F, 0x00}, {}};
                break;
            case LinkFault::Kind::truncated:
                reply = {{reply.response.empty() ? Byte{0x90} : reply.response.front()}, {}};
                break;
            case LinkFault::Kind::stall:
            case LinkFault::Kind::slow:
                reply.wait += fault.delay;
                break;
            default:
                break;
        }
        if (reply.wait.count() > 0 && !pause(reply.wait)) {
            return;  // taken away while the reader waited
        }
        if (!send_message(socket, reply.response)) {
            return;
        }
        if (fault.kind != LinkFault::Kind::none) {
            std::lock_guard lock(mutex_);
            stats_.fault_done = true;
            changed_.notify_all();
        }
    }
}

}  // namespace vpcd_card
