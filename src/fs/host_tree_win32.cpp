// The tree walk on Windows. Every entry is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT), and a folder is entered unless its reparse
// tag makes it a link, so a junction or folder link is removed as the link
// while a cloud placeholder folder is emptied like any other. Deletes
// go through the open handle: first with POSIX semantics, which takes the name
// away at once even while another process holds the file open with delete
// sharing (a virus scanner, the search indexer), and which ignores the
// read-only attribute; where that class is refused (older Windows, FAT, Wine)
// the read-only attribute is cleared and the classic delete is asked for.
#include <windows.h>

#include <string>
#include <vector>

#include "fs/host_tree.h"
#include "fs/link_guard_win32.h"
#include "fs/listing.h"

namespace zrk {

namespace {

namespace stdfs = std::filesystem;

// FILE_DISPOSITION_INFO_EX flags, which older SDK headers lack.
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
constexpr FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

struct DispositionEx {
  DWORD flags;
};

bool is_missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void note(TreeRemoval* result, const std::wstring& where, DWORD error) {
  if (!result->error) result->error.assign(static_cast<int>(error), std::system_category());
  result->left.push_back(stdfs::path(where));
}

std::wstring child_of(const std::wstring& folder, const std::wstring& name) {
  const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
  return separated ? folder + name : folder + L"\\" + name;
}

bool remove_entry(const std::wstring& path, TreeRemoval* result);

// Removes everything in `folder`. True when all of it went.
bool empty_folder(const std::wstring& folder, TreeRemoval* result) {
  // Every name is read before any of them is removed.
  std::vector<FolderEntry> entries;
  const std::error_code listed = list_folder_entries(folder, &entries, EntryDetail::kKinds);
  if (listed) note(result, folder, static_cast<DWORD>(listed.value()));
  bool emptied = !listed;
  for (const FolderEntry& entry : entries) {
    emptied = remove_entry(child_of(folder, entry.name.native()), result) && emptied;
  }
  return emptied;
}

bool clear_read_only(HANDLE entry, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // zero times: leave them as they are
  basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks the open entry for deletion. ERROR_SUCCESS or the error of the last try.
DWORD mark_for_delete(HANDLE entry, DWORD attributes) {
  DispositionEx posix{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(entry, kDispositionInfoEx, &posix, sizeof posix)) {
    return ERROR_SUCCESS;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) clear_read_only(entry, attributes);
  FILE_DISPOSITION_INFO classic{TRUE};
  if (SetFileInformationByHandle(entry, FileDispositionInfo, &classic, sizeof classic)) {
    return ERROR_SUCCESS;
  }
  return GetLastError();
}

// Deletes the entry itself (a link, not its target). ERROR_SUCCESS when its
// name is gone afterwards.
DWORD delete_entry(const std::wstring& path, DWORD attributes) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  const HANDLE entry =
      CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return is_missing(error) ? ERROR_SUCCESS : error;
  }
  // A link that opens as its target stays: deleting would hit the target.
  if (!is_entry_itself(entry, attributes)) {
    CloseHandle(entry);
    return ERROR_ACCESS_DENIED;
  }
  const DWORD error = mark_for_delete(entry, attributes);
  CloseHandle(entry);
  if (error != ERROR_SUCCESS) return error;
  // Another handle with delete sharing keeps a classic delete pending, and a
  // host may refuse the delete only at the close: either way the name stays.
  // Windows itself answers a pending delete with access denied.
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && is_missing(GetLastError())) {
    return ERROR_SUCCESS;
  }
  return ERROR_ACCESS_DENIED;
}

// True when the folder at `path` is to be emptied before it goes: it is no
// link. A reparse point that does not open as itself (Wine's view of a Unix
// link) counts as a link.
bool is_folder_to_enter(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  DWORD tag = 0;
  return entry_reparse_tag(path, &tag) && !is_link_tag(tag);
}

bool remove_entry(const std::wstring& path, TreeRemoval* result) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (is_missing(error)) return true;
    note(result, path, error);
    return false;
  }
  if (is_folder_to_enter(path, attributes) && !empty_folder(path, result)) return false;
  const DWORD error = delete_entry(path, attributes);
  if (error == ERROR_SUCCESS) return true;
  note(result, path, error);
  return false;
}

}  // namespace

std::error_code find_entry(const stdfs::path& path, bool* present) {
  *present = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (*present) return {};
  const DWORD error = GetLastError();
  // A parent that is a file answers as a missing path does.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
  return {static_cast<int>(error), std::system_category()};
}

TreeRemoval remove_tree(const stdfs::path& path) {
  TreeRemoval result;
  remove_entry(path.native(), &result);
  return result;
}

}  // namespace zrk
