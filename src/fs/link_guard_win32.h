// For the Windows host files only: which reparse points are links, and whether
// a link can be reached as itself.
#pragma once

#include <windows.h>

namespace zrk {

// True when a reparse point with `tag` stands for another name (a symbolic
// link, a junction, a mount point), so a walk must not go through it. Every
// other tag (cloud placeholders, deduplicated files, container layers) marks an
// ordinary entry whose data a filter driver supplies: such a folder has
// children of its own, and only removing them lets the folder go.
inline bool is_link_tag(DWORD tag) { return (tag & 0x20000000) != 0; }

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
