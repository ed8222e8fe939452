#include "driver/update_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace zrk {

namespace {

constexpr std::size_t kMessageLimit = 1023;

// Member names reach the log as the archive stores them: a line feed in one
// would forge a line of its own, and bytes that are not UTF-8 would make the
// log unreadable as text. Both are written as \xNN; the cut at the limit
// falls between whole characters and escapes.
std::string escape_message(std::string_view message) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  while (!message.empty()) {
    const auto byte = static_cast<unsigned char>(message[0]);
    const bool control = byte < 0x20 || byte == 0x7F;
    const std::size_t length = control ? 0 : utf8_char_length(message);
    if (length == 0) {
      if (escaped.size() + 4 > kMessageLimit) break;
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
      message.remove_prefix(1);
    } else {
      if (escaped.size() + length > kMessageLimit) break;
      escaped.append(message.substr(0, length));
      message.remove_prefix(length);
    }
  }
  return escaped;
}

// The whole message, however long: it is cut only once escaped.
std::string format_message(const char* format, va_list values) {
  va_list again;
  va_copy(again, values);
  char small[kMessageLimit + 1];
  const int length = std::vsnprintf(small, sizeof small, format, values);
  std::string message;
  if (length < 0) {
    message = small;
  } else if (static_cast<std::size_t>(length) < sizeof small) {
    message.assign(small, static_cast<std::size_t>(length));
  } else {
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    message.assign(large.data(), static_cast<std::size_t>(length));
  }
  va_end(again);
  return message;
}

}  // namespace

std::error_code open_update_log(const std::filesystem::path& update_dir, WritableFile* log) {
  return log->open(update_dir / "update.log", WriteStart::kEnd);
}

void log_line(WritableFile* log, const char* format, ...) {
  if (log == nullptr || !log->is_open()) return;
  va_list values;
  va_start(values, format);
  const std::string message = format_message(format, values);
  va_end(values);

  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  // One thread only, so the shared buffer of std::localtime is safe here.
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
  }
  const std::string line = std::string(stamp) + " " + escape_message(message) + "\n";
  if (log->write(line.data(), line.size())) log->close();
}

}  // namespace zrk
