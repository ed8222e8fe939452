// The real zrk-update binary on command lines and disk states that end a run
// before anything is extracted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "e2e/install_fixture.h"

namespace zrk {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class DriverEndToEnd : public test::InstallFixture {
 protected:
  using InstallFixture::InstallFixture;

  // The command line of a run with another process id.
  std::vector<std::string> args_with_pid(const std::string& archive, int pid) const {
    std::vector<std::string> command_line = args(archive);
    command_line[5] = std::to_string(pid);
    return command_line;
  }
};

using DriverOnEveryHost = test::OnEveryHost<DriverEndToEnd>;
INSTANTIATE_TEST_SUITE_P(Hosts, DriverOnEveryHost, ::testing::ValuesIn(test::all_hosts()),
                         test::host_name);

TEST_P(DriverOnEveryHost, ABadCommandLineExitsWith1AndLeavesNoTrace) {
  std::filesystem::create_directories(install_);
  const std::string install = text(install_);
  const std::vector<std::vector<std::string>> kCommandLines = {
      {},
      {"--install", install},
      {"--install", install, "--archive", "u.zip", "--pid", "0", "--relaunch", "g"},
      {"--install", install, "--archive", "u.zip", "--pid", "5", "--relaunch", "g", "--verbose"},
      {"--install", install, "--archive", "u.zip", "--pid", "5", "--relaunch"},
  };
  for (const auto& command_line : kCommandLines) {
    EXPECT_EQ(run_host(command_line), 1);
    EXPECT_TRUE(std::filesystem::is_empty(install_));
  }
}

// A Windows command line is UTF-16 and cannot carry these bytes.
TEST_F(DriverEndToEnd, APathThatIsNotUtf8IsABadCommandLine) {
  std::filesystem::create_directories(install_);
  EXPECT_EQ(test::run_updater({"--install", install_.string() + "/\xFF", "--archive", "u.zip",
                               "--pid", "5", "--relaunch", "g"}),
            1);
  EXPECT_TRUE(std::filesystem::is_empty(install_));
}

TEST_P(DriverOnEveryHost, ALogThatCannotBeOpenedExitsWith5AndTouchesNothingElse) {
  std::filesystem::create_directories(install_ / ".update" / "update.log");
  EXPECT_EQ(run_host(args("u.tgz")), 5);
  EXPECT_EQ(test::snapshot_tree(install_).size(), 2u);  // .update and the folder in the way
}

// The run goes on once the game has ended; the unknown archive type then ends
// it without touching anything. The game is ended a moment after the updater
// says it waits for it.
TEST_P(DriverOnEveryHost, AGameThatEndsInTimeIsWaitedFor) {
  std::unique_ptr<test::RunningGame> game = host_.start_game(dir_.path(), 60000);
  const std::string pid = std::to_string(game->pid());
  const std::chrono::milliseconds kWaited(300);
  std::atomic<bool> ran{false};
  std::thread ender([&] {
    const std::filesystem::path log_file = install_ / ".update" / "update.log";
    const std::string waiting = "zrk-update: waiting for pid " + pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ran && std::chrono::steady_clock::now() < deadline &&
           !(std::filesystem::exists(log_file) &&
             test::read_file(log_file).find(waiting) != std::string::npos)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(kWaited);
    game.reset();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run_host(args_with_pid("u.zip.bak", std::stoi(pid))), 3);
  EXPECT_GT(std::chrono::steady_clock::now() - start, kWaited);
  ran = true;
  ender.join();

  const std::vector<std::string> lines = log();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 5),
            (std::vector<std::string>{"zrk-update: waiting for pid " + pid,
                                      "zrk-update: the game has exited"}));
  EXPECT_EQ(lines.back(), "zrk-update: the archive was refused, the install folder is unchanged");
}

TEST_F(DriverEndToEnd, AGameThatCannotBeWaitedForExitsWith2) {
  const test::SideThread thread;
  const int tid = thread.tid();
  const int code = test::run_updater(args_with_pid("u.tgz", tid));

  EXPECT_EQ(code, 2);
  const std::string pid = std::to_string(tid);
  EXPECT_THAT(
      log(),
      ElementsAre(
          "zrk-update: install " + install_.string(), "zrk-update: archive u.tgz",
          "zrk-update: relaunch " + text(game_), "zrk-update: waiting for pid " + pid,
          MatchesRegex("pid " + pid + " cannot be opened \\(error [0-9]+\\), not installing"),
          "zrk-update: giving up without touching the install folder"));
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "staging"));
}

TEST_P(DriverOnEveryHost, AnArchiveOfUnknownTypeIsRefusedWith3) {
  EXPECT_EQ(run_host(args("dl/u.zip.bak")), 3);
  std::vector<std::string> expected = opening_lines("dl/u.zip.bak", game_);
  expected.push_back("unknown archive type: dl/u.zip.bak");
  expected.push_back("zrk-update: the archive was refused, the install folder is unchanged");
  EXPECT_EQ(log(), expected);
  EXPECT_TRUE(std::filesystem::is_empty(install_ / ".update" / "staging"));
}

// A file that cannot be deleted in a staging folder left by an earlier run
// (on Windows, one that another process keeps "delete pending"): the rest
// goes, and the run ends with 5 at once instead of trying for ever.
TEST_P(DriverOnEveryHost, AnOldStagingThatCannotBeClearedEndsTheRunWith5AtOnce) {
  const std::filesystem::path staging = install_ / ".update" / "staging";
  test::write_file(staging / "old" / "stuck.bin", "left by an interrupted run");
  test::write_file(staging / "other.bin", "left too");
  int code = -1;
  const auto start = std::chrono::steady_clock::now();
  {
    test::ScopedImmutable locked(staging / "old" / "stuck.bin");
    ASSERT_TRUE(locked.active());
    code = host_.run_within(args("u.tgz"), 60);
  }
  EXPECT_EQ(code, 5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  const std::vector<std::string> lines = log();
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.back(), ::testing::StartsWith("zrk-update: cannot clear " + text(install_) +
                                                  "/.update/staging: "));
  EXPECT_FALSE(std::filesystem::exists(staging / "other.bin"));
}

TEST_F(DriverEndToEnd, StagingThatCannotBeClearedOrCreatedExitsWith5) {
  const std::filesystem::path staging = install_ / ".update" / "staging";
  const std::string staging_text = install_.string() + "/.update/staging";
  test::write_file(staging / "stale.bin", "left by an interrupted run");
  {
    test::ScopedImmutable locked(staging);
    EXPECT_EQ(test::run_updater(args("u.tgz")), 5);
  }
  std::vector<std::string> expected = opening_lines("u.tgz", game_);
  expected.push_back("zrk-update: cannot clear " + staging_text + ": Operation not permitted");
  EXPECT_EQ(log(), expected);

  std::filesystem::remove_all(staging);
  {
    test::ScopedImmutable locked(install_ / ".update");
    EXPECT_EQ(test::run_updater(args("u.tgz")), 5);
  }
  const std::vector<std::string> second_run = opening_lines("u.tgz", game_);
  expected.insert(expected.end(), second_run.begin(), second_run.end());
  expected.push_back("zrk-update: cannot create " + staging_text + ": Operation not permitted");
  EXPECT_EQ(log(), expected);
}

}  // namespace
}  // namespace zrk
