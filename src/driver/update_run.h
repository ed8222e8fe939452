// One update run, from the UTF-8 command line to the process exit code.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "driver/options.h"
#include "fs/writable_file.h"

namespace zrk {

// Exit codes of a run.
inline constexpr int kExitApplied = 0;
inline constexpr int kExitBadCommandLine = 1;
inline constexpr int kExitGameStillRunning = 2;
inline constexpr int kExitArchiveRefused = 3;
inline constexpr int kExitSwapFailed = 4;
inline constexpr int kExitCannotWrite = 5;

// Parses the arguments, opens the log in "<install>/.update" and applies the
// update. Returns the exit code. A bad command line leaves no trace on disk;
// a log that cannot be opened gives 5 with nothing written.
int run_update(const std::vector<std::string>& args);

// Runs the stages in their fixed order and returns the exit code. Every
// outcome is logged to `log` before it returns.
int apply_update(const UpdateOptions& options, const std::filesystem::path& update_dir,
                 WritableFile* log);

}  // namespace zrk
