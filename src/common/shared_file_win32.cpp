// _SH_DENYNO lets the game read the log (and tools read staged files) while the
// updater writes them; "N" keeps the handle out of started processes.
#include <io.h>
#include <share.h>
#include <stdio.h>

#include <string>

#include "common/shared_file.h"

namespace zrk {

SharedFile open_shared_file(const std::filesystem::path& path, const char* mode) {
  std::wstring wide_mode;
  for (const char* c = mode; *c != '\0'; ++c) wide_mode += static_cast<wchar_t>(*c);
  wide_mode += L'N';
  return SharedFile(_wfsopen(path.c_str(), wide_mode.c_str(), _SH_DENYNO));
}

// _commit is FlushFileBuffers on the stream's handle.
bool flush_shared_file(SharedFile& file) {
  return std::fflush(file.get()) == 0 && _commit(_fileno(file.get())) == 0;
}

}  // namespace zrk
