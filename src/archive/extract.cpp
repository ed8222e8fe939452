#include "archive/extract.h"

#include <string>

#include "archive/readers.h"
#include "archive/staging.h"
#include "common/text.h"

namespace zrk {

namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Lowers ASCII capitals only; bytes from 0x80 up stay as they are.
std::string ascii_lower(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return lowered;
}

}  // namespace

std::string cap_words(std::uint64_t cap) {
  static constexpr struct {
    std::uint64_t size;
    const char* name;
  } kUnits[] = {{1ULL << 30, " GB"}, {1ULL << 20, " MB"}, {1ULL << 10, " KB"}};
  for (const auto& unit : kUnits) {
    if (cap != 0 && cap % unit.size == 0) return std::to_string(cap / unit.size) + unit.name;
  }
  return std::to_string(cap) + "-byte";
}

ArchiveType archive_type(std::string_view archive_text) {
  const std::string lowered = ascii_lower(archive_text);
  if (ends_with(lowered, ".zip")) return ArchiveType::kZip;
  if (ends_with(lowered, ".tar.gz") || ends_with(lowered, ".tgz")) return ArchiveType::kTarball;
  return ArchiveType::kUnknown;
}

ExtractStatus extract_archive(std::string_view archive_text, std::string_view staging_text,
                              Messages* messages) {
  StagingFolder staging;
  return extract_archive(archive_text, staging_text, messages, staging);
}

ExtractStatus extract_archive(std::string_view archive_text, std::string_view staging_text,
                              Messages* messages, StagingSink& sink, const ArchiveLimits& limits) {
  switch (archive_type(archive_text)) {
    case ArchiveType::kZip:
      return extract_zip(from_utf8(archive_text), from_utf8(staging_text), messages, sink, limits);
    case ArchiveType::kTarball:
      return extract_tarball(from_utf8(archive_text), from_utf8(staging_text), messages, sink,
                             limits);
    case ArchiveType::kUnknown:
      break;
  }
  add_message(messages, "unknown archive type: " + std::string(archive_text));
  return kRefused;
}

}  // namespace zrk
