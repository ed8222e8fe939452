#include "pack/archive_check.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <system_error>

#include "archive/extract.h"
#include "common/shared_file.h"
#include "common/text.h"
#include "pack/console.h"
#include "swap/payload.h"

namespace zrk {

namespace {

constexpr std::string_view kSkipped = "skipped ";
constexpr std::string_view kSkippedType = " (unsupported tar type ";

// A new, empty folder under the system's temporary folder.
bool make_scratch(std::filesystem::path* folder, std::error_code* error) {
  const std::filesystem::path base = std::filesystem::temp_directory_path(*error);
  if (*error) return false;
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "zrk-pack-check-%08x%08x", random(), random());
    *folder = base / name;
    if (std::filesystem::create_directory(*folder, *error)) return true;
    if (*error) return false;
  }
  *error = std::make_error_code(std::errc::file_exists);
  return false;
}

void count_unpacked(const std::filesystem::path& staging, CheckReport* report) {
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(staging, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    ++report->members;
    std::error_code size_error;
    if (it->is_regular_file(size_error)) report->bytes += it->file_size(size_error);
  }
}

void collect_skipped(CheckReport* report) {
  for (const std::string& line : report->lines) {
    if (line.compare(0, kSkipped.size(), kSkipped) != 0) continue;
    const std::size_t end = line.rfind(kSkippedType);
    if (end == std::string::npos || end < kSkipped.size()) continue;
    report->skipped.push_back(line.substr(kSkipped.size(), end - kSkipped.size()));
  }
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

// A refusal because the file cannot be opened at all is a read failure.
void note_unreadable(std::string_view archive_text, CheckReport* report) {
  SharedFile file = open_shared_file(from_utf8(archive_text), "rb");
  if (file != nullptr) return;
  const std::error_code error(errno, std::generic_category());
  report->lines.push_back("cannot read " + std::string(archive_text) + ": " + error.message());
  report->exit_code = kPackCannotReadOrWrite;
}

void judge(std::string_view archive_text, const std::filesystem::path& staging,
           CheckReport* report) {
  // The updater's own readers, minus the writing of member data.
  const ExtractStatus status =
      extract_archive(archive_text, to_utf8(staging), &report->lines, MemberData::kDiscard);
  collect_skipped(report);
  count_unpacked(staging, report);
  if (status != kExtracted) {
    report->exit_code = static_cast<int>(status);
    if (status == kRefused) note_unreadable(archive_text, report);
    return;
  }
  const std::vector<std::string> names = list_dir_names(staging);
  if (!holds_game_program(staging, names)) {
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
  std::filesystem::path staging;
  std::error_code error;
  if (!make_scratch(&staging, &error)) {
    report.lines.push_back("cannot write a temporary folder: " + error.message());
    report.exit_code = kPackCannotReadOrWrite;
    return report;
  }
  remove_on_interrupt(staging);
  try {
    judge(archive_text, staging, &report);
  } catch (const std::exception& e) {
    // The update run stops the same way, with exit code 5.
    report.lines.push_back(std::string("the run would stop on an unexpected error: ") + e.what());
    report.exit_code = kPackCannotReadOrWrite;
  }
  std::filesystem::remove_all(staging, error);
  keep_on_interrupt(staging);
  return report;
}

void print_check_lines(const CheckReport& report, std::FILE* out) {
  for (const std::string& line : report.lines) std::fprintf(out, "%s\n", line.c_str());
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
  std::fputs("}\n", out);
}

}  // namespace zrk
