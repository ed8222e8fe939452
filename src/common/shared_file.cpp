#include "common/shared_file.h"

namespace zrk {

bool close_shared_file(SharedFile& file) {
  std::FILE* raw = file.release();
  if (raw == nullptr) return false;
  const bool stream_ok = std::ferror(raw) == 0;
  return std::fclose(raw) == 0 && stream_ok;
}

}  // namespace zrk
