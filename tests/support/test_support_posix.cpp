#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace zrk::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zrk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

int run_command(const std::vector<std::string>& argv, std::string* output) {
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);

  int pipe_fds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output != nullptr) {
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  }
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output != nullptr) {
    close(pipe_fds[1]);
    if (spawned == 0) {
      char buffer[4096];
      ssize_t n;
      while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) output->append(buffer, n);
    }
    close(pipe_fds[0]);
  }
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, raw[0], nullptr, nullptr, raw.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  pid_ = pid;
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    wait();
  }
}

int ChildProcess::wait() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
  }
  reaped_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int gone_pid() {
  ChildProcess child({"true"});
  child.wait();
  return child.pid();
}

SideThread::SideThread()
    : thread_([this] {
        tid_ = static_cast<int>(syscall(SYS_gettid));
        while (!done_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }) {
  while (tid_ == 0) std::this_thread::yield();
}

SideThread::~SideThread() {
  done_ = true;
  thread_.join();
}

ScopedImmutable::ScopedImmutable(std::filesystem::path path) : path_(std::move(path)) {
  std::string output;
  active_ = run_command({"chattr", "+i", path_.string()}, &output) == 0;
  if (!active_) ADD_FAILURE() << "chattr +i " << path_ << " failed: " << output;
}

ScopedImmutable::~ScopedImmutable() {
  if (active_) run_command({"chattr", "-i", path_.string()});
}

int run_python_tool(const std::string& script, const std::vector<std::string>& args,
                    std::string* output) {
  std::vector<std::string> argv{"python3", tool_path(script)};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command(argv, output);
}

int run_shell_in(const std::filesystem::path& folder, const std::string& command,
                 std::string* output) {
  return run_command({"sh", "-c", "cd '" + folder.string() + "' && " + command}, output);
}

int run_updater(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZRK_UPDATE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command(argv);
}

ScopedNamedTimeZone::ScopedNamedTimeZone() {
  if (std::getenv("TZ") == nullptr) named_ = setenv("TZ", ":/etc/localtime", 1) == 0;
}

ScopedNamedTimeZone::~ScopedNamedTimeZone() {
  if (named_) unsetenv("TZ");
}

bool make_symlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::filesystem::create_symlink(target, link);
  return true;
}

std::filesystem::path path_not_utf8() { return "bad\xC0\xAF"; }

bool host_tools_available() { return true; }

std::set<std::string> expected_executables(const std::set<std::string>& programs) {
  return programs;
}

std::set<std::string> executable_files(const std::filesystem::path& root) {
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat info;
    if (::lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_mode & 0111) != 0) {
      found.insert(entry.path().lexically_relative(root).generic_string());
    }
  }
  return found;
}

}  // namespace zrk::test
