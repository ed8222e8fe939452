// Windows paths are UTF-16; both conversions go through code page 65001 and
// refuse what does not convert instead of substituting characters. Absolute
// paths travel in the long path form, which lifts the 260-character limit.
#include <windows.h>

#include <system_error>

#include "common/text.h"

namespace zrk {

namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";

[[noreturn]] void throw_conversion_error() {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                          "text conversion failed");
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_drive_absolute(const std::wstring& path) {
  return path.size() >= 3 &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && is_separator(path[2]);
}

// "\\server\share", either separator; not a device ("\\.\") or long ("\\?\") path.
bool is_unc(const std::wstring& path) {
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) &&
         !is_separator(path[2]) && path[2] != L'?' && path[2] != L'.';
}

// The normalised absolute path, or empty when the system cannot give it.
std::wstring full_path(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return std::wstring();
  full.resize(length);
  return full;
}

std::wstring long_form(const std::wstring& path) {
  const bool unc = is_unc(path);
  if (!unc && !is_drive_absolute(path)) return path;
  const std::wstring full = full_path(path);
  if (full.empty()) return path;
  if (unc) return std::wstring(kLongUncPrefix) + full.substr(2);
  return std::wstring(kLongPrefix) + full;
}

// The path as the user would write it: without the long path form.
std::filesystem::path without_long_prefix(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.compare(0, kLongUncPrefix.size(), kLongUncPrefix) == 0) {
    return std::filesystem::path(L"\\\\" + wide.substr(kLongUncPrefix.size()));
  }
  if (wide.compare(0, kLongPrefix.size(), kLongPrefix) == 0 &&
      is_drive_absolute(wide.substr(kLongPrefix.size()))) {
    return std::filesystem::path(wide.substr(kLongPrefix.size()));
  }
  return path;
}

}  // namespace

std::string to_utf8(const std::filesystem::path& path) {
  const std::wstring wide = without_long_prefix(path).native();
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
  return std::filesystem::path(long_form(wide));
}

}  // namespace zrk
