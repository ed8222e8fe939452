// Staged files on Windows: CreateFileW and WriteFile straight from the copy
// buffer. Others may read and write the file meanwhile; the handle is not
// inheritable, so the relaunched game does not get it. The close flushes the
// file to the device: Windows has no later call that waits for many files.
#include <windows.h>

#include "archive/staging.h"

namespace zrk {

namespace {

HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

StagedFile::~StagedFile() { close(); }

bool StagedFile::open(const std::filesystem::path& path) {
  close();
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return file != INVALID_HANDLE_VALUE;
}

bool StagedFile::write(const char* data, std::size_t size) {
  if (as_handle(handle_) == INVALID_HANDLE_VALUE) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(as_handle(handle_), data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool StagedFile::close() {
  const HANDLE file = as_handle(handle_);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  const bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

}  // namespace zrk
