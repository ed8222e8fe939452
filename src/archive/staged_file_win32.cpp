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

StagedFile::StagedFile(MemberData data) : data_(data) {}

StagedFile::~StagedFile() { close(); }

bool StagedFile::open(const std::filesystem::path& path) {
  close();
  auto host = std::make_unique<Host>();
  host->file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (host->file == INVALID_HANDLE_VALUE) return false;
  host_ = std::move(host);
  discarded_ = 0;
  return true;
}

bool StagedFile::write(const char* data, std::size_t size) {
  if (!host_) return false;
  if (data_ == MemberData::kDiscard) {
    discarded_ += size;
    return true;
  }
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

bool StagedFile::close() {
  if (!host_) return false;
  const HANDLE file = host_->file;
  host_.reset();
  bool done = true;
  if (data_ == MemberData::kWrite) {
    done = FlushFileBuffers(file) != 0;
  } else {
    // The end moves without writing: the file's valid data stays empty.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(discarded_);
    done = SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
  }
  return CloseHandle(file) != 0 && done;
}

}  // namespace zrk
