#include "pack/deflate_pipeline.h"

#include <zlib.h>

#include <algorithm>

#include "common/text.h"
#include "fs/input_file.h"
#include "pack/raw_deflate.h"

namespace zrk {

namespace {

// Deflate's window: all the history a chunk's first match can reach into.
constexpr std::size_t kDictionary = 32u << 10;
// Input handed to zlib at a time; the bytes do not depend on it.
constexpr std::size_t kPiece = 256u << 10;
// A batch's room past one full chunk's, for the bounds of many small files.
constexpr std::size_t kBatchSlack = 64u << 10;

// Room a chunk of `input` bytes may need, whatever its flush.
std::size_t chunk_room(std::size_t input) { return RawDeflate::bound(input); }

}  // namespace

// Raw deflate work area and read buffer reused for every chunk of a batch.
class ChunkDeflater {
 public:
  explicit ChunkDeflater(int level)
      : deflate_(level), buffer_(new char[std::max(kPiece, kDictionary) + 1]) {}

  // Deflates the chunk's input from its file into `out` (chunk_room() bytes)
  // and sets its data, size and CRC-32. False with its error line set when
  // the file cannot be read or no longer has its scanned size.
  bool run(const std::filesystem::path& path, DeflateChunk& chunk, char* out) {
    chunk.data = out;
    const auto fail = [&](const std::string& why) {
      chunk.error_line = "cannot read " + to_utf8(path) + ": " + why;
      return false;
    };
    InputFile file;
    if (const std::error_code error = file.open(path)) return fail(error.message());
    const auto dictionary =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.offset, kDictionary));
    if (dictionary > 0) {
      const std::error_code error =
          file.read_exactly(chunk.offset - dictionary, buffer_.get(), dictionary, false);
      if (error) return fail(error.message());
    }
    deflate_.start(out, chunk_room(chunk.input), buffer_.get(), dictionary);
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t done = 0;;) {
      const std::size_t piece = std::min(chunk.input - done, kPiece);
      // The file's last piece asks for a byte more, to learn that it ends there.
      const bool end = chunk.last && done + piece == chunk.input;
      if (const std::error_code error =
              file.read_exactly(chunk.offset + done, buffer_.get(), piece, end)) {
        return fail(error.message());
      }
      crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer_.get()), static_cast<uInt>(piece));
      done += piece;
      const bool more = done < chunk.input;
      const RawDeflate::Flush flush = more         ? RawDeflate::Flush::kNone
                                      : chunk.last ? RawDeflate::Flush::kEnd
                                                   : RawDeflate::Flush::kSync;
      if (!deflate_.add(buffer_.get(), piece, flush)) return fail("zlib failed");
      if (!more) break;
    }
    chunk.size = deflate_.size();
    chunk.crc = static_cast<std::uint32_t>(crc);
    return true;
  }

 private:
  RawDeflate deflate_;
  std::unique_ptr<char[]> buffer_;
};

DeflatePipeline::DeflatePipeline(const BuildTree& tree, int level, unsigned jobs,
                                 std::size_t chunk_input)
    : tree_(tree),
      level_(level),
      chunk_input_(chunk_input),
      room_(chunk_room(chunk_input) + kBatchSlack),
      pool_(jobs) {
  skip_folders();
  jobs = std::max(jobs, 1u);
  for (unsigned i = 0; i <= jobs; ++i) {
    batches_.push_back(std::make_unique<Batch>());
    batches_.back()->output.reset(new char[room_]);
    batches_.back()->deflater = std::make_unique<ChunkDeflater>(level_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& batch : batches_) start(batch.get());
}

// The pool, the last member, goes first: its threads end before the batches.
DeflatePipeline::~DeflatePipeline() = default;

// Moves the next chunk's start past folders.
void DeflatePipeline::skip_folders() {
  while (next_entry_ < tree_.entries.size() && tree_.entries[next_entry_].folder) ++next_entry_;
}

// Puts the chunks that come next into `batch`: at least one, then as many
// as its input and room allow.
void DeflatePipeline::fill(Batch* batch) {
  batch->chunks.clear();
  batch->done = false;
  std::size_t input = 0;
  std::size_t room = 0;
  while (next_entry_ < tree_.entries.size()) {
    DeflateChunk chunk;
    chunk.entry = next_entry_;
    chunk.offset = next_offset_;
    const std::uint64_t size = tree_.entries[next_entry_].size;
    chunk.input =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk_input_, size - next_offset_));
    const bool fits =
        input + chunk.input <= chunk_input_ && room + chunk_room(chunk.input) <= room_;
    if (!batch->chunks.empty() && !fits) break;
    chunk.last = next_offset_ + chunk.input == size;
    input += chunk.input;
    room += chunk_room(chunk.input);
    next_offset_ = chunk.last ? 0 : next_offset_ + chunk.input;
    if (chunk.last) {
      ++next_entry_;
      skip_folders();
    }
    batch->chunks.push_back(std::move(chunk));
  }
}

// Called with the lock held.
void DeflatePipeline::start(Batch* batch) {
  if (next_entry_ == tree_.entries.size()) return;
  fill(batch);
  queue_.push_back(batch);
  pool_.post([this, batch] { deflate(batch); });
}

void DeflatePipeline::deflate(Batch* batch) {
  char* out = batch->output.get();
  for (DeflateChunk& chunk : batch->chunks) {
    batch->deflater->run(tree_.source(tree_.entries[chunk.entry]), chunk, out);
    out += chunk_room(chunk.input);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch->done = true;
  }
  batch_done_.notify_all();
}

const DeflateChunk* DeflatePipeline::next() {
  if (reading_ != nullptr && reading_at_ < reading_->chunks.size()) {
    return &reading_->chunks[reading_at_++];
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (reading_ != nullptr) start(reading_);
    reading_ = nullptr;
    // Every batch not being read is posted while chunks are left.
    batch_done_.wait(lock, [this] { return queue_.empty() || queue_.front()->done; });
    if (queue_.empty()) return nullptr;
    reading_ = queue_.front();
    queue_.pop_front();
  }
  reading_at_ = 0;
  return &reading_->chunks[reading_at_++];
}

}  // namespace zrk
