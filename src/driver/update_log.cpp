#include "driver/update_log.h"

#include <cstdarg>
#include <ctime>

namespace zrk {

SharedFile open_update_log(const std::filesystem::path& update_dir) {
  return open_shared_file(update_dir / "update.log", "ab");
}

void log_line(std::FILE* log, const char* format, ...) {
  if (log == nullptr || std::ferror(log)) return;
  char message[1024];
  va_list values;
  va_start(values, format);
  std::vsnprintf(message, sizeof message, format, values);
  va_end(values);

  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  // One thread only, so the shared buffer of std::localtime is safe here.
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
  }
  std::fprintf(log, "%s %s\n", stamp, message);
  std::fflush(log);
}

}  // namespace zrk
