// The paths one archive puts into staging: every file and folder member and
// the folders above them. Windows compares names with letter case folded, so
// two paths that differ only in case would be one file there and two on
// Linux; a file and a folder at one path cannot both be made anywhere. Both
// readers judge each member against the set before writing it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

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
  // Hash and equality of the case-folded text.
  struct FoldedHash {
    std::size_t operator()(const std::string& path) const;
  };
  struct FoldedEqual {
    bool operator()(const std::string& a, const std::string& b) const;
  };

  PathConflict judge(const std::string& path, bool is_folder) const;

  // Path to whether it is a folder.
  std::unordered_map<std::string, bool, FoldedHash, FoldedEqual> paths_;
  // The folder that holds the path added last.
  std::string last_parent_;
};

// The reason text of a refusal for `conflict`, as "refused <name>: " ends.
const char* path_conflict_reason(PathConflict conflict);

}  // namespace zrk
