#include "pack/gzip_members.h"

#include <zlib.h>

#include <cstring>

namespace zrk {

namespace {

// The OS byte says "unknown", so the bytes do not depend on the host.
constexpr unsigned char kOsUnknown = 255;

void put_le32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

char extra_flags(int level) {
  if (level == 9) return 2;
  if (level == 1) return 4;
  return 0;
}

}  // namespace

std::string gzip_member(const std::string& input, int level) {
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  // Raw deflate with zlib's defaults; the gzip frame is written here.
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::bad_alloc();
  }
  std::string out = {'\x1f',
                     '\x8b',
                     '\x08',
                     '\0',
                     '\0',
                     '\0',
                     '\0',
                     '\0',
                     extra_flags(level),
                     static_cast<char>(kOsUnknown)};
  const std::size_t header = out.size();
  out.resize(header + deflateBound(&stream, static_cast<uLong>(input.size())) + 8);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data() + header);
  stream.avail_out = static_cast<uInt>(out.size() - header);
  // deflateBound room makes one call enough.
  const int result = deflate(&stream, Z_FINISH);
  out.resize(header + stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::bad_alloc();
  put_le32(out, static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0),
                                                 reinterpret_cast<const Bytef*>(input.data()),
                                                 static_cast<uInt>(input.size()))));
  put_le32(out, static_cast<std::uint32_t>(input.size()));
  return out;
}

GzipMemberWriter::GzipMemberWriter(OutputFile* out, int level, unsigned jobs,
                                   std::size_t member_input)
    : out_(out), level_(level), member_input_(member_input), max_queued_(jobs < 1 ? 1 : jobs) {
  filling_.reserve(member_input_);
  for (unsigned i = 0; i < max_queued_; ++i) threads_.emplace_back([this] { work(); });
}

GzipMemberWriter::~GzipMemberWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    todo_.clear();
  }
  work_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void GzipMemberWriter::work() {
  for (;;) {
    std::shared_ptr<Member> member;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_ready_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
      if (stopping_) return;
      member = todo_.front();
      todo_.pop_front();
    }
    std::string output = gzip_member(member->input, level_);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      member->output = std::move(output);
      member->input = std::string();
      member->done = true;
    }
    member_done_.notify_all();
  }
}

bool GzipMemberWriter::write_oldest() {
  std::shared_ptr<Member> member;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    member_done_.wait(lock, [this] { return queue_.front()->done; });
    member = queue_.front();
    queue_.pop_front();
  }
  if (!failed_ && !out_->write(member->output.data(), member->output.size())) failed_ = true;
  return !failed_;
}

void GzipMemberWriter::submit() {
  auto member = std::make_shared<Member>();
  member->input.swap(filling_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(member);
    todo_.push_back(member);
  }
  work_ready_.notify_one();
  filling_.reserve(member_input_);
}

bool GzipMemberWriter::write(const char* data, std::size_t size) {
  while (size > 0 && !failed_) {
    const std::size_t take = std::min(size, member_input_ - filling_.size());
    filling_.append(data, take);
    data += take;
    size -= take;
    if (filling_.size() < member_input_) break;
    // The oldest member leaves before a new one is queued past the limit.
    if (queue_.size() >= max_queued_) write_oldest();
    submit();
  }
  return !failed_;
}

bool GzipMemberWriter::finish() {
  if (!filling_.empty() && !failed_) {
    if (queue_.size() >= max_queued_) write_oldest();
    submit();
  }
  while (!queue_.empty() && !failed_) write_oldest();
  return !failed_;
}

}  // namespace zrk
