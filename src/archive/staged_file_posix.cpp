// Staged files on POSIX: open(2) and write(2) straight from the copy buffer.
// O_CLOEXEC keeps the descriptor out of the relaunched game. The data reaches
// the device with the run's one flush of the staging folder before the swap
// (flush_tree). Starting each file's write-out at its close measured slower
// on many small files; a large file instead has each 8 MiB handed to the
// device as soon as it is written, so that the device works while the next
// data is inflated and the flush waits for little.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "archive/staging.h"

namespace zrk {

namespace {

constexpr std::uint64_t kWriteBehind = 8u << 20;

}  // namespace

struct StagedFile::Host {
  int fd = -1;
  std::uint64_t written = 0;
  std::uint64_t started = 0;  // of `written`, what the device was asked to write
};

StagedFile::StagedFile() = default;

StagedFile::~StagedFile() { close(); }

bool StagedFile::open_host(const std::filesystem::path& path) {
  auto host = std::make_unique<Host>();
  host->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (host->fd < 0) return false;
  host_ = std::move(host);
  return true;
}

bool StagedFile::write_host(const char* data, std::size_t size) {
  if (!host_) return false;
  const int fd = host_->fd;
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
    host_->written += static_cast<std::uint64_t>(written);
  }
  Host& host = *host_;
  if (host.written - host.started >= kWriteBehind) {
    // Only a request: the flush before the swap reports any failure.
    ::sync_file_range(fd, static_cast<off_t>(host.started),
                      static_cast<off_t>(host.written - host.started), SYNC_FILE_RANGE_WRITE);
    host.started = host.written;
  }
  return true;
}

bool StagedFile::close_host() {
  if (!host_) return false;
  const int fd = host_->fd;
  host_.reset();
  return ::close(fd) == 0;
}

}  // namespace zrk
