// Writable files on POSIX: open(2) with O_CLOEXEC, so the relaunched game
// does not inherit them, and write(2) straight from the caller's buffer.
// Linux starts writing each 8 MiB of a file written from the start as soon as
// it is written, so that the device works while the next data is inflated or
// compressed: a 250 MB archive's closing fsync waited 0.7 s for all of it
// otherwise. Starting each file's write-out at its close measured slower on
// many small staged files; their data reaches the device with the run's one
// flush_tree before the swap. A rename is made durable by an fsync of the
// folder that holds it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fs/durable.h"
#include "fs/interrupted_posix.h"
#include "fs/writable_file.h"

namespace zrk {

namespace {

constexpr std::uint64_t kWriteBehind = 8u << 20;

std::error_code last_error() { return std::error_code(errno, std::generic_category()); }

std::error_code not_open() { return std::make_error_code(std::errc::bad_file_descriptor); }

// write(2), or pwrite(2) from `*offset`, until all `size` bytes are in.
std::error_code put_all(int fd, const char* data, std::size_t size, const std::uint64_t* offset) {
  std::uint64_t at = offset != nullptr ? *offset : 0;
  while (size > 0) {
    const ssize_t written = again_if_interrupted([&] {
      return offset != nullptr ? ::pwrite(fd, data, size, static_cast<off_t>(at))
                               : ::write(fd, data, size);
    });
    if (written < 0) return last_error();
    if (written == 0) return std::make_error_code(std::errc::no_space_on_device);
    data += written;
    size -= static_cast<std::size_t>(written);
    at += static_cast<std::uint64_t>(written);
  }
  return {};
}

}  // namespace

// A new file gets its permissions from open(2), through the umask. One that
// stood there (a tar member that replaces an earlier one) is given or denied
// execute permission as `kind_` says, where it has read permission.
std::error_code WritableFile::open_host(const std::filesystem::path& path) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (start_ == WriteStart::kEnd) {
    const int fd =
        again_if_interrupted([&] { return ::open(path.c_str(), kFlags | O_APPEND, 0666); });
    if (fd < 0) return last_error();
    handle_ = fd;
    return {};
  }
  const bool program = kind_ == FileKind::kProgram;
  // A program is made with O_EXCL first, so that a new one takes the umask
  // as it is; a data file is looked at after the open instead.
  int fd = program
               ? again_if_interrupted([&] { return ::open(path.c_str(), kFlags | O_EXCL, 0777); })
               : -1;
  if (fd >= 0) {
    handle_ = fd;
    return {};
  }
  if (program && errno != EEXIST) return last_error();
  fd = again_if_interrupted(
      [&] { return ::open(path.c_str(), kFlags | O_TRUNC, program ? 0777 : 0666); });
  if (fd < 0) return last_error();
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const std::error_code error = last_error();
    ::close(fd);
    return error;
  }
  const mode_t mode = info.st_mode & 07777;
  const mode_t wanted = program ? mode | ((mode & 0444) >> 2) : mode & ~mode_t{0111};
  if (wanted != mode && ::fchmod(fd, wanted) != 0) {
    const std::error_code error = last_error();
    ::close(fd);
    return error;
  }
  handle_ = fd;
  return {};
}

std::error_code WritableFile::write(const char* data, std::size_t size) {
  if (!is_open()) return not_open();
  const int fd = static_cast<int>(handle_);
  if (const std::error_code ec = put_all(fd, data, size, nullptr)) return ec;
  written_ += size;
  if (start_ == WriteStart::kEmpty && written_ - started_ >= kWriteBehind) {
    // Only a request: a failure here shows again at the flush.
    ::sync_file_range(fd, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                      SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }
  return {};
}

std::error_code WritableFile::write_at(std::uint64_t offset, const char* data, std::size_t size) {
  if (!is_open()) return not_open();
  return put_all(static_cast<int>(handle_), data, size, &offset);
}

std::error_code WritableFile::sync() {
  if (!is_open()) return not_open();
  const int fd = static_cast<int>(handle_);
  return again_if_interrupted([&] { return ::fdatasync(fd); }) == 0 ? std::error_code()
                                                                    : last_error();
}

// flush_tree's syncfs takes a staged file's data, so kForTreeFlush asks
// nothing more here.
std::error_code WritableFile::close() {
  if (!is_open()) return not_open();
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0 ? std::error_code() : last_error();
}

std::error_code replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return last_error();
  return flush_folder(to.has_parent_path() ? to.parent_path() : ".");
}

}  // namespace zrk
