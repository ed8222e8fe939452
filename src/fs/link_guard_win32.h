// For the Windows host files only: which reparse points are links, and whether
// a link can be reached as itself.
#pragma once

#include <windows.h>

#include <string>

namespace zrk {

// What a reparse point with `tag` is; the one place that reads the tags.
enum class ReparseKind {
  // Stands for another name (a symbolic link, a junction, a mount point):
  // every name surrogate. Nothing goes through it.
  kLink,
  // A plain file or folder whose data the system stores another way: the
  // compression of compact.exe and of the tools that shrink game folders
  // (WOF), and deduplication. Linked, renamed over and copied as any file.
  kStoredFile,
  // An entry whose data or children a filter driver supplies (cloud
  // placeholders, container layers, projected files): such a folder has
  // children of its own, and only removing them lets it go; but it is
  // neither linked over nor copied, which would ask the driver for its data.
  kFiltered,
};

inline ReparseKind reparse_kind(DWORD tag) {
  constexpr DWORD kNameSurrogate = 0x20000000;
  constexpr DWORD kWof = 0x80000017;    // IO_REPARSE_TAG_WOF
  constexpr DWORD kDedup = 0x80000013;  // IO_REPARSE_TAG_DEDUP
  if ((tag & kNameSurrogate) != 0) return ReparseKind::kLink;
  if (tag == kWof || tag == kDedup) return ReparseKind::kStoredFile;
  return ReparseKind::kFiltered;
}

// True when a walk must not go through a reparse point with `tag`.
inline bool is_link_tag(DWORD tag) { return reparse_kind(tag) == ReparseKind::kLink; }

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

// Reads the reparse tag of the entry at `path` itself. False when it cannot
// be opened or asked, or when it does not open as a reparse point: Wine's view
// of a Unix link, which opens as its target whatever the flags say.
inline bool entry_reparse_tag(const std::wstring& path, DWORD* tag) {
  const HANDLE entry = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO info{};
  const bool known =
      GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info) &&
      (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  CloseHandle(entry);
  *tag = info.ReparseTag;
  return known;
}

}  // namespace zrk
