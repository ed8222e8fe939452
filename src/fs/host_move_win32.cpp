// Name changes on Windows: MoveFileExW for moves and replacing moves,
// CreateHardLinkW for the second name that keeps a file in the backup, and a
// copy beside the target for a move across volumes.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "fs/durable.h"
#include "fs/host_move.h"
#include "fs/host_tree.h"
#include "fs/link_guard_win32.h"
#include "fs/listing.h"

namespace zrk {

namespace {

// False for a link that the host would move as its target: the move would
// carry a folder outside the install folder into the backup.
bool moves_as_itself(const std::filesystem::path& from) {
  const DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return true;
  }
  const HANDLE entry = CreateFileW(
      from.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return false;
  const bool itself = is_entry_itself(entry, attributes);
  CloseHandle(entry);
  return itself;
}

// The volume and index that name a file, whatever path reaches it.
bool file_identity(const wchar_t* path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(file, info) != 0;
  CloseHandle(file);
  return known;
}

// True when both paths name one file.
bool same_file(const wchar_t* a, const wchar_t* b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return file_identity(a, &first) && file_identity(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// Windows lets a running program's file be renamed but never replaced, so
// the updater's own program must leave its name by a move.
bool is_running_program(const std::filesystem::path& path) {
  std::wstring own(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
    if (length == 0) return false;
    if (length < own.size()) {
      own.resize(length);
      break;
    }
    own.resize(own.size() * 2);
  }
  return same_file(own.c_str(), path.c_str());
}

// Writes the data of the file `path` out to the device.
bool flush_file(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return flushed;
}

// Copies the file or folder tree `from` to `to`, where nothing stands, each
// file flushed. A link inside is not copied: the copy fails, and the item
// stays where it is.
bool copy_tree(const std::wstring& from, const std::wstring& to) {
  const DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr,
                       COPY_FILE_FAIL_IF_EXISTS) &&
           flush_file(to);
  }
  if (!CreateDirectoryW(to.c_str(), nullptr)) return false;
  std::vector<FolderEntry> entries;
  if (list_folder_entries(from, &entries, EntryDetail::kKinds)) return false;
  for (const FolderEntry& entry : entries) {
    const std::wstring& name = entry.name.native();
    if (!copy_tree(from + L"\\" + name, to + L"\\" + name)) return false;
  }
  return true;
}

// What the copies of `to` in progress are called: "." + its name + this.
std::wstring temporary_prefix(const std::filesystem::path& to) {
  return L"." + to.filename().native() + L".zrk-move-";
}

// Copies of `to` left by a process killed in the middle of a move: nothing
// else removes them, and they would stay in the install folder for good.
void remove_stale_copies(const std::filesystem::path& to, const std::wstring& own) {
  const std::wstring folder = to.parent_path().native();
  const std::wstring prefix = temporary_prefix(to);
  // What cannot be listed is left for a later move to clear.
  std::vector<FolderEntry> entries;
  list_folder_entries(folder, &entries, EntryDetail::kKinds);
  for (const FolderEntry& entry : entries) {
    const std::wstring& name = entry.name.native();
    if (name.compare(0, prefix.size(), prefix) == 0 && name.compare(0, own.size(), own) != 0) {
      remove_tree(folder + L"\\" + name);
    }
  }
}

// The move across volumes, which MoveFileExW makes only for files and then
// under the target's own name: copy beside the target under a name of its
// own, flush, rename the copy into place, then delete the source. A copy that
// fails is removed again, so the target is never left half-written.
bool copy_then_delete(const std::filesystem::path& from, const std::filesystem::path& to) {
  static std::atomic<unsigned> counter{0};
  const std::wstring own = temporary_prefix(to) + std::to_wstring(GetCurrentProcessId()) + L"-";
  remove_stale_copies(to, own);
  const std::filesystem::path temporary = to.parent_path() / (own + std::to_wstring(counter++));
  const bool placed = copy_tree(from.native(), temporary.native()) &&
                      (is_regular_entry(temporary) || !flush_tree(temporary)) &&
                      MoveFileExW(temporary.c_str(), to.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!placed) {
    remove_tree(temporary);
    return false;
  }
  // The item now stands at `to`; a source that cannot be deleted stays behind.
  remove_tree(from);
  return true;
}

}  // namespace

bool move_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!moves_as_itself(from)) return false;
  // A rename within a volume is committed by the run's later flush of the
  // folders.
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  return GetLastError() == ERROR_NOT_SAME_DEVICE && copy_then_delete(from, to);
}

// A reparse point, even a cloud placeholder of a file, is not taken for a
// plain file: it keeps the two moves, which never open it.
bool is_regular_entry(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

LinkResult link_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!is_regular_entry(from) || is_running_program(from)) return LinkResult::kUnsupported;
  if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return LinkResult::kLinked;
  switch (GetLastError()) {
    case ERROR_NOT_SAME_DEVICE:   // another volume
    case ERROR_NOT_SUPPORTED:     // a file system without hard links
    case ERROR_INVALID_FUNCTION:  // FAT and exFAT say it this way
    case ERROR_TOO_MANY_LINKS:
      return LinkResult::kUnsupported;
    default:
      return LinkResult::kFailed;
  }
}

// MoveFileExW refuses to replace a read-only file, so the attribute is
// cleared first, and put back when the replace does not happen. No copy is
// allowed: a copy would write the new file under its final name. A source
// that still stands beside its target as a name of the same file (the undo
// of a link whose replace never happened) is deleted.
bool replace_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  const DWORD attributes = GetFileAttributesW(to.c_str());
  const bool read_only =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) {
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(to.c_str(), writable == 0 ? FILE_ATTRIBUTE_NORMAL : writable);
  }
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (read_only) SetFileAttributesW(to.c_str(), attributes);
    return false;
  }
  return !same_file(from.c_str(), to.c_str()) || DeleteFileW(from.c_str()) != 0;
}

}  // namespace zrk
