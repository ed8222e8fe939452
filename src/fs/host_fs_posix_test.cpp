// Moves across file systems, which rename(2) refuses with EXDEV.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "fs/host_fs_test.h"
#include "fs/host_tree.h"

namespace zrk {
namespace {

namespace stdfs = std::filesystem;
using test::read_file;
using test::snapshot_tree;
using test::write_file;

// A second file system: a folder in /dev/shm.
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

// A copy left by a killed move goes with the next move of the same item;
// copies of other items stay.
TEST_F(HostFsAcrossDevices, ClearsTheCopyThatAKilledMoveLeft) {
  write_file(other.path() / ".file.zrk-move-1-0", "stale");
  write_file(other.path() / ".other.zrk-move-1-0", "another item's");
  write_file(dir / "file", "across");
  EXPECT_TRUE(fs->rename(at("file"), there("file")));
  EXPECT_FALSE(stdfs::exists(other.path() / ".file.zrk-move-1-0"));
  EXPECT_EQ(read_file(other.path() / ".other.zrk-move-1-0"), "another item's");
  EXPECT_EQ(read_file(other.path() / "file"), "across");
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

// An entry that even root cannot remove stops nothing else: the rest goes,
// and the report names it alone. Folders are shared between two
// threads, so the stuck entry sits in each of several folders in turn.
TEST_F(HostFsTest, RemoveAllTakesWhatItCanPastAnEntryThatStays) {
  for (const char* stuck_in : {"a", "m", "q", "t", "z"}) {
    for (const char* folder : {"a", "m", "q", "t", "z"}) {
      write_file(dir / "tree" / folder / "inside", "1");
    }
    write_file(dir / "tree" / stuck_in / "stuck", "cannot go");
    {
      test::ScopedImmutable locked(dir / "tree" / stuck_in / "stuck");
      ASSERT_TRUE(locked.active());
      const TreeRemoval removal = remove_tree(dir / "tree");
      EXPECT_EQ(removal.error, std::errc::operation_not_permitted) << stuck_in;
      EXPECT_EQ(removal.left, std::vector<stdfs::path>{dir / "tree" / stuck_in / "stuck"});
      EXPECT_EQ(snapshot_tree(dir / "tree"),
                (std::map<std::string, std::string>{
                    {stuck_in, "dir"}, {std::string(stuck_in) + "/stuck", "file:cannot go"}}))
          << stuck_in;
    }
    EXPECT_TRUE(fs->remove_all(at("tree")));
  }
}

}  // namespace
}  // namespace zrk
