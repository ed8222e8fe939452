// The real zrk-update binary on command lines and disk states that end a run
// before anything is extracted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/install_fixture.h"

namespace zrk {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

class DriverEndToEnd : public test::InstallFixture {
 protected:
  // The command line of a run with another process id.
  std::vector<std::string> args_with_pid(const std::string& archive, int pid) const {
    std::vector<std::string> command_line = args(archive);
    command_line[5] = std::to_string(pid);
    return command_line;
  }
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
  EXPECT_EQ(test::run_updater(args("u.tgz")), 5);
  EXPECT_EQ(test::snapshot_tree(install_).size(), 2u);  // .update and the folder in the way
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
          "zrk-update: relaunch " + game_.string(), "zrk-update: waiting for pid " + pid,
          MatchesRegex("pid " + pid + " cannot be opened \\(error [0-9]+\\), not installing"),
          "zrk-update: giving up without touching the install folder"));
  EXPECT_FALSE(std::filesystem::exists(install_ / ".update" / "staging"));
}

TEST_F(DriverEndToEnd, AnArchiveOfUnknownTypeIsRefusedWith3) {
  EXPECT_EQ(test::run_updater(args("dl/u.zip.bak")), 3);
  std::vector<std::string> expected = opening_lines("dl/u.zip.bak", game_);
  expected.push_back("unknown archive type: dl/u.zip.bak");
  expected.push_back("zrk-update: the archive was refused, the install folder is unchanged");
  EXPECT_EQ(log(), expected);
  EXPECT_TRUE(std::filesystem::is_empty(install_ / ".update" / "staging"));
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
