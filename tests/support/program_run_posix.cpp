#include "support/program_run.h"
#include "support/running_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace test_support {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> child_environment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable = *entry;
        if (variable.starts_with("LIBNFC_") || variable.starts_with("VIRUDE_READER=")) {
            continue;
        }
        variables.emplace_back(variable);
    }
    for (const auto& [name, value] : extra) {
        variables.push_back(name + "=" + value);
    }
    return variables;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& environment,
                       StandardOutput output) {
    // Named after this process so that test programs run in parallel keep apart.
    const std::string stem = testing::TempDir() + "program_run_" + std::to_string(getpid());
    const std::string out_path = stem + ".out";
    const std::string err_path = stem + ".err";

    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = child_environment(environment);
    std::vector<char*> argument_pointers = pointers(arguments);
    std::vector<char*> variable_pointers = pointers(variables);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    switch (output) {
        case StandardOutput::collected:
            posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            break;
        case StandardOutput::full_device:
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
            break;
        case StandardOutput::closed:
            posix_spawn_file_actions_addclose(&actions, 1);
            break;
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, arguments[0].c_str(), &actions, nullptr,
                                    argument_pointers.data(), variable_pointers.data());
    posix_spawn_file_actions_destroy(&actions);

    ProgramRun run;
    int status = 0;
    if (spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        run.exit_code = WEXITSTATUS(status);
    }
    run.out = slurp(out_path);
    run.err = slurp(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return run;
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::map<std::string, std::string>& environment) {
    static std::atomic<int> started = 0;
    const std::string stem = testing::TempDir() + "running_program_" + std::to_string(getpid()) +
                             "_" + std::to_string(started++);
    out_path_ = stem + ".out";
    err_path_ = stem + ".err";
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = child_environment(environment);
    std::vector<char*> argument_pointers = pointers(arguments);
    std::vector<char*> variable_pointers = pointers(variables);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t child = -1;
    if (posix_spawn(&child, arguments[0].c_str(), &actions, nullptr, argument_pointers.data(),
                    variable_pointers.data()) == 0) {
        pid_ = child;
    }
    posix_spawn_file_actions_destroy(&actions);
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::remove(out_path_.c_str());
    std::remove(err_path_.c_str());
}

std::string RunningProgram::out() const {
    return slurp(out_path_);
}

bool RunningProgram::wait_for_output(const std::function<bool(const std::string&)>& condition,
                                     std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition(out())) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void RunningProgram::interrupt() const {
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGINT);
    }
}

ProgramRun RunningProgram::finish(std::chrono::milliseconds limit) {
    ProgramRun run;
    if (pid_ > 0 && !ended_) {
        const auto until = std::chrono::steady_clock::now() + limit;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid_, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (done == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        } else if (done == pid_ && WIFEXITED(status)) {
            run.exit_code = WEXITSTATUS(status);
        }
        ended_ = true;
    }
    run.out = slurp(out_path_);
    run.err = slurp(err_path_);
    return run;
}

}  // namespace test_support
