// A plain descriptor and pread: a small file costs an open, one read and a
// close, where a stdio stream adds a status call and a copy through its buffer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/input_file.h"
#include "fs/interrupted_posix.h"

namespace zrk {

std::error_code InputFile::open(const std::filesystem::path& path) {
  close();
  const int fd = again_if_interrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) {
    return {errno, std::generic_category()};
  }
  handle_ = fd;
  return {};
}

std::int64_t InputFile::read_at(std::uint64_t offset, char* data, std::size_t size) {
  if (handle_ < 0) return -1;
  const ssize_t got = again_if_interrupted(
      [&] { return ::pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset)); });
  if (got >= 0) return got;
  error_ = std::error_code(errno, std::generic_category());
  return -1;
}

std::error_code InputFile::size(std::uint64_t* bytes) {
  struct stat status {};
  if (handle_ < 0) return std::make_error_code(std::errc::bad_file_descriptor);
  if (::fstat(static_cast<int>(handle_), &status) != 0) return {errno, std::generic_category()};
  *bytes = static_cast<std::uint64_t>(status.st_size);
  return {};
}

void InputFile::close() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace zrk
