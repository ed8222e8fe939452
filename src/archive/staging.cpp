#include "archive/staging.h"

#include <system_error>

#include "common/text.h"

namespace zrk {

std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path) {
  return staging_path / from_utf8(relative_path);
}

bool make_folder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

bool make_parent_folders(const std::filesystem::path& file) {
  return make_folder(file.parent_path());
}

bool StagedFile::open(const std::filesystem::path& path) {
  file_ = open_shared_file(path, "wb");
  return file_ != nullptr;
}

bool StagedFile::write(const char* data, std::size_t size) {
  return file_ != nullptr && std::fwrite(data, 1, size, file_.get()) == size &&
         std::ferror(file_.get()) == 0;
}

bool StagedFile::close() { return close_shared_file(file_); }

}  // namespace zrk
