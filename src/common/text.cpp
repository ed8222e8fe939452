#include "common/text.h"

namespace zrk {

std::size_t utf8_char_length(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  const auto first = static_cast<unsigned char>(bytes[1]);
  if (first < lo || first > hi) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

char32_t decode_utf8_char(std::string_view bytes, std::size_t length) {
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code_point = static_cast<unsigned char>(bytes[0]) & kLeadMask[length];
  for (std::size_t i = 1; i < length; ++i) {
    code_point = (code_point << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
  }
  return code_point;
}

bool is_valid_utf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t length = utf8_char_length(bytes);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

std::string join_path(std::string_view folder, std::string_view name) {
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) {
    folder.remove_suffix(1);
  }
  std::string joined(folder);
  joined += '/';
  joined += name;
  return joined;
}

}  // namespace zrk
