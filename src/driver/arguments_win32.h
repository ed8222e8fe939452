// The Windows entries' arguments: the wide command line split by the system's
// own rules.
#pragma once

#include <string>
#include <vector>

namespace zrk {

// The arguments of `command_line` as UTF-8 strings, element 0 the program. An
// argument that does not convert (an unpaired surrogate) becomes an empty
// string, as in utf8_arguments(argc, argv), so that positions are kept.
std::vector<std::string> utf8_arguments(const wchar_t* command_line);

}  // namespace zrk
