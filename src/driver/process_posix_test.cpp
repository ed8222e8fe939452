#include "driver/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <optional>
#include <thread>

#include "driver/update_log.h"
#include "support/test_support.h"

namespace zrk {
namespace {

using test::ChildProcess;
using test::TempDir;

struct WaitResult {
  bool went_on;
  std::vector<std::string> lines;
};

// The game in these tests is started by the test, after it: the updater's
// start is taken as the game's own, as when the game starts the updater.
// `updater_start` stands in for it where a test says otherwise.
WaitResult wait_logged(std::int32_t pid, int limit_ms,
                       std::optional<ProcessStart> updater_start = std::nullopt) {
  TempDir dir;
  WritableFile log;
  open_update_log(dir.path(), &log);
  const ProcessStart updater = updater_start ? *updater_start : process_start(pid).value_or(0);
  const bool went_on = wait_for_game(&log, pid, limit_ms, updater);
  log.close();
  return {went_on, test::read_log_messages(dir / "update.log")};
}

// True once `tester` sleeps between two looks at the pid: nothing else on its
// way sleeps, so from then on it is probing and has seen the game alive.
bool is_probing(pid_t tester) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    std::ifstream file("/proc/" + std::to_string(tester) + "/syscall");
    long call = -1;
    if (file >> call && (call == SYS_clock_nanosleep || call == SYS_nanosleep)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// How the game ends while the wait probes: not at all, or killed and then
// reaped, as by the game's parent, or killed and left a zombie.
enum class Ending { kNone, kReaped, kZombie };

// As wait_logged, but in a child process in which pidfd_open answers
// `refusal`: ENOSYS as on kernels older than 5.3, EPERM as in sandboxes that
// filter it. `game` ends as `ending` says once the tester is probing. The
// tester is forked after the game, so it stands for the updater with its own
// start unless `updater_start` is given.
WaitResult wait_logged_without_pidfd(int refusal, std::int32_t pid, int limit_ms,
                                     ChildProcess* game = nullptr, Ending ending = Ending::kNone,
                                     std::optional<ProcessStart> updater_start = std::nullopt) {
  TempDir dir;
  const pid_t tester = fork();
  if (tester == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(refusal)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      _exit(2);
    }
    WritableFile log;
    open_update_log(dir.path(), &log);
    const bool went_on = wait_for_game(&log, pid, limit_ms, updater_start.value_or(own_start()));
    log.close();
    _exit(went_on ? 0 : 1);
  }
  if (ending != Ending::kNone) {
    EXPECT_TRUE(is_probing(tester)) << "the tester never waited between looks at the pid";
    kill(game->pid(), SIGKILL);
    if (ending == Ending::kReaped) game->wait();
  }
  int status = 0;
  waitpid(tester, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "the tester could not run";
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0,
          test::read_log_messages(dir / "update.log")};
}

// Each refusal of pidfd_open is a case of its own.
class WaitWithoutPidfd : public ::testing::TestWithParam<int> {};

TEST_P(WaitWithoutPidfd, TheWaitProbesThePid) {
  const int refusal = GetParam();
  for (const Ending ending : {Ending::kReaped, Ending::kZombie}) {
    SCOPED_TRACE(ending == Ending::kReaped ? "reaped" : "a zombie");
    ChildProcess game({"sleep", "30"});
    const std::string pid = std::to_string(game.pid());
    const auto start = std::chrono::steady_clock::now();
    const WaitResult ended = wait_logged_without_pidfd(refusal, game.pid(), 5000, &game, ending);
    EXPECT_TRUE(ended.went_on);
    EXPECT_EQ(ended.lines, std::vector<std::string>{"zrk-update: waiting for pid " + pid});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
  {
    // The line gives whole seconds of the limit.
    ChildProcess game({"sleep", "30"});
    const std::string pid = std::to_string(game.pid());
    const auto start = std::chrono::steady_clock::now();
    const WaitResult outlived = wait_logged_without_pidfd(refusal, game.pid(), 100);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(outlived.went_on);
    EXPECT_EQ(outlived.lines,
              (std::vector<std::string>{"zrk-update: waiting for pid " + pid,
                                        "pid " + pid + " is still running after 0 s"}));
  }
  const std::int32_t gone = test::gone_pid();
  const WaitResult already_gone = wait_logged_without_pidfd(refusal, gone, 5000);
  EXPECT_TRUE(already_gone.went_on);
  EXPECT_EQ(already_gone.lines,
            (std::vector<std::string>{"zrk-update: waiting for pid " + std::to_string(gone),
                                      "pid " + std::to_string(gone) + " is gone (error 3)"}));
}

INSTANTIATE_TEST_SUITE_P(Refusals, WaitWithoutPidfd, ::testing::Values(ENOSYS, EPERM),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param == ENOSYS ? std::string("ENOSYS")
                                                       : std::string("EPERM");
                         });

TEST(WaitForGame, GoesOnWhenTheGameEndsInTime) {
  ChildProcess game({"sleep", "0.3"});
  const auto start = std::chrono::steady_clock::now();
  const WaitResult result = wait_logged(game.pid(), 5000);
  EXPECT_TRUE(result.went_on);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(result.lines,
            std::vector<std::string>{"zrk-update: waiting for pid " + std::to_string(game.pid())});
}

TEST(WaitForGame, GivesUpOnAGameThatOutlivesTheLimit) {
  ChildProcess game({"sleep", "30"});
  const std::string pid = std::to_string(game.pid());
  const WaitResult result = wait_logged(game.pid(), 1000);
  EXPECT_FALSE(result.went_on);
  EXPECT_EQ(result.lines, (std::vector<std::string>{"zrk-update: waiting for pid " + pid,
                                                    "pid " + pid + " is still running after 1 s"}));
}

TEST(WaitForGame, AProcessThatIsGoneNeedsNoWait) {
  for (const std::int32_t pid : {test::gone_pid(), std::int32_t{2147483647}}) {
    const WaitResult result = wait_logged(pid, 60000);
    EXPECT_TRUE(result.went_on);
    const std::string text = std::to_string(pid);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"zrk-update: waiting for pid " + text,
                                                      "pid " + text + " is gone (error 3)"}));
  }
}

