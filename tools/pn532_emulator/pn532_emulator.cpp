#include "tools/pn532_emulator/pn532_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

namespace pn532 {
namespace {

constexpr Byte kWakeUp = 0x55;
// How long a write may wait for room in the line before the bytes are given up (nobody
// reads the slave side between sessions; a full line must not hang the emulator).
constexpr int kWriteWaitMs = 1000;

// Offset of LCS and DCS in an encoded frame.
std::size_t length_checksum_at(ByteView frame) {
    return frame.size() > 4 && frame[3] == 0xFF && frame[4] == 0xFF ? 7 : 4;
}

// The answer with bit 7 of its status byte (after TFI and the answer code) set.
Bytes with_nad_flag(Bytes data) {
    if (data.size() < 3) {
        data.resize(3);
    }
    data[2] |= 0x80;
    return data;
}

}  // namespace

Emulator::Emulator(EmulatorSetup setup)
    : device_path_(port_.slave_path()),
      silent_(setup.silent),
      answer_delay_(setup.answer_delay),
      faults_(std::move(setup.faults)) {
    chip_.place_card(std::move(setup.card));
    if (pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    thread_ = std::thread([this] { run(); });
}

Emulator::~Emulator() {
    const Byte stop = 1;
    (void)!write(stop_pipe_[1], &stop, 1);
    thread_.join();
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

void Emulator::place_card(std::shared_ptr<felica::SimulatedCard> card) {
    const std::lock_guard lock(mutex_);
    chip_.place_card(std::move(card));
}

void Emulator::set_silent(bool silent) {
    const std::lock_guard lock(mutex_);
    silent_ = silent;
}

void Emulator::set_answer_delay(std::chrono::milliseconds delay) {
    const std::lock_guard lock(mutex_);
    answer_delay_ = delay;
}

void Emulator::add_fault(FaultRule rule) {
    const std::lock_guard lock(mutex_);
    faults_.push_back(rule);
}

std::vector<Byte> Emulator::commands() const {
    const std::lock_guard lock(mutex_);
    return commands_;
}

int Emulator::count(Byte command) const {
    const std::lock_guard lock(mutex_);
    const auto found = counts_.find(command);
    return found == counts_.end() ? 0 : found->second;
}

int Emulator::faults_fired() const {
    const std::lock_guard lock(mutex_);
    return faults_fired_;
}

bool Emulator::asleep() const {
    const std::lock_guard lock(mutex_);
    return asleep_;
}

bool Emulator::port_closed() const {
    const std::lock_guard lock(mutex_);
    return port_closed_;
}

void Emulator::run() {
    Byte buffer[4096];
    while (true) {
        pollfd fds[2] = {{port_.master(), POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t got = read(port_.master(), buffer, sizeof buffer);
            if (got > 0) {
                receive(ByteView(buffer, static_cast<std::size_t>(got)));
            }
        }
        if (port_closed()) {
            return;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN)) {
            // Cannot happen while the emulator holds the slave side open; do not spin.
            if (!pause(std::chrono::milliseconds(10))) {
                return;
            }
        }
    }
}

void Emulator::receive(ByteView bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (asleep_) {
            // Asleep, the chip hears nothing until the wake-up byte; the rest of the
            // preamble is skipped by the decoder like any byte before a start code.
            const auto wake = std::find(bytes.begin(), bytes.end(), kWakeUp);
            if (wake == bytes.end()) {
                return;
            }
            asleep_ = false;
            bytes = bytes.subspan(static_cast<std::size_t>(wake - bytes.begin()));
        }
    }
    decoder_.feed(bytes);
    while (const std::optional<HostFrame> frame = decoder_.next()) {
        handle(*frame);
        const std::lock_guard lock(mutex_);
        if (asleep_ || port_closed_) {
            decoder_.clear();
            return;
        }
    }
}

void Emulator::handle(const HostFrame& frame) {
    switch (frame.kind) {
        case HostFrame::Kind::ack:           // an abort: every command here has finished
        case HostFrame::Kind::bad_checksum:  // the chip drops a frame it cannot trust
            return;
        case HostFrame::Kind::nack:
            send(last_sent_);
            return;
        case HostFrame::Kind::information:
            break;
    }
    if (frame.data.size() < 2 || frame.data[0] != kHostToChip) {
        return;
    }
    const Byte command = frame.data[1];
    std::optional<FaultRule> fault;
    ChipAnswer answer;
    std::chrono::milliseconds delay{0};
    {
        const std::lock_guard lock(mutex_);
        commands_.push_back(command);
        const int occurrence = ++counts_[command];
        if (silent_) {
            return;
        }
        const auto rule = std::find_if(faults_.begin(), faults_.end(), [&](const FaultRule& r) {
            return r.command == command && r.occurrence == occurrence;
        });
        if (rule != faults_.end()) {
            fault = *rule;
            faults_.erase(rule);
            ++faults_fired_;
        }
        if (fault && fault->fault == Fault::no_ack) {
            return;
        }
    }
    send(kAckFrame);
    {
        const std::lock_guard lock(mutex_);
        if (fault && fault->fault == Fault::close_port) {
            port_.close();
            port_closed_ = true;
            return;
        }
        answer = chip_.handle(frame.data);
        delay = answer_delay_;
        if (command != kInDataExchange) {
            more_information_ = false;
        } else if (more_information_ || (fault && fault->fault == Fault::more_information)) {
            more_information_ = true;
            answer = {ChipAnswer::Kind::answer,
                      {kChipToHost, kInDataExchange + 1, kStatusMoreInformation}};
        }
    }

    Bytes out = answer.kind == ChipAnswer::Kind::answer
                    ? encode_frame(answer.data)
                    : Bytes(std::begin(kErrorFrame), std::end(kErrorFrame));
    bool send_answer = delay.count() == 0 || pause(delay);
    if (fault) {
        switch (fault->fault) {
            case Fault::no_ack:
            case Fault::close_port:
            case Fault::more_information:
                break;
            case Fault::nad_status:
                out = encode_frame(with_nad_flag(answer.data));
                break;
            case Fault::drop_reply:
                send_answer = false;
                break;
            case Fault::late_reply:
                send_answer = send_answer && pause(fault->delay);
                break;
            case Fault::bad_length_checksum:
                ++out[length_checksum_at(out)];
                break;
            case Fault::bad_data_checksum:
                ++out[out.size() - 2];
                break;
            case Fault::error_frame:
                out.assign(std::begin(kErrorFrame), std::end(kErrorFrame));
                break;
            case Fault::truncated_reply:
                out.resize(out.size() / 2);
                break;
        }
    }
    if (answer.sleeps_after) {
        // Asleep before the answer leaves: the host may act on the answer at once (and a
        // test may look at the chip) before this thread runs again.
        const std::lock_guard lock(mutex_);
        asleep_ = true;
    }
    if (send_answer) {
        send(out);
        last_sent_ = out;
    }
}

void Emulator::send(ByteView bytes) {
    while (!bytes.empty()) {
        const ssize_t wrote = write(port_.master(), bytes.data(), bytes.size());
        if (wrote > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(wrote));
            continue;
        }
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{port_.master(), POLLOUT, 0}, {stop_pipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, kWriteWaitMs) > 0 && (fds[0].revents & POLLOUT) &&
                fds[1].revents == 0) {
                continue;
            }
        }
        return;  // the line is gone, full for too long, or the emulator is stopping
    }
}

bool Emulator::pause(std::chrono::milliseconds delay) {
    pollfd stop{stop_pipe_[0], POLLIN, 0};
    return ::poll(&stop, 1, static_cast<int>(delay.count())) == 0;
}

}  // namespace pn532
