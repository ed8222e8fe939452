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

// Looks for an entry of any kind at `path`. A link is asked about itself, so a
// dangling link is present; a name that does not resolve (a missing parent,
// or a file where a folder should be) is absent. When the status cannot be
// read, the error comes back and `*present` says nothing.
std::error_code find_entry(const std::filesystem::path& path, bool* present);

// Removes `path` and everything below it. A link (on Windows, a reparse
// point whose tag stands for another name) is removed as itself and its target is never entered; a
// read-only entry is removed like any other. Goes on past a failure, so everything that can go
// does; visits each entry once and never retries. A host may share the folders between two threads;
// the report is the same whichever thread removed what. A missing path is success with nothing
// removed. An entry that a delete reported gone but that still stands counts as left.
TreeRemoval remove_tree(const std::filesystem::path& path);

}  // namespace zrk
