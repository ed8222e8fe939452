// A file read by offset, with no stream buffer in between, while other
// processes may read, write or remove it: a build folder file as the archive
// writers read it, an archive as the zip reader checks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

namespace zrk {

// How a file changed under a read that expected its scanned size.
enum class FileChanged {
  kShorter = 1,  // "the file became shorter while it was read"
  kGrew,         // "the file grew while it was read"
};
std::error_code make_error_code(FileChanged change);

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  // Closes a file still open first. Empty, or the host's error.
  std::error_code open(const std::filesystem::path& path);
  void close();

  // Reads exactly `size` bytes at `offset`; with `end`, one byte more is
  // asked for, to learn that the file ends there, so `data` has room for
  // `size` + 1. Empty, the host's error, or a FileChanged.
  std::error_code read_exactly(std::uint64_t offset, char* data, std::size_t size, bool end);

  // The size of the open file now. Empty, or the host's error.
  std::error_code size(std::uint64_t* bytes);

  // Replaces `bytes` with the file from its start to its end, reading until
  // the host reports the end, so a file that states no size (a process's
  // record under /proc) is read whole too. file_too_large past `limit` bytes.
  std::error_code read_to_end(std::string* bytes, std::size_t limit);

 private:
  // Reads up to `size` bytes (at most 1 GiB) at `offset` in one request. A
  // host reads a file short only at its end, so a count below `size` means
  // that the file ends there. -1 on failure (`error_` says why), or when no
  // file is open.
  std::int64_t read_at(std::uint64_t offset, char* data, std::size_t size);

  std::intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
  std::error_code error_;
};

}  // namespace zrk

template <>
struct std::is_error_code_enum<zrk::FileChanged> : std::true_type {};
