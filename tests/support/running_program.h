// A program run in the background (Linux): what it prints so far, Ctrl-C, and its end. For the
// loops of virude-dump (--wait, --watch), which a test drives while they run.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace test_support {

class RunningProgram {
  public:
    // Starts `argv` as run_program does (the same environment), standard input empty.
    RunningProgram(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& environment);
    // Kills the program if it still runs.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // What it has printed on standard output so far.
    std::string out() const;
    // Waits until `condition` holds for its standard output; false when `limit` passed first.
    bool wait_for_output(const std::function<bool(const std::string&)>& condition,
                         std::chrono::milliseconds limit) const;
    // Sends SIGINT, as Ctrl-C in a terminal does.
    void interrupt() const;
    // Waits at most `limit` for the program to end (then kills it: exit code -1) and returns
    // what it printed.
    ProgramRun finish(std::chrono::milliseconds limit);

  private:
    std::string out_path_;
    std::string err_path_;
    int pid_ = -1;
    bool ended_ = false;
};

}  // namespace test_support
