// What an extraction would stage, kept in memory instead of on disk, for a
// check that wants the verdict and not the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/staging_sink.h"

namespace zrk {

// The folders below `root` and the files, each with its length, known by a
// 64-bit hash of the staged path (the reader keeps every path already; a
// clash among 200,000 is unlikely past one in a billion and would cost one
// entry in the count), the names directly in `root` in full, and the members
// the reader skipped. Nothing is made anywhere and no write fails.
struct StagedTally final : StagingSink {
  // Entries known by a path hash, each with a length, in one flat table of
  // 16 bytes a slot: a node map took 40 or more an entry and its buckets.
  class HashedLengths {
   public:
    // Records `hash` with `length`, replacing the length of one there. True
    // when it is new.
    bool put(std::uint64_t hash, std::uint64_t length);
    // Records `hash` with length 0 unless it is there. True when it is new.
    bool insert(std::uint64_t hash);
    // The number of entries.
    std::size_t size() const { return count_; }
    // The sum of their lengths, modulo 2^64.
    std::uint64_t total_length() const { return total_; }

   private:
    // Hash 0 marks a free slot.
    struct Slot {
      std::uint64_t hash;
      std::uint64_t length;
    };
    // The length of the entry `hash`, added with length 0 when it is new.
    std::uint64_t& length_of(std::uint64_t hash, bool* added);
    std::size_t probe_start(std::uint64_t hash) const;
    // The slot of `hash`, or the free one where it would go.
    std::size_t free_or_equal_slot(std::uint64_t hash) const;

    std::vector<Slot> slots_;  // open addressing, a power of two long
    std::size_t count_ = 0;
    std::uint64_t total_ = 0;
  };

  explicit StagedTally(std::filesystem::path staging_root) : root(std::move(staging_root)) {}

  // Folders are recorded with those above them, up to `root`; a file is
  // recorded with its length at its close, replacing one of its path.
  bool make_folder(const std::filesystem::path& folder) override;
  bool make_parent_folders(const std::filesystem::path& file) override;
  bool open_file(const std::filesystem::path& file, FileKind kind) override;
  bool write_file(const char* data, std::size_t size) override;
  bool close_file() override;
  void skip_member(SkippedMember member) override;

  std::filesystem::path root;  // the staging path the readers were given
  HashedLengths folders;
  HashedLengths files;
  // Each name directly in `root`, as UTF-8, and whether it is a file.
  std::map<std::string, bool> top;
  // The names of the skipped members, in the reader's order.
  std::vector<std::string> skipped;
  // The files and folders a system or tool leaves behind (pack/litter.h),
  // by their UTF-8 path below `root` with "/" between names.
  std::set<std::string> litter;

 private:
  void add_folder(std::filesystem::path folder);
  void note_if_litter(const std::filesystem::path& entry);

  bool file_open_ = false;
  std::filesystem::path file_path_;
  std::uint64_t file_length_ = 0;
};

}  // namespace zrk
