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

bool is_file_at(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace zrk
