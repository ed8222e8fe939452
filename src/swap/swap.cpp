#include "swap/swap.h"

#include <algorithm>
#include <optional>

#include "common/text.h"
#include "swap/payload.h"

namespace zrk {

namespace {

struct PayloadItem {
  std::string name;
  Presence installed = Presence::kAbsent;  // what stood at its install path before the swap
  bool linked = false;    // its installed form was linked into the backup, not moved
  bool moved_in = false;  // the staged form's move into the install folder answered yes

  bool existed() const { return installed == Presence::kPresent; }
};

struct SwapFolders {
  const std::string& install;
  const std::string& staging;
  const std::string& backup;
};

// Ends the swap at `name` before anything of it moved; the undo that follows
// takes the items before it.
void fail_at(const std::string& name, SwapOutcome* outcome, Messages* messages) {
  outcome->status = kSwapFailed;
  outcome->failed_at = name;
  add_message(messages, "swap failed at " + name + ", undoing the completed moves");
}

// What an earlier run left of one payload item in the backup, and what stands
// at its place in the install folder: kCannotTell where either status cannot
// be read.
struct Leftover {
  std::string saved;
  std::string installed;
  Presence in_place;
};

// Nothing when the backup surely holds nothing of `name`.
std::optional<Leftover> leftover_of(ZrkUpdFs& fs, const SwapFolders& folders,
                                    const std::string& name) {
  Leftover left{join_path(folders.backup, name), join_path(folders.install, name),
                Presence::kCannotTell};
  const Presence in_backup = fs.exists(left.saved);
  if (in_backup == Presence::kAbsent) return std::nullopt;
  if (in_backup == Presence::kPresent) left.in_place = fs.exists(left.installed);
  return left;
}

// An item that an interrupted run moved into the backup, and whose place in
// the install folder is still empty, goes back before the backup is cleared;
// the backup only ever holds payload items. One that cannot go back, or whose
// place cannot be looked at, stops the swap, so that clearing the backup
// never takes it.
bool restore_vacant_items(ZrkUpdFs& fs, const SwapFolders& folders, SwapOutcome* outcome,
                          Messages* messages) {
  if (fs.exists(folders.backup) == Presence::kAbsent) return true;
  for (const std::string name : kShippedPayload) {
    const std::optional<Leftover> left = leftover_of(fs, folders, name);
    if (!left || left->in_place == Presence::kPresent) continue;
    if (left->in_place == Presence::kCannotTell) {
      fail_at(name, outcome, messages);
      return false;
    }
    if (!fs.rename(left->saved, left->installed)) {
      outcome->status = kSwapFailed;
      outcome->failed_at = name;
      add_message(messages, "could not restore " + name + " from the backup");
      return false;
    }
    add_message(messages, "restored " + name + " from an interrupted update");
  }
  return true;
}

// Puts the old form of `name` from the backup in the place of whatever stands
// in the install folder. A file over a file goes in one step, so the game's
// program never leaves its place. False, with its line, when it did not.
bool put_back_old_form(ZrkUpdFs& fs, const SwapFolders& folders, const std::string& name,
                       Messages* messages) {
  const std::optional<Leftover> left = leftover_of(fs, folders, name);
  if (!left) return true;
  const std::string& saved = left->saved;
  const std::string& installed = left->installed;
  const Presence in_place = left->in_place;
  if (in_place == Presence::kCannotTell) {
    add_message(messages, "could not restore " + name + " from the backup");
    return false;
  }
  const bool one_step = in_place == Presence::kPresent && fs.is_file(saved) == Presence::kPresent &&
                        fs.is_file(installed) == Presence::kPresent;
  if (one_step && fs.same_file(saved, installed)) {
    // A second name of the installed file that a rollback could not drop,
    // as Windows refuses while another process holds the file: the item is
    // in place, and the name goes if it can.
    if (!fs.remove_all(saved)) {
      add_message(messages, "kept " + name + " in place; a second name of it stays in the backup");
    }
    return true;
  }
  bool restored = false;
  if (one_step) {
    restored = fs.replace(saved, installed);
  } else {
    if (in_place == Presence::kPresent && !fs.remove_all(installed)) {
      add_message(messages, "could not clear " + name + " before restoring it");
      return false;
    }
    restored = fs.rename(saved, installed);
  }
  if (!restored) {
    add_message(messages, "could not restore " + name + " from the backup");
    return false;
  }
  add_message(messages, "restored " + name + " from an unfinished update");
  return true;
}

// A swap that did not finish (a kill, a power cut, a rollback that could not
// put everything back) left the old form of each item it took in the backup,
// and the install folder part old and part new. Every old form goes back over
// the new one, which the archive brings again, so the swap starts from the
// old version whole; nothing is removed from the backup first. Goes on past
// a failure, like the undo; any failure stops the swap, the backup and the
// mark staying for the next run.
bool finish_unfinished_swap(ZrkUpdFs& fs, const SwapFolders& folders, SwapOutcome* outcome,
                            Messages* messages) {
  if (fs.exists(folders.backup) == Presence::kAbsent) return true;
  for (const std::string name : kShippedPayload) {
    if (put_back_old_form(fs, folders, name, messages)) continue;
    outcome->status = kSwapFailed;
    outcome->rollback_complete = false;
    if (outcome->failed_at.empty()) outcome->failed_at = name;
  }
  return outcome->status == kSwapOk;
}

// Keeps the staged names that belong to the payload, in staged order, and asks
// now, before anything moves, what stands at each one's place. The game's
// program goes last, so the undo takes it first: a cut before its turn leaves
// the old program, which still knows the update it started, and a cut after
// it leaves the whole new version.
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

// Whether a payload item stands in the backup, or may.
bool holds_payload_item(ZrkUpdFs& fs, const std::string& backup) {
  return std::any_of(kShippedPayload.begin(), kShippedPayload.end(), [&](const char* name) {
    return fs.exists(join_path(backup, name)) != Presence::kAbsent;
  });
}

// Whatever an earlier run left in the backup folder is discarded first. Where
// a mark is kept, a payload item that cannot be removed from the backup stops
// the swap: a mark set beside forms that a finished update left behind would
// have a later run put them back.
bool prepare_backup(ZrkUpdFs& fs, const std::string& backup, bool marked, Messages* messages) {
  if (!fs.remove_all(backup) && marked && holds_payload_item(fs, backup)) {
    add_message(messages, "cannot clear " + backup);
    return false;
  }
  if (fs.create_directories(backup)) return true;
  add_message(messages, "cannot create " + backup);
  return false;
}

// The mark says that the backup holds the old forms of a swap under way. It
// is on the device, with the emptied backup beside it, before the first move,
// so that no cut can leave old forms in the backup without it, nor a mark
// beside forms that an earlier, finished update left behind.
bool set_mark(ZrkUpdFs& fs, const std::string& mark, Messages* messages) {
  if (fs.create_directories(mark) && fs.flush_entry(mark)) return true;
  add_message(messages, "cannot write " + mark);
  return false;
}

// Links the installed form of a file that a file replaces into the backup,
// which then takes the place of its move-out. False when the link failed, or
// when either status cannot be read: two moves there would leave the name
// empty for a while. Where no link can be made here, `item.linked` stays
// false and the item is moved out as any other.
bool link_into_backup(ZrkUpdFs& fs, const std::string& installed, const std::string& staged,
                      const std::string& saved, PayloadItem* item) {
  const Presence old_file = fs.is_file(installed);
  const Presence new_file = old_file == Presence::kPresent ? fs.is_file(staged) : old_file;
  if (old_file == Presence::kCannotTell || new_file == Presence::kCannotTell) return false;
  if (old_file != Presence::kPresent || new_file != Presence::kPresent) return true;
  const LinkResult result = fs.link(installed, saved);
  item->linked = result == LinkResult::kLinked;
  return result != LinkResult::kFailed;
}

// One item's turn: the installed form into the backup, the staged form in. The
// item joins `completed` before its move-in, so a failed move-in is undone too.
// An item whose place could not be looked at ends the swap before it moves.
bool move_item(ZrkUpdFs& fs, const SwapFolders& folders, PayloadItem item,
               std::vector<PayloadItem>& completed, Messages* messages) {
  if (item.installed == Presence::kCannotTell) return false;
  const std::string installed = join_path(folders.install, item.name);
  const std::string staged = join_path(folders.staging, item.name);
  const std::string saved = join_path(folders.backup, item.name);
  if (item.existed()) {
    if (!link_into_backup(fs, installed, staged, saved, &item)) return false;
    if (!item.linked && !fs.rename(installed, saved)) {
      // A move-out that answered no but went through still has its item in
      // the backup, which the undo must then put back.
      if (fs.exists(installed) == Presence::kAbsent && fs.exists(saved) == Presence::kPresent) {
        completed.push_back(item);
      }
      return false;
    }
  }
  completed.push_back(item);
  item.moved_in = item.linked ? fs.replace(staged, installed) : fs.rename(staged, installed);
  completed.back().moved_in = item.moved_in;
  if (!item.moved_in) return false;
  add_message(messages, "installed " + item.name);
  return true;
}

// Whether a move-in that answered no went in all the same: a network file
// system can report a failure for a rename it made. The staged item still in
// staging says it did not. Where that cannot be read either, the undo takes
// it as made: clearing is safe for an item whose installed form went into the
// backup or that had none, and a replacing rename back puts a linked item's
// old form back either way.
bool moved_in(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& item) {
  return item.moved_in || fs.exists(join_path(folders.staging, item.name)) != Presence::kPresent;
}

// Puts a linked item back in one step, so the undo never frees its name
// either. One whose replace never happened still stands as it was; only the
// second name in the backup goes, and the installed file, which a virus
// scanner may be holding, is not touched.
void undo_linked_item(ZrkUpdFs& fs, const std::string& installed, const std::string& saved, bool in,
                      const std::string& name, SwapOutcome* outcome, Messages* messages) {
  if (!in) {
    if (fs.remove_all(saved)) {
      add_message(messages, "restored " + name);
    } else {
      add_message(messages, "kept " + name + " in place; a second name of it stays in the backup");
    }
    return;
  }
  if (!fs.replace(saved, installed)) {
    outcome->rollback_complete = false;
    add_message(messages, "could not restore " + name + " from the backup");
    return;
  }
  add_message(messages, "restored " + name);
}

// Puts one item back as it was. Only what the swap moved in is cleared, and a
// path that cannot be cleared keeps its backup where it is, so a restore never
// lands on something still standing.
void undo_item(ZrkUpdFs& fs, const SwapFolders& folders, const PayloadItem& item,
               SwapOutcome* outcome, Messages* messages) {
  const std::string installed = join_path(folders.install, item.name);
  const std::string saved = join_path(folders.backup, item.name);
  const bool in = moved_in(fs, folders, item);
  if (item.linked) {
    undo_linked_item(fs, installed, saved, in, item.name, outcome, messages);
    return;
  }
  if (in && !fs.remove_all(installed)) {
    outcome->rollback_complete = false;
    add_message(messages, "could not clear " + item.name + " before restoring it");
    return;
  }
  if (!item.existed()) {
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
  fail_at(failed.name, outcome, messages);
  for (auto it = completed.rbegin(); it != completed.rend(); ++it) {
    undo_item(fs, folders, *it, outcome, messages);
  }
}

}  // namespace

void swap_payload(SwapOutcome* outcome, ZrkUpdFs* fs, const std::string& install,
                  const std::string& staging, const std::string& backup,
                  const std::vector<std::string>& staged_names, Messages* messages,
                  const std::string& mark) {
  *outcome = SwapOutcome{};
  if (fs == nullptr) {
    outcome->status = kSwapNoFs;
    return;
  }
  const SwapFolders folders{install, staging, backup};
  const Presence unfinished = mark.empty() ? Presence::kAbsent : fs->exists(mark);
  if (unfinished == Presence::kCannotTell) {
    outcome->status = kSwapFailed;
    add_message(messages, "cannot read " + mark);
    return;
  }
  if (unfinished == Presence::kPresent) {
    if (!finish_unfinished_swap(*fs, folders, outcome, messages)) return;
  } else if (!restore_vacant_items(*fs, folders, outcome, messages)) {
    return;
  }

  const std::vector<PayloadItem> items = filter_payload(*fs, folders, staged_names, messages);
  if (items.empty()) {
    outcome->status = kSwapNoPayload;
    add_message(messages, "the archive holds no payload item");
    return;
  }

  const bool marked = !mark.empty();
  if (!prepare_backup(*fs, backup, marked, messages) ||
      (marked && !set_mark(*fs, mark, messages))) {
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
