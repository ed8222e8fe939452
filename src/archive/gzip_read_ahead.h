// A gzip (or plain) file inflated on a second thread, a few buffers ahead of
// its reader: on a large update zlib takes most of one core, and the tar
// reader's checks and file writes take most of another.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/worker_pool.h"

namespace zrk {

class GzipReadAhead {
 public:
  // Takes `file` (open, not yet read) and starts inflating it at once.
  explicit GzipReadAhead(gzFile file);
  // Stops the thread and closes the file, unless close() did.
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
  // Stops the thread and closes the file. Returns gzclose's result.
  int close();

 private:
  struct Slot {
    std::vector<char> data;
    std::size_t size = 0;
  };

  void inflate();
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
  // Last, so that the inflating thread ends before the rest goes.
  WorkerPool pool_{1};
};

}  // namespace zrk
