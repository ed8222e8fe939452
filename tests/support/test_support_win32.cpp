#include <windows.h>

#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace zrk::test {

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  // The process id and a counter make the name unique among running tests.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = std::wstring(base) + L"zrk-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(counter++);
    if (CreateDirectoryW(name.c_str(), nullptr)) {
      path_ = name;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

std::set<std::string> executable_files(const std::filesystem::path&) { return {}; }
std::set<std::string> expected_executables(const std::set<std::string>&) { return {}; }

// The C runtime keeps its zone once read.
ScopedNamedTimeZone::ScopedNamedTimeZone() {}
ScopedNamedTimeZone::~ScopedNamedTimeZone() {}

// Links need a privilege on Windows, and Wine's do not show in listings.
bool make_symlink(const std::filesystem::path&, const std::filesystem::path&) { return false; }

std::filesystem::path path_not_utf8() { return std::wstring(L"bad\xD800"); }

// The build machine's tools cannot be started from here: tests that need them
// skip before they get this far.
bool host_tools_available() { return false; }

int run_command(const std::vector<std::string>&, std::string*) { return -1; }

int run_python_tool(const std::string&, const std::vector<std::string>&, std::string*) {
  return -1;
}

int run_shell_in(const std::filesystem::path&, const std::string&, std::string*) { return -1; }

}  // namespace zrk::test
