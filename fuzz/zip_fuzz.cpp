// Zip archives, written as they are and staged in memory.
#include "extract_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  zrk_fuzz::check_extraction(data, size, "update.zip", false, zrk_fuzz::Staging::kMemory);
  return 0;
}
