// The game's process: waiting for it to end, and starting the game again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "fs/writable_file.h"

namespace zrk {

inline constexpr int kGameWaitSeconds = 60;

// What came of waiting for a process.
enum class WaitOutcome {
  kEnded,         // it ended within the limit
  kGone,          // no process has that id: it ended before the wait
  kCannotOpen,    // the id names something that cannot be waited for
  kStillRunning,  // the limit passed, or the wait itself failed
};

struct ProcessWait {
  WaitOutcome outcome = WaitOutcome::kStillRunning;
  // kGone and kCannotOpen: the host's answer to opening the process.
  std::error_code error;
};

// Blocks until the process `pid` ends or `limit_ms` passes. Logs nothing.
ProcessWait wait_for_process(std::int32_t pid, int limit_ms);

// Logs "zrk-update: waiting for pid %ld", waits for the process, and logs why
// the run may not go on. True: the game is gone (or never existed) and the
// run may go on. False: give up; the reason is already logged. Tests shorten
// the limit.
bool wait_for_game(WritableFile* log, std::int32_t pid, int limit_ms = kGameWaitSeconds * 1000);

// Starts `relaunch` with no arguments in the folder `install`, with the
// updater's environment and none of its open files, and does not wait for it.
// Empty when the system created the process; filename_too_long when `install`
// is deeper than the host can start a program in; otherwise the host's error.
std::error_code start_program(const std::filesystem::path& relaunch,
                              const std::filesystem::path& install);

}  // namespace zrk
