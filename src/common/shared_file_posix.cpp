// POSIX opens never lock other processes out; "e" makes the descriptor
// close-on-exec, so the relaunched game does not inherit the log.
#include <unistd.h>

#include <string>

#include "common/shared_file.h"

namespace zrk {

SharedFile open_shared_file(const std::filesystem::path& path, const char* mode) {
  const std::string cloexec_mode = std::string(mode) + "e";
  return SharedFile(std::fopen(path.c_str(), cloexec_mode.c_str()));
}

bool flush_shared_file(SharedFile& file) {
  return std::fflush(file.get()) == 0 && ::fdatasync(fileno(file.get())) == 0;
}

}  // namespace zrk
