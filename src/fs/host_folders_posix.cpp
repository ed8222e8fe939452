#include <system_error>

#include "fs/host_folders.h"

namespace zrk {

std::error_code make_folders(const std::filesystem::path& path) {
  std::error_code created;
  std::filesystem::create_directories(path, created);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return {};
  return created ? created : std::make_error_code(std::errc::not_a_directory);
}

std::error_code check_folder(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return {};
  return ec ? ec : std::make_error_code(std::errc::not_a_directory);
}

bool is_file_at(const std::filesystem::path& path, std::error_code* error) {
  const std::filesystem::file_status status = std::filesystem::status(path, *error);
  // A missing entry, or a parent that is a file, is an answer, not an error.
  if (status.type() == std::filesystem::file_type::not_found) error->clear();
  return status.type() == std::filesystem::file_type::regular;
}

}  // namespace zrk
