// Zip archives, written as they are.
#include "extract_check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  zrk_fuzz::check_extraction(data, size, "update.zip", false);
  return 0;
}
