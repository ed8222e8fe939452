#include "archive/staging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

TEST(StagedFile, WritesChunksInOrderOverWhatStoodThere) {
  const struct {
    const char* name;
    std::string before;  // empty: no file
    std::vector<std::string> chunks;
    std::string after;
  } kCases[] = {
      {"new file", "", {"ab", "cd"}, "abcd"},
      {"longer file is cut", "0123456789", {"xy"}, "xy"},
      {"no chunk leaves it empty", "old", {}, ""},
      {"an empty chunk adds nothing", "", {"a", "", "b"}, "ab"},
      {"a whole copy buffer", "", {std::string(65536, 'q'), "z"}, std::string(65536, 'q') + "z"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path path = dir / "f.bin";
    if (!c.before.empty()) test::write_file(path, c.before);
    StagedFile file;
    ASSERT_TRUE(file.open(path));
    for (const std::string& chunk : c.chunks) EXPECT_TRUE(file.write(chunk.data(), chunk.size()));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(test::read_file(path), c.after);
  }
}

TEST(StagedFile, FailuresAreAnswersNotCrashes) {
  test::TempDir dir;
  fs::create_directory(dir / "folder");
  {
    SCOPED_TRACE("a folder stands at the path");
    StagedFile file;
    EXPECT_FALSE(file.open(dir / "folder"));
    EXPECT_FALSE(file.write("a", 1));
    EXPECT_FALSE(file.close());
  }
  {
    SCOPED_TRACE("the parent folder is missing");
    StagedFile file;
    EXPECT_FALSE(file.open(dir / "missing" / "f"));
  }
  {
    SCOPED_TRACE("nothing is written after the close");
    StagedFile file;
    ASSERT_TRUE(file.open(dir / "f"));
    ASSERT_TRUE(file.close());
    EXPECT_FALSE(file.write("late", 4));
    EXPECT_FALSE(file.close());
    EXPECT_EQ(test::read_file(dir / "f"), "");
  }
}

// Steps on one StagingFolders object, in order, in a fresh folder holding a
// file "blocker".
TEST(StagingFolders, RemembersOnlyWhatItMadeAndNeverAPrefix) {
  enum Op { kParentOf, kFolder };
  struct Step {
    Op op;
    const char* path;
    bool ok;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::vector<const char*> folders;  // must be folders afterwards
  } kCases[] = {
      {"files of one folder", {{kParentOf, "a/b/1", true}, {kParentOf, "a/b/2", true}}, {"a/b"}},
      {"a sibling whose name extends the last folder's",
       {{kParentOf, "a/b/1", true}, {kParentOf, "a/bc/2", true}},
       {"a/b", "a/bc"}},
      {"a deeper folder below the last one",
       {{kParentOf, "a/1", true}, {kParentOf, "a/b/c/2", true}},
       {"a", "a/b/c"}},
      {"back to an earlier folder",
       {{kParentOf, "a/1", true}, {kParentOf, "b/2", true}, {kParentOf, "a/3", true}},
       {"a", "b"}},
      {"a folder member, then a file in it",
       {{kFolder, "d/e", true}, {kParentOf, "d/e/1", true}},
       {"d/e"}},
      {"a file in the way stays in the way",
       {{kParentOf, "blocker/1", false},
        {kParentOf, "ok/1", true},
        {kParentOf, "blocker/2", false}},
       {"ok"}},
      {"a failed folder member is not remembered",
       {{kFolder, "blocker", false}, {kParentOf, "blocker/1", false}},
       {}},
      {"a folder member where a file stands, after its parent was made",
       {{kParentOf, "x/1", true}, {kFolder, "x/1", false}, {kParentOf, "x/1/2", false}},
       {"x"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::write_file(dir / "blocker", "b");
    StagingFolders folders;
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.path);
      const fs::path path = dir.path() / step.path;
      if (step.op == kFolder) {
        EXPECT_EQ(folders.make_folder(path), step.ok);
      } else {
        EXPECT_EQ(folders.make_parent_folders(path), step.ok);
        // What the reader does next: the file lands in the folder.
        if (step.ok) test::write_file(path, "f");
      }
    }
    for (const char* folder : c.folders) EXPECT_TRUE(fs::is_directory(dir / folder)) << folder;
    EXPECT_EQ(test::read_file(dir / "blocker"), "b");
  }
}

}  // namespace
}  // namespace zrk
