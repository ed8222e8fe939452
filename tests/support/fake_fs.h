// An in-memory ZrkUpdFs for swap tests: a map of paths to files and folders,
// a record of every call in order, and chosen calls that fail.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fs/zrk_upd_fs.h"

namespace zrk::test {

enum class FsOp { kExists, kRename, kRemoveAll, kCreateDirectories };

// Paths are "/"-separated strings as the swap builds them. Moves follow POSIX
// rules: the target's parent must be a folder, a file may replace a file and a
// folder an empty folder. A failing call answers false and changes nothing.
class FakeFs final : public ZrkUpdFs {
 public:
  // Adds a file (or an empty folder) and any missing parent folders.
  void add_file(const std::string& path, const std::string& content);
  void add_folder(const std::string& path);

  // Every entry strictly below `root` by relative path: "dir" for a folder,
  // "file:" + content for a file. Empty when `root` is missing.
  std::map<std::string, std::string> tree(const std::string& root) const;
  bool is_folder(const std::string& path) const;

  // The `nth` call (counting from 1) of `op` fails.
  void fail_call(FsOp op, int nth) { faults_.insert({op, nth}); }

  // Every call so far, e.g. "rename /a /b", failing ones included.
  const std::vector<std::string>& calls() const { return calls_; }

  bool exists(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  bool remove_all(const std::string& path) override;
  bool create_directories(const std::string& path) override;

 private:
  struct Node {
    bool folder = false;
    std::string content;
  };

  // Counts the call, records it, and answers whether it was chosen to fail.
  bool injected_failure(FsOp op, const std::string& call);
  bool has_children(const std::string& path) const;
  bool parent_is_folder(const std::string& path) const;
  void erase_tree(const std::string& path);

  std::map<std::string, Node> nodes_;
  std::set<std::pair<FsOp, int>> faults_;
  std::map<FsOp, int> counts_;
  std::vector<std::string> calls_;
};

}  // namespace zrk::test
