#include <windows.h>

#include "fs/host_move.h"

namespace zrk {

bool move_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  // Write-through makes a move across volumes flush its copy before it
  // deletes the source; a rename within a volume is committed by the run's
  // later flush of the folders.
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) !=
         0;
}

}  // namespace zrk
