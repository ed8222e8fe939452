#include "swap/swap.h"

#include "common/text.h"
#include "swap/payload.h"

namespace zrk {

namespace {

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
// now, before anything moves, whether each one is already installed.
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
  return items;
}

// Whatever an earlier run left in the backup folder is discarded first.
bool prepare_backup(ZrkUpdFs& fs, const std::string& backup, Messages* messages) {
  fs.remove_all(backup);
  if (fs.create_directories(backup)) return true;
  add_message(messages, "cannot create " + backup);
  return false;
}

// One item's turn: the installed form out to backup, the staged form in. The
// item joins `completed` before its move-in, so a failed move-in is undone too.
bool move_item(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& item,
               std::vector<PayloadItem>& completed, Messages* messages) {
  const std::string installed = join_path(folders.install, item.name);
  if (item.existed && !fs.rename(installed, join_path(folders.backup, item.name))) return false;
  completed.push_back(item);
  if (!fs.rename(join_path(folders.staging, item.name), installed)) return false;
  add_message(messages, "installed " + item.name);
  return true;
}

// Puts one item back as it was. A path that cannot be cleared keeps its
// backup where it is, so a restore never lands on something still standing.
void undo_item(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& item,
               SwapOutcome* outcome, Messages* messages) {
  const std::string installed = join_path(folders.install, item.name);
  if (!fs.remove_all(installed)) {
    outcome->rollback_complete = false;
    add_message(messages, "could not clear " + item.name + " before restoring it");
    return;
  }
  if (!item.existed) {
    add_message(messages, "removed " + item.name + ", which the archive had just added");
    return;
  }
  if (fs.rename(join_path(folders.backup, item.name), installed)) {
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
  for (auto it = completed.rbegin(); it != completed.rend(); ++it) {
    undo_item(fs, folders, *it, outcome, messages);
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
