// zlib's raw deflate, with no zlib or gzip frame: the one setting both
// archive writers use (the level, zlib's default window and memory), so that
// their bytes agree with what zlib's own tools would make.
#pragma once

#include <cstddef>
#include <memory>

namespace zrk {

class RawDeflate {
 public:
  // How a piece of input ends.
  enum class Flush {
    kNone,  // more input follows
    kSync,  // the output so far ends on a byte; the stream goes on elsewhere
    kEnd,   // the stream's last piece
  };

  // A work area at `level`, made once and reused for every stream. Throws
  // std::bad_alloc when zlib has no memory for it, std::invalid_argument for
  // a level zlib does not know.
  explicit RawDeflate(int level);
  ~RawDeflate();
  RawDeflate(const RawDeflate&) = delete;
  RawDeflate& operator=(const RawDeflate&) = delete;

  // Room a stream of `input` bytes may need, whichever flush ends it.
  static std::size_t bound(std::size_t input);

  // Starts a stream into the `room` bytes at `out`, with the `history` bytes
  // (at most 32 KiB) as the data before its input.
  void start(char* out, std::size_t room, const char* history = nullptr,
             std::size_t history_size = 0);
  // Deflates all `size` bytes at `input`. False when zlib fails or the room
  // runs out.
  bool add(const char* input, std::size_t size, Flush flush);
  // Bytes written since start().
  std::size_t size() const;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

}  // namespace zrk
