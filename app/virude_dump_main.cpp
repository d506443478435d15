// virude-dump's entry point; everything else lives in dump_cli.cpp.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/dump_cli.h"
#include "app/standard_streams.h"
#include "card/trace.h"

int main(int argc, char** argv) {
    standard_streams::prepare();
    const std::vector<std::string> given = standard_streams::arguments(argc, argv);
    const std::vector<std::string_view> arguments(given.begin(), given.end());
    const auto parsed = dump_cli::parse_arguments(arguments);
    // The read command's trace lines go to standard error with --trace, nowhere otherwise.
    const card::TraceSinkScope trace(dump_cli::trace_sink(parsed, std::cerr));
    const int code = dump_cli::run(parsed, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
