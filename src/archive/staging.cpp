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

bool StagingFolder::make_folder(const std::filesystem::path& folder) {
  if (make_folders(folder)) return false;
  last_made_ = folder;
  return true;
}

bool StagingFolder::make_parent_folders(const std::filesystem::path& file) {
  std::filesystem::path parent = file.parent_path();
  if (!last_made_.empty() && parent.native() == last_made_.native()) return true;
  if (make_folders(parent)) return false;
  last_made_ = std::move(parent);
  return true;
}

}  // namespace zrk
