// The shared body of the archive targets.
#pragma once

#include <cstddef>
#include <string>

namespace zrk_fuzz {

// Where an extraction stages what it unpacks.
enum class Staging {
  // A staging folder in memory, which answers as the disk does and watches
  // the readers' paths and the expansion cap: thousands of runs a second.
  kMemory,
  // The real staging folder on disk, whose verdict, lines and tree must
  // then be those of the same extraction in memory.
  kDisk,
};

// Writes `data` to a file named `archive_name` (gzip-compressed first when
// `compress`), extracts it through the dispatch into an empty staging folder,
// and aborts when the extraction contract is broken.
void check_extraction(const unsigned char* data, std::size_t size, const std::string& archive_name,
                      bool compress, Staging staging);

// The most a tarball target's input may inflate to. A few bytes of gzip
// inflate to megabytes, and an input kept for that would make every run of
// it a thousand times slower; the reader's own cap is 2 GB, far past what
// any input reaches, and its tests cover it.
inline constexpr std::size_t kMaxInflated = 256u << 10;

// A tarball target's input: the first byte steers the harness, bit 0 has it
// gzip the rest (otherwise the rest is written as it is, so the gzip layer
// itself can be damaged), bit 1 has it rewrite the checksum of every block
// that carries the ustar magic, so that mutated headers get past the
// checksum test. Returns -1, which keeps libFuzzer from adding the input to
// the corpus, for an input that would inflate past kMaxInflated; it is not
// extracted.
int check_tarball_input(const unsigned char* data, std::size_t size, Staging staging);

}  // namespace zrk_fuzz
