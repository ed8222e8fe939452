#include "fs/input_file.h"

#include <string>

namespace zrk {

namespace {

class FileChangedCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "file changed"; }
  std::string message(int change) const override {
    return change == static_cast<int>(FileChanged::kShorter)
               ? "the file became shorter while it was read"
               : "the file grew while it was read";
  }
};

}  // namespace

std::error_code make_error_code(FileChanged change) {
  static const FileChangedCategory category;
  return {static_cast<int>(change), category};
}

std::error_code InputFile::read_exactly(std::uint64_t offset, char* data, std::size_t size,
                                        bool end) {
  const std::int64_t got = read_at(offset, data, size + (end ? 1 : 0));
  if (got < 0) return error_ ? error_ : std::make_error_code(std::errc::bad_file_descriptor);
  if (static_cast<std::uint64_t>(got) == size) return {};
  return static_cast<std::uint64_t>(got) < size ? FileChanged::kShorter : FileChanged::kGrew;
}

std::error_code InputFile::read_to_end(std::string* bytes, std::size_t limit) {
  bytes->clear();
  char chunk[4096];
  for (;;) {
    const std::int64_t got = read_at(bytes->size(), chunk, sizeof chunk);
    if (got < 0) return error_ ? error_ : std::make_error_code(std::errc::bad_file_descriptor);
    if (got == 0) return {};
    if (static_cast<std::uint64_t>(got) > limit - bytes->size()) {
      return std::make_error_code(std::errc::file_too_large);
    }
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace zrk
