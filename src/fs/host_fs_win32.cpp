// HostFs on Windows: MoveFileExW for moves (it replaces an existing file and
// copies across volumes by itself), std::filesystem for the rest. Error detail
// stays inside; the swap only sees yes or no.
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "common/text.h"
#include "fs/zrk_upd_fs.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

constexpr int kMoveAttempts = 20;
constexpr DWORD kMoveRetryDelayMs = 250;
constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;

class HostFs final : public ZrkUpdFs {
 public:
  bool exists(const std::string& path) override {
    std::error_code ec;
    const stdfs::file_type type = stdfs::status(from_utf8(path), ec).type();
    return type != stdfs::file_type::none && type != stdfs::file_type::not_found;
  }

  // A file still held open by the exiting game, or by a virus scanner, makes a
  // move fail for a moment; the attempts ride that out.
  bool rename(const std::string& from, const std::string& to) override {
    const stdfs::path source = from_utf8(from);
    const stdfs::path target = from_utf8(to);
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
      if (MoveFileExW(source.c_str(), target.c_str(), kMoveFlags) != 0) return true;
      Sleep(kMoveRetryDelayMs);
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
