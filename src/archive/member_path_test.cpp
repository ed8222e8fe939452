#include "archive/member_path.h"

#include <gtest/gtest.h>

namespace zrk {
namespace {

struct PathCase {
  std::string name;
  bool accepted;
  std::string relative_or_reason;
};

const char kAbsolute[] = "member path is absolute";
const char kBackslash[] = "member path has a backslash";
const char kDrive[] = "member path has a drive letter";
const char kControl[] = "member path has a control character";
const char kOutside[] = "member path is outside the Z-Ravelkin/ folder";
const char kComponent[] = "member path has an empty, . or .. component";
const char kDevice[] = "member path has a reserved device name";
const char kNotUtf8[] = "member path is not valid UTF-8";
const char kTrailing[] = "member path has a name ending in a dot or blank";

const PathCase kPathCases[] = {
    {"", false, "empty member path"},
    {"/Z-Ravelkin/a", false, kAbsolute},
    {"/a\\b", false, kAbsolute},
    {"Z-Ravelkin\\a", false, kBackslash},
    {"C:/Z-Ravelkin/a", false, kDrive},
    {"Z-Ravelkin/a:b", false, kDrive},
    {"Z-Ravelkin/a\tb", false, kControl},
    {"Z-Ravelkin/a\x7f"
     "b",
     false, kControl},
    {std::string("Z-Ravelkin/a\0b", 14), false, kControl},
    {"Z-Ravelkin/a:b\\c", false, kDrive},
    {"x\\y", false, kBackslash},
    {"z-ravelkin/a", false, kOutside},
    {"Z-Ravelkin", false, kOutside},
    {"Z-Ravelkinx/a", false, kOutside},
    {"docs/Z-Ravelkin/a", false, kOutside},
    {"Z-Ravelkin/", true, ""},
    {"Z-Ravelkin///", true, ""},
    {"Z-Ravelkin/bin/", true, "bin"},
    {"Z-Ravelkin/bin//", true, "bin"},
    {"Z-Ravelkin/bin/tool.dll", true, "bin/tool.dll"},
    {"Z-Ravelkin//bin", false, kComponent},
    {"Z-Ravelkin/bin//tool.dll", false, kComponent},
    {"Z-Ravelkin/./tool.dll", false, kComponent},
    {"Z-Ravelkin/bin/..", false, kComponent},
    {"Z-Ravelkin/../", false, kComponent},
    {"Z-Ravelkin/..x", true, "..x"},
    {"Z-Ravelkin/...", false, kTrailing},
    {"Z-Ravelkin/.config", true, ".config"},
    {"Z-Ravelkin/\xe6\x97\xa5\xe6\x9c\xac/donn\xc3\xa9"
     "es",
     true,
     "\xe6\x97\xa5\xe6\x9c\xac/donn\xc3\xa9"
     "es"},
    // Windows device names, whatever their case, extension or trailing blanks.
    {"Z-Ravelkin/CON", false, kDevice},
    {"Z-Ravelkin/con.txt", false, kDevice},
    {"Z-Ravelkin/NUL .txt", false, kDevice},
    {"Z-Ravelkin/bin/COM1", false, kDevice},
    {"Z-Ravelkin/LPT9.log", false, kDevice},
    {"Z-Ravelkin/CONIN$", false, kDevice},
    {"Z-Ravelkin/conout$.x/a", false, kDevice},
    {"Z-Ravelkin/aux/", false, kDevice},
    {"Z-Ravelkin/con/../x", false, kComponent},  // the component rule comes first
    {"Z-Ravelkin/COM\xc2\xb9", false, kDevice},  // superscript one
    {"Z-Ravelkin/lpt\xc2\xb3.txt", false, kDevice},
    {"Z-Ravelkin/COM\xc2\xb4", true, "COM\xc2\xb4"},  // an acute accent is no digit
    {"Z-Ravelkin/COM\xc2\xb9x", true, "COM\xc2\xb9x"},
    {"Z-Ravelkin/COM0", true, "COM0"},
    {"Z-Ravelkin/COM10", true, "COM10"},
    {"Z-Ravelkin/CONSOLE", true, "CONSOLE"},
    {"Z-Ravelkin/xcon", true, "xcon"},
    {"Z-Ravelkin/LPT", true, "LPT"},
    {"Z-Ravelkin/.con", true, ".con"},
    // Strict UTF-8, judged after the byte scan and before the top folder.
    {"Z-Ravelkin/\xc0\xaf", false, kNotUtf8},          // overlong "/"
    {"Z-Ravelkin/\xed\xa0\x80x", false, kNotUtf8},     // a UTF-16 surrogate
    {"Z-Ravelkin/\xf5\x80\x80\x80", false, kNotUtf8},  // past U+10FFFF
    {"Z-Ravelkin/caf\xc3", false, kNotUtf8},           // cut inside a character
    {"\xff/a", false, kNotUtf8},
    {"Z-Ravelkin/a\\\xff", false, kBackslash},
    // Windows drops a trailing dot or blank, so two names could meet.
    {"Z-Ravelkin/readme.", false, kTrailing},
    {"Z-Ravelkin/bin /tool.dll", false, kTrailing},
    {"Z-Ravelkin/bin/tool.dll ", false, kTrailing},
    {"Z-Ravelkin/bin./", false, kTrailing},
    {"Z-Ravelkin/con.", false, kDevice},  // the device rule comes first
    {"Z-Ravelkin/a/../b.", false, kComponent},
    {"Z-Ravelkin/a .b", true, "a .b"},
};

TEST(CheckMemberPath, FollowsTheRulesInOrder) {
  for (const PathCase& c : kPathCases) {
    std::string relative = "stale";
    std::string reason = "stale";
    const bool accepted = check_member_path(c.name, &relative, &reason);
    EXPECT_EQ(accepted, c.accepted) << c.name;
    if (c.accepted) {
      EXPECT_EQ(relative, c.relative_or_reason) << c.name;
      EXPECT_EQ(reason, "stale") << c.name;
    } else {
      EXPECT_EQ(reason, c.relative_or_reason) << c.name;
      EXPECT_EQ(relative, "") << c.name;
    }
  }
}

TEST(CheckMemberPath, VerdictDoesNotDependOnTheOutputs) {
  for (const PathCase& c : kPathCases) {
    EXPECT_EQ(check_member_path(c.name, nullptr, nullptr), c.accepted) << c.name;
    std::string reason;
    EXPECT_EQ(check_member_path(c.name, nullptr, &reason), c.accepted) << c.name;
    std::string relative;
    EXPECT_EQ(check_member_path(c.name, &relative, nullptr), c.accepted) << c.name;
  }
}

}  // namespace
}  // namespace zrk
