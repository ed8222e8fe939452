// What both readers do to place a member in the staging folder. Each operation
// answers yes or no; the reader words the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zrk {

// `staging_path` joined with the member's relative path (UTF-8), in the host's
// own separators. Throws std::system_error when the relative path is not
// valid UTF-8.
std::filesystem::path staged_path(const std::filesystem::path& staging_path,
                                  std::string_view relative_path);

// Creates `folder` and every missing folder above it. True when it is a folder
// afterwards (an existing folder is success).
bool make_folder(const std::filesystem::path& folder);

// Creates the folder that is to hold the file `file` and every missing folder
// above it. True on success, or when it already exists.
bool make_parent_folders(const std::filesystem::path& file);

// What an extraction would stage, kept in memory instead of on disk, for a
// check that wants the verdict and not the files: the folders below `root`
// and the files, each with its length, known by a 64-bit hash of the staged
// path (the reader keeps every path already; a clash among 200,000 is
// unlikely past one in a billion and would cost one entry in the count), and
// the names directly in `root` in full.
struct StagedTally {
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

  std::filesystem::path root;  // the staging path the readers were given
  HashedLengths folders;
  HashedLengths files;
  // Each name directly in `root`, as UTF-8, and whether it is a file.
  std::map<std::string, bool> top;

  // Records `folder` and the folders above it, up to `root`.
  void add_folder(std::filesystem::path folder);
  // Records the file `path` with `length` bytes, replacing one there.
  void add_file(const std::filesystem::path& path, std::uint64_t length);
};

// The folders of one extraction. Archives list a folder's files together and
// nothing removes a folder while the reader runs, so the folder made last is
// remembered and not asked for again for the next file in it.
class StagingFolders {
 public:
  // With a tally, folders are recorded there and never made.
  explicit StagingFolders(StagedTally* tally = nullptr) : tally_(tally) {}

  // make_folder, remembering `folder` when it succeeds.
  bool make_folder(const std::filesystem::path& folder);
  // make_parent_folders, with no call to the host when the parent is the
  // folder made last.
  bool make_parent_folders(const std::filesystem::path& file);

 private:
  bool make(const std::filesystem::path& folder);

  StagedTally* tally_;
  std::filesystem::path last_made_;
};

// A staged file being written: created or truncated, binary, shareable, not
// inherited by started programs. Written through the host's own file calls,
// unbuffered: every chunk is a whole copy buffer already.
class StagedFile {
 public:
  // With a tally, nothing is opened: writes are counted, and the close
  // records the file and its length there.
  explicit StagedFile(StagedTally* tally = nullptr);
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // Closes a file still open.
  ~StagedFile();

  // Closes a file still open, then opens `path`. False when it cannot be
  // opened (a folder in the way, no access).
  bool open(const std::filesystem::path& path);
  // Writes all `size` bytes. False on failure (disk full and the like), or
  // when no file is open.
  bool write(const char* data, std::size_t size);
  // Closes the file. Its data is on the device once flush_tree
  // (common/durable.h) of the staging folder returns, or earlier where the
  // host flushes at the close. False when the host reports a failure, or
  // when no file was open.
  bool close();

 private:
  // The host's own file (staged_file_*.cpp): the three operations above
  // without the tally, on a descriptor on POSIX, a HANDLE on Windows.
  struct Host;
  bool open_host(const std::filesystem::path& path);
  bool write_host(const char* data, std::size_t size);
  bool close_host();

  std::unique_ptr<Host> host_;  // null when no host file is open
  StagedTally* tally_;
  bool tallying_ = false;  // a tallied file is open
  std::filesystem::path tallied_path_;
  std::uint64_t tallied_length_ = 0;
};

}  // namespace zrk
