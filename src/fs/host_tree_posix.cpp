// The tree walk on POSIX hosts: every entry is reached relative to an open
// folder and looked at without following links, so a link swapped in during
// the walk cannot lead it out of the tree. An entry's own permissions do not
// stop an unlink, so read-only files need nothing special.
//
// Unlinks in different folders do not wait on each other, so two threads
// remove a large tree in about half the time: a thread that meets a folder
// with several folders in it offers the later half of them to the other
// thread, and takes work offered to it while it waits for that half. Each
// half reports into its own TreeRemoval, joined in listing order, so the
// result does not depend on which thread removed what.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "common/worker_pool.h"
#include "fs/host_tree.h"
#include "fs/interrupted_posix.h"
#include "fs/listing_posix.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

void note(TreeRemoval* result, const stdfs::path& where, int error) {
  if (!result->error) result->error.assign(error, std::generic_category());
  result->left.push_back(where);
}

// Appends what `part` left to `result`, which was met first.
void join(TreeRemoval* result, TreeRemoval&& part) {
  if (!result->error) result->error = part.error;
  for (stdfs::path& where : part.left) result->left.push_back(std::move(where));
}

// Folders of one listing for a thread to remove.
struct FolderRun {
  int folder;  // open, the listing's own
  const std::vector<FolderEntry>* names;
  std::vector<std::size_t> picks;  // indexes into names
  const stdfs::path* shown;        // the listed folder's path
  TreeRemoval result = {};
  bool gone = true;
  bool done = false;  // under the crew's lock
};

class Crew;
void remove_folders(FolderRun* run, Crew* crew);

// The second thread of a removal, started when there is first work to offer.
// One offer waits at a time; nobody takes it only when both threads are busy,
// and then the thread that made it takes it back.
class Crew {
 public:
  // Posts `run` for the other thread. False when an offer already waits.
  bool offer(FolderRun* run) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (offered_ != nullptr) return false;
      offered_ = run;
    }
    // Finds the offer gone when its maker took it back; then it does nothing.
    helper_.post([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (offered_ != nullptr) take(lock);
    });
    changed_.notify_all();
    return true;
  }

  // Returns once `run`, which this thread offered, is done, running it here
  // if nobody took it, and anything else offered meanwhile.
  void wait(FolderRun* run) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!run->done) {
      if (offered_ != nullptr) {
        take(lock);
      } else {
        changed_.wait(lock);
      }
    }
  }

 private:
  // Runs the waiting offer with the lock released.
  void take(std::unique_lock<std::mutex>& lock) {
    FolderRun* run = offered_;
    offered_ = nullptr;
    lock.unlock();
    remove_folders(run, this);
    lock.lock();
    run->done = true;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  FolderRun* offered_ = nullptr;
  // Last, so that the helper ends before the rest goes.
  WorkerPool helper_{1};
};

bool remove_at(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result,
               Crew* crew);

// The top of the tree goes by its path, as remove(3) takes a file, link or
// empty folder alike; everything below it relative to its open folder.
int unlink_entry(int folder, const char* name, bool is_folder) {
  if (folder == AT_FDCWD) return std::remove(name);
  return ::unlinkat(folder, name, is_folder ? AT_REMOVEDIR : 0);
}

// An entry that could not be looked at takes the careful way, which reports it.
bool maybe_folder(const FolderEntry& entry) {
  return entry.kind == EntryKind::kFolder || entry.kind == EntryKind::kUnreadable;
}

// Removes the picked entries of `run`, offering the later half of a long
// list to the other thread first.
void remove_folders(FolderRun* run, Crew* crew) {
  const std::vector<std::size_t>& picks = run->picks;
  const std::size_t half = picks.size() / 2;
  FolderRun later{run->folder, run->names, {}, run->shown};
  bool shared = false;
  if (half > 0) {
    later.picks.assign(picks.begin() + static_cast<std::ptrdiff_t>(half), picks.end());
    shared = crew->offer(&later);
  }
  const std::size_t mine = shared ? half : picks.size();
  for (std::size_t i = 0; i < mine; ++i) {
    const std::string& name = (*run->names)[picks[i]].name.native();
    run->gone =
        remove_at(run->folder, name.c_str(), *run->shown / name, &run->result, crew) && run->gone;
  }
  if (!shared) return;
  crew->wait(&later);
  run->gone = later.gone && run->gone;
  join(&run->result, std::move(later.result));
}

// Removes everything in the folder `name`: its files first, then its
// folders. True when all of it went.
bool empty_folder(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result,
                  Crew* crew) {
  const int fd = again_if_interrupted(
      [&] { return ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
  if (fd < 0) {
    note(result, shown, errno);
    return false;
  }
  DIR* stream = ::fdopendir(fd);
  if (stream == nullptr) {
    note(result, shown, errno);
    ::close(fd);
    return false;
  }
  // Every name is read before any of them is removed.
  std::vector<FolderEntry> names;
  const std::error_code listed = read_folder_entries(stream, EntryDetail::kKinds, &names);
  if (listed) note(result, shown, listed.value());
  bool emptied = !listed;
  FolderRun folders{::dirfd(stream), &names, {}, &shown};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const FolderEntry& child = names[i];
    if (maybe_folder(child)) {
      folders.picks.push_back(i);
      continue;
    }
    // An entry listed as no folder goes at once: unlinkat never follows a
    // link, whatever stands there by now, and saves a status call per file.
    // Any failure takes the careful way, which reports it.
    const bool gone = ::unlinkat(folders.folder, child.name.c_str(), 0) == 0 || errno == ENOENT;
    if (!gone) {
      emptied = remove_at(folders.folder, child.name.c_str(), shown / child.name, result, crew) &&
                emptied;
    }
  }
  remove_folders(&folders, crew);
  join(result, std::move(folders.result));
  ::closedir(stream);
  return folders.gone && emptied;
}

// Removes the entry `name` in the open folder `folder`; `shown` is its path
// for the report. True when it is gone.
bool remove_at(int folder, const char* name, const stdfs::path& shown, TreeRemoval* result,
               Crew* crew) {
  struct stat status {};
  if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    note(result, shown, errno);
    return false;
  }
  const bool is_folder = S_ISDIR(status.st_mode);
  if (is_folder && !empty_folder(folder, name, shown, result, crew)) return false;
  if (unlink_entry(folder, name, is_folder) == 0 || errno == ENOENT) return true;
  note(result, shown, errno);
  return false;
}

}  // namespace

std::error_code find_entry(const stdfs::path& path, bool* present) {
  struct stat status {};
  const int result = again_if_interrupted([&] { return ::lstat(path.c_str(), &status); });
  *present = result == 0;
  if (result == 0 || errno == ENOENT || errno == ENOTDIR) return {};
  return {errno, std::generic_category()};
}

TreeRemoval remove_tree(const stdfs::path& path) {
  // A trailing "/" would make a link to a folder resolve to its target.
  std::string top = path.native();
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  TreeRemoval result;
  Crew crew;
  remove_at(AT_FDCWD, top.c_str(), path, &result, &crew);
  return result;
}

}  // namespace zrk
