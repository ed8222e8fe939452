#include "common/text.h"

#include <gtest/gtest.h>

#include <system_error>

#include "support/test_support.h"

namespace zrk {
namespace {

TEST(JoinPath, TrimsTrailingSeparatorsOfTheFolderOnly) {
  const struct {
    const char* folder;
    const char* name;
    const char* joined;
  } kCases[] = {
      {"C:\\Games\\ZR\\", ".update/staging", "C:\\Games\\ZR/.update/staging"},
      {"/srv/game//\\/", "a", "/srv/game/a"},
      {"", "a", "/a"},
      {"dir", "a/b\\c", "dir/a/b\\c"},
      {"a\\b/c", "", "a\\b/c/"},
  };
  for (const auto& c : kCases) EXPECT_EQ(join_path(c.folder, c.name), c.joined) << c.folder;
}

TEST(Utf8, ValidityFollowsTheStrictRules) {
  const struct {
    std::string bytes;
    bool valid;
  } kCases[] = {
      {"", true},
      {"plain ascii", true},
      {"donn\xC3\xA9"
       "es-\xC3\xA9t\xC3\xA9",
       true},
      {"\xE6\x97\xA5\xE6\x9C\xAC", true},  // CJK
      {"\xF0\x9F\x8E\xAE", true},          // U+1F3AE
      {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
      {"\xC3", false},                     // cut short
      {"\xC0\xAF", false},                 // overlong "/"
      {"\xE0\x80\xAF", false},             // overlong, three bytes
      {"\xF0\x80\x80\xAF", false},         // overlong, four bytes
      {"\xED\xA0\x80", false},             // surrogate U+D800
      {"\xF4\x90\x80\x80", false},         // above U+10FFFF
      {"\x80", false},                     // lone continuation
      {"\xE2\x82", false},                 // cut short
      {"\xE2\x28\xA1", false},             // bad continuation
      {"\xFF", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
}

// Simple folding maps one code point to one, as Windows compares names.
TEST(CaseFold, FoldsSimpleMappingsOnly) {
  const struct {
    char32_t from;
    char32_t to;
  } kCases[] = {
      {U'A', U'a'},       {0xC9, 0xE9},  // E with acute
      {0x1E9E, 0xDF},                    // capital sharp s, a status S mapping
      {0xDF, 0xDF},                      // "ss" only in full folding
      {0x130, 0x130},                    // I with dot above: no simple folding
      {0x212A, U'k'},                    // Kelvin sign
      {0x10400, 0x10428},                // beyond the BMP
  };
  for (const auto& c : kCases) EXPECT_EQ(fold_case(c.from), c.to) << std::hex << c.from;
}

TEST(Utf8, ConversionsPassValidTextUnchangedAndRefuseTheRest) {
  const std::string text =
      "Z-Ravelkin/donn\xC3\xA9"
      "es \xE6\x97\xA5.txt";
  EXPECT_EQ(to_utf8(from_utf8(text)), text);
  EXPECT_THROW(from_utf8("bad\xFF"), std::system_error);
  EXPECT_THROW(to_utf8(test::path_not_utf8()), std::system_error);
}

}  // namespace
}  // namespace zrk
