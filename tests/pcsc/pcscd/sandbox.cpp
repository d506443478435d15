#include "pcscd/sandbox.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <thread>

#include "felica/pcsc/pcsc_system.h"
#include "tools/vpcd_card/reader_conf.h"

namespace pcscd_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string error_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool loopback_up() {
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = sock >= 0 && ioctl(sock, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = up && ioctl(sock, SIOCSIFFLAGS, &request) == 0;
    close(sock);
    return up;
}

// The readers pcscd lists, or nothing when it does not answer.
std::optional<std::size_t> reader_count() {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    felica::pcsc::system::list_readers(context, names);
    SCardReleaseContext(context);
    return names.size();
}

// Waits until the state pcscd reports for `reader` satisfies `wanted`. pcscd tells waiting
// programs of card events, but not always of a program letting go of the reader (the "in
// use" bits): each wait is therefore short, and a wait that sees no change looks again.
template <class Wanted>
bool wait_for_state(const std::string& reader, Wanted wanted, std::chrono::milliseconds limit) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        return false;
    }
    const auto deadline = Clock::now() + limit;
    std::vector<DWORD> states = {SCARD_STATE_UNAWARE};
    bool reached = false;
    for (auto left = limit; !reached && left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())) {
        const auto wait = std::min<std::chrono::milliseconds>(left, 100ms);
        const LONG rv = felica::pcsc::system::get_status_change(
            context, {reader}, static_cast<DWORD>(wait.count()), states);
        if (rv == SCARD_E_TIMEOUT) {
            states[0] = SCARD_STATE_UNAWARE;  // answered at once with the present state
            continue;
        }
        if (rv != SCARD_S_SUCCESS) {
            break;
        }
        reached = wanted(states[0]);
        states[0] &= ~SCARD_STATE_CHANGED;  // then wait for the next change
    }
    SCardReleaseContext(context);
    return reached;
}

// Enters the namespaces: unshare(CLONE_NEWNS | CLONE_NEWNET), a tmpfs on /run, loopback up,
// PCSCLITE_CSOCK_NAME pointed at the private socket.
Sandbox enter_sandbox() {
    Sandbox result;
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        result.skip = true;
        result.problem = error_text("unshare(CLONE_NEWNS | CLONE_NEWNET), which needs root");
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        // In a chroot "/" is no mount point and cannot be made private; a tmpfs on /run
        // would then show on the host too, so the tests skip rather than mount anything.
        result.skip = errno == EINVAL;
        result.problem = error_text("making / private (in a chroot, / is no mount point)");
    } else if (mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=755") != 0) {
        result.problem = error_text("tmpfs on /run");
    } else if (!loopback_up()) {
        result.problem = error_text("loopback up");
    } else {
        setenv("PCSCLITE_CSOCK_NAME", "/run/pcscd/pcscd.comm", 1);
        result.entered = true;
    }
    return result;
}

// Entered before main, while the program still has a single thread, as unshare() requires.
const Sandbox g_sandbox = enter_sandbox();

}  // namespace

const Sandbox& sandbox() {
    return g_sandbox;
}

Pcscd::Pcscd(std::optional<std::string> reader_name, std::uint16_t port) {
    char directory[] = "/run/virude-pcscd-XXXXXX";
    if (!mkdtemp(directory)) {
        throw std::runtime_error(error_text("mkdtemp"));
    }
    directory_ = directory;
    const std::string conf_dir = directory_ + "/reader.conf.d";
    mkdir(conf_dir.c_str(), 0755);
    std::ofstream(conf_dir + "/vpcd")
        << (reader_name
                ? vpcd_card::reader_conf_entry(*reader_name, port, vpcd_card::vpcd_driver_path())
                : std::string());

    const std::string log_path = directory_ + "/pcscd.log";
    pid_ = fork();
    if (pid_ == 0) {
        const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_RDONLY);
        if (log < 0 || null < 0) {
            _exit(126);
        }
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        // Foreground, errors only, readers from our directory alone.
        for (const char* path : {"pcscd", "/usr/sbin/pcscd"}) {
            execlp(path, "pcscd", "--foreground", "--error", "--config", conf_dir.c_str(),
                   static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    if (pid_ < 0) {
        throw std::runtime_error(error_text("fork"));
    }
    // pcscd opens its socket once its readers are set up: wait for it to list them.
    const std::size_t expected = reader_name ? 2 : 0;
    for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("pcscd ended at start:\n" + log());
        }
        if (reader_count() == expected) {
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    throw std::runtime_error("pcscd did not start in time:\n" + log());
}

Pcscd::~Pcscd() {
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        int status = 0;
        bool ended = false;
        for (const auto deadline = Clock::now() + 3s; !ended && Clock::now() < deadline;) {
            ended = waitpid(pid_, &status, WNOHANG) == pid_;
            std::this_thread::sleep_for(ended ? 0ms : 5ms);
        }
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

void Pcscd::freeze() {
    kill(pid_, SIGSTOP);
}

void Pcscd::resume() {
    kill(pid_, SIGCONT);
}

std::string Pcscd::log() const {
    std::ifstream in(directory_ + "/pcscd.log");
    return {std::istreambuf_iterator<char>(in), {}};
}

bool wait_for_card(const std::string& reader, std::chrono::milliseconds limit) {
    return wait_for_state(
        reader,
        [](DWORD state) {
            return (state & SCARD_STATE_PRESENT) != 0 && (state & SCARD_STATE_MUTE) == 0;
        },
        limit);
}

bool wait_until_unused(const std::string& reader, std::chrono::milliseconds limit) {
    return wait_for_state(
        reader,
        [](DWORD state) { return (state & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) == 0; },
        limit);
}

}  // namespace pcscd_test
