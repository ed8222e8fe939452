// The tree walk on POSIX hosts: every entry is reached relative to an open
// folder and looked at without following links, so a link swapped in during
// the walk cannot lead it out of the tree. An entry's own permissions do not
// stop an unlink, so read-only files need nothing special.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "fs/host_tree.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

void note(TreeRemoval* result, const stdfs::path& where, int error) {
  if (!result->error) result->error.assign(error, std::generic_category());
  result->left.push_back(where);
}

// A folder's entry with the type its listing gave (DT_UNKNOWN where the file
// system gives none).
struct Listed {
  std::string name;
  unsigned char type;
};

bool remove_at(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result);

// The top of the tree goes by its path, as remove(3) takes a file, link or
// empty folder alike; everything below it relative to its open folder.
int unlink_entry(int folder, const char* name, bool is_folder) {
  if (folder == AT_FDCWD) return std::remove(name);
  return ::unlinkat(folder, name, is_folder ? AT_REMOVEDIR : 0);
}

// The names in the open folder `fd`, read before any of them is removed.
// Takes over `fd`. False when the folder cannot be read to its end.
bool read_names(int fd, std::vector<Listed>* names, DIR** stream) {
  *stream = ::fdopendir(fd);
  if (*stream == nullptr) {
    ::close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(*stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back({name, entry->d_type});
    errno = 0;
  }
  return errno == 0;
}

// Removes everything in the folder `name`. True when all of it went.
bool empty_folder(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result) {
  const int fd = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    note(result, shown, errno);
    return false;
  }
  std::vector<Listed> names;
  DIR* stream = nullptr;
  bool emptied = read_names(fd, &names, &stream);
  if (!emptied) note(result, shown, errno != 0 ? errno : EIO);
  if (stream == nullptr) return false;
  for (const Listed& child : names) {
    // An entry listed as no folder goes at once: unlinkat never follows a
    // link, whatever stands there by now, and saves a status call per file.
    // Any failure takes the careful way below, which reports it.
    const bool gone = child.type != DT_DIR && child.type != DT_UNKNOWN &&
                      (::unlinkat(::dirfd(stream), child.name.c_str(), 0) == 0 || errno == ENOENT);
    if (!gone) {
      emptied =
          remove_at(::dirfd(stream), child.name.c_str(), shown / child.name, result) && emptied;
    }
  }
  ::closedir(stream);
  return emptied;
}

// Removes the entry `name` in the open folder `folder`; `shown` is its path
// for the report. True when it is gone.
bool remove_at(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result) {
  struct stat status {};
  if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    note(result, shown, errno);
    return false;
  }
  const bool is_folder = S_ISDIR(status.st_mode);
  if (is_folder && !empty_folder(folder, name, shown, result)) return false;
  if (unlink_entry(folder, name, is_folder) == 0 || errno == ENOENT) return true;
  note(result, shown, errno);
  return false;
}

}  // namespace

bool entry_exists(const stdfs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

TreeRemoval remove_tree(const stdfs::path& path) {
  // A trailing "/" would make a link to a folder resolve to its target.
  std::string top = path.native();
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  TreeRemoval result;
  remove_at(AT_FDCWD, top.c_str(), path, &result);
  return result;
}

}  // namespace zrk
