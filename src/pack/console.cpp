#include "pack/console.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <vector>

namespace zrk {

namespace {

std::mutex g_mutex;
std::vector<std::filesystem::path> g_paths;

bool is_sibling_copy(const std::filesystem::path& entry, const std::filesystem::path& path) {
  const auto name = entry.filename().native();
  const auto prefix = path.filename().native() + std::filesystem::path::value_type('.');
  return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
}

// A folder that another thread still writes into may need a few attempts.
void remove_whole(const std::filesystem::path& path) {
  std::error_code error;
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::filesystem::remove_all(path, error);
    if (!error) return;
  }
}

}  // namespace

void remove_on_interrupt(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_paths.push_back(path);
}

void keep_on_interrupt(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_paths.erase(std::remove(g_paths.begin(), g_paths.end(), path), g_paths.end());
}

void remove_path_and_copies(const std::filesystem::path& path) {
  remove_whole(path);
  std::error_code error;
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::filesystem::directory_iterator it(folder, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (is_sibling_copy(it->path(), path)) remove_whole(it->path());
  }
}

void remove_registered_paths() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::filesystem::path& path : g_paths) remove_path_and_copies(path);
}

}  // namespace zrk
