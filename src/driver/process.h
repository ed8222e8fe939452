// The game's process: waiting for it to end, and starting the game again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
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

// When a process was created, as the host counts time: clock ticks since boot
// on Linux, 100-nanosecond units since 1601 on Windows.
using ProcessStart = std::uint64_t;

// Stands for a start that the host could not tell: no process is later.
inline constexpr ProcessStart kUnknownStart = std::numeric_limits<ProcessStart>::max();

// False for a process created after `updater`: it cannot have started the
// updater, so the id it holds was the game's and is now another process's.
// One created in the same tick as the updater may still be the game.
bool may_have_started_updater(ProcessStart process, ProcessStart updater);

// When the process `pid` was created; nothing when the host cannot tell (no
// such process, or no right to ask).
std::optional<ProcessStart> process_start(std::int32_t pid);

// When this process was created; kUnknownStart when the host cannot tell.
ProcessStart own_start();

// Blocks until the process `pid` ends or `limit_ms` passes. A process
// created after `updater_start` counts as gone, with the error that an id
// naming no process gets. Logs nothing.
ProcessWait wait_for_process(std::int32_t pid, int limit_ms, ProcessStart updater_start);

// Logs "zrk-update: waiting for pid %ld", waits for the process, and logs why
// the run may not go on. True: the game is gone (or never existed) and the
// run may go on. False: give up; the reason is already logged. Tests shorten
// the limit, and stand in for the updater's start where they started the
// game themselves.
bool wait_for_game(WritableFile* log, std::int32_t pid, int limit_ms = kGameWaitSeconds * 1000,
                   ProcessStart updater_start = own_start());

// Starts `relaunch` with no arguments in the folder `install`, with the
// updater's environment and none of its open files, and does not wait for it.
// Empty when the system created the process; filename_too_long when `install`
// is deeper than the host can start a program in; otherwise the host's error.
std::error_code start_program(const std::filesystem::path& relaunch,
                              const std::filesystem::path& install);

}  // namespace zrk
