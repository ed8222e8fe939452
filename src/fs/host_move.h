// The file system calls that change a name, one attempt each: the host's
// move, hard link and replacing move. Retries are the caller's.
#pragma once

#include <filesystem>

#include "fs/zrk_upd_fs.h"

namespace zrk {

// Moves `from` to `to` once, replacing an item at `to` where the host allows
// it and copying then deleting when the two lie on different volumes. True
// when the item now stands at `to` and no longer at `from` (a source that
// cannot be deleted after its copy is in place stays behind). A failed copy
// leaves `to` as it was; a copy in place whose folder cannot be flushed
// leaves both, and false. No retries.
bool move_once(const std::filesystem::path& from, const std::filesystem::path& to);

// True when a regular file stands at `path` itself, not behind a link; on
// Windows also a compressed or deduplicated one, not a cloud placeholder.
bool is_regular_entry(const std::filesystem::path& path);

// Makes `to` a second name of the regular file `from`, once. kUnsupported
// where the file system, the volumes or the host rule out a link for this
// file; kFailed for anything that a later attempt may get past.
LinkResult link_once(const std::filesystem::path& from, const std::filesystem::path& to);

// True when `a` and `b` name one file; false also when either cannot be
// looked at.
bool is_same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Renames the file `from` over the file `to`, once, in one step: `to` names
// the old file or the new one at every instant. A read-only `to` is replaced
// too.
bool replace_once(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zrk
