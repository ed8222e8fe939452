#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fs/host_fs_test.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::read_file;
using test::write_file;

// A status that cannot be read is an answer of its own, never an absence: a
// link that loops stands for a disk that fails at that entry.
TEST_F(HostFsTest, ExistsAsksAboutTheEntryItself) {
  write_file(dir / "file", "x");
  stdfs::create_directory(dir / "folder");
  const bool links = test::make_symlink("file", dir / "link") &&
                     test::make_symlink("missing", dir / "dangling") &&
                     test::make_symlink("looped", dir / "looped");
  constexpr Presence kYes = Presence::kPresent;
  constexpr Presence kNo = Presence::kAbsent;
  const struct {
    const char* name;
    Presence expected;
    bool link;
  } kCases[] = {
      {"file", kYes, false},
      {"folder", kYes, false},
      {"link", kYes, true},
      {"missing", kNo, false},
      {"dangling", kYes, true},
      {"file/below", kNo, false},
      {"folder/", kYes, false},
      {"missing/below", kNo, false},
      {"looped/below", Presence::kCannotTell, true},
  };
  for (const auto& c : kCases) {
    if (c.link && !links) continue;
    EXPECT_EQ(fs->exists(at(c.name)), c.expected) << c.name;
  }
}

TEST_F(HostFsTest, RemoveAllTakesTheWholeTreeButNotWhatLinksPointTo) {
  write_file(dir / "keep" / "precious", "do not follow me");
  write_file(dir / "tree" / "a" / "b" / "deep", "1");
  write_file(dir / "tree" / ".hidden", "2");
  stdfs::create_directory(dir / "tree" / "empty");
  test::make_symlink(dir / "keep", dir / "tree" / "a" / "to-keep");  // where links exist
  write_file(dir / "single", "3");
  write_file(dir / "tree" / "a" / "read-only", "4");  // a read-only attribute on Windows
  stdfs::permissions(dir / "tree" / "a" / "read-only",
                     stdfs::perms::all & ~stdfs::perms::owner_write & ~stdfs::perms::group_write &
                         ~stdfs::perms::others_write);

  if (test::make_symlink(dir / "keep", dir / "link-to-keep")) {
    EXPECT_TRUE(fs->remove_all(at("link-to-keep/")));
    EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(dir / "link-to-keep")));
  }
  EXPECT_TRUE(fs->remove_all(at("tree")));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(dir / "tree")));
  EXPECT_EQ(read_file(dir / "keep" / "precious"), "do not follow me");
  EXPECT_TRUE(fs->remove_all(at("single")));
  EXPECT_FALSE(stdfs::exists(dir / "single"));
  EXPECT_TRUE(fs->remove_all(at("missing")));
  EXPECT_TRUE(fs->remove_all(at("missing/below")));
}

TEST_F(HostFsTest, CreateDirectoriesJudgesByTheResultingState) {
  stdfs::create_directory(dir / "existing");
  write_file(dir / "file", "in the way");
  const bool links = test::make_symlink("existing", dir / "link-to-folder");

  EXPECT_TRUE(fs->create_directories(at("existing")));
  EXPECT_TRUE(fs->create_directories(at("a/b/c")));
  EXPECT_TRUE(stdfs::is_directory(dir / "a" / "b" / "c"));
  if (links) {
    EXPECT_TRUE(fs->create_directories(at("link-to-folder")));
  }
  EXPECT_FALSE(fs->create_directories(at("file")));
  EXPECT_FALSE(fs->create_directories(at("file/below")));
  EXPECT_EQ(read_file(dir / "file"), "in the way");
}

TEST_F(HostFsTest, RenameMovesFilesAndFolders) {
  write_file(dir / "file", "content");
  write_file(dir / "tree" / "sub" / "leaf", "leaf");
  stdfs::create_directory(dir / "into");
  write_file(dir / "new", "new");
  write_file(dir / "old", "old");

  EXPECT_TRUE(fs->rename(at("file"), at("into/file")));
  EXPECT_FALSE(stdfs::exists(dir / "file"));
  EXPECT_EQ(read_file(dir / "into" / "file"), "content");

  EXPECT_TRUE(fs->rename(at("tree"), at("into/tree")));
  EXPECT_FALSE(stdfs::exists(dir / "tree"));
  EXPECT_EQ(read_file(dir / "into" / "tree" / "sub" / "leaf"), "leaf");

  EXPECT_TRUE(fs->rename(at("new"), at("old")));
  EXPECT_FALSE(stdfs::exists(dir / "new"));
  EXPECT_EQ(read_file(dir / "old"), "new");
}

