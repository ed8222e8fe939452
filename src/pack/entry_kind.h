// What the entries of a build folder are, asked of the host without following
// links, so that a link is seen as a link and not as what it points to.
#pragma once

#include <cstdint>
#include <filesystem>
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
  std::uint64_t size = 0;  // a file's data bytes
  std::error_code error;   // why a kUnreadable entry could not be looked at
};

// The entries of the folder `folder`, in the host's order, "." and ".."
// left out. False with the host's error in `error` when the folder cannot be
// listed to its end; what was listed until then is in `entries`.
bool list_folder_entries(const std::filesystem::path& folder, std::vector<FolderEntry>* entries,
                         std::error_code* error);

}  // namespace zrk
