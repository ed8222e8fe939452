#include <shellapi.h>
#include <windows.h>

#include "driver/arguments.h"

namespace zrk {

std::vector<std::string> utf8_arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* pieces = CommandLineToArgvW(GetCommandLineW(), &count);
  if (pieces == nullptr) return args;
  for (int i = 0; i < count; ++i) {
    // The length counts the terminating NUL; 1 or less means empty or unconvertible.
    const int length = WideCharToMultiByte(CP_UTF8, 0, pieces[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg;
    if (length > 1) {
      std::string buffer(static_cast<size_t>(length), '\0');
      WideCharToMultiByte(CP_UTF8, 0, pieces[i], -1, buffer.data(), length, nullptr, nullptr);
      arg.assign(buffer.c_str());
    }
    args.push_back(std::move(arg));
  }
  LocalFree(pieces);
  return args;
}

}  // namespace zrk
