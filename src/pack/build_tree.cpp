#include "pack/build_tree.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <system_error>

#include "archive/member_path.h"
#include "archive/member_path_set.h"
#include "common/text.h"
#include "common/worker_pool.h"
#include "fs/host_folders.h"
#include "fs/listing.h"
#include "pack/litter.h"
#include "swap/payload.h"

namespace zrk {

namespace {

constexpr std::string_view kInstallsOnly = "; the updater installs only files and folders";
constexpr int kScanThreads = 2;

// A folder's entries as judged, kept apart until they join the scan. Folders
// are listed on two threads at once: the host answers for different folders
// in parallel, and the entries are sorted at the end, so the order in which
// folders were listed does not show.
struct Listing {
  BuildScan found;
  // Its folders, still to list: their path and member name (ending in "/").
  std::vector<std::pair<std::filesystem::path, std::string>> folders;
  // The member whose read error `found` holds.
  std::string read_error_at;
  // A folder named like the top folder stands in the build folder.
  bool holds_top_folder = false;
};

void add_entry(BuildTree& tree, std::string_view name, std::uint64_t size, bool folder,
               bool executable = false) {
  BuildEntry entry;
  entry.executable = executable;
  entry.name_offset = static_cast<std::uint32_t>(tree.names.size());
  entry.name_size = static_cast<std::uint32_t>(name.size());
  entry.size = size;
  entry.folder = folder;
  tree.names.append(name);
  tree.entries.push_back(entry);
  tree.data_bytes += size;
}

std::string cannot_read(const std::filesystem::path& path, const std::error_code& error) {
  std::string text;
  try {
    text = to_utf8(path);
  } catch (const std::system_error&) {
    text = path.filename().empty() ? "?" : "a name that is not valid UTF-8";
  }
  return "cannot read " + text + ": " + error.message();
}

// Looks at one listed entry; false when the scan must stop.
bool visit(Listing& listing, const std::filesystem::path& path, const FolderEntry& entry,
           const std::string& member) {
  BuildScan& found = listing.found;
  switch (entry.kind) {
    case EntryKind::kUnreadable:
      found.read_error = cannot_read(path, entry.error);
      listing.read_error_at = member;
      return false;
    case EntryKind::kLink:
      found.problems.push_back(member + " is a link" + std::string(kInstallsOnly));
      return true;
    case EntryKind::kSpecial:
      found.problems.push_back(member + " is a device, FIFO or socket" +
                               std::string(kInstallsOnly));
      return true;
    case EntryKind::kFile:
    case EntryKind::kFolder:
      break;
  }
  const bool folder = entry.kind == EntryKind::kFolder;
  const std::string name = folder ? member + "/" : member;
  std::string reason;
  if (!check_member_path(name, nullptr, &reason)) {
    found.problems.push_back("refused " + name + ": " + reason);
    return true;
  }
  add_entry(found.tree, name, entry.size, folder, entry.executable);
  if (folder) listing.folders.emplace_back(path, name);
  return true;
}

// The UTF-8 name of a listed entry; false with a problem line when it has none.
bool entry_name(BuildScan& found, const std::filesystem::path& path, const std::string& folder,
                std::string* name) {
  try {
    *name = to_utf8(path.filename());
    return true;
  } catch (const std::system_error&) {
    found.problems.push_back("a name in " + folder + " is not valid UTF-8");
    return false;
  }
}

// The reason an entry stays out of the archive, or empty when it goes in.
std::string left_out_reason(const ScanOptions& options, const std::string& relative,
                            const std::string& name, bool top) {
  if (const std::string* pattern = matching_exclude(options.excludes, relative)) {
    return "matches --exclude " + *pattern;
  }
  if (top && !is_payload_name(name)) return "not a payload name";
  if (!options.keep_litter && is_litter(name)) return std::string(kLitterReason);
  return {};
}

// Lists and judges one folder; stops at the first read error.
Listing list_folder(const std::filesystem::path& folder, const std::string& member, bool top,
                    const ScanOptions& options) {
  Listing listing;
  std::vector<FolderEntry> entries;
  const std::error_code error = list_folder_entries(folder, &entries, EntryDetail::kSizes);
  const std::string below = member.substr(kTopFolder.size());
  for (const FolderEntry& entry : entries) {
    const std::filesystem::path path = folder / entry.name;
    std::string name;
    if (!entry_name(listing.found, path, member, &name)) continue;
    const std::string relative = below + name;
    const std::string reason = left_out_reason(options, relative, name, top);
    if (!reason.empty()) {
      listing.found.left_out.push_back("left out " + relative + " (" + reason + ")");
      if (top && entry.kind == EntryKind::kFolder &&
          name == kTopFolder.substr(0, kTopFolder.size() - 1)) {
        listing.holds_top_folder = true;
      }
      continue;
    }
    if (!visit(listing, path, entry, member + name)) return listing;
  }
  if (error) {
    listing.found.read_error = cannot_read(folder, error);
    listing.read_error_at = member;
  }
  return listing;
}

class Walk {
 public:
  Walk(BuildScan* scan, const ScanOptions& options) : scan_(*scan), options_(options) {}

