// HostFs on POSIX: rename(2) for moves, with a copy-and-delete fallback when
// the two paths lie on different file systems, and std::filesystem for the
// rest. Error detail stays inside; the swap only sees yes or no.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "common/text.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

constexpr int kMoveAttempts = 20;
constexpr std::chrono::milliseconds kMoveRetryDelay{250};

bool stands_at(const stdfs::path& path) {
  std::error_code ec;
  const stdfs::file_type type = stdfs::status(path, ec).type();
  return type != stdfs::file_type::none && type != stdfs::file_type::not_found;
}

// A name beside `to` that no other move of this process uses, so a copy in
// progress never shows under the target's own name.
stdfs::path temporary_beside(const stdfs::path& to) {
  static std::atomic<unsigned> counter{0};
  const std::string name = "." + to.filename().string() + ".zrk-move-" +
                           std::to_string(::getpid()) + "-" + std::to_string(counter++);
  return to.parent_path() / name;
}

// The move across file systems: copy beside the target, rename the copy into
// place, then delete the source. A copy that fails is removed again, so the
// target is never left half-written.
bool copy_then_delete(const stdfs::path& from, const stdfs::path& to) {
  const stdfs::path temporary = temporary_beside(to);
  std::error_code ec;
  stdfs::copy(from, temporary, stdfs::copy_options::recursive | stdfs::copy_options::copy_symlinks,
              ec);
  if (!ec && ::rename(temporary.c_str(), to.c_str()) != 0) {
    ec.assign(errno, std::generic_category());
  }
  if (ec) {
    std::error_code ignored;
    stdfs::remove_all(temporary, ignored);
    return false;
  }
  // The item now stands at `to`; a source that cannot be deleted stays behind,
  // as a Windows copy-allowed move leaves it.
  std::error_code ignored;
  stdfs::remove_all(from, ignored);
  return true;
}

bool move_once(const stdfs::path& from, const stdfs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  return copy_then_delete(from, to);
}

class HostFs final : public ZrkUpdFs {
 public:
  bool exists(const std::string& path) override { return stands_at(from_utf8(path)); }

  bool rename(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      if (move_once(source, target)) return true;
      std::this_thread::sleep_for(kMoveRetryDelay);
    }
    return false;
  }

  bool remove_all(const std::string& path) override {
    std::error_code ec;
    stdfs::remove_all(from_utf8(path), ec);
    return !ec;
  }

  bool create_directories(const std::string& path) override {
    const stdfs::path folder = from_utf8(path);
    std::error_code ignored;
    stdfs::create_directories(folder, ignored);
    std::error_code ec;
    return stdfs::status(folder, ec).type() == stdfs::file_type::directory;
  }
};

}  // namespace

std::unique_ptr<ZrkUpdFs> make_host_fs() { return std::make_unique<HostFs>(); }

}  // namespace zrk
