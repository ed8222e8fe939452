// One update run, from the UTF-8 command line to the process exit code.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "driver/options.h"
#include "fs/writable_file.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

// Parses the arguments, opens the log in "<install>/.update" and applies the
// update. Returns the exit code. A bad command line leaves no trace on disk;
// a log that cannot be opened gives 5 with nothing written. The swap pauses
// `move_retry_delay` between the attempts at a move.
int run_update(const std::vector<std::string>& args,
               std::chrono::milliseconds move_retry_delay = kMoveRetryDelay);

// Runs the stages in their fixed order, swapping through `fs`, and returns
// the exit code. Every outcome is logged to `log` before it returns.
int apply_update(const UpdateOptions& options, const std::filesystem::path& update_dir,
                 WritableFile* log, ZrkUpdFs* fs);

}  // namespace zrk
