// Runs a program to its end with a chosen environment and collects what it printed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// Where the program's standard output goes: collected, a device that is always full, or
// nowhere (the descriptor closed).
enum class StandardOutput { collected, full_device, closed };

struct ProgramRun {
    int exit_code = -1;  // -1: it did not start or did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` with this process's environment minus every LIBNFC_* and VIRUDE_READER
// variable (so that the caller's settings cannot leak in), plus `environment`.
ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment,
                       StandardOutput output = StandardOutput::collected);

// Runs the built virude-dump with VIRUDE_READER set to `reader` (left unset without one).
ProgramRun run_dump(const std::optional<std::string>& reader,
                    const std::vector<std::string>& arguments = {},
                    StandardOutput output = StandardOutput::collected);

}  // namespace test_support
