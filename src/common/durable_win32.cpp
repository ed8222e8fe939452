// Durability on Windows. A staged file is flushed whole at its close
// (FlushFileBuffers), so what is left is the folders' entries, which a flush
// of each folder's own handle commits. Folder handles need write access for
// that, and FILE_FLAG_BACKUP_SEMANTICS to open a folder at all.
#include <windows.h>

#include "common/durable.h"

namespace zrk {

namespace {

std::error_code last_error() { return {static_cast<int>(GetLastError()), std::system_category()}; }

}  // namespace

std::error_code flush_folder(const std::filesystem::path& folder) {
  const HANDLE handle = CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  std::error_code ec;
  if (!FlushFileBuffers(handle)) ec = last_error();
  CloseHandle(handle);
  return ec;
}

std::error_code flush_tree(const std::filesystem::path& folder) {
  if (std::error_code ec = flush_folder(folder)) return ec;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->symlink_status(ec).type() != std::filesystem::file_type::directory) continue;
    if (std::error_code failed = flush_folder(it->path())) return failed;
  }
  return ec;
}

}  // namespace zrk
