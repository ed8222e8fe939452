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

// Which calls of one libc function a fault takes. `fn` is "rename", "link", "fopen",
// "open", "remove", "unlinkat", "posix_spawn", or a flush: "fsync",
// "fdatasync" or "syncfs". `pattern` is matched (fnmatch, "*" stops at "/")
// against the call's first path, or a flushed descriptor's path, and an empty
// one matches every call. Each rule counts the calls it matches from 1: calls
// `first` to `last` (0: no end) fail with `error`, or, when `error` is 0, the
// process stops for good at call `first`.
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
  // A file to which every call the library stands before is appended as
  // "fn path", before any rule acts on it; empty for none.
  std::filesystem::path trace;
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

// Why power cuts cannot be staged here (not root, no loop device, no
// mkfs.ext4 or e2fsck); empty when they can.
std::string power_cut_unavailable();

// An ext4 file system in an image file, mounted through a loop device for the
// object's life; its folder `sub` (made when missing) is bind-mounted on
// `folder`, so the file system's own files stay out of the tree under test.
class ScopedExt4 {
 public:
  // With `bytes` > 0 the image is made afresh as an empty file system of that
  // size; otherwise it is checked and repaired (e2fsck -fy) as a machine does
  // when it starts after a power cut. The test fails when that, or a mount,
  // fails.
  ScopedExt4(std::filesystem::path image, std::filesystem::path folder, const std::string& sub,
             long bytes = 0);
  ~ScopedExt4();
  ScopedExt4(const ScopedExt4&) = delete;
  ScopedExt4& operator=(const ScopedExt4&) = delete;

  bool active() const { return active_; }
  // A folder of the file system outside `folder`, for the test's own use.
  std::filesystem::path spare() const { return root_; }

  // What a power cut now would leave: commits the journal through an fsync of
  // a file of its own, as the kernel's periodic commit does, then copies the
  // image as the device holds it into `copy`. Nothing else is flushed.
  bool cut_power(const std::filesystem::path& copy) const;

 private:
  bool mount_all(const std::string& sub);

  std::filesystem::path image_;
  std::filesystem::path folder_;
  std::filesystem::path root_;
  bool mounted_ = false;
  bool active_ = false;
};

}  // namespace zrk::test
