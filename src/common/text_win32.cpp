// Windows paths are UTF-16; both conversions go through code page 65001 and
// refuse what does not convert instead of substituting characters.
#include <windows.h>

#include <system_error>

#include "common/text.h"

namespace zrk {

namespace {

[[noreturn]] void throw_conversion_error() {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                          "text conversion failed");
}

}  // namespace

std::string to_utf8(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return std::string();
  const int length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                          nullptr, 0, nullptr, nullptr);
  if (length <= 0) throw_conversion_error();
  std::string text(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                          text.data(), length, nullptr, nullptr) != length) {
    throw_conversion_error();
  }
  return text;
}

std::filesystem::path from_utf8(std::string_view text) {
  if (text.empty()) return std::filesystem::path();
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw_conversion_error();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          wide.data(), length) != length) {
    throw_conversion_error();
  }
  return std::filesystem::path(wide);
}

}  // namespace zrk
