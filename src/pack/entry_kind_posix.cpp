// Each entry is looked at relative to its open folder, which spares the host
// a walk of the whole path per entry.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pack/entry_kind.h"

namespace zrk {

namespace {

EntryKind kind_of(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (!S_ISREG(info.st_mode)) return EntryKind::kSpecial;
  return EntryKind::kFile;
}

}  // namespace

bool list_folder_entries(const std::filesystem::path& folder, std::vector<FolderEntry>* entries,
                         std::error_code* error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = fd < 0 ? nullptr : ::fdopendir(fd);
  if (stream == nullptr) {
    *error = std::error_code(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* listed = ::readdir(stream);
    if (listed == nullptr) break;
    if (std::strcmp(listed->d_name, ".") == 0 || std::strcmp(listed->d_name, "..") == 0) continue;
    FolderEntry entry;
    entry.name = listed->d_name;
    struct stat info;
    if (::fstatat(::dirfd(stream), listed->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.error = std::error_code(errno, std::generic_category());
    } else {
      entry.kind = kind_of(info);
      if (entry.kind == EntryKind::kFile) entry.size = static_cast<std::uint64_t>(info.st_size);
    }
    entries->push_back(std::move(entry));
  }
  const int listing_error = errno;
  ::closedir(stream);
  if (listing_error == 0) return true;
  *error = std::error_code(listing_error, std::generic_category());
  return false;
}

}  // namespace zrk
