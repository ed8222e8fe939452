// Helpers for tests that touch the real disk or run the real binary: a scoped
// temporary folder, small file utilities, tree snapshots and process runs.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zrk::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // `name` is UTF-8 on every host.
  std::filesystem::path operator/(const std::string& name) const {
    return path_ / std::filesystem::u8path(name);
  }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `path`, creating its parent folders.
void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);

// `size` bytes of text runs with random stretches between them, so that
// deflate both finds matches (also across its chunk edges) and stores what
// it cannot match. The same for the same `seed`.
std::string mixed_data(std::size_t size, unsigned seed);

// Every entry below `root` by relative path: a file maps to "file:" + its
// bytes, a folder to "dir", a link to "link:" + its target. For comparing a
// folder before and after a run.
std::map<std::string, std::string> snapshot_tree(const std::filesystem::path& root);

// Runs `argv` (argv[0] found on PATH) and waits for it. Returns its exit code,
// or -1 when it did not exit normally. Standard output and error are captured
// into `output` when given.
int run_command(const std::vector<std::string>& argv, std::string* output = nullptr);

// A process started in the background; killed and reaped when the object goes
// away unless wait() reaped it first.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  // Waits for the process and returns its exit code (-1 when killed).
  int wait();

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

// The pid of a process that has ended and been reaped: it names no process.
int gone_pid();

// A thread of this process, running until the object goes away. Its id is not
// a process of its own, so it cannot be opened for waiting.
class SideThread {
 public:
  SideThread();
  ~SideThread();
  SideThread(const SideThread&) = delete;
  SideThread& operator=(const SideThread&) = delete;

  int tid() const { return tid_; }

 private:
  std::atomic<int> tid_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Waits up to `seconds` for `path` to exist.
bool wait_for_file(const std::filesystem::path& path, double seconds = 5.0);

// Sets the immutable attribute (chattr +i) on `path` for the object's life, so
// that even root cannot rename, remove or add entries there. The test fails
// when the attribute cannot be set.
class ScopedImmutable {
 public:
  explicit ScopedImmutable(std::filesystem::path path);
  ~ScopedImmutable();
  ScopedImmutable(const ScopedImmutable&) = delete;
  ScopedImmutable& operator=(const ScopedImmutable&) = delete;

  bool active() const { return active_; }

 private:
  std::filesystem::path path_;
  bool active_ = false;
};

// Runs a script of tests/tools with python3. Returns its exit code.
int run_python_tool(const std::string& script, const std::vector<std::string>& args,
                    std::string* output = nullptr);

// Runs a shell command line in `folder`. Returns its exit code.
int run_shell_in(const std::filesystem::path& folder, const std::string& command,
                 std::string* output = nullptr);

// Runs the zrk-update binary under test with `args` after the program name.
int run_updater(const std::vector<std::string>& args);

// Names the local time zone in TZ for the object's life, where it is unset.
// libzip turns every member's time into a time_t with mktime, and glibc reads
// the zone file again at each call unless TZ names it: listing 200,000 members
// would cost 800,000 stat calls.
class ScopedNamedTimeZone {
 public:
  ScopedNamedTimeZone();
  ~ScopedNamedTimeZone();
  ScopedNamedTimeZone(const ScopedNamedTimeZone&) = delete;
  ScopedNamedTimeZone& operator=(const ScopedNamedTimeZone&) = delete;

 private:
  bool named_ = false;
};

// The lines of an update log without their 20-byte time stamp and blank.
std::vector<std::string> read_log_messages(const std::filesystem::path& log);

// Path of a helper script in tests/tools.
std::string tool_path(const std::string& name);

// Makes `link` a symbolic link to `target`. False, with nothing made, where
// the tests cannot make links (Windows); a refusal on POSIX throws.
bool make_symlink(const std::filesystem::path& target, const std::filesystem::path& link);

// A path whose native form has no UTF-8 spelling: invalid bytes on POSIX, a
// lone surrogate on Windows.
std::filesystem::path path_not_utf8();

// True where the build machine's archive tools (python3, GNU tar, zip) can be
// run: on Linux, not inside the Windows test binary under Wine.
bool host_tools_available();

// The files below `root` (relative, "/" between names) whose mode has an
// execute bit. Always empty on Windows, which keeps no such bit.
std::set<std::string> executable_files(const std::filesystem::path& root);
// What executable_files should find where `programs` were staged: they on
// POSIX, nothing on Windows.
std::set<std::string> expected_executables(const std::set<std::string>& programs);

}  // namespace zrk::test

// Skips a test that makes its fixtures with the build machine's tools where
// they cannot be run; the end-to-end tests cover those archives on every host.
#define ZRK_SKIP_WITHOUT_HOST_TOOLS()                                  \
  if (!::zrk::test::host_tools_available()) {                          \
    GTEST_SKIP() << "needs python3, tar and zip of the build machine"; \
  }

// Skips a test that reads the shared archive corpus where it is missing (it
// lives beside the repository, not in it).
#define ZRK_SKIP_WITHOUT_CORPUS()                          \
  if (!std::filesystem::exists(ZRK_CORPUS)) {              \
    GTEST_SKIP() << "no archive corpus at " << ZRK_CORPUS; \
  }
