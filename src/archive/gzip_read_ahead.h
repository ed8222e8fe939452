// A gzip (or plain) file inflated on a second thread, a few buffers ahead of
// its reader: on a large update zlib takes most of one core, and the tar
// reader's checks and file writes take most of another.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/worker_pool.h"

namespace zrk {

class GzipReadAhead {
 public:
  // Takes `file` (open, not yet read) and inflates its first slot at once;
  // the rest, if any, on a thread of shared_workers().
  explicit GzipReadAhead(gzFile file);
  // Stops the inflating and closes the file, unless close() did.
  ~GzipReadAhead();
  GzipReadAhead(const GzipReadAhead&) = delete;
  GzipReadAhead& operator=(const GzipReadAhead&) = delete;

  // A view of the next bytes, at most `max` of them (which is at least 1);
  // empty only at the end of the stream. The view holds until the next call.
  std::string_view next(std::size_t max);
  // Copies the next `count` bytes to `out`; fewer only at the end. Returns
  // how many came.
  std::size_t read(char* out, std::size_t count);
  // Passes over the next `count` bytes. False when the stream ends first.
  bool skip(std::uint64_t count);
  // Once next() has come back empty: true when the stream did not end
  // cleanly (damaged data, or cut inside its trailer).
  bool damaged();
  // Stops the inflating and closes the file. Returns gzclose's result.
  int close();

 private:
  // A slot's bytes. They are left uninitialised, and kept for the next
  // read-ahead when this one ends: allocating and faulting in half a
  // megabyte for every archive cost more than reading a small one.
  class Room {
   public:
    Room() = default;
    Room(Room&&) = default;
    Room& operator=(Room&&) = default;
    // Hands the bytes on to the next read-ahead.
    ~Room();
    // Takes `size` bytes that a read-ahead before left, or new ones.
    void resize(std::size_t size);
    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }

   private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
  };

  struct Slot {
    Room data;
    std::size_t size = 0;
  };

  void inflate();
  // Inflates into the next free slot, waiting for one. False once the stream
  // has ended or the read-ahead stops; `*full` says whether the slot was
  // filled to the brim, so that more may follow.
  bool fill_next_slot(bool* full);
  void stop();

  gzFile file_;
  std::vector<Slot> slots_;
  // Slots are used in turn: `filled_` counts the ones the thread has handed
  // over, `taken_` the ones the reader has given back.
  std::uint64_t filled_ = 0;
  std::uint64_t taken_ = 0;
  bool ended_ = false;
  bool damaged_ = false;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  // The reader's place in slot `taken_`.
  std::size_t offset_ = 0;
  bool holding_ = false;
  bool inflating_ = true;  // until inflate() has returned
};

}  // namespace zrk
