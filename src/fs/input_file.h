// A build folder file as the archive writers read it: by offset, with no
// stream buffer in between, while other processes may read, write or remove it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace zrk {

class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  // Closes a file still open first. False when it cannot be opened; error()
  // says why.
  bool open(const std::filesystem::path& path);
  void close();

  // Reads exactly `size` bytes at `offset`; with `end`, one byte more is
  // asked for, to learn that the file ends there, so `data` has room for
  // `size` + 1. False with `why`: the host's text, or that the file became
  // shorter or grew while it was read.
  bool read_exactly(std::uint64_t offset, char* data, std::size_t size, bool end, std::string* why);

  // The host's error of the last failed operation.
  const std::error_code& error() const { return error_; }

 private:
  // Reads up to `size` bytes (at most 1 GiB) at `offset` in one request. A
  // host reads a file short only at its end, so a count below `size` means
  // that the file ends there. -1 on failure, or when no file is open.
  std::int64_t read_at(std::uint64_t offset, char* data, std::size_t size);

  std::intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
  std::error_code error_;
};

}  // namespace zrk
