// Name changes on POSIX hosts: rename(2), which refuses another file system
// with EXDEV; link(2); and rename(2) again as the replacing move, which POSIX
// makes atomic. The copy of a move across file systems is flushed by one
// syncfs of the target's file system, however many files it holds.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "fs/durable.h"
#include "fs/host_move.h"
#include "fs/host_move_steps.h"

namespace zrk {

namespace stdfs = std::filesystem;

CopyKind copy_kind(const stdfs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return CopyKind::kNone;
  if (S_ISREG(status.st_mode)) return CopyKind::kFile;
  if (S_ISDIR(status.st_mode)) return CopyKind::kFolder;
  if (S_ISLNK(status.st_mode)) return CopyKind::kLink;
  return CopyKind::kNone;
}

RenameStep rename_entry(const stdfs::path& from, const stdfs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return RenameStep::kRenamed;
  return errno == EXDEV ? RenameStep::kOtherVolume : RenameStep::kFailed;
}

bool renames_as_itself(const stdfs::path&) { return true; }

bool copy_file_entry(const stdfs::path& from, const stdfs::path& to) {
  std::error_code ec;
  return stdfs::copy_file(from, to, stdfs::copy_options::none, ec) && !ec;
}

bool copy_folder_entry(const stdfs::path& from, const stdfs::path& to) {
  std::error_code ec;
  return stdfs::create_directory(to, from, ec) && !ec;
}

bool copy_link_entry(const stdfs::path& from, const stdfs::path& to) {
  std::error_code ec;
  stdfs::copy_symlink(from, to, ec);
  return !ec;
}

// syncfs of the folder the copy stands in: the same file system.
bool flush_copy(const stdfs::path& copy, CopyKind) { return !flush_tree(copy.parent_path()); }

std::string process_tag() { return std::to_string(::getpid()); }

LinkResult link_once(const stdfs::path& from, const stdfs::path& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return LinkResult::kLinked;
  switch (errno) {
    case EXDEV:       // another file system
    case EPERM:       // one without hard links (FAT, exFAT), or a folder
    case EOPNOTSUPP:  // the file system says so (ENOTSUP)
    case EMLINK:      // the file has as many names as it may
      return LinkResult::kUnsupported;
    default:
      return LinkResult::kFailed;
  }
}

// rename(2) of one name of a file over another name of the same file does
// nothing and succeeds; the undo of a link whose replace never happened is
// such a rename, and the name it leaves in the backup is dropped here.
bool replace_once(const stdfs::path& from, const stdfs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return false;
  if (is_same_file(from, to)) return ::unlink(from.c_str()) == 0;
  return true;
}

bool is_same_file(const stdfs::path& a, const stdfs::path& b) {
  struct stat first {
  }, second{};
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace zrk
