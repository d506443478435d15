// A pseudo-terminal in raw mode: the emulator holds the master side, a program under test
// opens the slave side (/dev/pts/N) as if it were a serial port.
#pragma once

#include <string>

namespace pn532 {

class PseudoTerminal {
  public:
    // Opens a new pseudo-terminal; throws std::system_error when the system has none left.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Non-blocking master side; -1 once closed.
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // Closes both sides: the program on the slave side sees the line hang up.
    void close();

  private:
    int master_ = -1;
    // The emulator keeps the slave side open as well, so that the master side stays usable
    // (no EIO) between the sessions of the program under test.
    int slave_ = -1;
    std::string slave_path_;
};

}  // namespace pn532
