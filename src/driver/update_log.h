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

// Writes "<local time> <message>\n" and flushes. Control bytes and bytes that
// are not part of valid UTF-8 are written as \xNN, so every event stays one
// line of UTF-8; the message is cut to at most 1023 bytes, between whole
// characters and escapes. Reports nothing: once the stream has failed, lines
// are dropped.
// gnu_printf: the same checks under mingw-w64, whose printf is C99-conforming
// once __USE_MINGW_ANSI_STDIO is set.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((format(gnu_printf, 2, 3)))
#endif
void log_line(std::FILE* log, const char* format, ...);

}  // namespace zrk
