// Folder creation and the file test on the host's own calls. On Windows the
// C runtime's status query refuses the long path form ("\\?\") that from_utf8
// gives absolute paths, so nothing that may hold one goes through it.
#pragma once

#include <filesystem>
#include <system_error>

namespace zrk {

// Creates the folder `path` and every missing folder above it. Empty when
// `path` is a folder afterwards (read through links), whether or not it
// existed; otherwise the error of the creation, or not_a_directory when
// something else stands there.
std::error_code make_folders(const std::filesystem::path& path);

// Empty when `path`, read through links, is a folder; not_a_directory when
// something else stands there; otherwise the host's error.
std::error_code check_folder(const std::filesystem::path& path);

// True when `path`, read through links, is a regular file. False for a folder
// and a missing entry; for an entry whose status cannot be read too, with the
// host's error in `*error`, which is cleared otherwise.
bool is_file_at(const std::filesystem::path& path, std::error_code* error);

}  // namespace zrk
