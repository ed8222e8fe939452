// A build tree's files deflated ahead of the zip writer on several threads,
// in fixed input chunks. A file's chunks join into one raw deflate stream: each but the last
// ends on a sync flush, each but the first starts with the 32 KiB before it
// as its dictionary. The bytes depend only on the files, the chunk size and
// the level, never on the number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/worker_pool.h"
#include "pack/build_tree.h"

namespace zrk {

// Input bytes per chunk: the tarball's gzip member size, for the same reasons
// (a large file keeps every thread busy; the flush costs next to nothing).
inline constexpr std::size_t kDeflateChunkInput = 4u << 20;

// A piece of one file's deflate stream.
struct DeflateChunk {
  std::size_t entry = 0;     // index into the tree's entries
  std::uint64_t offset = 0;  // of its input in the file
  std::size_t input = 0;     // input bytes
  bool last = false;         // the file's stream ends with it
  const char* data = nullptr;
  std::size_t size = 0;    // deflate bytes at `data`
  std::uint32_t crc = 0;   // CRC-32 of the input
  std::string error_line;  // "cannot read " + path + ": " + why; no data then
};

class ChunkDeflater;

class DeflatePipeline {
 public:
  // Starts `jobs` threads (at least 1) deflating the files of `tree` in
  // order at `level`. The tree is borrowed; each file must still hold the
  // size it was scanned with. Holds jobs + 1 batches' output, made once, each a chunk's input
  // worth of consecutive chunks (one of a large file, or many small files):
  // one being read by the caller, the others compressing or waiting.
  DeflatePipeline(const BuildTree& tree, int level, unsigned jobs,
                  std::size_t chunk_input = kDeflateChunkInput);
  // Stops the threads; chunks not taken are dropped.
  ~DeflatePipeline();
  DeflatePipeline(const DeflatePipeline&) = delete;
  DeflatePipeline& operator=(const DeflatePipeline&) = delete;

  // Waits for the next chunk in order: every file's chunks in turn, at least
  // one per file. It stays valid until the next call. Null once all are taken.
  const DeflateChunk* next();

 private:
  struct Batch {
    std::vector<DeflateChunk> chunks;
    std::unique_ptr<char[]> output;  // `room_` bytes
    std::unique_ptr<ChunkDeflater> deflater;
    bool done = false;  // under the lock
  };

  void skip_folders();
  void fill(Batch* batch);
  // Fills `batch` with the chunks that come next and posts it, unless every
  // chunk is handed out.
  void start(Batch* batch);
  void deflate(Batch* batch);

  const BuildTree& tree_;
  int level_;
  std::size_t chunk_input_;
  std::size_t room_;
  std::vector<std::unique_ptr<Batch>> batches_;
  Batch* reading_ = nullptr;  // the caller's batch
  std::size_t reading_at_ = 0;

  std::mutex mutex_;
  std::condition_variable batch_done_;
  std::deque<Batch*> queue_;    // posted, oldest first
  std::size_t next_entry_ = 0;  // where the next chunk starts
  std::uint64_t next_offset_ = 0;
  // Last, so that its threads end before the batches go.
  WorkerPool pool_;
};

}  // namespace zrk
