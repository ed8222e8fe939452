// The one listing of a folder, which the tree removal, the moves across
// volumes, zrk-pack's scan and the staged items all read folders through.
// Entries are asked about without following links, so a link is seen as a
// link and not as what it points to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zrk {

enum class EntryKind {
  kFile,
  kFolder,
  kLink,     // a symbolic link, junction or mount point
  kSpecial,  // a device, FIFO or socket
  kUnreadable,
};

struct FolderEntry {
  std::filesystem::path name;  // the entry's own name, in the host's form
  EntryKind kind = EntryKind::kUnreadable;
  std::uint64_t size = 0;  // a file's data bytes, with EntryDetail::kSizes
  // A file with any execute bit, with EntryDetail::kSizes; never on Windows.
  bool executable = false;
  std::error_code error;  // why a kUnreadable entry could not be looked at
};

// How closely each entry is looked at. A walk that only needs the kinds
// spares the host a question per file.
enum class EntryDetail {
  kKinds,  // the kind as the listing gives it; each entry is asked only where it gives none
  kSizes,  // every entry asked about itself, and a file's size with it
};

// Appends the entries of the folder `folder` to `entries`, in the host's
// order, "." and ".." left out; an empty folder lists nothing, whatever the
// file system answers for it. Empty, or the host's error when the folder
// cannot be listed to its end; what was listed until then is in `entries`.
std::error_code list_folder_entries(const std::filesystem::path& folder,
                                    std::vector<FolderEntry>* entries,
                                    EntryDetail detail = EntryDetail::kSizes);

// Appends to `names` the UTF-8 names of the entries directly in `folder`, in
// the host listing's order, hidden ones included. The host's error when the
// folder cannot be listed to its end.
std::error_code list_folder_names(const std::filesystem::path& folder,
                                  std::vector<std::string>* names);

}  // namespace zrk
