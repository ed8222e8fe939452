// Checks of what every extraction must guarantee, whatever the archive: the
// status, the lines, and what lies in and around the staging folder. Shared
// by the in-process sweeps and the runs of the real binary.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "archive/extract.h"
#include "support/test_support.h"

namespace zrk::test {

// Adds a test failure unless `status` is 0, 3 or 5 and the lines are notes
// ("skipped ...", tarballs only) followed, on a nonzero status, by exactly
// one failure line.
void expect_extract_lines(ExtractStatus status, const Messages& lines, bool notes_allowed);

// Adds a test failure for any entry below `staging` that is not a regular
// file or a folder, or whose path is not one the member path rules yield.
// Returns the total size of the staged files.
std::uintmax_t expect_staged_tree_allowed(const std::filesystem::path& staging);

// Extracts archives in process into a staging folder two levels below a
// scratch folder, so that a member climbing out of staging is seen.
class ExtractSandbox {
 public:
  ExtractSandbox();

  // Writes `bytes` as the archive `name` in the scratch folder, extracts it
  // into an empty staging folder, checks the contract and the scratch folder
  // around staging, and returns the status.
  ExtractStatus extract(const std::string& bytes, const std::string& name,
                        Messages* lines = nullptr);

  // Where the archives are written.
  const std::filesystem::path& folder() const { return dir_.path(); }
  const std::filesystem::path& staging() const { return staging_; }
  std::map<std::string, std::string> staged() const { return snapshot_tree(staging_); }

 private:
  TempDir dir_;
  std::filesystem::path staging_;
};

}  // namespace zrk::test
