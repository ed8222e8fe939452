// CreateFileW shared for reading, writing and removal, and ReadFile at an
// OVERLAPPED offset, which on a handle opened for synchronous use reports
// the end of the file as ERROR_HANDLE_EOF.
#include <windows.h>

#include "fs/input_file.h"
#include "fs/open_path_win32.h"

namespace zrk {

namespace {

constexpr std::intptr_t kClosed = -1;
constexpr std::size_t kLargestRead = 0x40000000;

}  // namespace

std::error_code InputFile::open(const std::filesystem::path& path) {
  close();
  const HANDLE file = CreateFileW(openable_path(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return {};
}

std::int64_t InputFile::read_at(std::uint64_t offset, char* data, std::size_t size) {
  if (handle_ == kClosed || size > kLargestRead) return -1;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (ReadFile(reinterpret_cast<HANDLE>(handle_), data, static_cast<DWORD>(size), &got, &at)) {
    return got;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_HANDLE_EOF) return 0;
  error_ = std::error_code(static_cast<int>(error), std::system_category());
  return -1;
}

std::error_code InputFile::size(std::uint64_t* bytes) {
  LARGE_INTEGER size{};
  if (handle_ == kClosed) return {ERROR_INVALID_HANDLE, std::system_category()};
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) {
    return {static_cast<int>(GetLastError()), std::system_category()};
  }
  *bytes = static_cast<std::uint64_t>(size.QuadPart);
  return {};
}

void InputFile::close() {
  if (handle_ == kClosed) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
}

}  // namespace zrk
