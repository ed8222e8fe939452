#include "pack/build_tree.h"

#include <algorithm>
#include <system_error>

#include "archive/member_path.h"
#include "common/text.h"
#include "pack/entry_kind.h"
#include "swap/payload.h"

namespace zrk {

namespace {

constexpr std::string_view kInstallsOnly = "; the updater installs only files and folders";

struct Walk {
  BuildScan* scan;
  // Folders still to list: their path and member name (ending in "/").
  std::vector<std::pair<std::filesystem::path, std::string>> pending;
};

void add_entry(BuildTree& tree, std::string_view name, std::uint64_t size, bool folder) {
  BuildEntry entry;
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
bool visit(Walk& walk, const std::filesystem::path& path, const FolderEntry& entry,
           const std::string& member) {
  BuildScan& scan = *walk.scan;
  switch (entry.kind) {
    case EntryKind::kUnreadable:
      scan.read_error = cannot_read(path, entry.error);
      return false;
    case EntryKind::kLink:
      scan.problems.push_back(member + " is a link" + std::string(kInstallsOnly));
      return true;
    case EntryKind::kSpecial:
      scan.problems.push_back(member + " is a device, FIFO or socket" + std::string(kInstallsOnly));
      return true;
    case EntryKind::kFile:
    case EntryKind::kFolder:
      break;
  }
  const bool folder = entry.kind == EntryKind::kFolder;
  const std::string name = folder ? member + "/" : member;
  std::string reason;
  if (!check_member_path(name, nullptr, &reason)) {
    scan.problems.push_back("refused " + name + ": " + reason);
    return true;
  }
  add_entry(scan.tree, name, entry.size, folder);
  if (folder) walk.pending.emplace_back(path, name);
  return true;
}

// The UTF-8 name of a listed entry; false with a problem line when it has none.
bool entry_name(BuildScan& scan, const std::filesystem::path& path, const std::string& folder,
                std::string* name) {
  try {
    *name = to_utf8(path.filename());
    return true;
  } catch (const std::system_error&) {
    scan.problems.push_back("a name in " + folder + " is not valid UTF-8");
    return false;
  }
}

// Lists one folder; false when the scan must stop.
bool list_folder(Walk& walk, const std::filesystem::path& folder, const std::string& member,
                 bool top) {
  BuildScan& scan = *walk.scan;
  std::vector<FolderEntry> entries;
  std::error_code error;
  const bool listed = list_folder_entries(folder, &entries, &error);
  for (const FolderEntry& entry : entries) {
    const std::filesystem::path path = folder / entry.name;
    std::string name;
    if (!entry_name(scan, path, member, &name)) continue;
    if (top && !is_payload_name(name)) {
      scan.left_out.push_back(name);
      continue;
    }
    if (!visit(walk, path, entry, member + name)) return false;
  }
  if (!listed) {
    scan.read_error = cannot_read(folder, error);
    return false;
  }
  return true;
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

BuildScan scan_build_folder(const std::filesystem::path& root) {
  BuildScan scan;
  scan.tree.root = root;
  // The build folder itself may be reached through a link.
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) {
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    scan.read_error = cannot_read(root, error);
    return scan;
  }
  add_entry(scan.tree, kTopFolder, 0, true);

  Walk walk{&scan, {}};
  if (!list_folder(walk, root, std::string(kTopFolder), true)) return scan;
  while (!walk.pending.empty()) {
    const auto [folder, member] = std::move(walk.pending.back());
    walk.pending.pop_back();
    if (!list_folder(walk, folder, member, false)) return scan;
  }

  if (!holds_game(scan)) {
    scan.problems.push_back(std::string("the build folder holds no regular file ") +
                            game_exe_name());
  }
  const std::string_view names = scan.tree.names;
  std::sort(scan.tree.entries.begin(), scan.tree.entries.end(),
            [names](const BuildEntry& a, const BuildEntry& b) {
              return names.substr(a.name_offset, a.name_size) <
                     names.substr(b.name_offset, b.name_size);
            });
  std::sort(scan.left_out.begin(), scan.left_out.end());
  std::sort(scan.problems.begin(), scan.problems.end());
  return scan;
}

}  // namespace zrk
