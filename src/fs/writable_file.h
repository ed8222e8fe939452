// The one way the programs write a file: staged files, the update log, the
// marker and zrk-pack's archives. Other processes may read, write and remove
// the file while it is open, and no started program inherits it. Writes go
// straight to the host's own calls, with no stream buffer in between: each
// write is whole already (a copy buffer, a log line, a gzip member).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace zrk {

// Where the writes of an open file go.
enum class WriteStart {
  kEmpty,  // created, or truncated when it exists; written from the start
  kEnd,    // created when missing; each write lands whole after what the file holds
};

// What the close does beyond handing the data to the system.
enum class AtClose {
  kHandOver,  // nothing more: the log, or a file whose sync() put it on the device
  // The data is on the device once flush_tree (fs/durable.h) of a folder
  // above it returns. Windows, whose flush_tree commits folders alone, writes
  // the data out of its cache at the close, without a device flush; POSIX
  // leaves it all to flush_tree's one flush of the file system.
  kForTreeFlush,
};

// What a file written from the start holds, for the host's permissions.
enum class FileKind {
  kData,  // created 0666 less the umask on POSIX; an existing file loses its execute bits
  // A program: created 0777 less the umask on POSIX, so that it can be
  // started from where it lands; an existing file gains execute bits where
  // it has read bits. Windows has no such bit, and both are the same there.
  kProgram,
};

class WritableFile {
 public:
  WritableFile() = default;
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;
  // Closes a file still open; a failure there goes unreported.
  ~WritableFile();

  // Closes a file still open, then opens `path`. The host's error when it
  // cannot be opened (a folder in the way, no access). `kind` sets the
  // permissions of a file written from the start; a file written at its end
  // is created as data and otherwise keeps what it has.
  std::error_code open(const std::filesystem::path& path, WriteStart start,
                       AtClose at_close = AtClose::kHandOver, FileKind kind = FileKind::kData);
  bool is_open() const { return handle_ != -1; }

  // Writes all `size` bytes in order. A file written from the start has
  // every 8 MiB handed to the device as soon as it is written, where the
  // host can, so that a later flush waits for little.
  std::error_code write(const char* data, std::size_t size);
  // Writes all `size` bytes at `offset` of a file written from the start.
  // Where write() goes on afterwards differs between hosts, so a file is
  // written with one or the other.
  std::error_code write_at(std::uint64_t offset, const char* data, std::size_t size);
  // Waits until everything written is on the device.
  std::error_code sync();
  // Closes the file, doing what `at_close` asked. An error when the host
  // reports one, or no file was open.
  std::error_code close();

 private:
  // The host's open of `path` as `start_` asks; sets `handle_` on success.
  std::error_code open_host(const std::filesystem::path& path);

  std::intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows
  WriteStart start_ = WriteStart::kEmpty;
  AtClose at_close_ = AtClose::kHandOver;
  FileKind kind_ = FileKind::kData;
  std::uint64_t written_ = 0;  // bytes written by write() since the open
  std::uint64_t started_ = 0;  // of those, how many the device was asked to write
};

// Renames `from` to `to`, replacing a file there, and makes the rename
// itself durable where the host needs a separate step for that.
std::error_code replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zrk