  // Joins a listing to the scan. Of several read errors the scan reports the
  // one at the first member, whichever thread met it first.
  void add(Listing listing) {
    BuildTree& tree = scan_.tree;
    const auto base = static_cast<std::uint32_t>(tree.names.size());
    tree.names += listing.found.tree.names;
    for (BuildEntry entry : listing.found.tree.entries) {
      entry.name_offset += base;
      tree.entries.push_back(entry);
    }
    tree.data_bytes += listing.found.tree.data_bytes;
    append(scan_.left_out, listing.found.left_out);
    append(scan_.problems, listing.found.problems);
    holds_top_folder_ = holds_top_folder_ || listing.holds_top_folder;
    for (auto& folder : listing.folders) pending_.push_back(std::move(folder));
    if (!listing.found.read_error.empty() &&
        (read_error_at_.empty() || listing.read_error_at < read_error_at_)) {
      scan_.read_error = std::move(listing.found.read_error);
      read_error_at_ = std::move(listing.read_error_at);
    }
  }

  // Lists folders until none is left or one could not be read.
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !pending_.empty() || listing_ == 0; });
      if (pending_.empty() || !scan_.read_error.empty()) return;
      const auto [folder, member] = std::move(pending_.back());
      pending_.pop_back();
      ++listing_;
      lock.unlock();
      Listing listing = list_folder(folder, member, false, options_);
      lock.lock();
      --listing_;
      add(std::move(listing));
      changed_.notify_all();
    }
  }

  // Whether a folder named like the top folder stands in the build folder.
  bool holds_top_folder() const { return holds_top_folder_; }

 private:
  static void append(std::vector<std::string>& to, std::vector<std::string>& from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  }

  BuildScan& scan_;
  const ScanOptions& options_;
  bool holds_top_folder_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::filesystem::path, std::string>> pending_;
  int listing_ = 0;  // folders being listed
  std::string read_error_at_;
};

// The conflicts the readers find between members (paths that differ only in
// letter case, which a case-sensitive build folder can hold), judged in the
// order the archive lists them.
void add_conflicts(BuildScan& scan) {
  MemberPathSet paths;
  for (const BuildEntry& entry : scan.tree.entries) {
    // Every entry passed the path rules: its path below the top folder is
    // its name less that folder and a folder's "/".
    const std::string_view name = scan.tree.name(entry);
    std::string_view relative = name.substr(kTopFolder.size());
    if (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
    if (relative.empty()) continue;
    const PathConflict conflict = paths.add(relative, entry.folder);
    if (conflict != PathConflict::kNone) {
      scan.problems.push_back("refused " + std::string(name) + ": " +
                              path_conflict_reason(conflict));
    }
  }
}

bool holds_game(const BuildScan& scan) {
  const std::string game = std::string(kTopFolder) + game_exe_name();
  for (const BuildEntry& entry : scan.tree.entries) {
    if (!entry.folder && scan.tree.name(entry) == game) return true;
  }
  return false;
}

}  // namespace

std::filesystem::path BuildTree::source(const BuildEntry& entry) const {
  std::string_view relative = name(entry).substr(kTopFolder.size());
  if (!relative.empty() && relative.back() == '/') relative.remove_suffix(1);
  if (relative.empty()) return root;
  // The long path form on Windows takes only "\\" as a separator.
  std::filesystem::path path = root / from_utf8(relative);
  path.make_preferred();
  return path;
}

BuildScan scan_build_folder(const std::filesystem::path& root, const ScanOptions& options) {
  BuildScan scan;
  scan.tree.root = root;
  // The build folder itself may be reached through a link.
  if (const std::error_code error = check_folder(root)) {
    scan.read_error = cannot_read(root, error);
    return scan;
  }
  add_entry(scan.tree, kTopFolder, 0, true);

  Walk walk(&scan, options);
  walk.add(list_folder(root, std::string(kTopFolder), true, options));
  {
    // This thread's work() returns once the whole walk is done, so a helper
    // that never started has nothing to do.
    WorkerPool helpers(kScanThreads - 1);
    for (int i = 1; i < kScanThreads; ++i) helpers.post([&walk] { walk.work(); });
    walk.work();
  }
  if (!scan.read_error.empty()) return scan;

  if (!holds_game(scan)) {
    std::string line = std::string("the build folder holds no regular file ") + game_exe_name();
    if (walk.holds_top_folder()) {
      const std::string_view top = kTopFolder.substr(0, kTopFolder.size() - 1);
      line += " (did you mean " + join_path(options.shown_root, top) + "?)";
    }
    scan.problems.push_back(std::move(line));
  }
  const std::string_view names = scan.tree.names;
  std::sort(scan.tree.entries.begin(), scan.tree.entries.end(),
            [names](const BuildEntry& a, const BuildEntry& b) {
              return names.substr(a.name_offset, a.name_size) <
                     names.substr(b.name_offset, b.name_size);
            });
  add_conflicts(scan);
  std::sort(scan.left_out.begin(), scan.left_out.end());
  std::sort(scan.problems.begin(), scan.problems.end());
  return scan;
}

}  // namespace zrk
