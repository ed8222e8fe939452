// The file libzip writes a new archive to: straight to its path, with no
// temporary copy of libzip's own, through a large buffer, so that the few
// small writes and seeks libzip makes per member cost no system calls.
#pragma once

#include <zip.h>

#include <filesystem>
#include <string>

namespace zrk {

// A libzip source for zip_open_from_source(ZIP_CREATE | ZIP_TRUNCATE) that
// creates `path` when libzip begins writing and leaves it on the device when
// libzip commits. A write failure puts "cannot write " + the path + ": " +
// the host's text in `error_line` (borrowed), unless it holds a line
// already. Null on failure, with `error` set.
zip_source_t* create_zip_output(const std::filesystem::path& path, std::string* error_line,
                                zip_error_t* error);

}  // namespace zrk
