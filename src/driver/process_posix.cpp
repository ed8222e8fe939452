// The game's process on POSIX hosts: a pidfd gives the same "wait on a handle
// with a time limit" that Windows has; posix_spawn reports a program that
// cannot be executed, which a plain fork/exec would hide.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>

#include "driver/process.h"
#include "driver/update_log.h"

extern char** environ;

namespace zrk {

namespace {

using Clock = std::chrono::steady_clock;

int open_pidfd(std::int32_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// True when the pidfd became readable, i.e. the process ended, within the limit.
bool wait_on_pidfd(int pidfd, int limit_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  pollfd entry{pidfd, POLLIN, 0};
  for (;;) {
    const int ready = poll(&entry, 1, remaining_ms(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A zombie has ended; only its parent has not collected it yet. The state is
// the field after the name, which is in parentheses and may hold anything.
bool is_zombie(std::int32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text{std::istreambuf_iterator<char>(stat), std::istreambuf_iterator<char>()};
  const size_t name_end = text.rfind(')');
  return name_end != std::string::npos && text.compare(name_end, 3, ") Z") == 0;
}

bool has_ended(std::int32_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  return is_zombie(pid);
}

// Without pidfd_open (older kernels, or a sandbox that refuses it): look at
// the pid every few milliseconds.
bool wait_by_probing(std::int32_t pid, int limit_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    if (has_ended(pid)) return true;
    const int left = remaining_ms(deadline);
    if (left == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(left < 25 ? left : 25));
  }
}

void log_gone(WritableFile* log, std::int32_t pid) {
  log_line(log, "pid %ld is gone (error %lu)", static_cast<long>(pid),
           static_cast<unsigned long>(ESRCH));
}

bool give_up_still_running(WritableFile* log, std::int32_t pid, int limit_ms) {
  log_line(log, "pid %ld is still running after %d s", static_cast<long>(pid), limit_ms / 1000);
  return false;
}

}  // namespace

bool wait_for_game(WritableFile* log, std::int32_t pid, int limit_ms) {
  log_line(log, "zrk-update: waiting for pid %ld", static_cast<long>(pid));
  const int pidfd = open_pidfd(pid);
  if (pidfd < 0) {
    const int error = errno;
    if (error == ESRCH) {
      log_gone(log, pid);
      return true;
    }
    if (error == ENOSYS || error == EPERM) {
      if (kill(pid, 0) != 0 && errno == ESRCH) {
        log_gone(log, pid);
        return true;
      }
      return wait_by_probing(pid, limit_ms) || give_up_still_running(log, pid, limit_ms);
    }
    log_line(log, "pid %ld cannot be opened (error %lu), not installing", static_cast<long>(pid),
             static_cast<unsigned long>(error));
    return false;
  }
  const bool ended = wait_on_pidfd(pidfd, limit_ms);
  close(pidfd);
  return ended || give_up_still_running(log, pid, limit_ms);
}

std::error_code start_program(const std::filesystem::path& relaunch,
                              const std::filesystem::path& install) {
  // The child changes into the install folder before exec, so a relative
  // program path is fixed against the updater's own folder first.
  std::error_code ec;
  const std::string program = std::filesystem::absolute(relaunch, ec).string();
  if (ec) return ec;

  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return {error, std::generic_category()};
  error = posix_spawn_file_actions_addchdir_np(&actions, install.c_str());
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t child = -1;
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  if (error == 0) error = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error == 0) return {};
  return {error, std::generic_category()};
}

}  // namespace zrk
