#include "support/fake_fs.h"

namespace zrk::test {

namespace {

std::string parent_of(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool is_below(const std::string& path, const std::string& root) {
  return path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

}  // namespace

void FakeFs::add_folder(const std::string& path) {
  if (path.empty()) return;
  add_folder(parent_of(path));
  nodes_[path].folder = true;
}

void FakeFs::add_file(const std::string& path, const std::string& content) {
  add_folder(parent_of(path));
  nodes_[path] = Node{false, content, ++files_made_};
}

std::map<std::string, std::string> FakeFs::tree(const std::string& root) const {
  std::map<std::string, std::string> entries;
  for (const auto& [path, node] : nodes_) {
    if (!is_below(path, root)) continue;
    entries[path.substr(root.size() + 1)] = node.folder ? "dir" : "file:" + node.content;
  }
  return entries;
}

bool FakeFs::is_folder(const std::string& path) const {
  const auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.folder;
}

bool FakeFs::injected_failure(FsOp op, const std::string& call) {
  check_watched();
  calls_.push_back(call);
  return faults_.count({op, ++counts_[op]}) != 0;
}

// Called as the next call comes in, so the state after the previous one is
// judged; the test asks once the run is over, which judges the last.
void FakeFs::check_watched() {
  if (calls_.empty()) return;
  for (auto& [path, calls] : absent_after_) {
    if (nodes_.count(path) == 0 && (calls.empty() || calls.back() != calls_.back())) {
      calls.push_back(calls_.back());
    }
  }
}

bool FakeFs::has_children(const std::string& path) const {
  const auto it = nodes_.lower_bound(path + "/");
  return it != nodes_.end() && is_below(it->first, path);
}

bool FakeFs::parent_is_folder(const std::string& path) const {
  const std::string parent = parent_of(path);
  return parent.empty() || is_folder(parent);
}

void FakeFs::erase_tree(const std::string& path) {
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first == path || is_below(it->first, path)) {
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
}

Presence FakeFs::exists(const std::string& path) {
  if (injected_failure(FsOp::kExists, "exists " + path) || unreadable_.count(path) != 0) {
    return Presence::kCannotTell;
  }
  return nodes_.count(path) != 0 ? Presence::kPresent : Presence::kAbsent;
}

Presence FakeFs::is_file(const std::string& path) {
  if (injected_failure(FsOp::kIsFile, "is_file " + path) || unreadable_.count(path) != 0) {
    return Presence::kCannotTell;
  }
  const auto it = nodes_.find(path);
  return it != nodes_.end() && !it->second.folder ? Presence::kPresent : Presence::kAbsent;
}

LinkResult FakeFs::link(const std::string& from, const std::string& to) {
  if (injected_failure(FsOp::kLink, "link " + from + " " + to)) return LinkResult::kFailed;
  const auto source = nodes_.find(from);
  if (source == nodes_.end() || nodes_.count(to) != 0 || !parent_is_folder(to)) {
    return LinkResult::kFailed;
  }
  if (links_refused_ || source->second.folder) return LinkResult::kUnsupported;
  nodes_[to] = source->second;
  return LinkResult::kLinked;
}

bool FakeFs::same_file(const std::string& a, const std::string& b) {
  if (injected_failure(FsOp::kSameFile, "same_file " + a + " " + b)) return false;
  const auto first = nodes_.find(a);
  const auto second = nodes_.find(b);
  return first != nodes_.end() && second != nodes_.end() && !first->second.folder &&
         first->second.file == second->second.file;
}

bool FakeFs::replace(const std::string& from, const std::string& to) {
  if (injected_failure(FsOp::kReplace, "replace " + from + " " + to)) return false;
  const auto source = nodes_.find(from);
  const auto target = nodes_.find(to);
  if (source == nodes_.end() || source->second.folder || !parent_is_folder(to) ||
      (target != nodes_.end() && target->second.folder)) {
    return false;
  }
  nodes_[to] = source->second;
  if (from != to) nodes_.erase(from);
  return !late_failure(FsOp::kReplace);
}

bool FakeFs::rename(const std::string& from, const std::string& to) {
  if (injected_failure(FsOp::kRename, "rename " + from + " " + to)) return false;
  const auto source = nodes_.find(from);
  if (source == nodes_.end() || !parent_is_folder(to) || is_below(to, from)) return false;
  if (from == to) return true;
  const auto target = nodes_.find(to);
  if (target != nodes_.end()) {
    const bool replaceable =
        source->second.folder ? target->second.folder && !has_children(to) : !target->second.folder;
    if (!replaceable) return false;
    nodes_.erase(target);
  }
  std::map<std::string, Node> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first == from || is_below(it->first, from)) {
      moved[to + it->first.substr(from.size())] = it->second;
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
  nodes_.insert(moved.begin(), moved.end());
  return !late_failure(FsOp::kRename);
}

bool FakeFs::remove_all(const std::string& path) {
  if (injected_failure(FsOp::kRemoveAll, "remove_all " + path)) return false;
  erase_tree(path);
  return true;
}

bool FakeFs::create_directories(const std::string& path) {
  if (injected_failure(FsOp::kCreateDirectories, "create_directories " + path)) return false;
  for (std::string folder = path; !folder.empty(); folder = parent_of(folder)) {
    const auto it = nodes_.find(folder);
    if (it != nodes_.end() && !it->second.folder) return false;
  }
  add_folder(path);
  return true;
}

bool FakeFs::flush_entry(const std::string& path) {
  if (injected_failure(FsOp::kFlushEntry, "flush_entry " + path)) return false;
  return nodes_.count(path) != 0;
}

}  // namespace zrk::test
