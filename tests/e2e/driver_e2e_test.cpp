// The real zrk-update binary on command lines and disk states that end a run
// before anything is extracted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/test_support.h"

namespace zrk {
namespace {

using test::TempDir;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class DriverEndToEnd : public ::testing::Test {
 protected:
  std::vector<std::string> args(const std::string& archive, int pid) const {
    return {"--install", install_.string(),   "--archive",  archive,
            "--pid",     std::to_string(pid), "--relaunch", (dir_ / "game.sh").string()};
  }
  std::vector<std::string> log() const {
    return test::read_log_messages(install_ / ".update" / "update.log");
  }
  std::vector<std::string> opening_lines(const std::string& archive, int pid) const {
    return {"zrk-update: install " + install_.string(),
            "zrk-update: archive " + archive,
            "zrk-update: relaunch " + (dir_ / "game.sh").string(),
            "zrk-update: waiting for pid " + std::to_string(pid),
            "pid " + std::to_string(pid) + " is gone (error 3)",
            "zrk-update: the game has exited"};
  }

  TempDir dir_;
  std::filesystem::path install_ = dir_ / "Z Ravelkin \xC3\xA9t\xC3\xA9";
};

TEST_F(DriverEndToEnd, ABadCommandLineExitsWith1AndLeavesNoTrace) {
  std::filesystem::create_directories(install_);
  const std::vector<std::vector<std::string>> kCommandLines = {
      {},
      {"--install", install_.string()},
      {"--install", install_.string(), "--archive", "u.zip", "--pid", "0", "--relaunch", "g"},
      {"--install", install_.string(), "--archive", "u.zip", "--pid", "5", "--relaunch", "g",
       "--verbose"},
      {"--install", install_.string() + "/\xFF", "--archive", "u.zip", "--pid", "5", "--relaunch",
       "g"},
  };
  for (const auto& command_line : kCommandLines) {
    EXPECT_EQ(test::run_updater(command_line), 1);
    EXPECT_TRUE(std::filesystem::is_empty(install_));
  }
}

TEST_F(DriverEndToEnd, ALogThatCannotBeOpenedExitsWith5AndTouchesNothingElse) {
  std::filesystem::create_directories(install_ / ".update" / "update.log");
  EXPECT_EQ(test::run_updater(args("u.tgz", test::gone_pid())), 5);
  EXPECT_EQ(test::snapshot_tree(install_).size(), 2u);  // .update and the folder in the way
}

TEST_F(DriverEndToEnd, AGameThatCannotBeWaitedForExitsWith2) {
  std::atomic<long> tid{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    tid = syscall(SYS_gettid);
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (tid == 0) std::this_thread::yield();
  const int code = test::run_updater(args("u.tgz", static_cast<int>(tid)));
  done = true;
  worker.join();

  EXPECT_EQ(code, 2);
  const std::string pid = std::to_string(tid);
  EXPECT_THAT(log(),
              ElementsAre("zrk-update: install " + install_.string(), "zrk-update: archive u.tgz",
                          "zrk-update: relaunch " + (dir_ / "game.sh").string(),
                          "zrk-update: waiting for pid " + pid,
                          MatchesRegex("pid " + pid +
                                       " cannot be opened \\(error [0-9]+\\), not installing"),
                          "zrk-update: giving up without touching the install folder"));
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "staging"));
}

TEST_F(DriverEndToEnd, AnArchiveOfUnknownTypeIsRefusedWith3) {
  const int pid = test::gone_pid();
  EXPECT_EQ(test::run_updater(args("dl/u.zip.bak", pid)), 3);
  std::vector<std::string> expected = opening_lines("dl/u.zip.bak", pid);
  expected.push_back("unknown archive type: dl/u.zip.bak");
  expected.push_back("zrk-update: the archive was refused, the install folder is unchanged");
  EXPECT_EQ(log(), expected);
  EXPECT_TRUE(std::filesystem::is_empty(install_ / ".update" / "staging"));
}

TEST_F(DriverEndToEnd, StagingThatCannotBeClearedOrCreatedExitsWith5) {
  const int pid = test::gone_pid();
  const std::filesystem::path staging = install_ / ".update" / "staging";
  const std::string staging_text = install_.string() + "/.update/staging";
  test::write_file(staging / "stale.bin", "left by an interrupted run");
  {
    test::ScopedImmutable locked(staging);
    EXPECT_EQ(test::run_updater(args("u.tgz", pid)), 5);
  }
  std::vector<std::string> expected = opening_lines("u.tgz", pid);
  expected.push_back("zrk-update: cannot clear " + staging_text + ": Operation not permitted");
  EXPECT_EQ(log(), expected);

  std::filesystem::remove_all(staging);
  {
    test::ScopedImmutable locked(install_ / ".update");
    EXPECT_EQ(test::run_updater(args("u.tgz", pid)), 5);
  }
  const std::vector<std::string> second_run = opening_lines("u.tgz", pid);
  expected.insert(expected.end(), second_run.begin(), second_run.end());
  expected.push_back("zrk-update: cannot create " + staging_text + ": Operation not permitted");
  EXPECT_EQ(log(), expected);
}

}  // namespace
}  // namespace zrk
