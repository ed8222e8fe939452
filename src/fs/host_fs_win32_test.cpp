// Moves that Windows refuses while another handle holds the item open without
// delete sharing, as a running game or a virus scanner does.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "fs/host_fs_test.h"

namespace zrk {
namespace {

using test::read_file;
using test::write_file;

// Opens `path` for reading, sharing read access only, until closed.
HANDLE hold_open(const std::filesystem::path& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(HostFsTest, RenameOfAFileHeldOpenFailsAfterEveryAttempt) {
  write_file(dir / "held.pak", "held");
  const HANDLE handle = hold_open(dir / "held.pak");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs->rename(at("held.pak"), at("moved.pak")));
  CloseHandle(handle);
  EXPECT_EQ(read_file(dir / "held.pak"), "held");
  EXPECT_FALSE(std::filesystem::exists(dir / "moved.pak"));
}

TEST_F(HostFsTest, RenameGoesThroughOnceTheHolderLetsGo) {
  fs = make_host_fs();
  write_file(dir / "held.pak", "held");
  write_file(dir / "old.pak", "replaced");
  const HANDLE handle = hold_open(dir / "held.pak");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::thread holder([handle] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    CloseHandle(handle);
  });
  const Clock::time_point start = Clock::now();
  const bool moved = fs->rename(at("held.pak"), at("old.pak"));
  const double elapsed = seconds_since(start);
  holder.join();
  EXPECT_TRUE(moved);
  EXPECT_GE(elapsed, 0.5);
  EXPECT_LT(elapsed, 2.0);
  EXPECT_EQ(read_file(dir / "old.pak"), "held");
  EXPECT_FALSE(std::filesystem::exists(dir / "held.pak"));
}

// A file open without delete sharing, as a running program's file is, stops
// nothing else: the rest goes, the answer is no, and the removal ends.
TEST_F(HostFsTest, RemoveAllTakesWhatItCanPastAFileHeldOpen) {
  write_file(dir / "tree" / "a" / "first", "1");
  write_file(dir / "tree" / "m" / "held", "cannot go");
  write_file(dir / "tree" / "m" / "beside", "2");
  write_file(dir / "tree" / "z" / "last", "3");
  const HANDLE handle = hold_open(dir / "tree" / "m" / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(fs->remove_all(at("tree")));
  EXPECT_LT(seconds_since(start), 2.0);
  CloseHandle(handle);
  EXPECT_EQ(test::snapshot_tree(dir / "tree"),
            (std::map<std::string, std::string>{{"m", "dir"}, {"m/held", "file:cannot go"}}));
  EXPECT_TRUE(fs->remove_all(at("tree")));
}

}  // namespace
}  // namespace zrk
