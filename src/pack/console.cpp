#include "pack/console.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "fs/host_tree.h"
#include "fs/listing.h"

namespace zrk {

namespace {

std::mutex g_mutex;
std::vector<std::filesystem::path> g_paths;

bool is_sibling_copy(const std::string& name, const std::string& path_name) {
  const std::string prefix = path_name + '.';
  return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0;
}

// A folder that another thread still writes into may need a few attempts.
void remove_whole(const std::filesystem::path& path) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (!remove_tree(path).error) return;
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
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // What cannot be listed is left: the clean-up does what it can.
  std::vector<std::string> names;
  list_folder_names(folder, &names);
  const std::string path_name = to_utf8(path.filename());
  for (const std::string& name : names) {
    if (is_sibling_copy(name, path_name)) remove_whole(folder / from_utf8(name));
  }
}

void remove_registered_paths() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::filesystem::path& path : g_paths) remove_path_and_copies(path);
}

}  // namespace zrk
