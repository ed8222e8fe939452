// Tarballs. The first byte steers the harness: bit 0 has it gzip the rest
// (otherwise the rest is written as it is, so the gzip layer itself can be
// damaged), bit 1 has it rewrite the checksum of every block that carries the
// ustar magic, so that mutated headers get past the checksum test.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/tar_header.h"
#include "extract_check.h"

namespace {

void fix_checksums(std::vector<unsigned char>& bytes) {
  for (std::size_t at = 0; at + zrk::kTarBlockSize <= bytes.size(); at += zrk::kTarBlockSize) {
    unsigned char* block = bytes.data() + at;
    if (std::string(block + 257, block + 262) != "ustar") continue;
    unsigned sum = 0;
    for (std::size_t i = 0; i < zrk::kTarBlockSize; ++i)
      sum += i >= 148 && i < 156 ? ' ' : block[i];
    char field[9];
    std::snprintf(field, sizeof field, "%06o", sum & 0777777);
    std::copy(field, field + 7, block + 148);
    block[155] = ' ';
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<unsigned char> bytes(data + 1, data + size);
  if ((data[0] & 2) != 0) fix_checksums(bytes);
  zrk_fuzz::check_extraction(bytes.data(), bytes.size(), "update.tgz", (data[0] & 1) != 0);
  return 0;
}
