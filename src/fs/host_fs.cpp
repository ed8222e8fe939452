// HostFs: the swap's file system on the host. Name changes go through the
// host's own calls (host_move_*.cpp), the entry test and the removal through
// the host's tree walk (host_tree_*.cpp), which never follows a link; folder
// creation is std::filesystem. Error detail stays inside; the swap only sees
// yes or no, and for the status of a path, "cannot tell".
#include <system_error>
#include <thread>

#include "common/text.h"
#include "fs/durable.h"
#include "fs/host_folders.h"
#include "fs/host_move.h"
#include "fs/host_tree.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

class HostFs final : public ZrkUpdFs {
 public:
  explicit HostFs(std::chrono::milliseconds retry_delay) : retry_delay_(retry_delay) {}

  Presence exists(const std::string& path) override {
    bool present = false;
    if (find_entry(from_utf8(path), &present)) return Presence::kCannotTell;
    return present ? Presence::kPresent : Presence::kAbsent;
  }

  Presence is_file(const std::string& path) override {
    const stdfs::path entry = from_utf8(path);
    if (is_regular_entry(entry)) return Presence::kPresent;
    bool present = false;
    return find_entry(entry, &present) ? Presence::kCannotTell : Presence::kAbsent;
  }

  bool rename(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    return attempt([&] { return move_once(source, target); });
  }

  LinkResult link(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    LinkResult result = LinkResult::kFailed;
    attempt([&] {
      result = link_once(source, target);
      return result != LinkResult::kFailed;
    });
    return result;
  }

  bool same_file(const std::string& a, const std::string& b) override {
    return is_same_file(from_utf8(a), from_utf8(b));
  }

  bool replace(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    return attempt([&] { return replace_once(source, target); });
  }

  bool remove_all(const std::string& path) override {
    const stdfs::path target = from_utf8(path);
    return attempt([&] { return !remove_tree(target).error; });
  }

  bool create_directories(const std::string& path) override {
    return !make_folders(from_utf8(path));
  }

  bool flush_entry(const std::string& path) override {
    const stdfs::path entry = from_utf8(path);
    bool present = false;
    if (find_entry(entry, &present) || !present) return false;
    return !flush_folder(entry.parent_path());
  }

 private:
  // A file still held open by the exiting game, or by a virus scanner, makes a
  // name change or a removal fail for a moment; the attempts ride that out.
  template <typename Once>
  bool attempt(Once once) const {
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      if (once()) return true;
      std::this_thread::sleep_for(retry_delay_);
    }
    return false;
  }

  const std::chrono::milliseconds retry_delay_;
};

}  // namespace

std::unique_ptr<ZrkUpdFs> make_host_fs(std::chrono::milliseconds retry_delay) {
  return std::make_unique<HostFs>(retry_delay);
}

}  // namespace zrk
