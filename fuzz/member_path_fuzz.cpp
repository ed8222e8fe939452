// Member names: the verdict never depends on which outputs are given, and an
// accepted name can only yield a path that stays inside staging on any host.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "archive/member_path.h"
#include "common/text.h"

namespace {

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "member_path_fuzz: %s\n", what);
  std::abort();
}

// Also the same name on every host: UTF-8, and no component that Windows
// would cut short.
bool safe_relative_path(std::string_view path) {
  if (path.empty()) return true;
  if (!zrk::is_valid_utf8(path)) return false;
  if (path.front() == '/' || path.back() == '/') return false;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\' || byte == ':' || byte < 0x20 || byte == 0x7F) return false;
  }
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (part.back() == '.' || part.back() == ' ') return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  std::string relative = "left over";
  std::string reason = "untouched";
  const bool accepted = zrk::check_member_path(name, &relative, &reason);
  require(accepted == zrk::check_member_path(name, nullptr, nullptr), "verdict depends on outputs");

  if (accepted) {
    require(reason == "untouched", "reason written on acceptance");
    require(safe_relative_path(relative), "accepted an unsafe relative path");
    // The name is the top folder, the path, then nothing but slashes.
    std::string_view tail = name.substr(0, zrk::kTopFolder.size());
    require(tail == zrk::kTopFolder, "accepted a name outside the top folder");
    tail = name.substr(zrk::kTopFolder.size());
    require(tail.substr(0, relative.size()) == relative, "relative path is not the name's tail");
    require(tail.find_first_not_of('/', relative.size()) == std::string_view::npos,
            "relative path drops more than trailing slashes");
  } else {
    require(relative.empty(), "relative path filled on refusal");
    require(!reason.empty() && reason != "untouched", "refusal without a reason");
  }
  return 0;
}
