// The paths one archive puts into staging: every file and folder member and
// the folders above them. Windows compares names with letter case folded, so
// two paths that differ only in case would be one file there and two on
// Linux; a file and a folder at one path cannot both be made anywhere. Both
// readers judge each member against the set before writing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zrk {

enum class PathConflict {
  kNone,
  kSamePath,       // a file already has exactly this path
  kFileAndFolder,  // one of the two is a file, the other a folder
  kCaseOnly,       // the paths differ in letter case only
};

class MemberPathSet {
 public:
  // Judges `relative_path` (accepted by check_member_path, not empty) against
  // the paths added so far, the folders above it included. kNone: it and
  // those folders are added. Any other verdict adds nothing; kSamePath is
  // the caller's to allow (a tar member replaces an earlier one).
  PathConflict add(std::string_view relative_path, bool is_folder);

 private:
  // The set is a tree of names, one node a component, so that a path costs
  // its last name and a few words rather than its full text and a map node:
  // an archive of 100,000 members keeps them all for the whole extraction.
  // '/' folds to nothing else, so two paths are equal folded exactly when
  // their components are, one by one.
  static constexpr std::uint32_t kRoot = 0xFFFFFFFF;  // parent of the top names
  static constexpr std::size_t kBlockSize = 0x10000;

  // A node's name starts at block `name >> 16`, offset `name & 0xFFFF`.
  struct Node {
    std::uint32_t parent;
    std::uint32_t name;
  };
  // An index into nodes_ with the hash of its parent and folded name; kRoot
  // as the node marks a free slot.
  struct Slot {
    std::uint32_t hash;
    std::uint32_t node;
  };

  std::string_view name_of(std::uint32_t node) const;
  // The node below `parent` whose name equals `name` folded, or kRoot.
  std::uint32_t find(std::uint32_t parent, std::string_view name, std::uint32_t hash) const;
  // Appends a node that find did not meet, and returns it.
  std::uint32_t insert(std::uint32_t parent, std::string_view name, std::uint32_t hash,
                       bool is_folder);
  // Copies `name` and its end mark into the blocks; returns where it starts.
  std::uint32_t store_name(std::string_view name);
  void grow_slots();
  // The verdict on `name` as a file or folder when find met `node` for it.
  PathConflict judge(std::uint32_t node, std::string_view name, bool is_folder) const;

  std::vector<Node> nodes_;
  std::vector<bool> is_folder_;  // by node
  // The names, each ended by a '/', in blocks that never move, so that a
  // growing set neither copies them nor keeps twice their room. A name
  // longer than a block has a block of its own.
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_used_ = kBlockSize;  // in the last block
  std::vector<Slot> slots_;              // open addressing, a power of two long
  // The folder that holds the path added last, and its node.
  std::string last_parent_;
  std::uint32_t last_parent_node_ = kRoot;
};

// The reason text of a refusal for `conflict`, as "refused <name>: " ends.
const char* path_conflict_reason(PathConflict conflict);

}  // namespace zrk
