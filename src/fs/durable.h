// Durability: what the updater wrote is on the device, not only handed to the
// operating system. The run decides when; the host files decide how.
#pragma once

#include <filesystem>
#include <system_error>

namespace zrk {

// Waits until the data of every file closed so far below `folder`, and every
// entry made in `folder` or below it, is on the device: one wait for all the
// staged files, however many. Returns the host's error; empty on success.
std::error_code flush_tree(const std::filesystem::path& folder);

// Waits until the entries of `folder` (names made, moved in or moved out) are
// on the device. Returns the host's error; empty on success.
std::error_code flush_folder(const std::filesystem::path& folder);

}  // namespace zrk
