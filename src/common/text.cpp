#include "common/text.h"

namespace zrk {

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) continue;
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) lo = 0xA0;  // overlong
      if (lead == 0xED) hi = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) lo = 0x90;  // overlong
      if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (end - p < extra) return false;
    if (*p < lo || *p > hi) return false;
    for (int i = 1; i < extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += extra;
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
