// What both readers do to place a member in the staging folder. Each operation
// answers yes or no; the reader words the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "archive/staging_sink.h"
#include "fs/writable_file.h"

namespace zrk {

// `staging_path` joined with the member's relative path (UTF-8), in the host's
// own separators. Throws std::system_error when the relative path is not
// valid UTF-8.
std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path);

// The update run's sink: folders and files on disk, below the staging
// folder, one staged file open at a time. A staged file's data is on the
// device once the run's flush_tree of the staging folder returns. Skipped
// members leave nothing there. Archives list a folder's files together and
// nothing removes a folder while the reader runs, so the folder made last is
// remembered and not asked for again for the next file in it.
class StagingFolder final : public StagingSink {
 public:
  // make_folders (fs/host_folders.h), remembering `folder` when it succeeds.
  bool make_folder(const std::filesystem::path& folder) override;
  // The same for the file's folder, with no call to the host when it is the
  // folder made last.
  bool make_parent_folders(const std::filesystem::path& file) override;
  bool open_file(const std::filesystem::path& file, FileKind kind) override {
    return !file_.open(file, WriteStart::kEmpty, AtClose::kForTreeFlush, kind);
  }
  bool write_file(const char* data, std::size_t size) override { return !file_.write(data, size); }
  bool close_file() override { return !file_.close(); }
  void skip_member(SkippedMember) override {}

 private:
  std::filesystem::path last_made_;
  WritableFile file_;
};

}  // namespace zrk
