#include <windows.h>

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

}  // namespace zrk
