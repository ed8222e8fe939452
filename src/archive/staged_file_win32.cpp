// Staged files on Windows: CreateFileW and WriteFile straight from the copy
// buffer. Others may read and write the file meanwhile; the handle is not
// inheritable, so the relaunched game does not get it. The close flushes the
// file to the device: Windows has no later call that waits for many files.
#include <windows.h>

#include "archive/staging.h"

namespace zrk {

struct StagedFile::Host {
  HANDLE file = INVALID_HANDLE_VALUE;
};

StagedFile::StagedFile(StagedTally* tally) : tally_(tally) {}

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
  const bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

}  // namespace zrk
