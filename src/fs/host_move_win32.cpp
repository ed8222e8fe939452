// Name changes on Windows: MoveFileExW for moves and replacing moves,
// CreateHardLinkW for the second name that keeps a file in the backup, and
// CopyFileExW for the copy of a move across volumes, each copied file
// flushed as it is made.
#include <windows.h>

#include <string>

#include "fs/durable.h"
#include "fs/host_move.h"
#include "fs/host_move_steps.h"
#include "fs/link_guard_win32.h"

namespace zrk {

namespace {

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
bool flush_file(const std::filesystem::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return flushed;
}

// `attributes` without the read-only one, in the form SetFileAttributesW takes.
DWORD writable(DWORD attributes) {
  const DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest;
}

}  // namespace

CopyKind copy_kind(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return CopyKind::kNone;
  }
  const CopyKind plain =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? CopyKind::kFolder : CopyKind::kFile;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return plain;
  DWORD tag = 0;
  if (!entry_reparse_tag(path.native(), &tag)) return CopyKind::kLink;
  switch (reparse_kind(tag)) {
    case ReparseKind::kLink:
      return CopyKind::kLink;
    case ReparseKind::kStoredFile:
      return plain;
    case ReparseKind::kFiltered:
      break;
  }
  return CopyKind::kNone;
}

// A rename within a volume is committed by the run's later flush of the
// folders; the write-through flag makes a copy-allowed move wait for its data.
RenameStep rename_entry(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return RenameStep::kRenamed;
  }
  return GetLastError() == ERROR_NOT_SAME_DEVICE ? RenameStep::kOtherVolume : RenameStep::kFailed;
}

// False for a link that the host would move as its target: the move would
// carry a folder outside the install folder into the backup.
bool renames_as_itself(const std::filesystem::path& from) {
  const DWORD attributes = GetFileAttributesW(from.c_str());
  DWORD tag = 0;
  return attributes == INVALID_FILE_ATTRIBUTES ||
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || entry_reparse_tag(from.native(), &tag);
}

// CopyFileExW copies the read-only attribute too, and a read-only file
// refuses the write access that its flush needs: the copy is flushed
// writable, and its attribute put back only once its data is on the device.
bool copy_file_entry(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return flush_file(to);
  return SetFileAttributesW(to.c_str(), writable(attributes)) && flush_file(to) &&
         SetFileAttributesW(to.c_str(), attributes);
}

bool copy_folder_entry(const std::filesystem::path&, const std::filesystem::path& to) {
  return CreateDirectoryW(to.c_str(), nullptr) != 0;
}

// Making a link takes a privilege that players do not hold.
bool copy_link_entry(const std::filesystem::path&, const std::filesystem::path&) { return false; }

// The files were flushed as they were copied; a folder's entries remain.
bool flush_copy(const std::filesystem::path& copy, CopyKind kind) {
  return kind != CopyKind::kFolder || !flush_tree(copy);
}

std::string process_tag() { return std::to_string(GetCurrentProcessId()); }

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
  if (read_only) SetFileAttributesW(to.c_str(), writable(attributes));
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (read_only) SetFileAttributesW(to.c_str(), attributes);
    return false;
  }
  return !same_file(from.c_str(), to.c_str()) || DeleteFileW(from.c_str()) != 0;
}

}  // namespace zrk

namespace zrk {

bool is_same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  return same_file(a.c_str(), b.c_str());
}

}  // namespace zrk
