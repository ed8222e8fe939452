// HostFs: the swap's file system on the host. Moves go through the host's own
// call (host_move_*.cpp), the entry test and the removal through the host's
// tree walk (host_tree_*.cpp), which never follows a link; folder creation is
// std::filesystem. Error detail stays inside; the swap only sees yes or no.
#include <chrono>
#include <system_error>
#include <thread>

#include "common/host_folders.h"
#include "common/text.h"
#include "fs/host_move.h"
#include "fs/host_tree.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

constexpr int kMoveAttempts = 20;
constexpr std::chrono::milliseconds kMoveRetryDelay{250};

class HostFs final : public ZrkUpdFs {
 public:
  bool exists(const std::string& path) override { return entry_exists(from_utf8(path)); }

  // A file still held open by the exiting game, or by a virus scanner, makes a
  // move fail for a moment; the attempts ride that out.
  bool rename(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      if (move_once(source, target)) return true;
      std::this_thread::sleep_for(kMoveRetryDelay);
    }
    return false;
  }

  bool remove_all(const std::string& path) override { return !remove_tree(from_utf8(path)).error; }

  bool create_directories(const std::string& path) override {
    return !make_folders(from_utf8(path));
  }
};

}  // namespace

std::unique_ptr<ZrkUpdFs> make_host_fs() { return std::make_unique<HostFs>(); }

}  // namespace zrk
