// Windows: the listing's reparse tag tells a link (symbolic link, junction,
// mount point) apart before anything follows it; devices show as such.
#include <windows.h>

#include "fs/link_guard_win32.h"
#include "fs/listing.h"

namespace zrk {

namespace {

std::error_code last_error() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// `tag` is the listing's reparse tag. A placeholder of a cloud folder or a
// deduplicated file is what it holds; a listing without a tag (0 is no tag)
// leaves a reparse point a link.
EntryKind kind_of(DWORD attributes, DWORD tag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag == 0 || is_link_tag(tag))) {
    return EntryKind::kLink;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::kSpecial;
  return EntryKind::kFile;
}

// A listing carries a file's size as of its last change through that name,
// which another hard link can leave stale, so a file is asked about itself.
void look_at(const std::filesystem::path& path, DWORD tag, FolderEntry* entry) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
    entry->kind = EntryKind::kUnreadable;
    entry->error = last_error();
    return;
  }
  entry->kind = kind_of(info.dwFileAttributes, tag);
  if (entry->kind == EntryKind::kFile) {
    entry->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
}

}  // namespace

std::error_code list_folder_entries(const std::filesystem::path& folder,
                                    std::vector<FolderEntry>* entries, EntryDetail detail) {
  WIN32_FIND_DATAW found{};
  const HANDLE find = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    // Some file systems list no "." and "..", so an empty folder matches nothing.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
    return last_error();
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderEntry entry;
    entry.name = name;
    entry.kind = kind_of(found.dwFileAttributes, found.dwReserved0);
    if (entry.kind == EntryKind::kFile && detail == EntryDetail::kSizes) {
      look_at(folder / name, found.dwReserved0, &entry);
    }
    entries->push_back(std::move(entry));
  } while (FindNextFileW(find, &found));
  const DWORD ended = GetLastError();
  FindClose(find);
  if (ended == ERROR_NO_MORE_FILES) return {};
  return {static_cast<int>(ended), std::system_category()};
}

}  // namespace zrk
