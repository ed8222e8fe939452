#include "driver/arguments_win32.h"

// windows.h must come before shellapi.h.
#include <windows.h>

#include <shellapi.h>

namespace zrk {

namespace {

// Strict: an unpaired surrogate would otherwise become U+FFFD, and the run
// would work on a path that nobody named.
std::string utf8_argument(const wchar_t* piece) {
  const int length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, piece, -1, nullptr, 0, nullptr, nullptr);
  // The length counts the terminating NUL; 1 or less means empty or unconvertible.
  if (length <= 1) return std::string();
  std::string buffer(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, piece, -1, buffer.data(), length, nullptr,
                          nullptr) != length) {
    return std::string();
  }
  buffer.pop_back();
  return buffer;
}

}  // namespace

std::vector<std::string> utf8_arguments(const wchar_t* command_line) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* pieces = CommandLineToArgvW(command_line, &count);
  if (pieces == nullptr) return args;
  for (int i = 0; i < count; ++i) args.push_back(utf8_argument(pieces[i]));
  LocalFree(pieces);
  return args;
}

}  // namespace zrk