// The swap's one-step replace: a second name in the backup, then the staged
// file renamed over the installed one, read-only or not. Folders and links
// are never taken for files, and a folder cannot be linked.
TEST_F(HostFsTest, LinkAndReplaceSwapAFileWithoutFreeingItsName) {
  write_file(dir / "game.exe", "v1");
  write_file(dir / "staged.exe", "v2");
  stdfs::create_directory(dir / "backup");
  stdfs::create_directory(dir / "folder");
  const bool links = test::make_symlink("game.exe", dir / "link");
  stdfs::permissions(
      dir / "game.exe",
      stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
      stdfs::perm_options::remove);

  EXPECT_EQ(fs->is_file(at("game.exe")), Presence::kPresent);
  EXPECT_EQ(fs->is_file(at("folder")), Presence::kAbsent);
  EXPECT_EQ(fs->is_file(at("missing")), Presence::kAbsent);
  if (links && test::make_symlink("looped", dir / "looped")) {
    EXPECT_EQ(fs->is_file(at("link")), Presence::kAbsent);
    EXPECT_EQ(fs->is_file(at("looped/below")), Presence::kCannotTell);
  }
  EXPECT_EQ(fs->link(at("folder"), at("backup/folder")), LinkResult::kUnsupported);

  // The undo of a link whose replace never happened: a name of a file put
  // over another name of the same file, which leaves only the target.
  ASSERT_EQ(fs->link(at("game.exe"), at("backup/game.exe")), LinkResult::kLinked);
  EXPECT_TRUE(fs->replace(at("backup/game.exe"), at("game.exe")));
  EXPECT_FALSE(stdfs::exists(dir / "backup" / "game.exe"));
  EXPECT_EQ(read_file(dir / "game.exe"), "v1");

  ASSERT_EQ(fs->link(at("game.exe"), at("backup/game.exe")), LinkResult::kLinked);
  EXPECT_EQ(read_file(dir / "backup" / "game.exe"), "v1");
  EXPECT_TRUE(fs->replace(at("staged.exe"), at("game.exe")));
  EXPECT_EQ(read_file(dir / "game.exe"), "v2");
  EXPECT_FALSE(stdfs::exists(dir / "staged.exe"));
  EXPECT_EQ(read_file(dir / "backup" / "game.exe"), "v1");

  // The undo: the backup renamed over the new file, which is read-only now.
  stdfs::permissions(
      dir / "game.exe",
      stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
      stdfs::perm_options::remove);
  EXPECT_TRUE(fs->replace(at("backup/game.exe"), at("game.exe")));
  EXPECT_EQ(read_file(dir / "game.exe"), "v1");
  EXPECT_FALSE(stdfs::exists(dir / "backup" / "game.exe"));
}

TEST_F(HostFsTest, EveryOperationRefusesPathsThatAreNotUtf8) {
  const std::string bad = at("bad") + "\xFF";
  EXPECT_THROW(fs->exists(bad), std::system_error);
  EXPECT_THROW(fs->is_file(bad), std::system_error);
  EXPECT_THROW(fs->link(bad, at("x")), std::system_error);
  EXPECT_THROW(fs->replace(at("x"), bad), std::system_error);
  EXPECT_THROW(fs->rename(bad, at("x")), std::system_error);
  EXPECT_THROW(fs->rename(at("x"), bad), std::system_error);
  EXPECT_THROW(fs->remove_all(bad), std::system_error);
  EXPECT_THROW(fs->create_directories(bad), std::system_error);
}

// 20 attempts with the pause after each, the last included.
TEST_F(HostFsTest, RenameThatNeverSucceedsGivesUpAfterTwentyAttempts) {
  fs = make_host_fs(std::chrono::milliseconds(40));
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(fs->rename(at("missing"), at("target")));
  const double elapsed = seconds_since(start);
  EXPECT_GE(elapsed, 0.795);  // sleeps never end early; 19 attempts would be 0.76 s
  EXPECT_LT(elapsed, 2.0);
  EXPECT_FALSE(stdfs::exists(dir / "target"));
}

TEST_F(HostFsTest, RenameRetriesUntilTheSourceAppears) {
  fs = make_host_fs();
  std::thread late_writer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    write_file(dir / "partial", "arrived late");
    stdfs::rename(dir / "partial", dir / "late");
  });
  const Clock::time_point start = Clock::now();
  const bool moved = fs->rename(at("late"), at("target"));
  const double elapsed = seconds_since(start);
  late_writer.join();
  EXPECT_TRUE(moved);
  EXPECT_EQ(read_file(dir / "target"), "arrived late");
  EXPECT_GE(elapsed, 0.45);  // the attempts at 0 and 250 ms fail
  EXPECT_LT(elapsed, 2.0);
}

}  // namespace
}  // namespace zrk
