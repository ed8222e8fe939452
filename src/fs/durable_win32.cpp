// Durability on Windows. A staged file's data leaves the system cache at its
// close, so what is left is the folders' entries, which a flush of each
// folder's own handle commits; that flush also has the device empty its cache,
// which puts the files' data there too. Folder handles need write access for
// that, and FILE_FLAG_BACKUP_SEMANTICS to open a folder at all. The walk lists
// with FindFirstFileExW on the path as given (the long path form), never
// through the C runtime, which refuses that form.
#include <windows.h>

#include <string>
#include <vector>

#include "fs/durable.h"

namespace zrk {

namespace {

std::error_code error_of(DWORD error) { return {static_cast<int>(error), std::system_category()}; }

std::error_code last_error() { return error_of(GetLastError()); }

// The folders directly in `folder` that a walk enters: no link of any kind
// (the staged tree holds none; a reparse point there is not the run's own).
std::error_code list_subfolders(const std::wstring& folder, std::vector<std::wstring>* found) {
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    // Some file systems list no "." and "..", so an empty folder matches nothing.
    return GetLastError() == ERROR_FILE_NOT_FOUND ? std::error_code() : last_error();
  }
  do {
    const std::wstring name = entry.cFileName;
    const DWORD kind =
        entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    if (kind == FILE_ATTRIBUTE_DIRECTORY && name != L"." && name != L"..") {
      found->push_back(folder + L"\\" + name);
    }
  } while (FindNextFileW(find, &entry));
  const DWORD ended = GetLastError();
  FindClose(find);
  return ended == ERROR_NO_MORE_FILES ? std::error_code() : error_of(ended);
}

}  // namespace

std::error_code flush_folder(const std::filesystem::path& folder) {
  const HANDLE handle = CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  std::error_code ec;
  if (!FlushFileBuffers(handle)) ec = last_error();
  CloseHandle(handle);
  return ec;
}

std::error_code flush_tree(const std::filesystem::path& folder) {
  std::wstring top = folder.native();
  while (top.size() > 1 && (top.back() == L'\\' || top.back() == L'/')) top.pop_back();
  std::vector<std::wstring> pending{top};
  while (!pending.empty()) {
    const std::wstring next = std::move(pending.back());
    pending.pop_back();
    if (std::error_code ec = flush_folder(next)) return ec;
    if (std::error_code ec = list_subfolders(next, &pending)) return ec;
  }
  return {};
}

}  // namespace zrk
