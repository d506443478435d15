// Linux: arguments and streams are bytes already.
#include "app/standard_streams.h"

namespace standard_streams {

std::vector<std::string> arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

void prepare() {}

}  // namespace standard_streams
