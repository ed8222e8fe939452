// The command line: --install <dir> --archive <file> --pid <pid> --relaunch <exe>.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zrk {

struct UpdateOptions {
  std::filesystem::path install;   // the game's install folder
  std::filesystem::path archive;   // the update archive
  std::filesystem::path relaunch;  // the program to start at the end
  std::int32_t pid = 0;            // the running game's process id
};

inline constexpr char kUsage[] =
    "usage: zrk-update --install <dir> --archive <file> --pid <pid> --relaunch <exe>";

// Fills `options` from the UTF-8 argument list (element 0, the program, is not
// looked at). Returns true when all four options are present and valid;
// otherwise false with `error` (unless null) set to the usage line or the
// first failure.
// Paths are kept exactly as written.
bool parse_options(const std::vector<std::string>& args, UpdateOptions* options,
                   std::string* error);

}  // namespace zrk
