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
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "driver/process.h"
#include "fs/input_file.h"

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

// The record of /proc/<pid>/stat ("self" for this process): its fields
// follow the name, which is in parentheses and may hold anything, blanks and
// parentheses too. Empty when there is no such process.
std::string stat_fields(const std::string& pid) {
  InputFile file;
  std::string text;
  if (file.open("/proc/" + pid + "/stat") || file.read_to_end(&text, 4096)) return std::string();
  const size_t name_end = text.rfind(')');
  return name_end == std::string::npos ? std::string() : text.substr(name_end + 1);
}

// A zombie has ended; only its parent has not collected it yet. The state is
// the field right after the name.
bool is_zombie(std::int32_t pid) {
  return stat_fields(std::to_string(pid)).compare(0, 2, " Z") == 0;
}

// The start time is the 22nd field of the record, the 20th after the name.
std::optional<ProcessStart> start_in(const std::string& fields) {
  size_t at = 0;
  for (int field = 0; field < 19 && at != std::string::npos; ++field) {
    at = fields.find(' ', at + 1);
  }
  if (at == std::string::npos || at + 1 >= fields.size()) return std::nullopt;
  const char* digits = fields.c_str() + at + 1;
  char* end = nullptr;
  errno = 0;
  const unsigned long long start = std::strtoull(digits, &end, 10);
  if (end == digits || errno != 0 || (*end != ' ' && *end != '\n' && *end != '\0')) {
    return std::nullopt;
  }
  return start;
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

ProcessWait gone() { return {WaitOutcome::kGone, std::error_code(ESRCH, std::generic_category())}; }

ProcessWait ended_if(bool ended) {
  return {ended ? WaitOutcome::kEnded : WaitOutcome::kStillRunning, {}};
}

}  // namespace

std::optional<ProcessStart> process_start(std::int32_t pid) {
  return start_in(stat_fields(std::to_string(pid)));
}

ProcessStart own_start() { return start_in(stat_fields("self")).value_or(kUnknownStart); }

// The start is read once the process is held (by its pidfd, or by being
// seen alive), so it is the start of the process that is then waited for.
ProcessWait wait_for_process(std::int32_t pid, int limit_ms, ProcessStart updater_start) {
  const auto is_newer = [&] {
    const std::optional<ProcessStart> start = process_start(pid);
    return start && !may_have_started_updater(*start, updater_start);
  };
  const int pidfd = open_pidfd(pid);
  if (pidfd < 0) {
    const int error = errno;
    if (error == ESRCH) return gone();
    if (error == ENOSYS || error == EPERM) {
      if ((kill(pid, 0) != 0 && errno == ESRCH) || is_newer()) return gone();
      return ended_if(wait_by_probing(pid, limit_ms));
    }
    return {WaitOutcome::kCannotOpen, std::error_code(error, std::generic_category())};
  }
  if (is_newer()) {
    close(pidfd);
    return gone();
  }
  const bool ended = wait_on_pidfd(pidfd, limit_ms);
  close(pidfd);
  return ended_if(ended);
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
