// Where the archive readers put what they unpack: the update run's staging
// folder on disk (StagingFolder, archive/staging.h), or a sink that keeps
// only what a check of the archive needs. Paths are the staged paths
// (staged_path) below the staging path the reader was given.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "fs/writable_file.h"

namespace zrk {

// A member that a reader goes past without staging it.
struct SkippedMember {
  std::string name;    // as the archive stores it
  std::string reason;  // as the reader's note gives it, in brackets
};

class StagingSink {
 public:
  virtual ~StagingSink() = default;

  // Makes `folder` and every missing folder above it. True when it is a
  // folder afterwards (an existing folder is success).
  virtual bool make_folder(const std::filesystem::path& folder) = 0;
  // Makes the folder that is to hold the file `file` and every missing
  // folder above it. True on success, or when it already exists.
  virtual bool make_parent_folders(const std::filesystem::path& file) = 0;
  // Closes a file still open, then opens `file` for writing, created or
  // truncated, as data or as a program (its member has an execute bit).
  // False when it cannot be opened (a folder in the way, no access).
  virtual bool open_file(const std::filesystem::path& file, FileKind kind) = 0;
  // Writes all `size` bytes to the open file. False on failure (disk full and
  // the like), or when no file is open.
  virtual bool write_file(const char* data, std::size_t size) = 0;
  // Closes the open file, also after a failure while it was open. False when
  // the host reports a failure, or when no file was open.
  virtual bool close_file() = 0;
  // Takes note of a member the reader skipped; the reader's own note goes to
  // the message list as before.
  virtual void skip_member(SkippedMember member) = 0;
};

}  // namespace zrk
