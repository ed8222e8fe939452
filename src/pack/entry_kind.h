// What an entry of a build folder is, asked of the host without following
// links, so that a link is seen as a link and not as what it points to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace zrk {

enum class EntryKind {
  kFile,
  kFolder,
  kLink,     // a symbolic link, junction or other reparse point
  kSpecial,  // a device, FIFO or socket
  kUnreadable,
};

// The kind of `path` and, for a file, its size in `size`. kUnreadable with
// the host's error in `error` when the entry cannot be looked at.
EntryKind entry_kind(const std::filesystem::path& path, std::uint64_t* size,
                     std::error_code* error);

}  // namespace zrk
