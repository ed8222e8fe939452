// The shared body of the archive targets.
#pragma once

#include <cstddef>
#include <string>

namespace zrk_fuzz {

// Writes `data` to a file named `archive_name` (gzip-compressed first when
// `compress`), extracts it through the dispatch into a fresh staging folder,
// aborts when the extraction contract is broken, and removes everything.
void check_extraction(const unsigned char* data, std::size_t size, const std::string& archive_name,
                      bool compress);

}  // namespace zrk_fuzz
