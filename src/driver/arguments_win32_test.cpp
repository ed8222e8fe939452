// The command line as Windows hands it over, turned into UTF-8 arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/arguments_win32.h"

namespace zrk {
namespace {

// Each argument converts on its own; one that cannot keeps its place, empty.
TEST(CommandLine, ArgumentsThatDoNotConvertBecomeEmpty) {
  const struct {
    std::wstring line;
    std::vector<std::string> args;
  } kCases[] = {
      {L"zrk-update --install \"C:\\Z\u00e9 R\" --pid 5",
       {"zrk-update", "--install", "C:\\Z\xC3\xA9 R", "--pid", "5"}},
      {L"zrk-update --install C:\\Z\xD800 --pid 5", {"zrk-update", "--install", "", "--pid", "5"}},
      {L"zrk-update --install C:\\\xDC00Z --pid 5", {"zrk-update", "--install", "", "--pid", "5"}},
      {L"zrk-update --install C:\\\xD83D\xDE00 \"\"",
       {"zrk-update", "--install", "C:\\\xF0\x9F\x98\x80", ""}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(utf8_arguments(c.line.c_str()), c.args) << c.args[2];
  }
}

}  // namespace
}  // namespace zrk
