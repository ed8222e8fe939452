// Tarballs, staged in memory. The input's first byte steers the harness
// (extract_check.h).
#include "extract_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  return zrk_fuzz::check_tarball_input(data, size, zrk_fuzz::Staging::kMemory);
}
