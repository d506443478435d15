// A pcscd of the tests' own: started in a private mount and network namespace that the test
// program enters first, so that its socket (/run/pcscd on a private tmpfs) and the vpcd
// ports (on a private loopback) are seen by nothing else on the machine and vanish with the
// program.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace pcscd_test {

struct Sandbox {
    bool entered = false;
    bool skip = false;    // namespaces cannot be had here (not root, or a chroot): tests skip
    std::string problem;  // why not entered
};

// The namespaces, entered as the program starts.
const Sandbox& sandbox();

class Pcscd {
  public:
    // Starts pcscd with one vpcd reader named `reader_name` (pcscd lists its two slots as
    // "<name> 00 00" and "<name> 00 01", on `port` and `port` + 1), or with no reader at all.
    // Returns once pcscd answers and lists its readers; throws std::runtime_error otherwise.
    explicit Pcscd(std::optional<std::string> reader_name, std::uint16_t port);
    ~Pcscd();
    Pcscd(const Pcscd&) = delete;
    Pcscd& operator=(const Pcscd&) = delete;

    // pcscd's own lines, for a failing test's output.
    std::string log() const;
    // Stops pcscd where it is (SIGSTOP), as a service that hangs; resume() lets it go on.
    void freeze();
    void resume();

  private:
    std::string directory_;
    int pid_ = -1;
};

// Waits until pcscd sees a card in `reader`; false when `limit` passed first.
bool wait_for_card(const std::string& reader, std::chrono::milliseconds limit);
// Waits until no program is connected to the card in `reader` any more.
bool wait_until_unused(const std::string& reader, std::chrono::milliseconds limit);

}  // namespace pcscd_test
