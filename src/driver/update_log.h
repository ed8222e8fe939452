// The update log: "update.log" in the install folder's ".update", one stamped
// line per event, each line appended whole in one write and handed to the
// system at once (not flushed to the device).
#pragma once

#include <filesystem>
#include <system_error>

#include "fs/writable_file.h"

namespace zrk {

// Opens "update.log" in `update_dir` as `log`, for appending, creating it
// when missing and keeping what it holds; other processes may read it
// meanwhile. The host's error when it cannot be opened.
std::error_code open_update_log(const std::filesystem::path& update_dir, WritableFile* log);

// Writes "<local time> <message>\n" in one write. Control bytes and bytes that
// are not part of valid UTF-8 are written as \xNN, so every event stays one
// line of UTF-8; the message is cut to at most 1023 bytes, between whole
// characters and escapes. Reports nothing: a failed write closes the log, so
// no line follows a line cut short, and lines to a closed log are dropped.
// gnu_printf: the same checks under mingw-w64, whose printf is C99-conforming
// once __USE_MINGW_ANSI_STDIO is set.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((format(gnu_printf, 2, 3)))
#endif
void log_line(WritableFile* log, const char* format, ...);

}  // namespace zrk
