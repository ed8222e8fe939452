// The log and the staged files stay open to other processes while the updater
// writes them, and its handles do not leak into the game it starts.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/shared_file.h"
#include "support/test_support.h"

namespace zrk {
namespace {

TEST(SharedFileWin32, OthersMayReadAndWriteWhileItIsOpen) {
  test::TempDir dir;
  const std::filesystem::path path = dir / "update.log";
  SharedFile file = open_shared_file(path, "ab");
  ASSERT_NE(file, nullptr);
  std::fputs("first line\n", file.get());
  std::fflush(file.get());

  const HANDLE other =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  char buffer[64] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(other, buffer, sizeof buffer - 1, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "first line\n");
  CloseHandle(other);
  EXPECT_TRUE(close_shared_file(file));
}

TEST(SharedFileWin32, TheHandleIsNotInherited) {
  test::TempDir dir;
  SharedFile file = open_shared_file(dir / "staged.bin", "wb");
  ASSERT_NE(file, nullptr);
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(handle, &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

}  // namespace
}  // namespace zrk
