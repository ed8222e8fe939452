// A gzip stream made of independent members, each the deflate of a fixed
// amount of input, compressed on several threads. Every gzip reader reads the
// members as one stream, and the bytes depend only on the input, the member
// size and the level, never on the number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "common/worker_pool.h"
#include "fs/writable_file.h"
#include "pack/raw_deflate.h"

namespace zrk {

// Input bytes per gzip member. Measured on the benchmark's game data set
// (193 MB of tar at level 6), against one deflate stream: 1 MiB members cost
// 0.41% in size, 4 MiB 0.035%, 16 MiB 0.012%. 4 MiB keeps two threads busy
// for any archive past a few megabytes.
inline constexpr std::size_t kGzipMemberInput = 4u << 20;

// Deflate work area reused for every member compressed into one buffer.
class GzipMemberCompressor {
 public:
  explicit GzipMemberCompressor(int level) : deflate_(level), level_(level) {}

  // Room one member of `input_size` bytes needs in the output.
  static std::size_t bound(std::size_t input_size);
  // Writes one whole gzip member for `size` bytes at `input` into `output`
  // (at least bound() bytes): a header with no name and time 0, raw
  // deflate, then the CRC-32 and length. Returns its length, or 0 when zlib
  // fails.
  std::size_t compress(const char* input, std::size_t size, char* output);

 private:
  RawDeflate deflate_;
  int level_;
};

class GzipMemberWriter {
 public:
  // Writes to `out` (open, borrowed) at deflate `level` on `jobs` threads
  // (at least 1). Holds `jobs` + 1 members' buffers and deflate work areas,
  // made once: one filling,
  // the others compressing or waiting to be written.
  GzipMemberWriter(WritableFile* out, int level, unsigned jobs,
                   std::size_t member_input = kGzipMemberInput);
  // Stops the threads; what was not finished is not written.
  ~GzipMemberWriter();
  GzipMemberWriter(const GzipMemberWriter&) = delete;
  GzipMemberWriter& operator=(const GzipMemberWriter&) = delete;

  // Adds input. False once the output or the compression has failed
  // (error_text() says why).
  bool write(const char* data, std::size_t size);
  // Compresses and writes what is left, in order. False on a failure.
  bool finish();
  // Why the last write() or finish() failed: zlib's word when it failed to
  // compress a member, else the output's error.
  std::string error_text() const;

 private:
  struct Member {
    explicit Member(int level) : compressor(level) {}
    std::string input;  // capacity: the member input size
    // The deflate bound and the frame, left uninitialised: only the pages
    // that the compressed member reaches are ever touched.
    std::unique_ptr<char[]> output;
    GzipMemberCompressor compressor;
    std::size_t output_size = 0;
    bool done = false;  // under the lock
  };

  void submit();
  void write_oldest();
  void compress(Member* member);

  WritableFile* out_;
  int level_;
  std::size_t member_input_;
  bool failed_ = false;
  bool compression_failed_ = false;
  std::error_code write_error_;  // the output's, once it failed
  std::vector<std::unique_ptr<Member>> members_;
  Member* filling_ = nullptr;
  std::vector<Member*> free_;

  std::mutex mutex_;
  std::condition_variable member_done_;
  std::deque<Member*> queue_;  // submitted, oldest first
  // Last, so that its threads end before the members go.
  WorkerPool pool_;
};

}  // namespace zrk
