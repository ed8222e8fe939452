// Name changes on POSIX hosts: rename(2), with copy-and-delete when the two
// paths lie on different file systems, as the Windows move does by itself;
// link(2); and rename(2) again as the replacing move, which POSIX makes atomic.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "fs/durable.h"
#include "fs/host_move.h"
#include "fs/host_tree.h"
#include "fs/listing.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

// What the copies of `to` in progress are called: "." + its name + this.
std::string temporary_prefix(const stdfs::path& to) {
  return "." + to.filename().string() + ".zrk-move-";
}

// A name beside `to` that no other move of this process uses, so a copy in
// progress never shows under the target's own name.
stdfs::path temporary_beside(const stdfs::path& to) {
  static std::atomic<unsigned> counter{0};
  const std::string name =
      temporary_prefix(to) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  return to.parent_path() / name;
}

// Copies of `to` left by a process killed in the middle of a move: nothing
// else removes them, and they would stay in the install folder for good.
void remove_stale_copies(const stdfs::path& to) {
  const std::string prefix = temporary_prefix(to);
  const std::string own = prefix + std::to_string(::getpid()) + "-";
  // What cannot be listed is left for a later move to clear.
  std::vector<FolderEntry> entries;
  list_folder_entries(to.parent_path(), &entries, EntryDetail::kKinds);
  for (const FolderEntry& entry : entries) {
    const std::string& name = entry.name.native();
    if (name.compare(0, prefix.size(), prefix) == 0 && name.compare(0, own.size(), own) != 0) {
      remove_tree(to.parent_path() / name);
    }
  }
}

// The move across file systems: copy beside the target, flush it to the
// device, rename the copy into place, then delete the source. A copy that
// fails is removed again, so the target is never left half-written.
bool copy_then_delete(const stdfs::path& from, const stdfs::path& to) {
  remove_stale_copies(to);
  const stdfs::path temporary = temporary_beside(to);
  std::error_code ec;
  stdfs::copy(from, temporary, stdfs::copy_options::recursive | stdfs::copy_options::copy_symlinks,
              ec);
  if (!ec) ec = flush_tree(to.parent_path());
  if (!ec && ::rename(temporary.c_str(), to.c_str()) != 0) {
    ec.assign(errno, std::generic_category());
  }
  if (ec) {
    remove_tree(temporary);
    return false;
  }
  // The item now stands at `to`; a source that cannot be deleted stays behind,
  // as a Windows copy-allowed move leaves it.
  remove_tree(from);
  return true;
}

}  // namespace

bool move_once(const stdfs::path& from, const stdfs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  return copy_then_delete(from, to);
}

bool is_regular_entry(const stdfs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

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
  struct stat source {
  }, target{};
  if (::lstat(from.c_str(), &source) == 0 && ::lstat(to.c_str(), &target) == 0 &&
      source.st_dev == target.st_dev && source.st_ino == target.st_ino) {
    return ::unlink(from.c_str()) == 0;
  }
  return true;
}

}  // namespace zrk
