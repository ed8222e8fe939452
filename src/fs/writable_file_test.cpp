// Writing a file: what stands there afterwards, and failures that are
// answers rather than crashes.
#include "fs/writable_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

TEST(WritableFile, WritesChunksInOrderOverWhatStoodThere) {
  const struct {
    const char* name;
    std::string before;  // empty: no file
    std::vector<std::string> chunks;
    std::string after;
    WriteStart start = WriteStart::kEmpty;
  } kCases[] = {
      {"new file", "", {"ab", "cd"}, "abcd"},
      {"longer file is cut", "0123456789", {"xy"}, "xy"},
      {"no chunk leaves it empty", "old", {}, ""},
      {"an empty chunk adds nothing", "", {"a", "", "b"}, "ab"},
      {"a whole copy buffer", "", {std::string(65536, 'q'), "z"}, std::string(65536, 'q') + "z"},
      {"at the end, what stood there stays", "old\n", {"ab", "cd"}, "old\nabcd", WriteStart::kEnd},
      {"at the end of no file", "", {"ab"}, "ab", WriteStart::kEnd},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path path = dir / "f.bin";
    if (!c.before.empty()) test::write_file(path, c.before);
    WritableFile file;
    ASSERT_FALSE(file.open(path, c.start, AtClose::kForTreeFlush));
    for (const std::string& chunk : c.chunks) EXPECT_FALSE(file.write(chunk.data(), chunk.size()));
    EXPECT_FALSE(file.close());
    EXPECT_EQ(test::read_file(path), c.after);
  }
}

TEST(WritableFile, FailuresAreAnswersNotCrashes) {
  test::TempDir dir;
  fs::create_directory(dir / "folder");
  {
    SCOPED_TRACE("a folder stands at the path");
    WritableFile file;
    EXPECT_TRUE(file.open(dir / "folder", WriteStart::kEmpty));
    EXPECT_TRUE(file.write("a", 1));
    EXPECT_TRUE(file.close());
  }
  {
    SCOPED_TRACE("the parent folder is missing");
    WritableFile file;
    EXPECT_TRUE(file.open(dir / "missing" / "f", WriteStart::kEmpty));
  }
  {
    SCOPED_TRACE("nothing is written after the close");
    WritableFile file;
    ASSERT_FALSE(file.open(dir / "f", WriteStart::kEmpty));
    ASSERT_FALSE(file.close());
    EXPECT_TRUE(file.write("late", 4));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(test::read_file(dir / "f"), "");
  }
}

}  // namespace
}  // namespace zrk
