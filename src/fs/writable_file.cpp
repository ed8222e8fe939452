#include "fs/writable_file.h"

namespace zrk {

WritableFile::~WritableFile() {
  if (is_open()) close();
}

std::error_code WritableFile::open(const std::filesystem::path& path, WriteStart start,
                                   AtClose at_close, FileKind kind) {
  if (is_open()) close();
  start_ = start;
  at_close_ = at_close;
  kind_ = kind;
  written_ = 0;
  started_ = 0;
  return open_host(path);
}

}  // namespace zrk
