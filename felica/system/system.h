// What the program asks of the operating system outside the reader: environment variables
// and files, named in UTF-8 on every system. One source file per system implements it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace felica::system {

// The variable's value in UTF-8, or nothing when it is not set.
std::optional<std::string> environment_variable(const char* name);

// Opens the file `utf8_path` for reading in binary mode (as std::fopen does; null on failure,
// with errno set).
std::FILE* open_for_reading(const std::string& utf8_path);

}  // namespace felica::system
