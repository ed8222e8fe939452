#include "pack/raw_deflate.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace zrk {

namespace {

// Beyond zlib's bound, which counts on an ending flush: a sync flush's empty
// stored block and the bits before it.
constexpr std::size_t kFlushRoom = 16;

int zlib_flush(RawDeflate::Flush flush) {
  switch (flush) {
    case RawDeflate::Flush::kNone:
      return Z_NO_FLUSH;
    case RawDeflate::Flush::kSync:
      return Z_SYNC_FLUSH;
    case RawDeflate::Flush::kEnd:
      break;
  }
  return Z_FINISH;
}

}  // namespace

struct RawDeflate::Stream {
  z_stream z;
};

RawDeflate::RawDeflate(int level) : stream_(new Stream) {
  std::memset(&stream_->z, 0, sizeof stream_->z);
  const int status = deflateInit2(&stream_->z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
  // Only a level outside 0 to 9 or a zlib of another version gets here.
  if (status != Z_OK) throw std::invalid_argument(std::string("zlib: ") + zError(status));
}

RawDeflate::~RawDeflate() { deflateEnd(&stream_->z); }

std::size_t RawDeflate::bound(std::size_t input) {
  return compressBound(static_cast<uLong>(input)) + kFlushRoom;
}

void RawDeflate::start(char* out, std::size_t room, const char* history, std::size_t history_size) {
  z_stream& z = stream_->z;
  deflateReset(&z);
  if (history_size > 0) {
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(history),
                         static_cast<uInt>(history_size));
  }
  z.next_out = reinterpret_cast<Bytef*>(out);
  z.avail_out = static_cast<uInt>(room);
}

bool RawDeflate::add(const char* input, std::size_t size, Flush flush) {
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
  z.avail_in = static_cast<uInt>(size);
  const int status = deflate(&z, zlib_flush(flush));
  // A stream that filled its room may hold more: only room left over shows
  // that all of it was written.
  const bool done = flush == Flush::kEnd ? status == Z_STREAM_END : status == Z_OK;
  return done && z.avail_in == 0 && z.avail_out > 0;
}

std::size_t RawDeflate::size() const { return stream_->z.total_out; }

}  // namespace zrk
