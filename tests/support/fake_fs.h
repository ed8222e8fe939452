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

enum class FsOp {
  kExists,
  kIsFile,
  kRename,
  kLink,
  kReplace,
  kRemoveAll,
  kCreateDirectories,
  kFlushEntry,
  kSameFile
};

// Paths are "/"-separated strings as the swap builds them. Moves follow POSIX
// rules: the target's parent must be a folder, a file may replace a file and a
// folder an empty folder. A link copies a file (nothing here writes a file in
// place, so a copy stands for a second name). A failing call answers false
// (a link: kFailed; a status: kCannotTell) and changes nothing.
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
  // The status of `path` cannot be read: exists and is_file answer
  // kCannotTell, as for a disk that fails at that entry.
  void make_unreadable(const std::string& path) { unreadable_.insert(path); }
  // Every link answers kUnsupported, as on a file system without hard links.
  void refuse_links() { links_refused_ = true; }
  // Records each call after which nothing stands at `path`; several paths
  // may be watched.
  void watch(const std::string& path) { absent_after_[path]; }
  const std::vector<std::string>& calls_leaving_absent(const std::string& path) {
    check_watched();
    return absent_after_[path];
  }
  // The `nth` call of `op` is carried out and then answers as a failure, as a
  // network file system can report a rename that it made.
  void fail_after_call(FsOp op, int nth) { late_faults_.insert({op, nth}); }

  // Every call so far, e.g. "rename /a /b", failing ones included.
  const std::vector<std::string>& calls() const { return calls_; }

  Presence exists(const std::string& path) override;
  Presence is_file(const std::string& path) override;
  bool rename(const std::string& from, const std::string& to) override;
  LinkResult link(const std::string& from, const std::string& to) override;
  bool same_file(const std::string& a, const std::string& b) override;
  bool replace(const std::string& from, const std::string& to) override;
  bool remove_all(const std::string& path) override;
  bool create_directories(const std::string& path) override;
  bool flush_entry(const std::string& path) override;

 private:
  struct Node {
    bool folder = false;
    std::string content;
    int file = 0;  // which file the name stands for; a link shares it
  };

  // Counts the call, records it, and answers whether it was chosen to fail.
  bool injected_failure(FsOp op, const std::string& call);
  // Whether the call just counted is to answer false once it is carried out.
  bool late_failure(FsOp op) const { return late_faults_.count({op, counts_.at(op)}) != 0; }
  void check_watched();
  bool has_children(const std::string& path) const;
  bool parent_is_folder(const std::string& path) const;
  void erase_tree(const std::string& path);

  std::map<std::string, Node> nodes_;
  int files_made_ = 0;
  std::set<std::pair<FsOp, int>> faults_;
  std::map<FsOp, int> counts_;
  std::vector<std::string> calls_;
  std::set<std::string> unreadable_;
  bool links_refused_ = false;
  std::set<std::pair<FsOp, int>> late_faults_;
  std::map<std::string, std::vector<std::string>> absent_after_;
};

}  // namespace zrk::test
