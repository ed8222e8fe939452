// The host's own walk over a tree: a test for an entry and a tree removal in
// which a link or junction is an entry of its own, never a way into its target.
// The run's work folders and HostFs both remove through it.
#pragma once

#include <filesystem>
#include <system_error>
#include <vector>

namespace zrk {

// What a tree removal left behind.
struct TreeRemoval {
  // The first error met; empty when everything went.
  std::error_code error;
  // The entries that stayed for a reason of their own, in the order met. A
  // folder that stayed only because something inside it did is not listed.
  std::vector<std::filesystem::path> left;
};

// True when an entry of any kind stands at `path`. A link is asked about
// itself, so a dangling link is present. A path whose status cannot be read
// counts as absent.
bool entry_exists(const std::filesystem::path& path);

// Removes `path` and everything below it. A link (on Windows, a reparse
// point whose tag stands for another name) is removed as itself and its target is never entered; a
// read-only entry is removed like any other. Goes on past a failure, so everything that can go
// does; visits each entry once and never retries. A host may share the folders between two threads;
// the report is the same whichever thread removed what. A missing path is success with nothing
// removed. An entry that a delete reported gone but that still stands counts as left.
TreeRemoval remove_tree(const std::filesystem::path& path);

}  // namespace zrk
