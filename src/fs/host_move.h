// The one file system call that differs between hosts: a single attempt to
// move an item.
#pragma once

#include <filesystem>

namespace zrk {

// Moves `from` to `to` once, replacing an item at `to` where the host allows
// it and copying then deleting when the two lie on different volumes. True
// when the item now stands at `to`; a failed cross-volume copy leaves nothing
// at `to`. No retries.
bool move_once(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zrk
