// Tarballs, staged on disk, each checked against the same extraction in
// memory; inputs as the tarball target takes them, so its corpus serves.
#include "extract_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  return zrk_fuzz::check_tarball_input(data, size, zrk_fuzz::Staging::kDisk);
}
