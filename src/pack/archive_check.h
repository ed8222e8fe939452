// The verdict the updater would give for an archive, reached by running the
// updater's own extraction, game program check and payload filter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/exit_codes.h"

namespace zrk {

struct CheckReport {
  int exit_code = kPackOk;  // 0 apply, 3 refused, 5 could not be read or checked
  // The lines the updater would log for the archive, without its prefix.
  std::vector<std::string> lines;
  std::uint64_t members = 0;         // files and folders unpacked
  std::uint64_t bytes = 0;           // their data
  std::vector<std::string> payload;  // top-level items that would be installed
  std::vector<std::string> ignored;  // top-level items outside the payload
  std::vector<std::string> skipped;  // members the reader skips, by name
  // What the publisher may not want installed, one line each; no refusal.
  std::vector<std::string> notes;
  // False when the archive cannot be read at all: `lines` holds that alone.
  bool readable = true;
};

// Reads and judges `archive_text` (UTF-8) as the update run would, through
// the updater's own readers, keeping what they would stage in memory: no file
// or folder is made and no member data is written.
CheckReport check_archive(std::string_view archive_text);

// The lines, the notes, then one summary line; only the line of an archive
// that cannot be read.
void print_check_lines(const CheckReport& report, std::FILE* out);
// One JSON object and a line feed.
void print_check_json(const CheckReport& report, std::FILE* out);

}  // namespace zrk
