// The process's arguments as UTF-8 strings, one element per argument, element 0
// the program. An argument that cannot be converted becomes an empty string so
// that positions are kept.
#pragma once

#include <string>
#include <vector>

namespace zrk {

// From a C argument vector whose elements are meant to be UTF-8.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace zrk
