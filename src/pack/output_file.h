// The file a made archive is written to, and putting it in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace zrk {

// A new file written from the start: created, or truncated when it exists.
// Other processes may read it meanwhile, and removing it while it is open
// is allowed (an interrupted run removes it).
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Closes a file still open.
  ~OutputFile();

  // False when it cannot be created; error() says why.
  bool open(const std::filesystem::path& path);
  // Writes all `size` bytes. False on failure, or when no file is open.
  bool write(const char* data, std::size_t size);
  // Writes all `size` bytes at `offset`. Where write() goes on afterwards
  // differs between hosts, so a file is written with one or the other.
  bool write_at(std::uint64_t offset, const char* data, std::size_t size);
  // Hands everything written to the device. False on failure. Where the
  // host can, the device gets each stretch of data soon after its write, so
  // this waits for the last stretch only.
  bool sync();
  // False when the host reports a failure at the close, or no file was open.
  bool close();

  // The host's error of the last failed operation.
  const std::error_code& error() const { return error_; }

 private:
  std::intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
  std::error_code error_;
  std::uint64_t written_ = 0;  // bytes written since the open
  std::uint64_t started_ = 0;  // of those, how many the device was asked to write
};

// Renames `from` to `to`, replacing a file there, and makes the rename
// itself durable where the host needs a separate step for that.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::error_code* error);

}  // namespace zrk
