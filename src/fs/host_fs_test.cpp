#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fs/zrk_upd_fs.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::read_file;
using test::snapshot_tree;
using test::TempDir;
using test::write_file;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HostFsTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return (dir / name).string(); }

  TempDir dir;
  std::unique_ptr<ZrkUpdFs> fs = make_host_fs();
};

TEST_F(HostFsTest, ExistsFollowsLinks) {
  write_file(dir / "file", "x");
  stdfs::create_directory(dir / "folder");
  stdfs::create_symlink("file", dir / "link");
  stdfs::create_symlink("missing", dir / "dangling");
  const struct {
    const char* name;
    bool expected;
  } kCases[] = {
      {"file", true},      {"folder", true},      {"link", true},    {"missing", false},
      {"dangling", false}, {"file/below", false}, {"folder/", true}, {"missing/below", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(fs->exists(at(c.name)), c.expected) << c.name;
}

TEST_F(HostFsTest, RemoveAllTakesTheWholeTreeButNotWhatLinksPointTo) {
  write_file(dir / "keep" / "precious", "do not follow me");
  write_file(dir / "tree" / "a" / "b" / "deep", "1");
  write_file(dir / "tree" / ".hidden", "2");
  stdfs::create_directory(dir / "tree" / "empty");
  stdfs::create_directory_symlink(dir / "keep", dir / "tree" / "a" / "to-keep");
  write_file(dir / "single", "3");

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
  stdfs::create_directory_symlink("existing", dir / "link-to-folder");

  EXPECT_TRUE(fs->create_directories(at("existing")));
  EXPECT_TRUE(fs->create_directories(at("a/b/c")));
  EXPECT_TRUE(stdfs::is_directory(dir / "a" / "b" / "c"));
  EXPECT_TRUE(fs->create_directories(at("link-to-folder")));
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

TEST_F(HostFsTest, EveryOperationRefusesPathsThatAreNotUtf8) {
  const std::string bad = at("bad\xFF");
  EXPECT_THROW(fs->exists(bad), std::system_error);
  EXPECT_THROW(fs->rename(bad, at("x")), std::system_error);
  EXPECT_THROW(fs->rename(at("x"), bad), std::system_error);
  EXPECT_THROW(fs->remove_all(bad), std::system_error);
  EXPECT_THROW(fs->create_directories(bad), std::system_error);
}

// The one slow test: 20 attempts with 250 ms after each, the last included.
TEST_F(HostFsTest, RenameThatNeverSucceedsGivesUpAfterTwentyAttempts) {
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(fs->rename(at("missing"), at("target")));
  const double elapsed = seconds_since(start);
  EXPECT_GE(elapsed, 4.95);  // sleeps never end early; 19 attempts would be 4.75 s
  EXPECT_LT(elapsed, 7.0);
  EXPECT_FALSE(stdfs::exists(dir / "target"));
}

TEST_F(HostFsTest, RenameRetriesUntilTheSourceAppears) {
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

// A second file system for moves that rename(2) refuses with EXDEV.
class OtherFileSystem {
 public:
  OtherFileSystem() {
    std::string pattern = "/dev/shm/zrk-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~OtherFileSystem() {
    std::error_code ec;
    if (!path_.empty()) stdfs::remove_all(path_, ec);
  }
  OtherFileSystem(const OtherFileSystem&) = delete;
  OtherFileSystem& operator=(const OtherFileSystem&) = delete;

  // True when the folder exists and lies on another device than `here`.
  bool differs_from(const stdfs::path& here) const {
    struct stat a {
    }, b{};
    return !path_.empty() && ::stat(path_.c_str(), &a) == 0 && ::stat(here.c_str(), &b) == 0 &&
           a.st_dev != b.st_dev;
  }
  const stdfs::path& path() const { return path_; }

 private:
  stdfs::path path_;
};

class HostFsAcrossDevices : public HostFsTest {
 protected:
  void SetUp() override {
    if (!other.differs_from(dir.path())) {
      GTEST_SKIP() << "no second file system: /dev/shm is missing or on the same device as "
                   << dir.path() << "; the copy-and-delete move is not exercised";
    }
  }
  std::string there(const std::string& name) const { return (other.path() / name).string(); }

  OtherFileSystem other;
};

TEST_F(HostFsAcrossDevices, MovesAFileAndAFolderTree) {
  write_file(dir / "file", "across");
  write_file(dir / "tree" / "a" / "leaf", "leaf");
  write_file(dir / "tree" / ".hidden", "hidden");
  stdfs::create_directory(dir / "tree" / "empty");
  stdfs::create_symlink("a/leaf", dir / "tree" / "link");
  const auto tree_before = snapshot_tree(dir / "tree");
  write_file(other.path() / "replaced", "old");

  EXPECT_TRUE(fs->rename(at("file"), there("file")));
  EXPECT_FALSE(stdfs::exists(dir / "file"));
  EXPECT_EQ(read_file(other.path() / "file"), "across");

  EXPECT_TRUE(fs->rename(at("tree"), there("tree")));
  EXPECT_FALSE(stdfs::exists(dir / "tree"));
  EXPECT_EQ(snapshot_tree(other.path() / "tree"), tree_before);

  write_file(dir / "new", "new");
  EXPECT_TRUE(fs->rename(at("new"), there("replaced")));
  EXPECT_EQ(read_file(other.path() / "replaced"), "new");

  // No temporary copy is left beside the targets, and the sources are gone.
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(other.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"file", "replaced", "tree"}));
  EXPECT_TRUE(stdfs::is_empty(dir.path()));
}

// A fifo cannot be copied, so the copy stops part-way through the tree.
TEST_F(HostFsAcrossDevices, AFailedCopyLeavesNoHalfCopiedTarget) {
  write_file(dir / "tree" / "a-first", "copied before the failure");
  ASSERT_EQ(::mkfifo((dir / "tree" / "m-fifo").c_str(), 0600), 0);
  write_file(dir / "tree" / "z-last", "after");

  EXPECT_FALSE(fs->rename(at("tree"), there("tree")));
  EXPECT_TRUE(stdfs::is_empty(other.path()));
  EXPECT_EQ(read_file(dir / "tree" / "a-first"), "copied before the failure");
  EXPECT_TRUE(stdfs::is_fifo(dir / "tree" / "m-fifo"));
  EXPECT_EQ(read_file(dir / "tree" / "z-last"), "after");
}

}  // namespace
}  // namespace zrk
