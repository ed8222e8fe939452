#include <sys/stat.h>

#include <cerrno>

#include "pack/entry_kind.h"

namespace zrk {

EntryKind entry_kind(const std::filesystem::path& path, std::uint64_t* size,
                     std::error_code* error) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    *error = std::error_code(errno, std::generic_category());
    return EntryKind::kUnreadable;
  }
  *size = 0;
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (!S_ISREG(info.st_mode)) return EntryKind::kSpecial;
  *size = static_cast<std::uint64_t>(info.st_size);
  return EntryKind::kFile;
}

}  // namespace zrk
