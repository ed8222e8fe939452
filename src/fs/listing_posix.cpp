// Each entry is looked at relative to its open folder, which spares the host
// a walk of the whole path per entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/interrupted_posix.h"
#include "fs/listing_posix.h"

namespace zrk {

namespace {

EntryKind kind_of(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (!S_ISREG(info.st_mode)) return EntryKind::kSpecial;
  return EntryKind::kFile;
}

// The kind the listing gives; kUnreadable where the file system gives none.
EntryKind listed_kind(unsigned char type) {
  switch (type) {
    case DT_REG:
      return EntryKind::kFile;
    case DT_DIR:
      return EntryKind::kFolder;
    case DT_LNK:
      return EntryKind::kLink;
    case DT_UNKNOWN:
      return EntryKind::kUnreadable;
    default:
      return EntryKind::kSpecial;
  }
}

void look_at(int folder, const char* name, FolderEntry* entry) {
  struct stat info;
  if (again_if_interrupted([&] { return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW); }) !=
      0) {
    entry->kind = EntryKind::kUnreadable;
    entry->error = std::error_code(errno, std::generic_category());
    return;
  }
  entry->kind = kind_of(info);
  if (entry->kind != EntryKind::kFile) return;
  entry->size = static_cast<std::uint64_t>(info.st_size);
  entry->executable = (info.st_mode & 0111) != 0;
}

}  // namespace

std::error_code read_folder_entries(DIR* stream, EntryDetail detail,
                                    std::vector<FolderEntry>* entries) {
  for (;;) {
    errno = 0;
    const dirent* listed = ::readdir(stream);
    if (listed == nullptr) break;
    if (std::strcmp(listed->d_name, ".") == 0 || std::strcmp(listed->d_name, "..") == 0) continue;
    FolderEntry entry;
    entry.name = listed->d_name;
    entry.kind = listed_kind(listed->d_type);
    if (detail == EntryDetail::kSizes || entry.kind == EntryKind::kUnreadable) {
      look_at(::dirfd(stream), listed->d_name, &entry);
    }
    entries->push_back(std::move(entry));
  }
  if (errno == 0) return {};
  return {errno, std::generic_category()};
}

std::error_code list_folder_entries(const std::filesystem::path& folder,
                                    std::vector<FolderEntry>* entries, EntryDetail detail) {
  const int fd = again_if_interrupted(
      [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  DIR* stream = fd < 0 ? nullptr : ::fdopendir(fd);
  if (stream == nullptr) {
    const std::error_code error(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
    return error;
  }
  const std::error_code error = read_folder_entries(stream, detail, entries);
  ::closedir(stream);
  return error;
}

}  // namespace zrk
