// Opening an archive for its reader: the host opens the file by its platform
// path (on Windows CreateFileW on the long path form, a relative path made
// absolute first), and the library gets the open file, never the name.
#pragma once

#include <zip.h>
#include <zlib.h>

#include <filesystem>

namespace zrk {

// gzip (or plain) file opened for reading; null when it cannot be opened.
// gzclose closes the file.
gzFile open_gzip(const std::filesystem::path& path);

// A libzip source for the whole file, which closes the file when it is
// freed; null on failure (details in `error`).
zip_source_t* open_zip_source(const std::filesystem::path& path, zip_error_t* error);

}  // namespace zrk
