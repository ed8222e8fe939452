// Moves that Windows refuses while another handle holds the item open without
// delete sharing, as a running game or a virus scanner does.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "fs/host_fs_test.h"
#include "fs/link_guard_win32.h"

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

// Under Wine a folder in /dev/shm lies on another volume (tmpfs) than the
// temporary folder, so MoveFileExW answers ERROR_NOT_SAME_DEVICE there.
class HostFsAcrossVolumes : public HostFsTest {
 protected:
  void SetUp() override {
    other = L"Z:\\dev\\shm\\zrk-test-" + std::to_wstring(GetCurrentProcessId());
    std::filesystem::remove_all(other);
    write_file(dir / "probe", "probe");
    if (!std::filesystem::create_directories(other) ||
        MoveFileExW((dir / "probe").c_str(), (other / L"probe").c_str(), 0) ||
        GetLastError() != ERROR_NOT_SAME_DEVICE) {
      GTEST_SKIP() << "no second volume at Z:\\dev\\shm; the copy across volumes is not "
                      "exercised";
    }
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(other, ec)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(other, ec);
  }
  std::string there(const std::string& name) const { return (other / name).u8string(); }

  std::filesystem::path other;
};

bool is_read_only(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A read-only file refuses the write access that flushing its copy takes, so
// the copy is flushed first and made read-only after.
TEST_F(HostFsAcrossVolumes, MovesReadOnlyFilesWithTheirAttribute) {
  const struct {
    const char* name;
    const char* file;  // inside `name`, or empty for a file of its own
  } kItems[] = {{"plain.pak", ""}, {"game.exe", ""}, {"folder", "inside.ttf"}};
  for (const auto& item : kItems) {
    SCOPED_TRACE(item.name);
    const std::filesystem::path file = *item.file ? dir / item.name / item.file : dir / item.name;
    write_file(file, item.name);
    const bool read_only = std::string(item.name) != "plain.pak";
    if (read_only) {
      ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_TRUE(fs->rename(at(item.name), there(item.name)));
    const std::filesystem::path moved =
        *item.file ? other / item.name / item.file : other / item.name;
    EXPECT_EQ(read_file(moved), item.name);
    EXPECT_EQ(is_read_only(moved), read_only);
    EXPECT_FALSE(std::filesystem::exists(dir / item.name));
  }
}

// Only a tag that stands for another name keeps a walk out; OneDrive's
// placeholders and the other filter tags are folders with children, and only
// compression and deduplication are files like any other.
TEST(ReparseTag, OnlyNameSurrogatesAreLinksAndOnlyStorageTagsAreFiles) {
  constexpr ReparseKind kLink = ReparseKind::kLink;
  constexpr ReparseKind kFile = ReparseKind::kStoredFile;
  constexpr ReparseKind kFiltered = ReparseKind::kFiltered;
  const struct {
    const char* what;
    DWORD tag;
    ReparseKind kind;
  } kTags[] = {
      {"symbolic link", 0xA000000C, kLink},
      {"junction or mount point", 0xA0000003, kLink},
      {"WSL symbolic link", 0xA000001D, kLink},
      {"container layer link", 0xA0000027, kLink},
      {"cloud files", 0x9000001A, kFiltered},
      {"cloud files, provider 1", 0x9000101A, kFiltered},
      {"cloud files, provider 15", 0x9000F01A, kFiltered},
      {"OneDrive (older)", 0x80000021, kFiltered},
      {"deduplication", 0x80000013, kFile},
      {"compression (compact.exe)", 0x80000017, kFile},
      {"app execution alias", 0x8000001B, kFiltered},
      {"container layer", 0x80000018, kFiltered},
      {"container layer 1", 0x90001018, kFiltered},
      {"projected file system", 0x9000001C, kFiltered},
      {"single-instance storage", 0x80000007, kFiltered},
  };
  for (const auto& row : kTags) {
    EXPECT_EQ(reparse_kind(row.tag), row.kind) << row.what;
    EXPECT_EQ(is_link_tag(row.tag), row.kind == kLink) << row.what;
  }
}

}  // namespace
}  // namespace zrk
