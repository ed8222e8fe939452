// Archive output on Windows: CreateFileW with delete sharing, so that an
// interrupted run can remove the file it is writing, FlushFileBuffers, and
// MoveFileExW with write-through for the rename.
#include <windows.h>

#include "pack/output_file.h"

namespace zrk {

namespace {

std::error_code last_error() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

constexpr std::intptr_t kClosed = -1;

}  // namespace

OutputFile::~OutputFile() {
  if (handle_ != kClosed) close();
}

bool OutputFile::open(const std::filesystem::path& path) {
  if (handle_ != kClosed) close();
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = last_error();
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool OutputFile::write(const char* data, std::size_t size) {
  if (handle_ == kClosed) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(as_handle(handle_), data, chunk, &written, nullptr) || written == 0) {
      error_ = last_error();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// An OVERLAPPED offset on a handle opened for synchronous use writes there
// and moves the file pointer past what it wrote.
bool OutputFile::write_at(std::uint64_t offset, const char* data, std::size_t size) {
  if (handle_ == kClosed) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(as_handle(handle_), data, chunk, &written, &at) || written == 0) {
      error_ = last_error();
      return false;
    }
    data += written;
    size -= written;
    offset += written;
  }
  return true;
}

bool OutputFile::sync() {
  if (handle_ == kClosed) return false;
  if (FlushFileBuffers(as_handle(handle_))) return true;
  error_ = last_error();
  return false;
}

bool OutputFile::close() {
  if (handle_ == kClosed) return false;
  const HANDLE file = as_handle(handle_);
  handle_ = kClosed;
  if (CloseHandle(file)) return true;
  error_ = last_error();
  return false;
}

bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::error_code* error) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *error = last_error();
  return false;
}

}  // namespace zrk
