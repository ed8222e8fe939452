// The update log: "update.log" in the install folder's ".update", one stamped
// line per event, appended and flushed line by line.
#pragma once

#include <cstdio>
#include <filesystem>

#include "common/shared_file.h"

namespace zrk {

// Opens "update.log" in `update_dir` for appending in binary mode, creating it
// when missing and keeping what it holds; other processes may read it
// meanwhile. Returns an empty pointer when it cannot be opened.
SharedFile open_update_log(const std::filesystem::path& update_dir);

// Writes "<local time> <message>\n" and flushes. The message is cut after
// 1023 bytes. Reports nothing: once the stream has failed, lines are dropped.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void log_line(std::FILE* log, const char* format, ...);

}  // namespace zrk
