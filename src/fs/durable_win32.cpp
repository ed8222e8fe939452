// Durability on Windows. A staged file's data leaves the system cache at its
// close, so what is left is the folders' entries, which a flush of each
// folder's own handle commits; that flush also has the device empty its cache,
// which puts the files' data there too. Folder handles need write access for
// that, and FILE_FLAG_BACKUP_SEMANTICS to open a folder at all. The walk lists
// through the one listing, on the path as given (the long path form).
#include <windows.h>

#include <string>
#include <vector>

#include "fs/durable.h"
#include "fs/listing.h"

namespace zrk {

namespace {

std::error_code last_error() { return {static_cast<int>(GetLastError()), std::system_category()}; }

// The folders directly in `folder` that a walk enters, links left out (the
// staged tree holds none; one there is not the run's own).
std::error_code list_subfolders(const std::filesystem::path& folder,
                                std::vector<std::filesystem::path>* found) {
  std::vector<FolderEntry> entries;
  const std::error_code ec = list_folder_entries(folder, &entries, EntryDetail::kKinds);
  for (const FolderEntry& entry : entries) {
    if (entry.kind == EntryKind::kFolder) found->push_back(folder / entry.name);
  }
  return ec;
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
  std::vector<std::filesystem::path> pending{top};
  while (!pending.empty()) {
    const std::filesystem::path next = std::move(pending.back());
    pending.pop_back();
    if (std::error_code ec = flush_folder(next)) return ec;
    if (std::error_code ec = list_subfolders(next, &pending)) return ec;
  }
  return {};
}

}  // namespace zrk
