// The host's single calls behind a move across volumes (host_move.cpp holds
// the order of the steps, once for every host). No retries, no clean-up: a
// step that fails leaves what it made for the caller to remove.
#pragma once

#include <filesystem>
#include <string>

namespace zrk {

// What a move across volumes makes of an entry, asked about the entry itself.
enum class CopyKind {
  kFile,    // a file whose data reads like any file's (on Windows also a
            // compressed or deduplicated one)
  kFolder,  // a folder whose children are its own
  kLink,    // a symbolic link, junction or mount point
  kNone,    // what is not copied: a device, FIFO or socket, an entry whose
            // data a filter driver supplies (a cloud placeholder), or an
            // entry that cannot be looked at
};
CopyKind copy_kind(const std::filesystem::path& path);

// What came of renaming an entry in one step.
enum class RenameStep {
  kRenamed,
  kOtherVolume,  // the two paths lie on different volumes: only a copy moves it
  kFailed,
};

// Renames `from` to `to` once, replacing a file that stands at `to`.
RenameStep rename_entry(const std::filesystem::path& from, const std::filesystem::path& to);

// False for an entry that the host's rename would not move as itself (on
// Windows, a link that Wine moves as its target).
bool renames_as_itself(const std::filesystem::path& from);

// Copies the file `from` to `to`, where nothing stands, with its data and its
// permissions or read-only attribute. What the copy
// holds reaches the device no later than flush_copy of the whole copy.
bool copy_file_entry(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the folder `to`, where nothing stands, for the copy of folder `from`.
bool copy_folder_entry(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes `to` a link like the link `from`; false where the host cannot.
bool copy_link_entry(const std::filesystem::path& from, const std::filesystem::path& to);

// Waits until the copy at `copy` (a file or a tree that copy_*_entry made)
// is on the device with every entry in it.
bool flush_copy(const std::filesystem::path& copy, CopyKind kind);

// The text that keeps this process's copies apart from another's.
std::string process_tag();

}  // namespace zrk
