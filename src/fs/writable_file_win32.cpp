// Writable files on Windows: CreateFileW sharing reading, writing and removal
// (an interrupted zrk-pack removes the archive it is writing), with a handle
// that started programs do not inherit, and WriteFile straight from the
// caller's buffer. A file written at its end is opened for appending alone,
// so each write lands after whatever the file holds by then.
//
// kForTreeFlush writes the file's data and metadata out of the system cache at
// the close without asking the device to empty its own cache
// (NtFlushBuffersFileEx with FLUSH_FLAGS_NO_SYNC): a device flush per file
// costs a cache flush for each of thousands of small staged files. The run's
// flush_tree of the staging folders before the swap then empties the device
// cache once, for all of them. Where that call is missing (older Windows,
// Wine) or refused (ReFS, for one), the file is flushed whole; after the
// first refusal the call is not tried again in this run.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "fs/writable_file.h"

namespace zrk {

namespace {

constexpr DWORD kLargestWrite = 0x40000000;

std::error_code last_error() {
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

std::error_code not_open() { return std::error_code(ERROR_INVALID_HANDLE, std::system_category()); }

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

struct IoStatus {
  union {
    LONG status;
    void* pointer;
  };
  ULONG_PTR information;
};

using FlushBuffersEx = LONG(NTAPI*)(HANDLE file, ULONG flags, void* parameters,
                                    ULONG parameters_size, IoStatus* io_status);

constexpr ULONG kFlushNoSync = 0x2;  // FLUSH_FLAGS_NO_SYNC

// NtFlushBuffersFileEx, looked up once; null where ntdll has none.
FlushBuffersEx flush_buffers_ex() {
  static const FlushBuffersEx found = [] {
    FlushBuffersEx call = nullptr;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const FARPROC proc = ntdll ? GetProcAddress(ntdll, "NtFlushBuffersFileEx") : nullptr;
    static_assert(sizeof call == sizeof proc, "function pointers differ in size");
    if (proc != nullptr) std::memcpy(&call, &proc, sizeof call);
    return call;
  }();
  return found;
}

// Set at the first refusal of the flush without a device flush: the staged
// files all lie on one volume, which refuses it for every one of them.
std::atomic<bool> no_sync_refused{false};

// Puts the file's data out of the system cache.
std::error_code write_out(HANDLE file) {
  const FlushBuffersEx flush = flush_buffers_ex();
  if (flush != nullptr && !no_sync_refused.load(std::memory_order_relaxed)) {
    IoStatus io_status{};
    if (flush(file, kFlushNoSync, nullptr, 0, &io_status) >= 0) return {};
    no_sync_refused.store(true, std::memory_order_relaxed);
  }
  return FlushFileBuffers(file) ? std::error_code() : last_error();
}

// WriteFile until all `size` bytes are in; at `*offset` when given. An
// OVERLAPPED offset on a handle opened for synchronous use writes there and
// moves the file pointer past what it wrote.
std::error_code put_all(HANDLE file, const char* data, std::size_t size,
                        const std::uint64_t* offset) {
  std::uint64_t at = offset != nullptr ? *offset : 0;
  while (size > 0) {
    const DWORD chunk = size > kLargestWrite ? kLargestWrite : static_cast<DWORD>(size);
    OVERLAPPED place = {};
    place.Offset = static_cast<DWORD>(at);
    place.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, offset != nullptr ? &place : nullptr)) {
      return last_error();
    }
    if (written == 0) return std::error_code(ERROR_DISK_FULL, std::system_category());
    data += written;
    size -= written;
    at += written;
  }
  return {};
}

}  // namespace

std::error_code WritableFile::open_host(const std::filesystem::path& path) {
  const bool at_end = start_ == WriteStart::kEnd;
  const HANDLE file =
      CreateFileW(path.c_str(), at_end ? FILE_APPEND_DATA : GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  at_end ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_error();
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return {};
}

std::error_code WritableFile::write(const char* data, std::size_t size) {
  if (!is_open()) return not_open();
  return put_all(as_handle(handle_), data, size, nullptr);
}

std::error_code WritableFile::write_at(std::uint64_t offset, const char* data, std::size_t size) {
  if (!is_open()) return not_open();
  return put_all(as_handle(handle_), data, size, &offset);
}

std::error_code WritableFile::sync() {
  if (!is_open()) return not_open();
  return FlushFileBuffers(as_handle(handle_)) ? std::error_code() : last_error();
}

std::error_code WritableFile::close() {
  if (!is_open()) return not_open();
  const HANDLE file = as_handle(handle_);
  handle_ = -1;
  const std::error_code written_out =
      at_close_ == AtClose::kForTreeFlush ? write_out(file) : std::error_code();
  if (!CloseHandle(file)) return last_error();
  return written_out;
}

std::error_code replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? std::error_code()
             : last_error();
}

}  // namespace zrk
