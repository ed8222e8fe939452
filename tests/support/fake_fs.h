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

enum class FsOp { kExists, kIsFile, kRename, kLink, kReplace, kRemoveAll, kCreateDirectories };

// Paths are "/"-separated strings as the swap builds them. Moves follow POSIX
// rules: the target's parent must be a folder, a file may replace a file and a
// folder an empty folder. A link copies a file (nothing here writes a file in
// place, so a copy stands for a second name). A failing call answers false
// (a link: kFailed) and changes nothing.
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
  // Every link answers kUnsupported, as on a file system without hard links.
  void refuse_links() { links_refused_ = true; }
  // Records each call after which nothing stands at `path`.
  void watch(const std::string& path) { watched_ = path; }
  const std::vector<std::string>& calls_leaving_watched_absent() {
    check_watched();
    return absent_after_;
  }

  // Every call so far, e.g. "rename /a /b", failing ones included.
  const std::vector<std::string>& calls() const { return calls_; }

  bool exists(const std::string& path) override;
  bool is_file(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  LinkResult link(const std::string& from, const std::string& to) override;
  bool replace(const std::string& from, const std::string& to) override;
  bool remove_all(const std::string& path) override;
  bool create_directories(const std::string& path) override;

 private:
  struct Node {
    bool folder = false;
    std::string content;
  };

  // Counts the call, records it, and answers whether it was chosen to fail.
  bool injected_failure(FsOp op, const std::string& call);
  void check_watched();
  bool has_children(const std::string& path) const;
  bool parent_is_folder(const std::string& path) const;
  void erase_tree(const std::string& path);

  std::map<std::string, Node> nodes_;
  std::set<std::pair<FsOp, int>> faults_;
  std::map<FsOp, int> counts_;
  std::vector<std::string> calls_;
  bool links_refused_ = false;
  std::string watched_;
  std::vector<std::string> absent_after_;
};

}  // namespace zrk::test
