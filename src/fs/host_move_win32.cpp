// Name changes on Windows: MoveFileExW for moves and replacing moves,
// CreateHardLinkW for the second name that keeps a file in the backup.
#include <windows.h>

#include <string>

#include "fs/host_move.h"
#include "fs/link_guard_win32.h"

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

}  // namespace

bool move_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!moves_as_itself(from)) return false;
  // Write-through makes a move across volumes flush its copy before it
  // deletes the source; a rename within a volume is committed by the run's
  // later flush of the folders.
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) !=
         0;
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
