// The move across volumes, the same on every host: a copy beside the target
// under a name of its own (so a copy in progress never shows under the
// target's name), flushed to the device, renamed into place, the folder's
// entry flushed, and only then the source deleted. A copy that fails is
// removed again, so the target is never left half-written.
#include <atomic>
#include <string>
#include <vector>

#include "fs/durable.h"
#include "fs/host_move.h"
#include "fs/host_move_steps.h"
#include "fs/host_tree.h"
#include "fs/listing.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

bool starts_with(const stdfs::path& name, const stdfs::path& prefix) {
  return name.native().compare(0, prefix.native().size(), prefix.native()) == 0;
}

// What the copies of `to` in progress are called: "." + its name + this.
stdfs::path temporary_prefix(const stdfs::path& to) {
  stdfs::path prefix(".");
  prefix += to.filename();
  prefix += ".zrk-move-";
  return prefix;
}

// Copies of `to` left by a process killed in the middle of a move: nothing
// else removes them, and they would stay in the install folder for good.
// `own` starts the names of this process's copies, which are left alone.
void remove_stale_copies(const stdfs::path& to, const stdfs::path& own) {
  const stdfs::path prefix = temporary_prefix(to);
  // What cannot be listed is left for a later move to clear.
  std::vector<FolderEntry> entries;
  list_folder_entries(to.parent_path(), &entries, EntryDetail::kKinds);
  for (const FolderEntry& entry : entries) {
    if (starts_with(entry.name, prefix) && !starts_with(entry.name, own)) {
      remove_tree(to.parent_path() / entry.name);
    }
  }
}

// Copies the entry `from` of kind `kind` to `to`, where nothing stands. Each
// entry is asked about itself, not as the listing shows it, so an entry that
// is not copied stops the copy, and the item stays where it is.
bool copy_entry(const stdfs::path& from, CopyKind kind, const stdfs::path& to) {
  switch (kind) {
    case CopyKind::kFile:
      return copy_file_entry(from, to);
    case CopyKind::kLink:
      return copy_link_entry(from, to);
    case CopyKind::kNone:
      return false;
    case CopyKind::kFolder:
      break;
  }
  if (!copy_folder_entry(from, to)) return false;
  std::vector<FolderEntry> entries;
  if (list_folder_entries(from, &entries, EntryDetail::kKinds)) return false;
  for (const FolderEntry& entry : entries) {
    const stdfs::path child = from / entry.name;
    if (!copy_entry(child, copy_kind(child), to / entry.name)) return false;
  }
  return true;
}

bool copy_then_delete(const stdfs::path& from, const stdfs::path& to) {
  static std::atomic<unsigned> counter{0};
  stdfs::path own = temporary_prefix(to);
  own += process_tag() + "-";
  remove_stale_copies(to, own);
  stdfs::path name = own;
  name += std::to_string(counter++);
  const stdfs::path temporary = to.parent_path() / name;
  const CopyKind kind = copy_kind(from);
  const bool placed = copy_entry(from, kind, temporary) && flush_copy(temporary, kind) &&
                      rename_entry(temporary, to) == RenameStep::kRenamed;
  if (!placed) {
    remove_tree(temporary);
    return false;
  }
  // The source goes only once the new name is on the device: the two lie on
  // different volumes, which keep no order between them.
  if (flush_folder(to.parent_path())) return false;
  // The item now stands at `to`; a source that cannot be deleted stays
  // behind, as a Windows copy-allowed move leaves it.
  remove_tree(from);
  return true;
}

}  // namespace

bool move_once(const stdfs::path& from, const stdfs::path& to) {
  if (!renames_as_itself(from)) return false;
  // A rename within a volume is committed by the run's later flush of the
  // folders.
  switch (rename_entry(from, to)) {
    case RenameStep::kRenamed:
      return true;
    case RenameStep::kFailed:
      return false;
    case RenameStep::kOtherVolume:
      break;
  }
  return copy_then_delete(from, to);
}

bool is_regular_entry(const stdfs::path& path) { return copy_kind(path) == CopyKind::kFile; }

}  // namespace zrk
