#include "swap/payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zrk {
namespace {

TEST(Payload, OnlyExactNamesBelongToThePayload) {
  for (const char* row : kShippedPayload) EXPECT_TRUE(is_payload_name(row)) << row;
  const char* const kOutside[] = {
      "z-ravelkin.exe",  "Z-RAVELKIN.EXE", "Z-Ravelkin.exe ", " COPYING", "Typefaces",
      "typefaces/",      "CREDITS\\",      "copying",         "",         "Z-Ravelkin",
      "asset-rules.old",
  };
  for (const char* name : kOutside) EXPECT_FALSE(is_payload_name(name)) << name;
  // A prefix of a row, or a row followed by a NUL inside the name, is not a row.
  EXPECT_FALSE(is_payload_name(std::string_view("COPYING\0x", 9)));
  EXPECT_FALSE(is_payload_name(std::string_view("COPYING", 6)));
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ListDirNames, TakesEveryEntryDirectlyInTheFolder) {
  test::TempDir dir;
  test::write_file(dir / "Z-Ravelkin.exe", "game");
  test::write_file(dir / ".hidden", "");
  test::write_file(dir / "typefaces" / "sans.ttf", "font");
  std::filesystem::create_directory(dir / "empty");
  const bool links = test::make_symlink("Z-Ravelkin.exe", dir / "link") &&
                     test::make_symlink("nowhere", dir / "dangling");
  test::write_file(dir / "\xC3\xA9t\xC3\xA9.txt", "utf-8 name");

  std::vector<std::string> expected{".hidden", "Z-Ravelkin.exe", "empty", "typefaces",
                                    "\xC3\xA9t\xC3\xA9.txt"};
  if (links) expected.insert(expected.end(), {"dangling", "link"});
  EXPECT_EQ(sorted(list_dir_names(dir.path())), sorted(expected));
}

TEST(ListDirNames, KeepsTheHostListingOrder) {
  test::TempDir dir;
  for (const char* name : {"b", "a", "COPYING", "c", "typefaces"}) test::write_file(dir / name, "");
  std::vector<std::string> host_order;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    host_order.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(list_dir_names(dir.path()), host_order);
}

TEST(ListDirNames, AFolderThatCannotBeListedGivesNothing) {
  test::TempDir dir;
  test::write_file(dir / "file", "not a folder");
  EXPECT_TRUE(list_dir_names(dir / "missing").empty());
  EXPECT_TRUE(list_dir_names(dir / "file").empty());
  EXPECT_EQ(list_dir_names(dir.path()), std::vector<std::string>{"file"});
}

}  // namespace
}  // namespace zrk
