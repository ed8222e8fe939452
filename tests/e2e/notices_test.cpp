// THIRD-PARTY-NOTICES.md names every library in each shipped program: every
// input that the linker's map of a program shows, outside the project's own
// objects, has a row for its host.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace zrk {
namespace {

namespace fs = std::filesystem;

// The backticked names in the last column of the table under "### <host>".
std::set<std::string> named_inputs(const std::string& notices, const std::string& host) {
  std::set<std::string> names;
  std::istringstream lines(notices);
  std::string line;
  bool in_host = false;
  while (std::getline(lines, line)) {
    if (line.rfind("#", 0) == 0) in_host = line.rfind("### " + host, 0) == 0;
    if (!in_host || line.rfind("|", 0) != 0) continue;
    const std::size_t last = line.find_last_of('|', line.size() - 2);
    const std::string cell = line.substr(last);
    for (std::size_t open = cell.find('`'); open != std::string::npos;) {
      const std::size_t close = cell.find('`', open + 1);
      if (close == std::string::npos) break;
      names.insert(cell.substr(open + 1, close - open - 1));
      open = cell.find('`', close + 1);
    }
  }
  return names;
}

// The libraries and objects a map's LOAD lines name by an absolute path (the
// project's own are relative to the build folder), by file name, with a
// shared library's version left off: libm.so.6 is libm.so.
std::set<std::string> link_inputs(const std::string& map) {
  std::set<std::string> inputs;
  std::istringstream lines(map);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("LOAD /", 0) != 0) continue;
    std::string name = fs::path(line.substr(5)).filename().string();
    const std::size_t so = name.find(".so.");
    if (so != std::string::npos) name.resize(so + 3);
    inputs.insert(name);
  }
  return inputs;
}

std::set<std::string> unnamed(const std::string& map, const std::string& notices,
                              const std::string& host) {
  const std::set<std::string> named = named_inputs(notices, host);
  std::set<std::string> missing;
  for (const std::string& input : link_inputs(map)) {
    if (named.count(input) == 0) missing.insert(input);
  }
  return missing;
}

TEST(ThirdPartyNotices, NameEveryLibraryInTheLink) {
  const std::string notices = test::read_file(fs::path(ZRK_TEST_TOOLS).parent_path().parent_path() /
                                              "THIRD-PARTY-NOTICES.md");
  const fs::path linux_build = fs::path(ZRK_UPDATE_BINARY).parent_path();
  const fs::path windows_build = ZRK_WINDOWS_BUILD;
  const struct {
    const char* what;
    fs::path map;      // a program's map; empty: `text` is the map
    std::string text;  // used when there is no map file
    const char* host;
    std::set<std::string> unnamed;
  } kRows[] = {
      {"zrk-update on Linux", linux_build / "zrk-update.map", "", "Linux", {}},
      {"zrk-pack on Linux", linux_build / "zrk-pack.map", "", "Linux", {}},
      {"zrk-update.exe", windows_build / "zrk-update.map", "", "Windows", {}},
      {"zrk-pack.exe", windows_build / "zrk-pack.map", "", "Windows", {}},
      {"a library added to the link",
       {},
       "LOAD /usr/lib/x86_64-linux-gnu/libz.so\nLOAD /usr/lib/x86_64-linux-gnu/libssl.so\n",
       "Linux",
       {"libssl.so"}},
      {"a versioned shared library",
       {},
       "LOAD /lib/x86_64-linux-gnu/libcrypto.so.3\nLOAD /lib/x86_64-linux-gnu/libc.so.6\n",
       "Linux",
       {"libcrypto.so"}},
      {"a library named for the other host only",
       {},
       "LOAD /work/windeps/prefix/lib/libbz2.a\nLOAD CMakeFiles/zrk-update.dir/main.o\n",
       "Linux",
       {"libbz2.a"}},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.what);
    // A sanitizer build links the sanitizers' runtimes, which never ship.
    if (!row.map.empty() && row.map.parent_path() == linux_build && ZRK_SANITIZED_BUILD) continue;
    if (!row.map.empty() && !fs::exists(row.map)) {
      // The Windows build is optional here; tools/test-windows.sh makes it.
      EXPECT_EQ(std::string(row.host), "Windows") << "no map at " << row.map;
      continue;
    }
    const std::string map = row.map.empty() ? row.text : test::read_file(row.map);
    if (!row.map.empty()) {
      EXPECT_FALSE(link_inputs(map).empty()) << "no LOAD lines";
    }
    EXPECT_EQ(unnamed(map, notices, row.host), row.unnamed);
  }
}

}  // namespace
}  // namespace zrk
