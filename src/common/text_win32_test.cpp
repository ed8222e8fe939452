// The long path form that from_utf8 gives absolute paths, and its way back.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/text.h"

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
      {"C:Games/ZR", L"\\\\?\\C:\\Games\\ZR", "C:\\Games\\ZR"},
  };
  for (const auto& c : kCases) {
    const std::filesystem::path path = from_utf8(c.text);
    EXPECT_EQ(path.native(), c.platform) << c.text;
    EXPECT_EQ(to_utf8(path), c.back) << c.text;
  }
}

// A path written relative to the current folder is made absolute before it
// takes the long form, however long it is.
TEST(LongPathForm, WholeRelativePathsAreMadeAbsoluteFirst) {
  wchar_t current[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  const std::string here = to_utf8(std::filesystem::path(current));
  const std::string deep = std::string(150, 'a') + "/" + std::string(150, 'b');
  const struct {
    std::string text;
    std::string absolute;
  } kCases[] = {
      {".", here},
      {"dl/../u.zip", here + "\\u.zip"},
      {deep, here + "\\" + std::string(150, 'a') + "\\" + std::string(150, 'b')},
      {"C:\\Games\\ZR", "C:\\Games\\ZR"},
  };
  for (const auto& c : kCases) {
    const std::string text = absolute_path_text(c.text);
    EXPECT_EQ(text, c.absolute) << c.text;
    const std::wstring platform = from_utf8(text).native();
    EXPECT_EQ(platform.compare(0, 4, L"\\\\?\\"), 0) << c.text;
  }
}

}  // namespace
}  // namespace zrk
