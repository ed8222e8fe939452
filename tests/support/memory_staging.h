// A staging folder kept in memory, for runs that want the readers' verdicts
// thousands of times a second (the fuzz targets) and for checks that the
// verdicts are those of the real folder. It answers as the disk does for what
// an extraction can meet: a file where a folder is wanted, a folder where a
// file is, a missing parent, a name or path too long for the host. It also
// keeps watch on the readers themselves: every path handed to it must lie
// below the staging root and be one the member path rules yield, and the
// data written in all may not pass the expansion cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/staging_sink.h"

namespace zrk::test {

class MemoryStaging final : public StagingSink {
 public:
  // What stands at a staged path.
  struct Entry {
    bool folder = false;
    std::uint64_t length = 0;  // of a file
  };

  explicit MemoryStaging(std::filesystem::path staging_root);

  bool make_folder(const std::filesystem::path& folder) override;
  bool make_parent_folders(const std::filesystem::path& file) override;
  bool open_file(const std::filesystem::path& file, FileKind kind) override;
  bool write_file(const char* data, std::size_t size) override;
  bool close_file() override;
  void skip_member(SkippedMember member) override;

  // The staged entries by path below the root (UTF-8, "/" between names).
  std::map<std::string, Entry> staged() const;
  // The names of the skipped members, in the reader's order.
  const std::vector<std::string>& skipped() const { return skipped_; }
  // Empty while the readers keep to their side; otherwise what they did
  // first that no reader may do.
  const std::string& breach() const { return breach_; }

 private:
  using Native = std::filesystem::path::string_type;

  // The path of `path` below the root, or false (with a breach noted) when it
  // lies elsewhere or breaks the member path rules. The root itself gives "".
  bool below_root(const std::filesystem::path& path, Native* relative);
  // Makes the folders of `relative` as the host does: nothing when a name or
  // the path is too long, else each missing one down to the first file in
  // the way. True when all of it is a folder afterwards.
  bool make_folders(const Native& relative);
  void note_breach(const std::string& what);

  std::filesystem::path root_;
  Native prefix_;  // the root's path and a separator
  // By path below the root, in the host's own form: a reader's path is cut,
  // never converted.
  std::map<Native, Entry> entries_;
  std::vector<std::string> skipped_;
  std::string breach_;
  Entry* open_ = nullptr;  // the file open for writing
  std::uint64_t written_ = 0;
};

}  // namespace zrk::test
