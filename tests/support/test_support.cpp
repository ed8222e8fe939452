#include "support/test_support.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zrk::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zrk-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& path, const std::string& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::map<std::string, std::string> snapshot_tree(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(root)) return tree;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string key = it->path().lexically_relative(root).generic_string();
    if (it->is_symlink()) {
      tree[key] = "link:" + std::filesystem::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      tree[key] = "dir";
    } else {
      tree[key] = "file:" + read_file(it->path());
    }
  }
  return tree;
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

bool wait_for_file(const std::filesystem::path& path, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
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

std::vector<std::string> read_log_messages(const std::filesystem::path& log) {
  std::vector<std::string> messages;
  std::istringstream lines(read_file(log));
  std::string line;
  while (std::getline(lines, line)) messages.push_back(line.size() > 20 ? line.substr(20) : "");
  return messages;
}

std::string tool_path(const std::string& name) { return std::string(ZRK_TEST_TOOLS) + "/" + name; }

}  // namespace zrk::test
