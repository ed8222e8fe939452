// Opening an archive file by its platform path, so that names outside ASCII
// reach the right file on every host.
#pragma once

#include <zip.h>
#include <zlib.h>

#include <filesystem>

namespace zrk {

// gzip (or plain) file opened for reading; null when it cannot be opened.
gzFile open_gzip(const std::filesystem::path& path);

// A libzip source for the whole file; null on failure (details in `error`).
zip_source_t* open_zip_source(const std::filesystem::path& path, zip_error_t* error);

}  // namespace zrk
