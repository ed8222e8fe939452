// What both readers do to place a member in the staging folder. Each operation
// answers yes or no; the reader words the line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "common/shared_file.h"

namespace zrk {

// `staging_path` joined with the member's relative path (UTF-8, inner "/"
// kept). Throws std::system_error when the relative path is not valid UTF-8.
std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path);

// Creates `folder` and every missing folder above it. True when it is a folder
// afterwards (an existing folder is success).
bool make_folder(const std::filesystem::path& folder);

// Creates the folder that is to hold the file `file` and every missing folder
// above it. True on success, or when it already exists.
bool make_parent_folders(const std::filesystem::path& file);

// A staged file being written: created or truncated, binary, shareable.
class StagedFile {
 public:
  // False when the file cannot be opened (a folder in the way, no access).
  bool open(const std::filesystem::path& path);
  // Writes all `size` bytes. False on failure (disk full and the like).
  bool write(const char* data, std::size_t size);
  // Closes the file. False when data still buffered could not be written.
  bool close();

 private:
  SharedFile file_;
};

}  // namespace zrk
