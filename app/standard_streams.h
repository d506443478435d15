// The command line and the standard streams as virude-dump needs them on every system: the
// arguments in UTF-8, and standard output and error passing UTF-8 bytes and LF line ends
// unchanged, so that scripts get the same bytes on Linux and Windows. One source file per
// system implements it.
#pragma once

#include <string>
#include <vector>

namespace standard_streams {

// The arguments after the program name, in UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// Puts standard output and error in the state described above; call before writing.
void prepare();

}  // namespace standard_streams
