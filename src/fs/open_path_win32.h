// For the Windows host files only: the path that a file is opened by.
#pragma once

#include <filesystem>

#include "common/text.h"

namespace zrk {

// `path` in the long path form. A relative path is made absolute first: the
// system holds a relative path to MAX_PATH characters in all, whatever the
// long path policy, and only the absolute form takes the prefix. A path in
// the long or device form already is kept as it is.
inline std::filesystem::path openable_path(const std::filesystem::path& path) {
  const std::wstring& text = path.native();
  if (text.size() >= 4 && text[0] == L'\\' && text[1] == L'\\' &&
      (text[2] == L'?' || text[2] == L'.') && text[3] == L'\\') {
    return path;
  }
  return from_utf8(absolute_path_text(to_utf8(path)));
}

}  // namespace zrk
