// The long path form that from_utf8 gives absolute paths, and its way back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "driver/arguments_win32.h"

namespace zrk {
namespace {

TEST(LongPathForm, AbsolutePathsTakeItNormalisedAndComeBackWithoutIt) {
  const std::string deep = std::string(130, 'a') + "\\" + std::string(140, 'b');
  const struct {
    std::string text;
    std::wstring platform;
    std::string back;
  } kCases[] = {
      {"C:\\Games\\ZR", L"\\\\?\\C:\\Games\\ZR", "C:\\Games\\ZR"},
      {"C:\\Games\\ZR\\", L"\\\\?\\C:\\Games\\ZR\\", "C:\\Games\\ZR\\"},
      {"c:/Games\\ZR/./.update/../.update/staging", L"\\\\?\\c:\\Games\\ZR\\.update\\staging",
       "c:\\Games\\ZR\\.update\\staging"},
      {"\\\\server\\share\\ZR\\a", L"\\\\?\\UNC\\server\\share\\ZR\\a", "\\\\server\\share\\ZR\\a"},
      {"//server/share/ZR/x/../a", L"\\\\?\\UNC\\server\\share\\ZR\\a", "\\\\server\\share\\ZR\\a"},
      {"\\\\?\\C:\\Games\\ZR/a", L"\\\\?\\C:\\Games\\ZR/a", "C:\\Games\\ZR/a"},
      {"Z:\\" + deep, L"\\\\?\\Z:\\" + std::wstring(deep.begin(), deep.end()), "Z:\\" + deep},
      {"u.tgz", L"u.tgz", "u.tgz"},
      {"dl/../u.zip", L"dl/../u.zip", "dl/../u.zip"},
      {"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
  };
  for (const auto& c : kCases) {
    const std::filesystem::path path = from_utf8(c.text);
    EXPECT_EQ(path.native(), c.platform) << c.text;
    EXPECT_EQ(to_utf8(path), c.back) << c.text;
  }
}

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
