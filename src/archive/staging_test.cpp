#include "archive/staging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

// Steps on one StagingFolder object, in order, in a fresh folder holding a
// file "blocker".
TEST(StagingFolder, RemembersOnlyWhatItMadeAndNeverAPrefix) {
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
    StagingFolder folders;
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
