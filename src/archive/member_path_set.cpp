#include "archive/member_path_set.h"

#include <stdexcept>
#include <utility>

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

// FNV-1a of `name` folded, from a start that `parent` varies, mixed so that
// its low bits alone pick a slot.
std::uint32_t folded_hash(std::uint32_t parent, std::string_view name) {
  std::uint64_t hash = (14695981039346656037ULL ^ parent) * 1099511628211ULL;
  for (FoldedChars chars(name); !chars.done();) {
    hash = (hash ^ chars.next()) * 1099511628211ULL;
  }
  auto mixed = static_cast<std::uint32_t>(hash ^ (hash >> 32));
  mixed ^= mixed >> 16;
  mixed *= 0x85EBCA6BU;
  mixed ^= mixed >> 13;
  mixed *= 0xC2B2AE35U;
  return mixed ^ (mixed >> 16);
}

bool folded_equal(std::string_view a, std::string_view b) {
  if (a == b) return true;
  FoldedChars left(a);
  FoldedChars right(b);
  while (!left.done() && !right.done()) {
    if (left.next() != right.next()) return false;
  }
  return left.done() && right.done();
}

}  // namespace

std::string_view MemberPathSet::name_of(std::uint32_t node) const {
  const std::uint32_t start = nodes_[node].name;
  const char* text = blocks_[start >> 16].get() + (start & 0xFFFF);
  std::size_t length = 0;
  while (text[length] != '/') ++length;
  return std::string_view(text, length);
}

std::uint32_t MemberPathSet::find(std::uint32_t parent, std::string_view name,
                                  std::uint32_t hash) const {
  if (slots_.empty()) return kRoot;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.node == kRoot) return kRoot;
    if (slot.hash == hash && nodes_[slot.node].parent == parent &&
        folded_equal(name_of(slot.node), name)) {
      return slot.node;
    }
  }
}

void MemberPathSet::grow_slots() {
  std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2, Slot{0, kRoot});
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.node == kRoot) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].node != kRoot) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::uint32_t MemberPathSet::store_name(std::string_view name) {
  const std::size_t room = name.size() + 1;
  if (room > kBlockSize - block_used_) {
    // A block index past 16 bits would not fit a node; the names would fill
    // the 4 GiB before, which stands for an allocation failure.
    if (blocks_.size() > 0xFFFF) throw std::length_error("too many member path names");
    std::unique_ptr<char[]> block(new char[room > kBlockSize ? room : kBlockSize]);
    blocks_.push_back(std::move(block));
    block_used_ = 0;
  }
  char* text = blocks_.back().get() + block_used_;
  name.copy(text, name.size());
  text[name.size()] = '/';
  const auto start = static_cast<std::uint32_t>(((blocks_.size() - 1) << 16) | block_used_);
  block_used_ = room > kBlockSize ? kBlockSize : block_used_ + room;
  return start;
}

std::uint32_t MemberPathSet::insert(std::uint32_t parent, std::string_view name, std::uint32_t hash,
                                    bool is_folder) {
  // Past this the indexes would wrap; memory runs out first on any host this
  // runs on, so it stands for an allocation failure.
  if (nodes_.size() >= kRoot) throw std::length_error("too many member paths");
  // Linear probing stays short up to four slots in five in use.
  if ((nodes_.size() + 1) * 5 > slots_.size() * 4) grow_slots();
  const auto node = static_cast<std::uint32_t>(nodes_.size());
  nodes_.push_back({parent, store_name(name)});
  is_folder_.push_back(is_folder);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].node != kRoot) i = (i + 1) & mask;
  slots_[i] = {hash, node};
  return node;
}

PathConflict MemberPathSet::judge(std::uint32_t node, std::string_view name, bool is_folder) const {
  if (name_of(node) != name) return PathConflict::kCaseOnly;
  if (is_folder_[node] != is_folder) return PathConflict::kFileAndFolder;
  return is_folder ? PathConflict::kNone : PathConflict::kSamePath;
}

PathConflict MemberPathSet::add(std::string_view relative_path, bool is_folder) {
  const std::size_t last_slash = relative_path.rfind('/');
  const std::size_t name_begin = last_slash == std::string_view::npos ? 0 : last_slash + 1;
  const std::string_view parent = relative_path.substr(0, name_begin == 0 ? 0 : last_slash);
  const std::string_view name = relative_path.substr(name_begin);
  // Archives list a folder's members together: the folders above one that
  // follows its sibling were judged and added with the sibling.
  const bool parent_known = !parent.empty() && parent == last_parent_;
  std::uint32_t folder = parent_known ? last_parent_node_ : kRoot;
  // Below a folder that is not in the set nothing is, and nothing can clash:
  // the rest of the path is added as it is walked.
  bool met = true;
  for (std::size_t start = parent_known ? name_begin : 0; start < name_begin;) {
    const std::size_t slash = relative_path.find('/', start);
    const std::string_view component = relative_path.substr(start, slash - start);
    const std::uint32_t hash = folded_hash(folder, component);
    const std::uint32_t node = met ? find(folder, component, hash) : kRoot;
    if (node != kRoot) {
      const PathConflict conflict = judge(node, component, true);
      if (conflict != PathConflict::kNone) return conflict;
      folder = node;
    } else {
      met = false;
      folder = insert(folder, component, hash, true);
    }
    start = slash + 1;
  }
  const std::uint32_t hash = folded_hash(folder, name);
  const std::uint32_t node = met ? find(folder, name, hash) : kRoot;
  if (node != kRoot) {
    const PathConflict conflict = judge(node, name, is_folder);
    if (conflict != PathConflict::kNone) return conflict;
  } else {
    insert(folder, name, hash, is_folder);
  }
  if (!parent_known) {
    last_parent_.assign(parent);
    last_parent_node_ = folder;
  }
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
