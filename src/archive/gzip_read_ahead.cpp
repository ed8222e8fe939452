#include "archive/gzip_read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

// Spare slots are poisoned while they wait, so that the address sanitizer
// reports a read of one as it would a read of freed memory.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZRK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZRK_ASAN 1
#endif
#ifdef ZRK_ASAN
#include <sanitizer/asan_interface.h>
#define ZRK_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define ZRK_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define ZRK_POISON(at, size) ((void)(at), (void)(size))
#define ZRK_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace zrk {

namespace {

// Four slots of 128 KiB: zlib inflates straight into a slot (any read of at
// least twice its own buffer is done in place), and two slots in flight keep
// both threads busy through a file's close or a run of small members.
constexpr std::size_t kSlotCount = 4;
constexpr unsigned kSlotSize = 128 * 1024;

// gzread, asked again after a read of the archive that a signal interrupted.
// zlib keeps that failure and answers -1 from then on, which would refuse a
// sound archive as cut short; and it may already have inflated part of the
// read, into `data` or its own buffer, without counting it. So the stream
// starts over and skips to where the read began, which is slow but exact,
// and interruptions are rare. `*error` is zlib's code for the read that
// counts.
int read_inflated(gzFile file, char* data, unsigned size, int* error) {
  const z_off_t start = gztell(file);
  for (;;) {
    errno = 0;
    const int got = gzread(file, data, size);
    const int reason = errno;
    *error = Z_OK;
    if (got <= 0) gzerror(file, error);
    if (got >= 0 || *error != Z_ERRNO || reason != EINTR) return got;
    gzclearerr(file);
    if (gzrewind(file) != 0 || gzseek(file, start, SEEK_SET) != start) {
      gzerror(file, error);
      return -1;
    }
  }
}

// Slots left by read-aheads that ended, for the next ones: enough for a few
// read at once.
constexpr std::size_t kSpareRooms = 4 * kSlotCount;

struct SpareRooms {
  std::mutex mutex;
  std::vector<std::unique_ptr<char[]>> rooms;  // each kSlotSize bytes
};

SpareRooms& spare_rooms() {
  static SpareRooms spare;
  return spare;
}

}  // namespace

GzipReadAhead::Room::~Room() {
  if (bytes_ == nullptr || size_ != kSlotSize) return;
  SpareRooms& spare = spare_rooms();
  std::lock_guard<std::mutex> lock(spare.mutex);
  if (spare.rooms.size() < kSpareRooms) {
    // A view kept past its read-ahead's end is a fault the sanitizer still sees.
    ZRK_POISON(bytes_.get(), size_);
    spare.rooms.push_back(std::move(bytes_));
  }
}

void GzipReadAhead::Room::resize(std::size_t size) {
  size_ = size;
  if (size == kSlotSize) {
    SpareRooms& spare = spare_rooms();
    std::lock_guard<std::mutex> lock(spare.mutex);
    if (!spare.rooms.empty()) {
      bytes_ = std::move(spare.rooms.back());
      spare.rooms.pop_back();
      ZRK_UNPOISON(bytes_.get(), size_);
      return;
    }
  }
  bytes_.reset(new char[size]);
}

GzipReadAhead::GzipReadAhead(gzFile file) : file_(file), slots_(kSlotCount) {
  // The reader can do nothing before the first slot is full, so this thread
  // fills slots until one comes back full: an archive that inflates to less
  // than a slot is read to its end without waking a second thread.
  bool full = false;
  while (!full) {
    if (!fill_next_slot(&full)) {
      inflating_ = false;
      return;
    }
  }
  shared_workers().post([this] {
    inflate();
    std::lock_guard<std::mutex> lock(mutex_);
    inflating_ = false;
    changed_.notify_all();
  });
}

GzipReadAhead::~GzipReadAhead() {
  stop();
  if (file_ != nullptr) gzclose(file_);
}

// The second thread: fills free slots in turn until the stream ends.
void GzipReadAhead::inflate() {
  bool full = true;
  while (fill_next_slot(&full)) {
  }
}

bool GzipReadAhead::fill_next_slot(bool* full) {
  Slot* slot = nullptr;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || filled_ - taken_ < slots_.size(); });
    if (stopping_) return false;
    slot = &slots_[filled_ % slots_.size()];
  }
  // A slot gets its bytes when it is first filled: a small archive needs two.
  if (slot->data.data() == nullptr) slot->data.resize(kSlotSize);
  int error = Z_OK;
  const int got = read_inflated(file_, slot->data.data(), kSlotSize, &error);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (got > 0) {
      slot->size = static_cast<std::size_t>(got);
      ++filled_;
    } else {
      ended_ = true;
      // A stream cut short reads as a clean end with Z_BUF_ERROR left behind.
      damaged_ = got < 0 || error == Z_BUF_ERROR;
    }
  }
  changed_.notify_one();
  *full = got == static_cast<int>(kSlotSize);
  return got > 0;
}

std::string_view GzipReadAhead::next(std::size_t max) {
  if (!holding_ || offset_ == slots_[taken_ % slots_.size()].size) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) {
      ++taken_;
      offset_ = 0;
      holding_ = false;
      changed_.notify_one();
    }
    changed_.wait(lock, [this] { return filled_ > taken_ || ended_; });
    if (filled_ == taken_) return {};
    holding_ = true;
  }
  // The slot is the reader's until it is given back, so no lock is needed.
  const Slot& slot = slots_[taken_ % slots_.size()];
  const std::size_t count = std::min(max, slot.size - offset_);
  const std::string_view view(slot.data.data() + offset_, count);
  offset_ += count;
  return view;
}

std::size_t GzipReadAhead::read(char* out, std::size_t count) {
  std::size_t gathered = 0;
  while (gathered < count) {
    const std::string_view piece = next(count - gathered);
    if (piece.empty()) break;
    std::memcpy(out + gathered, piece.data(), piece.size());
    gathered += piece.size();
  }
  return gathered;
}

bool GzipReadAhead::skip(std::uint64_t count) {
  while (count > 0) {
    const std::string_view piece =
        next(static_cast<std::size_t>(std::min<std::uint64_t>(count, kSlotSize)));
    if (piece.empty()) return false;
    count -= piece.size();
  }
  return true;
}

bool GzipReadAhead::damaged() {
  std::lock_guard<std::mutex> lock(mutex_);
  return damaged_;
}

void GzipReadAhead::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !inflating_; });
}

int GzipReadAhead::close() {
  stop();
  const gzFile file = file_;
  file_ = nullptr;
  return gzclose(file);
}

}  // namespace zrk
