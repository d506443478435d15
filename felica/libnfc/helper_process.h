// A helper program run as a child process: requests go to its standard input, replies come
// from its standard output, every wait is bounded, and it can be killed at any time. What
// differs between systems lives in one file per system (helper_process_posix.cpp).
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "felica/types.h"

namespace felica::libnfc {

class HelperProcess {
  public:
    enum class Io {
        done,
        timed_out,
        closed,  // the helper closed its end of the pipe (it ended, or was killed)
    };

    // Kills and reaps the helper if it still runs.
    virtual ~HelperProcess() = default;

    // Writes all of `bytes`, waiting at most `wait` for room in the pipe.
    virtual Io write(ByteView bytes, std::chrono::microseconds wait) = 0;
    // Appends to `into` what the helper sent (at least one byte) within `wait`.
    virtual Io read(Bytes& into, std::chrono::microseconds wait) = 0;
    // Gives the helper `grace` to end by itself, then kills it; reaps it either way. Returns
    // at once when the helper has ended; never waits longer than `grace` plus a few ms.
    virtual void end(std::chrono::microseconds grace) = 0;
    // How the helper ended ("exited with status 0", "killed by signal 6 (Aborted)");
    // empty while it runs or when that is not known yet.
    virtual std::string fate() = 0;
};

struct StartedHelper {
    std::unique_ptr<HelperProcess> process;  // null on failure
    std::string error;                       // why it could not be started
};

// Starts `program` with no arguments and the program's environment; its standard error is
// the program's.
StartedHelper start_helper(const std::filesystem::path& program);

// The directory of the running program's executable; empty when it cannot be told.
std::filesystem::path own_executable_directory();

}  // namespace felica::libnfc