// The game ended and its id went to a process started after the updater:
// that one is not waited for, with a pidfd or without.
TEST(WaitForGame, AProcessStartedAfterTheUpdaterIsNotTheGame) {
  ChildProcess stranger({"sleep", "30"});
  const std::string pid = std::to_string(stranger.pid());
  const std::vector<std::string> gone = {"zrk-update: waiting for pid " + pid,
                                         "pid " + pid + " is gone (error 3)"};
  // Start times count in clock ticks, and the stranger may well start in the
  // test's own tick: the updater stands a tick before it instead.
  const std::optional<ProcessStart> started = process_start(stranger.pid());
  ASSERT_TRUE(started.has_value());
  const ProcessStart updater = *started - 1;
  const auto start = std::chrono::steady_clock::now();
  const WaitResult result = wait_logged(stranger.pid(), 5000, updater);
  EXPECT_TRUE(result.went_on);
  EXPECT_EQ(result.lines, gone);
  const WaitResult probed =
      wait_logged_without_pidfd(ENOSYS, stranger.pid(), 5000, nullptr, Ending::kNone, updater);
  EXPECT_TRUE(probed.went_on);
  EXPECT_EQ(probed.lines, gone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST(WaitForGame, RefusesAnIdThatCannotBeWaitedFor) {
  // A thread that is not its process's leader cannot be opened as a process.
  test::SideThread thread;
  const int tid = thread.tid();
  const WaitResult result = wait_logged(tid, 1000);
  EXPECT_FALSE(result.went_on);
  const std::string text = std::to_string(tid);
  // The error number depends on the kernel (EINVAL, lately ENOENT); the verdict does not.
  ASSERT_EQ(result.lines.size(), 2u);
  EXPECT_EQ(result.lines[0], "zrk-update: waiting for pid " + text);
  EXPECT_THAT(result.lines[1], ::testing::MatchesRegex("pid " + text +
                                                       " cannot be opened \\(error [0-9]+\\), "
                                                       "not installing"));
  EXPECT_NE(result.lines[1], "pid " + text + " cannot be opened (error 3), not installing");
}

class StartProgram : public ::testing::Test {
 protected:
  // A program that records the folder it was started in.
  std::filesystem::path make_game(const std::string& relative) {
    const std::filesystem::path program = dir_ / relative;
    test::write_file(program, "#!/bin/sh\npwd > '" + record_.string() + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    return program;
  }

  TempDir dir_;
  std::filesystem::path record_ = dir_ / "started-in";
  std::filesystem::path install_ = dir_ / "install folder";
};

TEST_F(StartProgram, StartsInTheInstallFolderFromAPathWithBlanks) {
  std::filesystem::create_directories(install_);
  ASSERT_EQ(start_program(make_game("my games/Z Ravelkin.sh"), install_), std::error_code());
  ASSERT_TRUE(test::wait_for_file(record_));
  test::wait_for_file(record_.string() + ".never", 0.2);  // let the shell finish writing
  EXPECT_EQ(test::read_file(record_), install_.string() + "\n");
}

TEST_F(StartProgram, ResolvesARelativePathAgainstTheUpdatersFolderNotTheInstallFolder) {
  std::filesystem::create_directories(install_);
  const std::filesystem::path game = make_game("game.sh");
  test::write_file(install_ / "game.sh", "#!/bin/sh\nexit 0\n");  // must not be the one started
  const std::filesystem::path relative =
      std::filesystem::relative(game, std::filesystem::current_path());
  ASSERT_TRUE(relative.is_relative());
  ASSERT_EQ(start_program(relative, install_), std::error_code());
  EXPECT_TRUE(test::wait_for_file(record_));
}

TEST_F(StartProgram, FailsForAProgramThatCannotBeExecuted) {
  std::filesystem::create_directories(install_);
  test::write_file(dir_ / "plain.txt", "not a program");
  EXPECT_NE(start_program(dir_ / "missing.exe", install_), std::error_code());
  EXPECT_NE(start_program(dir_ / "plain.txt", install_), std::error_code());
  EXPECT_NE(start_program(make_game("game.sh"), dir_ / "no such folder"), std::error_code());
}

}  // namespace
}  // namespace zrk
