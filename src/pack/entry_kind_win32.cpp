// Windows: the attributes tell a reparse point (symbolic link, junction,
// mount point) apart before anything follows it; devices show as such.
#include <windows.h>

#include "pack/entry_kind.h"

namespace zrk {

EntryKind entry_kind(const std::filesystem::path& path, std::uint64_t* size,
                     std::error_code* error) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
    *error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    return EntryKind::kUnreadable;
  }
  *size = 0;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::kSpecial;
  *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return EntryKind::kFile;
}

}  // namespace zrk
