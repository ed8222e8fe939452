// CreateFileW on the long path form, shared for reading, writing and removal
// as every reader of ours opens; zlib gets a C runtime descriptor made from
// the handle and libzip the handle itself, so that neither library opens a
// name through the C runtime, which documents nothing of that form.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "fs/archive_open.h"
#include "fs/open_path_win32.h"

namespace zrk {

namespace {

HANDLE open_for_reading(const std::filesystem::path& path) {
  return CreateFileW(openable_path(path).c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

gzFile open_gzip(const std::filesystem::path& path) {
  const HANDLE handle = open_for_reading(path);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // From here the descriptor owns the handle: closing it closes both.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  const gzFile file = gzdopen(fd, "rb");
  if (file == nullptr) _close(fd);
  return file;
}

zip_source_t* open_zip_source(const std::filesystem::path& path, zip_error_t* error) {
  const HANDLE handle = open_for_reading(path);
  if (handle == INVALID_HANDLE_VALUE) {
    zip_error_set(error, ZIP_ER_OPEN, static_cast<int>(GetLastError()));
    return nullptr;
  }
  zip_source_t* source = zip_source_win32handle_create(handle, 0, 0, error);
  if (source == nullptr) CloseHandle(handle);
  return source;
}

}  // namespace zrk
