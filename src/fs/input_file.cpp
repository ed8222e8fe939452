#include "fs/input_file.h"

namespace zrk {

bool InputFile::read_exactly(std::uint64_t offset, char* data, std::size_t size, bool end,
                             std::string* why) {
  const std::int64_t got = read_at(offset, data, size + (end ? 1 : 0));
  if (got < 0) {
    *why = error_.message();
    return false;
  }
  if (static_cast<std::uint64_t>(got) == size) return true;
  *why = static_cast<std::uint64_t>(got) < size ? "the file became shorter while it was read"
                                                : "the file grew while it was read";
  return false;
}

}  // namespace zrk
