#include <windows.h>

#include "fs/host_move.h"

namespace zrk {

bool move_once(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) !=
         0;
}

}  // namespace zrk
