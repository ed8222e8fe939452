// For the Windows host files only: whether a link can be reached as itself.
#pragma once

#include <windows.h>

namespace zrk {

// True when the open `entry`, listed with `attributes`, is the entry itself.
// A reparse point opened with FILE_FLAG_OPEN_REPARSE_POINT must still be one;
// Wine lists a Unix link as a reparse point but opens, moves and deletes its
// target whatever the flags say, so such a handle must not be acted on.
inline bool is_entry_itself(HANDLE entry, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace zrk
