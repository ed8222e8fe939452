// The zip floor: libzip's zip_fread of every member in 64 KiB chunks, written
// nowhere or into files below a folder. No name checks, no size checks.
// Usage: zip_floor ARCHIVE [OUTPUT_FOLDER]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "write_all.h"

namespace {

// mkdir -p of every folder above `path` (and `path` itself when it ends in /).
bool make_folders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zip_floor ARCHIVE [OUTPUT_FOLDER]\n");
    return 2;
  }
  const std::string output = argc > 2 ? argv[2] : "";
  int error = 0;
  zip_t* archive = zip_open(argv[1], ZIP_RDONLY, &error);
  if (archive == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<char> buffer(65536, 0);
  unsigned long long total = 0;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(index), 0);
    if (name == nullptr) return 1;
    const std::string target = output.empty() ? "" : output + "/" + name;
    if (!target.empty() && !make_folders(target)) {
      std::perror(target.c_str());
      return 1;
    }
    if (!target.empty() && target.back() == '/') continue;
    zip_file_t* member = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (member == nullptr) return 1;
    int fd = -1;
    if (!target.empty()) {
      fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) {
        std::perror(target.c_str());
        return 1;
      }
    }
    zip_int64_t got = 0;
    while ((got = zip_fread(member, buffer.data(), buffer.size())) > 0) {
      total += static_cast<unsigned long long>(got);
      if (fd >= 0 && !write_all(fd, buffer.data(), static_cast<std::size_t>(got))) return 1;
    }
    zip_fclose(member);
    if (fd >= 0) ::close(fd);
    if (got < 0) {
      std::fprintf(stderr, "damaged member %s\n", name);
      return 1;
    }
  }
  zip_discard(archive);
  std::printf("%llu\n", total);
  return 0;
}
