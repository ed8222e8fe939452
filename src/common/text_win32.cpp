// Windows paths are UTF-16; both conversions go through code page 65001 and
// refuse what does not convert instead of substituting characters. Whole
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

// "\\?\..." or "\\.\...": passed on as written.
bool is_long_or_device(const std::wstring& path) {
  return path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) &&
         (path[2] == L'?' || path[2] == L'.') && is_separator(path[3]);
}

// A path that names its own drive or root ("C:\x", "C:x", "\x", "\\server\x"),
// which a name within a folder never is.
bool is_rooted(const std::wstring& path) {
  const bool drive = path.size() >= 2 && path[1] == L':';
  return drive || (!path.empty() && is_separator(path[0]));
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

// `path` made absolute against the current folder and put in the long path
// form, which lifts the 260-character limit whatever the system's policy.
// GetFullPathNameW also turns "/" into "\" and resolves "." and "..", since
// that form is passed on unnormalised. A device name ("NUL") becomes its
// device path; what the system cannot make absolute stays as written.
std::wstring long_form(const std::wstring& path) {
  if (is_long_or_device(path)) return path;
  const std::wstring full = full_path(path);
  if (full.empty()) return path;
  if (is_unc(full)) return std::wstring(kLongUncPrefix) + full.substr(2);
  if (is_drive_absolute(full)) return std::wstring(kLongPrefix) + full;
  return full;
}

std::wstring wide_from_utf8(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw_conversion_error();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          wide.data(), length) != length) {
    throw_conversion_error();
  }
  return wide;
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
  const std::wstring wide = wide_from_utf8(text);
  // A relative path may be a name below a folder, so only the caller knows
  // to make it absolute (absolute_path_text).
  return std::filesystem::path(is_rooted(wide) ? long_form(wide) : wide);
}

std::string absolute_path_text(std::string_view text) {
  if (text.empty()) return std::string();
  return to_utf8(std::filesystem::path(long_form(wide_from_utf8(text))));
}

}  // namespace zrk
