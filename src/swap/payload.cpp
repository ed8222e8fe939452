#include "swap/payload.h"

#include <algorithm>
#include <system_error>

#include "common/text.h"
#include "fs/host_folders.h"
#include "fs/listing.h"

namespace zrk {

const char* game_exe_name() { return kShippedPayload[0]; }

const char* updater_exe_name() { return kShippedPayload[2]; }

bool is_payload_name(std::string_view name) {
  for (const char* row : kShippedPayload) {
    if (name == row) return true;
  }
  return false;
}

bool holds_game_program(const std::filesystem::path& staging_path,
                        const std::vector<std::string>& staged_names, std::error_code* error) {
  error->clear();
  const char* game = game_exe_name();
  if (std::find(staged_names.begin(), staged_names.end(), game) == staged_names.end()) {
    return false;
  }
  return is_file_at(staging_path / from_utf8(game), error);
}

std::vector<std::string> list_dir_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  list_folder_names(folder, &names);
  return names;
}

}  // namespace zrk
