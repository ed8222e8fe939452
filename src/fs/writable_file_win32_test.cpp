// The log and the staged files stay open to other processes while the updater
// writes them, and its handles do not leak into the game it starts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fs/writable_file.h"
#include "support/test_support.h"

namespace zrk {
namespace {

TEST(WritableFileWin32, OthersMayReadWriteAndRemoveItWhileItIsOpen) {
  test::TempDir dir;
  const std::filesystem::path path = dir / "update.log";
  WritableFile file;
  ASSERT_FALSE(file.open(path, WriteStart::kEnd));
  ASSERT_FALSE(file.write("first line\n", 11));

  const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  char buffer[64] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(other, buffer, sizeof buffer - 1, &got, nullptr));
  EXPECT_EQ(std::string(buffer, got), "first line\n");
  CloseHandle(other);
  EXPECT_FALSE(file.close());
}

// The handles of this process that are open on a file named `name`, found by
// trying every handle value: Windows hands them out as multiples of 4.
std::vector<HANDLE> handles_on(const std::wstring& name) {
  std::vector<HANDLE> found;
  for (std::uintptr_t value = 4; value < (1u << 16); value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    wchar_t path[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, path, 1024, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 1024) continue;
    const std::wstring text(path, length);
    if (text.size() >= name.size() &&
        text.compare(text.size() - name.size(), name.size(), name) == 0) {
      found.push_back(handle);
    }
  }
  return found;
}

TEST(WritableFileWin32, HoldsOneHandleThatStartedProgramsDoNotInherit) {
  test::TempDir dir;
  WritableFile file;
  ASSERT_FALSE(file.open(dir / "staged.bin", WriteStart::kEmpty, AtClose::kForTreeFlush));
  const std::vector<HANDLE> handles = handles_on(L"\\staged.bin");
  ASSERT_EQ(handles.size(), 1u);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(handles[0], &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  EXPECT_FALSE(file.close());
  EXPECT_TRUE(handles_on(L"\\staged.bin").empty());
}

}  // namespace
}  // namespace zrk
