#include "fs/archive_open.h"

namespace zrk {

gzFile open_gzip(const std::filesystem::path& path) { return gzopen_w(path.c_str(), "rb"); }

zip_source_t* open_zip_source(const std::filesystem::path& path, zip_error_t* error) {
  return zip_source_win32w_create(path.c_str(), 0, 0, error);
}

}  // namespace zrk
