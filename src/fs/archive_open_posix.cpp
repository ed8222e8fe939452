// A descriptor opened here, handed to zlib by gzdopen and to libzip as a
// stream, so that the libraries never open a name themselves.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fs/archive_open.h"
#include "fs/interrupted_posix.h"

namespace zrk {

namespace {

int open_for_reading(const std::filesystem::path& path) {
  return again_if_interrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
}

}  // namespace

gzFile open_gzip(const std::filesystem::path& path) {
  const int fd = open_for_reading(path);
  if (fd < 0) return nullptr;
  const gzFile file = gzdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

zip_source_t* open_zip_source(const std::filesystem::path& path, zip_error_t* error) {
  const int fd = open_for_reading(path);
  if (fd < 0) {
    zip_error_set(error, ZIP_ER_OPEN, errno);
    return nullptr;
  }
  FILE* stream = ::fdopen(fd, "rb");
  if (stream == nullptr) {
    zip_error_set(error, ZIP_ER_OPEN, errno);
    ::close(fd);
    return nullptr;
  }
  zip_source_t* source = zip_source_filep_create(stream, 0, 0, error);
  if (source == nullptr) std::fclose(stream);
  return source;
}

}  // namespace zrk
