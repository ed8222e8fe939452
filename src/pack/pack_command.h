// zrk-pack: the publisher's tool. "create" makes an update archive from a
// build folder; "check" gives the verdict the updater would give an archive.
#pragma once

#include <string>
#include <vector>

namespace zrk {

// Runs the command line `args` (UTF-8, element 0 the program) and returns
// the exit code: 0 done (the update would apply), 2 bad command line, 3 the
// build folder or archive would be refused, 5 something could not be read or
// written, 130 interrupted.
int run_pack(const std::vector<std::string>& args);

}  // namespace zrk
