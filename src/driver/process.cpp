#include "driver/process.h"

#include "driver/update_log.h"

namespace zrk {

bool may_have_started_updater(ProcessStart process, ProcessStart updater) {
  return process <= updater;
}

bool wait_for_game(WritableFile* log, std::int32_t pid, int limit_ms, ProcessStart updater_start) {
  const long shown = static_cast<long>(pid);
  log_line(log, "zrk-update: waiting for pid %ld", shown);
  const ProcessWait wait = wait_for_process(pid, limit_ms, updater_start);
  const auto error = static_cast<unsigned long>(wait.error.value());
  switch (wait.outcome) {
    case WaitOutcome::kEnded:
      return true;
    case WaitOutcome::kGone:
      log_line(log, "pid %ld is gone (error %lu)", shown, error);
      return true;
    case WaitOutcome::kCannotOpen:
      log_line(log, "pid %ld cannot be opened (error %lu), not installing", shown, error);
      return false;
    case WaitOutcome::kStillRunning:
      break;
  }
  log_line(log, "pid %ld is still running after %d s", shown, limit_ms / 1000);
  return false;
}

}  // namespace zrk
