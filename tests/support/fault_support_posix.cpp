#include "support/fault_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zrk::test {

namespace {

std::string rule_line(const FaultRule& rule) {
  const std::string action = rule.error == 0 ? "pause" : std::to_string(rule.error);
  const int last = rule.error == 0 ? rule.first : rule.last;
  return rule.fn + " " + std::to_string(rule.first) + " " + std::to_string(last) + " " + action +
         " " + rule.pattern;
}

// The environment of a faulted run: ours, with the shim preloaded and told
// what to do. The sanitizers' runtime must come first in a process unless
// told not to check.
std::vector<std::string> faulted_environment(const FaultPlan& plan,
                                             const std::filesystem::path& flag) {
  std::vector<std::string> env;
  std::string asan_options = "verify_asan_link_order=0";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("ASAN_OPTIONS=", 0) == 0) {
      asan_options += ":" + text.substr(std::strlen("ASAN_OPTIONS="));
    } else if (text.rfind("LD_PRELOAD=", 0) != 0 && text.rfind("ZRK_FAULT_", 0) != 0) {
      env.push_back(text);
    }
  }
  std::string rules;
  for (const FaultRule& rule : plan.rules) rules += rule_line(rule) + "\n";
  env.push_back("ASAN_OPTIONS=" + asan_options);
  env.push_back(std::string("LD_PRELOAD=") + ZRK_FAULT_SHIM);
  env.push_back("ZRK_FAULT_RULES=" + rules);
  env.push_back("ZRK_FAULT_FLAG=" + flag.string());
  if (!plan.trace.empty()) env.push_back("ZRK_FAULT_TRACE=" + plan.trace.string());
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> raw;
  for (std::string& text : texts) raw.push_back(text.data());
  raw.push_back(nullptr);
  return raw;
}

}  // namespace

FaultRule fail_always(const std::string& fn, const std::string& pattern, int error) {
  return {fn, pattern, 1, 0, error};
}

FaultRule pause_at(const std::string& fn, int nth, const std::string& pattern) {
  return {fn, pattern, nth, nth, 0};
}

FaultedRun::FaultedRun(const std::vector<std::string>& args, const FaultPlan& plan) {
  std::vector<std::string> argv{ZRK_UPDATE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = faulted_environment(plan, scratch_ / "paused");
  // Everything the child needs is built before the fork; after it, only
  // calls that are safe there.
  std::vector<char*> raw_argv = pointers(argv);
  std::vector<char*> raw_env = pointers(env);
  const rlimit limit{static_cast<rlim_t>(plan.file_size_limit),
                     static_cast<rlim_t>(plan.file_size_limit)};

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    if (plan.file_size_limit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execve(raw_argv[0], raw_argv.data(), raw_env.data());
    _exit(127);
  }
}

FaultedRun::~FaultedRun() {
  if (!reaped_) kill();
}

bool FaultedRun::wait_until_paused(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::filesystem::exists(scratch_ / "paused")) {
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    if (reaped_ || std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string FaultedRun::paused_at() const {
  std::string line = read_file(scratch_ / "paused");
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

void FaultedRun::kill() {
  if (reaped_) return;
  ::kill(pid_, SIGKILL);
  wait();
}

int FaultedRun::wait() {
  if (!reaped_) {
    while (waitpid(pid_, &status_, 0) < 0) {
    }
    reaped_ = true;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

int run_updater_with(const std::vector<std::string>& args, const FaultPlan& plan) {
  FaultedRun run(args, plan);
  return run.wait();
}

ScopedTmpfs::ScopedTmpfs(std::filesystem::path folder, long bytes) : folder_(std::move(folder)) {
  std::filesystem::create_directories(folder_);
  std::string output;
  active_ = run_command({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes), "tmpfs",
                         folder_.string()},
                        &output) == 0;
  if (!active_) ADD_FAILURE() << "mounting a tmpfs on " << folder_ << " failed: " << output;
}

ScopedTmpfs::~ScopedTmpfs() {
  // With what a test mounted inside it.
  if (active_) run_command({"umount", "-R", folder_.string()});
}

namespace {

// A folder a process may still hold (the Wine server keeps some open for a
// while) is detached all the same.
void unmount(const std::filesystem::path& folder) {
  std::string output;
  if (run_command({"umount", folder.string()}, &output) != 0) {
    run_command({"umount", "-l", folder.string()}, &output);
  }
}

}  // namespace

std::string power_cut_unavailable() {
  if (geteuid() != 0) return "mounting a file system image needs root";
  std::string output;
  for (const char* tool : {"mkfs.ext4", "e2fsck", "losetup"}) {
    if (run_command({"sh", "-c", std::string("command -v ") + tool}, &output) != 0) {
      return std::string(tool) + " is not installed";
    }
  }
  if (run_command({"losetup", "-f"}, &output) != 0) return "no free loop device: " + output;
  return "";
}

ScopedExt4::ScopedExt4(std::filesystem::path image, std::filesystem::path folder,
                       const std::string& sub, long bytes)
    : image_(std::move(image)), folder_(std::move(folder)), root_(image_.string() + ".root") {
  std::string output;
  const std::vector<std::string> prepare =
      bytes > 0 ? std::vector<std::string>{"sh", "-c",
                                           "truncate -s " + std::to_string(bytes) +
                                               " \"$0\" && mkfs.ext4 -q -F \"$0\"",
                                           image_.string()}
                : std::vector<std::string>{"sh", "-c", "e2fsck -fy \"$0\"; [ $? -lt 4 ]",
                                           image_.string()};
  if (run_command(prepare, &output) != 0) {
    ADD_FAILURE() << "preparing " << image_ << " failed: " << output;
    return;
  }
  active_ = mount_all(sub);
}

bool ScopedExt4::mount_all(const std::string& sub) {
  std::string output;
  std::filesystem::create_directories(root_);
  // ext4 writes a file's data out at its close when the file was truncated
  // to zero length, as Wine's creation of a file does. Without that guess the
  // image shows what the program's own flushes achieve.
  if (run_command({"mount", "-o", "loop,noauto_da_alloc", image_.string(), root_.string()},
                  &output) != 0) {
    ADD_FAILURE() << "mounting " << image_ << " failed: " << output;
    return false;
  }
  mounted_ = true;
  std::filesystem::create_directories(root_ / sub);
  std::filesystem::create_directories(folder_);
  if (run_command({"mount", "--bind", (root_ / sub).string(), folder_.string()}, &output) != 0) {
    ADD_FAILURE() << "binding " << root_ / sub << " failed: " << output;
    return false;
  }
  return true;
}

ScopedExt4::~ScopedExt4() {
  if (active_) unmount(folder_);
  if (mounted_) unmount(root_);
}

bool ScopedExt4::cut_power(const std::filesystem::path& copy) const {
  const std::filesystem::path commit = root_ / "journal-commit";
  const int fd = ::open(commit.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool committed = ::write(fd, "x", 1) == 1 && ::fsync(fd) == 0;
  ::close(fd);
  return committed && run_command({"cp", "--sparse=always", image_.string(), copy.string()}) == 0;
}

}  // namespace zrk::test
