// The gzip floor: gzread of a whole .tar.gz in 64 KiB chunks, written nowhere
// or into one file, with --flush that file on the device at the end (one
// fsync: the durable floor). No tar parsing, no per-member files.
// Usage: gz_floor ARCHIVE [OUTPUT_FILE] [--gzbuffer BYTES] [--flush]
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "write_all.h"

int main(int argc, char** argv) {
  const char* archive = nullptr;
  const char* output = nullptr;
  unsigned gz_buffer = 0;
  bool flush = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--flush") == 0) {
      flush = true;
    } else if (std::strcmp(argv[i], "--gzbuffer") == 0 && i + 1 < argc) {
      gz_buffer = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (archive == nullptr) {
      archive = argv[i];
    } else {
      output = argv[i];
    }
  }
  if (archive == nullptr) {
    std::fprintf(stderr, "usage: gz_floor ARCHIVE [OUTPUT_FILE] [--gzbuffer BYTES] [--flush]\n");
    return 2;
  }
  gzFile file = gzopen(archive, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", archive);
    return 1;
  }
  if (gz_buffer != 0) gzbuffer(file, gz_buffer);
  int fd = -1;
  if (output != nullptr) {
    fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror(output);
      return 1;
    }
  }
  std::vector<char> buffer(65536, 0);
  unsigned long long total = 0;
  int got = 0;
  while ((got = gzread(file, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    total += static_cast<unsigned>(got);
    if (fd >= 0 && !write_all(fd, buffer.data(), static_cast<std::size_t>(got))) {
      std::perror(output);
      return 1;
    }
  }
  const bool damaged = got < 0;
  gzclose(file);
  if (fd >= 0 && flush && ::fsync(fd) != 0) {
    std::perror(output);
    return 1;
  }
  if (fd >= 0 && ::close(fd) != 0) return 1;
  if (damaged) {
    std::fprintf(stderr, "damaged gzip data\n");
    return 1;
  }
  std::printf("%llu\n", total);
  return 0;
}
