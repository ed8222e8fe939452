#include "swap/swap.h"

#include <algorithm>

#include "common/text.h"
#include "swap/payload.h"

namespace zrk {

namespace {

struct PayloadItem {
  std::string name;
  bool existed = false;  // the install folder held this name before the swap
  bool linked = false;   // its installed form was linked into the backup, not moved
};

struct SwapFolders {
  const std::string& install;
  const std::string& staging;
  const std::string& backup;
};

// An item that an interrupted run moved into the backup, and whose place in
// the install folder is still empty, goes back before the backup is cleared;
// the backup only ever holds payload items. One that cannot go back stops the
// swap, so that clearing the backup never takes it.
bool restore_vacant_items(ZrkUpdFs& fs, const SwapFolders& folders, SwapOutcome* outcome,
                          Messages* messages) {
  if (!fs.exists(folders.backup)) return true;
  for (const std::string name : kShippedPayload) {
    const std::string saved = join_path(folders.backup, name);
    const std::string installed = join_path(folders.install, name);
    if (!fs.exists(saved) || fs.exists(installed)) continue;
    if (!fs.rename(saved, installed)) {
      outcome->status = kSwapFailed;
      outcome->failed_at = name;
      add_message(messages, "could not restore " + name + " from the backup");
      return false;
    }
    add_message(messages, "restored " + name + " from an interrupted update");
  }
  return true;
}

// Keeps the staged names that belong to the payload, in staged order, and asks
// now, before anything moves, whether each one is already installed. The
// game's program goes last, so the undo takes it first: a cut before its turn
// leaves the old program, which still knows the update it started, and a cut
// after it leaves the whole new version.
std::vector<PayloadItem> filter_payload(ZrkUpdFs& fs, const SwapFolders& folders,
                                        const std::vector<std::string>& staged_names,
                                        Messages* messages) {
  std::vector<PayloadItem> items;
  for (const std::string& name : staged_names) {
    if (is_payload_name(name)) {
      items.push_back({name, fs.exists(join_path(folders.install, name))});
    } else {
      add_message(messages, "ignored " + name + ": not part of the shipped payload");
    }
  }
  std::stable_partition(items.begin(), items.end(),
                        [](const PayloadItem& item) { return item.name != game_exe_name(); });
  return items;
}

// Whatever an earlier run left in the backup folder is discarded first.
bool prepare_backup(ZrkUpdFs& fs, const std::string& backup, Messages* messages) {
  fs.remove_all(backup);
  if (fs.create_directories(backup)) return true;
  add_message(messages, "cannot create " + backup);
  return false;
}

// Links the installed form of a file that a file replaces into the backup,
// which then takes the place of its move-out. False only when the link failed;
// where no link can be made here, `item.linked` stays false and the item is
// moved out as any other.
bool link_into_backup(ZrkUpdFs& fs, const std::string& installed, const std::string& staged,
                      const std::string& saved, PayloadItem* item) {
  if (!fs.is_file(installed) || !fs.is_file(staged)) return true;
  const LinkResult result = fs.link(installed, saved);
  item->linked = result == LinkResult::kLinked;
  return result != LinkResult::kFailed;
}

// One item's turn: the installed form into the backup, the staged form in. The
// item joins `completed` before its move-in, so a failed move-in is undone too.
bool move_item(ZrkUpdFs& fs, const SwapFolders& folders, PayloadItem item,
               std::vector<PayloadItem>& completed, Messages* messages) {
  const std::string installed = join_path(folders.install, item.name);
  const std::string staged = join_path(folders.staging, item.name);
  const std::string saved = join_path(folders.backup, item.name);
  if (item.existed) {
    if (!link_into_backup(fs, installed, staged, saved, &item)) return false;
    if (!item.linked && !fs.rename(installed, saved)) return false;
  }
  completed.push_back(item);
  const bool moved_in = item.linked ? fs.replace(staged, installed) : fs.rename(staged, installed);
  if (!moved_in) return false;
  add_message(messages, "installed " + item.name);
  return true;
}

// Puts a linked item back in one step, so the undo never frees its name
// either. One whose replace never happened still stands as it was; only the
// second name in the backup goes, and the installed file, which a virus
// scanner may be holding, is not touched.
void undo_linked_item(ZrkUpdFs& fs, const std::string& installed, const std::string& saved,
                      bool moved_in, const std::string& name, SwapOutcome* outcome,
                      Messages* messages) {
  if (!moved_in) {
    fs.remove_all(saved);
  } else if (!fs.replace(saved, installed)) {
    outcome->rollback_complete = false;
    add_message(messages, "could not restore " + name + " from the backup");
    return;
  }
  add_message(messages, "restored " + name);
}

// Puts one item back as it was. A path that cannot be cleared keeps its
// backup where it is, so a restore never lands on something still standing.
void undo_item(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& item, bool moved_in,
               SwapOutcome* outcome, Messages* messages) {
  const std::string installed = join_path(folders.install, item.name);
  const std::string saved = join_path(folders.backup, item.name);
  if (item.linked) {
    undo_linked_item(fs, installed, saved, moved_in, item.name, outcome, messages);
    return;
  }
  if (!fs.remove_all(installed)) {
    outcome->rollback_complete = false;
    add_message(messages, "could not clear " + item.name + " before restoring it");
    return;
  }
  if (!item.existed) {
    add_message(messages, "removed " + item.name + ", which the archive had just added");
    return;
  }
  if (fs.rename(saved, installed)) {
    add_message(messages, "restored " + item.name);
  } else {
    outcome->rollback_complete = false;
    add_message(messages, "could not restore " + item.name + " from the backup");
  }
}

void fail_and_undo(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& failed,
                   const std::vector<PayloadItem>& completed, SwapOutcome* outcome,
                   Messages* messages) {
  outcome->status = kSwapFailed;
  outcome->failed_at = failed.name;
  add_message(messages, "swap failed at " + failed.name + ", undoing the completed moves");
  // The failed item is among the completed ones only when its move-in failed,
  // and then it is the last.
  for (auto it = completed.rbegin(); it != completed.rend(); ++it) {
    const bool moved_in = it != completed.rbegin() || it->name != failed.name;
    undo_item(fs, folders, *it, moved_in, outcome, messages);
  }
}

}  // namespace

void swap_payload(SwapOutcome* outcome, ZrkUpdFs* fs, const std::string& install,
                  const std::string& staging, const std::string& backup,
                  const std::vector<std::string>& staged_names, Messages* messages) {
  *outcome = SwapOutcome{};
  if (fs == nullptr) {
    outcome->status = kSwapNoFs;
    return;
  }
  const SwapFolders folders{install, staging, backup};
  if (!restore_vacant_items(*fs, folders, outcome, messages)) return;

  const std::vector<PayloadItem> items = filter_payload(*fs, folders, staged_names, messages);
  if (items.empty()) {
    outcome->status = kSwapNoPayload;
    add_message(messages, "the archive holds no payload item");
    return;
  }

  if (!prepare_backup(*fs, backup, messages)) {
    outcome->status = kSwapFailed;
    return;
  }

  std::vector<PayloadItem> completed;
  for (const PayloadItem& item : items) {
    if (!move_item(*fs, folders, item, completed, messages)) {
      fail_and_undo(*fs, folders, item, completed, outcome, messages);
      return;
    }
  }
}

}  // namespace zrk
