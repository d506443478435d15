// The helper process on POSIX systems: posix_spawn with two pipes, poll() for bounded waits,
// SIGKILL and waitpid.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "felica/libnfc/helper_process.h"

extern char** environ;

namespace felica::libnfc {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// After SIGKILL a helper is normally gone at once; one stuck in the kernel (a USB transfer)
// is left to a thread of its own to reap rather than holding up the click.
constexpr auto kReapWait = 50ms;
constexpr auto kExitPoll = 2ms;

int poll_ms(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// A write to a pipe whose reader is gone raises SIGPIPE, which would end the program: the
// signal is held back for this write and taken away again if the write raised it.
ssize_t write_without_sigpipe(int fd, ByteView bytes) {
    sigset_t pipe_signal;
    sigset_t old_mask;
    sigset_t pending;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    const int error = errno;
    if (wrote < 0 && error == EPIPE && !was_pending) {
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_signal, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    errno = error;
    return wrote;
}

// Moves `fd` above the standard descriptors, so that putting the helper's pipe ends in
// place as its 0 and 1 can never overwrite one with the other.
int above_standard(int fd) {
    if (fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

struct Pipe {
    int read = -1;
    int write = -1;

    bool open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        read = above_standard(fds[0]);
        write = above_standard(fds[1]);
        return read >= 0 && write >= 0;
    }
    void close() {
        for (int* fd : {&read, &write}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }
};

std::string describe(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    }
    return "ended";
}

class PosixHelper final : public HelperProcess {
  public:
    PosixHelper(pid_t pid, int to_helper, int from_helper)
        : pid_(pid), to_helper_(to_helper), from_helper_(from_helper) {}

    ~PosixHelper() override {
        end(0us);
        ::close(to_helper_);
        ::close(from_helper_);
    }

    Io write(ByteView bytes, std::chrono::microseconds wait) override {
        const auto until = Clock::now() + wait;
        while (!bytes.empty()) {
            const ssize_t wrote = write_without_sigpipe(to_helper_, bytes);
            if (wrote > 0) {
                bytes = bytes.subspan(static_cast<std::size_t>(wrote));
                continue;
            }
            if (wrote < 0 && errno == EPIPE) {
                return Io::closed;
            }
            if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
                return Io::closed;
            }
            if (Clock::now() >= until) {
                return Io::timed_out;
            }
            pollfd room{to_helper_, POLLOUT, 0};
            ::poll(&room, 1, poll_ms(until));
        }
        return Io::done;
    }

    Io read(Bytes& into, std::chrono::microseconds wait) override {
        const auto until = Clock::now() + wait;
        Byte chunk[1024];
        while (true) {
            const ssize_t got = ::read(from_helper_, chunk, sizeof chunk);
            if (got > 0) {
                into.insert(into.end(), chunk, chunk + got);
                return Io::done;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                return Io::closed;
            }
            if (Clock::now() >= until) {
                return Io::timed_out;
            }
            pollfd data{from_helper_, POLLIN, 0};
            ::poll(&data, 1, poll_ms(until));
        }
    }

    void end(std::chrono::microseconds grace) override {
        const auto until = Clock::now() + grace;
        while (!reaped() && Clock::now() < until) {
            std::this_thread::sleep_for(kExitPoll);
        }
        if (reaped()) {
            return;
        }
        ::kill(pid_, SIGKILL);
        const auto reap_until = Clock::now() + kReapWait;
        while (!reaped() && Clock::now() < reap_until) {
            std::this_thread::sleep_for(kExitPoll);
        }
        if (!reaped()) {
            std::thread([pid = pid_] { waitpid(pid, nullptr, 0); }).detach();
            fate_ = "killed, not yet gone";
            pid_ = -1;
        }
    }

    std::string fate() override {
        reaped();
        return fate_;
    }

  private:
    // True once the helper has ended and been reaped; reaps it when it just ended.
    bool reaped() {
        if (pid_ < 0) {
            return true;
        }
        int status = 0;
        const pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got == pid_ || (got < 0 && errno == ECHILD)) {
            fate_ = got == pid_ ? describe(status) : "ended";
            pid_ = -1;
            return true;
        }
        return false;
    }

    pid_t pid_;
    int to_helper_;
    int from_helper_;
    std::string fate_;
};

}  // namespace

StartedHelper start_helper(const std::filesystem::path& program) {
    Pipe requests;
    Pipe replies;
    if (!requests.open() || !replies.open()) {
        const std::string error = std::strerror(errno);
        requests.close();
        replies.close();
        return {nullptr, "no pipe: " + error};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requests.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, replies.write, STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // The helper starts with no signal blocked, whatever the spawning thread blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    const std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(requests.read);
    ::close(replies.write);
    if (spawned != 0) {
        ::close(requests.write);
        ::close(replies.read);
        return {nullptr, std::strerror(spawned)};
    }
    fcntl(requests.write, F_SETFL, O_NONBLOCK);
    fcntl(replies.read, F_SETFL, O_NONBLOCK);
    return {std::make_unique<PosixHelper>(pid, requests.write, replies.read), {}};
}

std::filesystem::path own_executable_directory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path();
}

}  // namespace felica::libnfc
