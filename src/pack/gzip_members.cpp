#include "pack/gzip_members.h"

#include <zlib.h>

#include <cstring>

namespace zrk {

namespace {

// The OS byte says "unknown", so the bytes do not depend on the host.
constexpr unsigned char kOsUnknown = 255;

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kTrailerSize = 8;  // CRC-32 and length

char* put_le32(char* out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) *out++ = static_cast<char>(value >> shift);
  return out;
}

char extra_flags(int level) {
  if (level == 9) return 2;
  if (level == 1) return 4;
  return 0;
}

}  // namespace

std::size_t GzipMemberCompressor::bound(std::size_t input_size) {
  return kHeaderSize + RawDeflate::bound(input_size) + kTrailerSize;
}

std::size_t GzipMemberCompressor::compress(const char* input, std::size_t size, char* output) {
  const char header[kHeaderSize] = {'\x1f',
                                    '\x8b',
                                    '\x08',
                                    '\0',
                                    '\0',
                                    '\0',
                                    '\0',
                                    '\0',
                                    extra_flags(level_),
                                    static_cast<char>(kOsUnknown)};
  std::memcpy(output, header, kHeaderSize);
  deflate_.start(output + kHeaderSize, RawDeflate::bound(size));
  // The bound's room makes one call enough.
  if (!deflate_.add(input, size, RawDeflate::Flush::kEnd)) return 0;
  char* end = output + kHeaderSize + deflate_.size();
  const auto crc = static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(input), static_cast<uInt>(size)));
  end = put_le32(end, crc);
  end = put_le32(end, static_cast<std::uint32_t>(size));
  return static_cast<std::size_t>(end - output);
}

GzipMemberWriter::GzipMemberWriter(WritableFile* out, int level, unsigned jobs,
                                   std::size_t member_input)
    : out_(out), level_(level), member_input_(member_input), pool_(jobs) {
  if (jobs < 1) jobs = 1;
  const std::size_t room = GzipMemberCompressor::bound(member_input_);
  for (unsigned i = 0; i <= jobs; ++i) {
    members_.push_back(std::make_unique<Member>(level_));
    members_.back()->input.reserve(member_input_);
    members_.back()->output.reset(new char[room]);
    free_.push_back(members_.back().get());
  }
  filling_ = free_.back();
  free_.pop_back();
}

// The pool, the last member, goes first: its threads end before the members.
GzipMemberWriter::~GzipMemberWriter() = default;

void GzipMemberWriter::compress(Member* member) {
  const std::size_t size =
      member->compressor.compress(member->input.data(), member->input.size(), member->output.get());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    member->output_size = size;
    member->done = true;
  }
  member_done_.notify_all();
}

// Waits for the oldest member, writes it and frees its buffers.
void GzipMemberWriter::write_oldest() {
  Member* member = nullptr;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    member_done_.wait(lock, [this] { return queue_.front()->done; });
    member = queue_.front();
    queue_.pop_front();
  }
  if (!failed_ && member->output_size == 0) compression_failed_ = failed_ = true;
  if (!failed_) {
    write_error_ = out_->write(member->output.get(), member->output_size);
    failed_ = static_cast<bool>(write_error_);
  }
  member->input.clear();
  member->done = false;
  free_.push_back(member);
}

void GzipMemberWriter::submit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(filling_);
  }
  Member* member = filling_;
  pool_.post([this, member] { compress(member); });
  if (free_.empty()) write_oldest();
  filling_ = free_.back();
  free_.pop_back();
}

bool GzipMemberWriter::write(const char* data, std::size_t size) {
  while (size > 0 && !failed_) {
    const std::size_t take = std::min(size, member_input_ - filling_->input.size());
    filling_->input.append(data, take);
    data += take;
    size -= take;
    if (filling_->input.size() == member_input_) submit();
  }
  return !failed_;
}

std::string GzipMemberWriter::error_text() const {
  return compression_failed_ ? "zlib failed to compress" : write_error_.message();
}

bool GzipMemberWriter::finish() {
  if (!filling_->input.empty() && !failed_) submit();
  while (!queue_.empty() && !failed_) write_oldest();
  return !failed_;
}

}  // namespace zrk
