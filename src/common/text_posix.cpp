// POSIX paths are byte strings; the conversions only insist that the bytes are
// UTF-8, so that a name is refused here exactly when Windows would refuse it.
#include <system_error>

#include "common/text.h"

namespace zrk {

namespace {

void require_utf8(std::string_view text) {
  if (!is_valid_utf8(text)) {
    throw std::system_error(std::make_error_code(std::errc::illegal_byte_sequence),
                            "text is not valid UTF-8");
  }
}

}  // namespace

std::string to_utf8(const std::filesystem::path& path) {
  require_utf8(path.native());
  return path.native();
}

std::filesystem::path from_utf8(std::string_view text) {
  require_utf8(text);
  return std::filesystem::path(std::string(text));
}

std::string absolute_path_text(std::string_view text) {
  require_utf8(text);
  return std::string(text);
}

}  // namespace zrk
