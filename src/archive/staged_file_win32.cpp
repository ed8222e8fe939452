// Staged files on Windows: CreateFileW and WriteFile straight from the copy
// buffer. Others may read and write the file meanwhile; the handle is not
// inheritable, so the relaunched game does not get it.
//
// The close writes the file's data and metadata out of the system cache
// without asking the device to empty its own cache (NtFlushBuffersFileEx with
// FLUSH_FLAGS_NO_SYNC): a device flush per file costs a cache flush for each
// of thousands of small files. The run's flush of the staging folders before
// the swap (flush_tree) then empties the device cache once, for all of them.
// Where that call is missing (older Windows, Wine) or refused (a file system
// without it), each file is flushed whole at its close.
#include <windows.h>

#include <cstring>

#include "archive/staging.h"

namespace zrk {

namespace {

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

// Puts the file's data out of the system cache; true on success.
bool write_out(HANDLE file) {
  if (const FlushBuffersEx flush = flush_buffers_ex()) {
    IoStatus io_status{};
    if (flush(file, kFlushNoSync, nullptr, 0, &io_status) >= 0) return true;
  }
  return FlushFileBuffers(file) != 0;
}

}  // namespace

struct StagedFile::Host {
  HANDLE file = INVALID_HANDLE_VALUE;
};

StagedFile::StagedFile() = default;

StagedFile::~StagedFile() { close(); }

bool StagedFile::open_host(const std::filesystem::path& path) {
  auto host = std::make_unique<Host>();
  host->file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (host->file == INVALID_HANDLE_VALUE) return false;
  host_ = std::move(host);
  return true;
}

bool StagedFile::write_host(const char* data, std::size_t size) {
  if (!host_) return false;
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(host_->file, data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool StagedFile::close_host() {
  if (!host_) return false;
  const HANDLE file = host_->file;
  host_.reset();
  const bool written_out = write_out(file);
  return CloseHandle(file) != 0 && written_out;
}

}  // namespace zrk
