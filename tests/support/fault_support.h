// Linux only: the fault and crash tests preload a library into the updater.
// Runs of the real updater with faults put in its way from outside: libc calls
// that fail or stop the process (through a preloaded library built only for
// tests), a file size limit, and a small file system of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk::test {

// Which calls of one libc function a fault takes. `fn` is "rename", "fopen",
// "remove" or "unlinkat"; `pattern` is matched (fnmatch, "*" stops at "/")
// against the call's first path, and an empty one matches every call. Each
// rule counts the calls it matches from 1: calls `first` to `last` (0: no end)
// fail with `error`, or, when `error` is 0, the process stops for good at call
// `first`.
struct FaultRule {
  std::string fn;
  std::string pattern;
  int first = 1;
  int last = 0;
  int error = 0;
};

// Every matching call from the first on fails with `error`: a move or an open
// that never succeeds, however often it is tried.
FaultRule fail_always(const std::string& fn, const std::string& pattern, int error);
// The process stops at the `nth` matching call, before the call happens.
FaultRule pause_at(const std::string& fn, int nth, const std::string& pattern = "");

struct FaultPlan {
  std::vector<FaultRule> rules;
  // RLIMIT_FSIZE for the run in bytes, with SIGXFSZ ignored so that a write
  // past it fails with EFBIG instead of killing the process; 0 for none.
  long file_size_limit = 0;
};

// The updater with `args`, started in the background under `plan`; killed and
// reaped when the object goes away unless it was reaped before.
class FaultedRun {
 public:
  FaultedRun(const std::vector<std::string>& args, const FaultPlan& plan);
  ~FaultedRun();
  FaultedRun(const FaultedRun&) = delete;
  FaultedRun& operator=(const FaultedRun&) = delete;

  // Waits up to `seconds` for a pause rule to stop the process. False when it
  // ended, or ran on, instead.
  bool wait_until_paused(double seconds = 30.0);
  // The call it stopped at: the function name, a blank and the path.
  std::string paused_at() const;
  // SIGKILL, then reap.
  void kill();
  // Waits for the end; the exit code, or -1 when it did not exit normally.
  int wait();

 private:
  TempDir scratch_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// Runs the updater under `plan` to its end and returns its exit code.
int run_updater_with(const std::vector<std::string>& args, const FaultPlan& plan);

// A tmpfs of `bytes` mounted on `folder` (created when missing) for the
// object's life. The test fails when the mount cannot be made.
class ScopedTmpfs {
 public:
  ScopedTmpfs(std::filesystem::path folder, long bytes);
  ~ScopedTmpfs();
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

  bool active() const { return active_; }

 private:
  std::filesystem::path folder_;
  bool active_ = false;
};

}  // namespace zrk::test
