#include "support/program_run.h"

namespace test_support {

ProgramRun run_dump(const std::optional<std::string>& reader,
                    const std::vector<std::string>& arguments, StandardOutput output) {
    std::vector<std::string> argv = {VIRUDE_DUMP_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> environment;
    if (reader) {
        environment["VIRUDE_READER"] = *reader;
    }
    return run_program(argv, environment, output);
}

}  // namespace test_support
