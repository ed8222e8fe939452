// The shipped payload: the only top-level names an update may place in the
// install folder, and the listing of what an archive left in staging.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zrk {

inline constexpr std::array<const char*, 11> kShippedPayload = {
    "Z-Ravelkin.exe",  "zrk-extract.exe",     "zrk-update.exe", "zravelkin.pak",
    "padmappings.txt", "typefaces",           "asset-rules",    "gpu-programs",
    "COPYING",         "ACKNOWLEDGEMENTS.md", "CREDITS",
};

// The game's program name, the payload's first row.
const char* game_exe_name();

// The updater's own program name, a payload row: an update may replace the
// running updater.
const char* updater_exe_name();

// True when `name` equals one of the payload rows byte for byte.
bool is_payload_name(std::string_view name);

// True when `staged_names` (the listing of `staging_path`) holds the game's
// program under its exact name and it is a regular file there. A name that
// differs only in letter case fails on every host, as the payload filter
// would not take it either.
// A status that cannot be read is no answer: it comes back in `*error`, and the
// result is false.
bool holds_game_program(const std::filesystem::path& staging_path,
                        const std::vector<std::string>& staged_names, std::error_code* error);

// The UTF-8 names of the entries directly in `folder`, in the host listing's
// order, hidden ones included. Never fails visibly: a folder that cannot be
// listed gives an empty list, an error while listing ends the list early.
std::vector<std::string> list_dir_names(const std::filesystem::path& folder);

}  // namespace zrk
