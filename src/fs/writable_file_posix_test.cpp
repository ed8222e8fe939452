// Writable files as descriptors: one at a time, closed on exec, and a full disk.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "fs/writable_file.h"
#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

// Open descriptors of this process, by their targets.
std::vector<std::string> open_targets() {
  std::vector<std::string> targets;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    targets.push_back(fs::read_symlink(entry.path(), ec).string());
  }
  return targets;
}

int count_open(const fs::path& path) {
  int count = 0;
  for (const std::string& target : open_targets()) count += target == path.string();
  return count;
}

// The fdinfo flags of the descriptor open on `path`, or -1.
long open_flags(const fs::path& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    std::string value;
    while (info >> key >> value) {
      if (key == "flags:") return std::stol(value, nullptr, 8);
    }
  }
  return -1;
}

TEST(WritableFile, AFullDeviceFailsTheWrite) {
  WritableFile file;
  ASSERT_FALSE(file.open("/dev/full", WriteStart::kEmpty));
  EXPECT_EQ(file.write("abc", 3), std::errc::no_space_on_device);
  file.close();
}

TEST(WritableFile, HoldsOneDescriptorThatStartedProgramsDoNotInherit) {
  test::TempDir dir;
  const fs::path first = dir / "first";
  const fs::path second = dir / "second";
  {
    WritableFile file;
    ASSERT_FALSE(file.open(first, WriteStart::kEmpty));
    EXPECT_EQ(count_open(first), 1);
    EXPECT_NE(open_flags(first) & O_CLOEXEC, 0);
    ASSERT_FALSE(file.write("1", 1));
    // A second open closes the first file.
    ASSERT_FALSE(file.open(second, WriteStart::kEmpty));
    EXPECT_EQ(count_open(first), 0);
    EXPECT_EQ(count_open(second), 1);
    ASSERT_FALSE(file.write("2", 1));
  }
  // Going out of scope closes it, with its data on disk.
  EXPECT_EQ(count_open(second), 0);
  EXPECT_EQ(test::read_file(first), "1");
  EXPECT_EQ(test::read_file(second), "2");
}

}  // namespace
}  // namespace zrk
