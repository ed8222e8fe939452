// zrk-pack create: a build folder to an update archive that the updater
// will apply, written beside its final name and put there only once checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrk {

struct CreateOptions {
  std::string build;    // UTF-8
  std::string archive;  // UTF-8; its suffix chooses the format
  int level = 6;
  unsigned jobs = 1;
  std::uint64_t mtime = 0;
  bool quiet = false;
  std::vector<std::string> excludes;  // --exclude patterns
  bool keep_litter = false;
};

// Makes the archive and reports on stdout and stderr, naming it as the user
// wrote it; an archive that stood there is replaced, with a line, once the
// new one has been checked. Returns 0, 3 (the build folder or the result
// would be refused; no archive is left) or 5.
int create_archive(const CreateOptions& options);

}  // namespace zrk
