// virude-dump's entry point; everything else lives in dump_cli.cpp.
#include <iostream>
#include <string_view>
#include <vector>

#include "app/dump_cli.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    const int code = dump_cli::run(arguments, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
