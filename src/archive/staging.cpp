#include "archive/staging.h"

#include <system_error>

#include "common/text.h"
#include "fs/host_folders.h"

namespace zrk {

std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path) {
  // The long path form on Windows takes only "\\" as a separator.
  std::filesystem::path path = staging_path / from_utf8(relative_path);
  path.make_preferred();
  return path;
}

bool make_folder(const std::filesystem::path& folder) { return !make_folders(folder); }

bool StagingFolders::make_folder(const std::filesystem::path& folder) {
  if (!zrk::make_folder(folder)) return false;
  last_made_ = folder;
  return true;
}

bool StagingFolders::make_parent_folders(const std::filesystem::path& file) {
  std::filesystem::path parent = file.parent_path();
  if (!last_made_.empty() && parent.native() == last_made_.native()) return true;
  if (!zrk::make_folder(parent)) return false;
  last_made_ = std::move(parent);
  return true;
}

}  // namespace zrk
