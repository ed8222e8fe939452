#include "archive/member_path_set.h"

#include <cstdint>

#include "common/text.h"

namespace zrk {

namespace {

// Walks a path's code points with their case folded. A byte that starts no
// valid character stands for itself, shifted past every code point.
class FoldedChars {
 public:
  explicit FoldedChars(std::string_view text) : rest_(text) {}
  bool done() const { return rest_.empty(); }
  char32_t next() {
    const auto lead = static_cast<unsigned char>(rest_[0]);
    if (lead < 0x80) {  // most names are ASCII
      rest_.remove_prefix(1);
      return lead >= 'A' && lead <= 'Z' ? lead + ('a' - 'A') : lead;
    }
    const std::size_t length = utf8_char_length(rest_);
    if (length == 0) {
      const auto byte = static_cast<unsigned char>(rest_[0]);
      rest_.remove_prefix(1);
      return 0x110000 + byte;
    }
    const char32_t code_point = decode_utf8_char(rest_, length);
    rest_.remove_prefix(length);
    return fold_case(code_point);
  }

 private:
  std::string_view rest_;
};

}  // namespace

std::size_t MemberPathSet::FoldedHash::operator()(const std::string& path) const {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (FoldedChars chars(path); !chars.done();) {
    hash = (hash ^ chars.next()) * 1099511628211ULL;
  }
  return static_cast<std::size_t>(hash);
}

bool MemberPathSet::FoldedEqual::operator()(const std::string& a, const std::string& b) const {
  FoldedChars left(a);
  FoldedChars right(b);
  while (!left.done() && !right.done()) {
    if (left.next() != right.next()) return false;
  }
  return left.done() && right.done();
}

PathConflict MemberPathSet::judge(const std::string& path, bool is_folder) const {
  const auto found = paths_.find(path);
  if (found == paths_.end()) return PathConflict::kNone;
  if (found->first != path) return PathConflict::kCaseOnly;
  if (found->second != is_folder) return PathConflict::kFileAndFolder;
  return is_folder ? PathConflict::kNone : PathConflict::kSamePath;
}

PathConflict MemberPathSet::add(std::string_view relative_path, bool is_folder) {
  std::string path(relative_path);
  const std::size_t last_slash = relative_path.rfind('/');
  const std::string_view parent =
      relative_path.substr(0, last_slash == std::string_view::npos ? 0 : last_slash);
  // Archives list a folder's members together: the folders above one that
  // follows its sibling were judged and added with the sibling.
  const bool parent_known = !parent.empty() && parent == last_parent_;
  for (std::size_t slash = path.find('/'); !parent_known && slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const PathConflict conflict = judge(path.substr(0, slash), true);
    if (conflict != PathConflict::kNone) return conflict;
  }
  const PathConflict conflict = judge(path, is_folder);
  if (conflict != PathConflict::kNone) return conflict;

  for (std::size_t slash = path.find('/'); !parent_known && slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    paths_.try_emplace(path.substr(0, slash), true);
  }
  last_parent_.assign(parent);
  paths_.try_emplace(std::move(path), is_folder);
  return PathConflict::kNone;
}

const char* path_conflict_reason(PathConflict conflict) {
  switch (conflict) {
    case PathConflict::kSamePath:
      return "another member has the same path";
    case PathConflict::kFileAndFolder:
      return "a file and a folder have the same path";
    case PathConflict::kCaseOnly:
      return "another member's path differs only in letter case";
    case PathConflict::kNone:
      break;
  }
  return "";
}

}  // namespace zrk
