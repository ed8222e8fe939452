#include "pack/archive_check.h"

#include <algorithm>
#include <system_error>

#include "archive/extract.h"
#include "common/text.h"
#include "fs/input_file.h"
#include "pack/litter.h"
#include "pack/staged_tally.h"
#include "swap/payload.h"

namespace zrk {

namespace {

// The folder name the readers stage below; with a tally nothing is made there.
const std::filesystem::path kTallyRoot = "staging";

// What the updater would find in its staging folder: the entries and their
// bytes, and the names directly in it.
std::vector<std::string> count_staged(const StagedTally& tally, CheckReport* report) {
  report->members = tally.folders.size() + tally.files.size();
  report->bytes += tally.files.total_length();
  std::vector<std::string> names;
  for (const auto& entry : tally.top) names.push_back(entry.first);
  return names;
}

// The payload filter of the swap's first phase, over the sorted names.
void divide_items(std::vector<std::string> names, CheckReport* report) {
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (is_payload_name(name)) {
      report->payload.push_back(name);
    } else {
      report->ignored.push_back(name);
      report->lines.push_back("ignored " + name + ": not part of the shipped payload");
    }
  }
}

// An archive that cannot be opened at all is a read failure, said alone: no
// reader has looked at it.
bool check_readable(std::string_view archive_text, CheckReport* report) {
  if (archive_type(archive_text) == ArchiveType::kUnknown) return true;
  InputFile file;
  const std::error_code error = file.open(from_utf8(archive_text));
  if (!error) return true;
  report->lines.push_back("cannot read " + std::string(archive_text) + ": " + error.message());
  report->exit_code = kPackCannotReadOrWrite;
  report->readable = false;
  return false;
}

// Litter inside the payload, each outermost one once: what is below a
// litter folder is litter too.
void note_litter(const StagedTally& tally, CheckReport* report) {
  const std::string* outer = nullptr;
  for (const std::string& path : tally.litter) {
    if (outer != nullptr && path.size() > outer->size() && path[outer->size()] == '/' &&
        path.compare(0, outer->size(), *outer) == 0) {
      continue;
    }
    outer = &path;
    if (!is_payload_name(path.substr(0, path.find('/')))) continue;
    report->notes.push_back("note: " + path + " would be installed, but it was " +
                            std::string(kLitterReason));
  }
}

void judge(std::string_view archive_text, CheckReport* report) {
  if (!check_readable(archive_text, report)) return;
  // The updater's own readers, with what they would stage kept in memory.
  StagedTally tally(kTallyRoot);
  const ExtractStatus status =
      extract_archive(archive_text, to_utf8(kTallyRoot), &report->lines, tally);
  report->skipped = std::move(tally.skipped);
  const std::vector<std::string> names = count_staged(tally, report);
  if (status != kExtracted) {
    report->exit_code = static_cast<int>(status);
    return;
  }
  note_litter(tally, report);
  // A regular file of exactly that name, directly in staging.
  const auto game = tally.top.find(game_exe_name());
  if (game == tally.top.end() || !game->second) {
    report->lines.push_back(std::string("the archive holds no ") + game_exe_name());
    report->exit_code = kPackRefused;
    return;
  }
  divide_items(names, report);
}

std::string join_names(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

void put_json_string(std::string_view text, std::FILE* out) {
  // Bytes that are not UTF-8 (a skipped tar name) cannot go into JSON as
  // they are; each becomes U+FFFD.
  std::string clean;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    while (length <= 4 && i + length <= text.size() && !is_valid_utf8(text.substr(i, length))) {
      ++length;
    }
    if (length > 4 || i + length > text.size()) {
      clean += "\xEF\xBF\xBD";
      ++i;
    } else {
      clean.append(text.substr(i, length));
      i += length;
    }
  }
  std::fputc('"', out);
  for (const char c : clean) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      std::fprintf(out, "\\%c", c);
    } else if (byte < 0x20 || byte == 0x7F) {
      std::fprintf(out, "\\u%04x", byte);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

void put_json_list(const char* key, const std::vector<std::string>& items, std::FILE* out) {
  std::fprintf(out, ",\"%s\":[", key);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) std::fputc(',', out);
    put_json_string(items[i], out);
  }
  std::fputc(']', out);
}

}  // namespace

CheckReport check_archive(std::string_view archive_text) {
  CheckReport report;
  try {
    judge(archive_text, &report);
  } catch (const std::exception& e) {
    // The update run stops the same way, with exit code 5.
    report.lines.push_back(std::string("the run would stop on an unexpected error: ") + e.what());
    report.exit_code = kPackCannotReadOrWrite;
  }
  return report;
}

void print_check_lines(const CheckReport& report, std::FILE* out) {
  for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
  if (!report.readable) return;
  for (const std::string& line : report.notes) std::fprintf(out, "%s\n", line.c_str());
  std::fprintf(
      out, "%s: %llu member(s), %llu byte(s); payload: %s\n",
      report.exit_code == kPackOk ? "the update would apply" : "the update would be refused",
      static_cast<unsigned long long>(report.members),
      static_cast<unsigned long long>(report.bytes), join_names(report.payload).c_str());
}

void print_check_json(const CheckReport& report, std::FILE* out) {
  std::fprintf(out, "{\"verdict\":\"%s\",\"exit_code\":%d",
               report.exit_code == kPackOk ? "apply" : "refused", report.exit_code);
  put_json_list("lines", report.lines, out);
  std::fprintf(out, ",\"members\":%llu,\"bytes\":%llu",
               static_cast<unsigned long long>(report.members),
               static_cast<unsigned long long>(report.bytes));
  put_json_list("payload", report.payload, out);
  put_json_list("ignored", report.ignored, out);
  put_json_list("skipped", report.skipped, out);
  put_json_list("notes", report.notes, out);
  std::fputs("}\n", out);
}

}  // namespace zrk
