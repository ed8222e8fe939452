#include "driver/update_log.h"

#include <cstdarg>
#include <ctime>
#include <string>

namespace zrk {

namespace {

constexpr std::size_t kMessageLimit = 1023;

// Member names reach the log as the archive stores them; a line feed in one
// would forge a line of its own. Control bytes are written as \xNN instead.
std::string escape_control_bytes(const char* message) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (const char* c = message; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7F) {
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    } else {
      escaped += *c;
    }
  }
  if (escaped.size() > kMessageLimit) escaped.resize(kMessageLimit);
  return escaped;
}

}  // namespace

SharedFile open_update_log(const std::filesystem::path& update_dir) {
  return open_shared_file(update_dir / "update.log", "ab");
}

void log_line(std::FILE* log, const char* format, ...) {
  if (log == nullptr || std::ferror(log)) return;
  char message[kMessageLimit + 1];
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
  std::fprintf(log, "%s %s\n", stamp, escape_control_bytes(message).c_str());
  std::fflush(log);
}

}  // namespace zrk
